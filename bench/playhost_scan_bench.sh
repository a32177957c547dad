#!/usr/bin/env bash
# A library scan in one process: `playhost scan` over FILES (2000) tagged OMA
# files through the loaded corvina.so, beside mutagen reading the same files
# in one Python process, in the same run.
#
# The files: 20 seeds written by the demo writer (make_demo_oma, 0.2 s of a
# tone), each tagged with its own title, artist, album and genre through
# `playhost tag`, copied into folders of 100 files.
#
# The peers, each walking the folder itself:
#   mutagen.File   mutagen.File(path) on every file, as a tagger or player
#                  written in Python opens an unknown file. mutagen has no
#                  OpenMG reader: it reads the header, finds no format and
#                  returns None, so this side parses no tag at all.
#   mutagen ID3    the ea3 tag of every file read with mutagen's ID3v2 parser
#                  (the tag is ID3v2 with its own magic: the tag's bytes are
#                  handed over with "ID3" in front), i.e. the same frames that
#                  playhost lists, without the audio header.
#
# Per file: the time of the walk and the reading measured inside each
# process (playhost's closing line, perf_counter in Python) and the whole
# process from start to exit divided by the file count; medians of RUNS (5)
# runs after one warm-up run. ratio = playhost's time / the peer's time
# (below 1: playhost is faster). Target: playhost at most 50 us per file.
#   bench/playhost_scan_bench.sh [BUILD_BIN_DIR]   (default build/default/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/default/bin}
files=${FILES:-2000}
runs=${RUNS:-5}
python=${PYTHON:-/usr/bin/python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
profile="$work/profile"

if ! "$python" -c 'import mutagen' 2>/dev/null; then
  echo "$python has no mutagen (python3-mutagen): no peer to compare with" >&2
  exit 1
fi

for s in $(seq 0 19); do
  "$bin/make_demo_oma" "$work/seed$s.oma" 0.2 2>/dev/null
  "$bin/playhost" --profile "$profile" tag "$work/seed$s.oma" "title=Track $s" "artist=Artist $((s % 7))" \
    "album=Album $((s % 5))" "genre=Ambient" >/dev/null
done
for i in $(seq 0 $((files - 1))); do
  folder="$work/music/disc$((i / 100))"
  [ -d "$folder" ] || mkdir -p "$folder"
  cp "$work/seed$((i % 20)).oma" "$folder/track$i.oma"
done
# Written out before anything is measured: the disk's writeback of 2 000 new
# files would otherwise run beside the first runs of every side.
sync

cat >"$work/peer.py" <<'EOF'
import io, os, sys, time
import mutagen, mutagen.id3

def walk(top):
    for folder, folders, names in os.walk(top):
        folders.sort()
        for name in sorted(names):
            if name.lower().endswith(".oma"):
                yield os.path.join(folder, name)

def with_file(path):
    return mutagen.File(path)

def with_id3(path):
    with open(path, "rb") as f:
        head = f.read(10)
        if head[:3] != b"ea3":
            return None
        size = (head[6] << 21) | (head[7] << 14) | (head[8] << 7) | head[9]
        tag = b"ID3" + head[3:] + f.read(size)
    return mutagen.id3.ID3(io.BytesIO(tag))

read = {"file": with_file, "id3": with_id3}[sys.argv[1]]
start = time.perf_counter()
count = frames = 0
for path in walk(sys.argv[2]):
    result = read(path)
    count += 1
    frames += len(result) if result is not None else 0
seconds = time.perf_counter() - start
print("files=%d frames=%d per_file=%.1f" % (count, frames, seconds * 1e6 / max(count, 1)))
EOF

# One run of a side: "IN_PROCESS_US WALL_US" per file.
playhost_run() {
  local s e out
  s=$(date +%s%N)
  out=$("$bin/playhost" --profile "$profile" scan "$work/music" | tail -1)
  e=$(date +%s%N)
  case "$out" in "files=$files	failed=0"*) ;; *) echo "playhost scan: $out" >&2; exit 1 ;; esac
  echo "$(sed -n 's/.*per_file=\([0-9.]*\) us.*/\1/p' <<<"$out") $(((e - s) / 1000 / files))"
}
peer_run() {  # file|id3
  local s e out
  s=$(date +%s%N)
  out=$("$python" "$work/peer.py" "$1" "$work/music")
  e=$(date +%s%N)
  case "$out" in "files=$files "*) ;; *) echo "mutagen: $out" >&2; exit 1 ;; esac
  echo "$(sed -n 's/.*per_file=\([0-9.]*\).*/\1/p' <<<"$out") $(((e - s) / 1000 / files))"
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

playhost_run >/dev/null
peer_run file >/dev/null
peer_run id3 >/dev/null
: >"$work/playhost" && : >"$work/file" && : >"$work/id3"
for _ in $(seq "$runs"); do
  playhost_run >>"$work/playhost"
  peer_run file >>"$work/file"
  peer_run id3 >>"$work/id3"
done
frames=$("$python" "$work/peer.py" id3 "$work/music" | sed -n 's/.*frames=\([0-9]*\).*/\1/p')

ph_in=$(cut -d' ' -f1 "$work/playhost" | median)
ph_wall=$(cut -d' ' -f2 "$work/playhost" | median)
echo "$files OMA files ($frames ID3v2 frames in all), medians of $runs runs, load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-16s %14s %14s %16s %16s\n" side in_process_us wall_us "ratio in_process" "ratio wall"
printf "%-16s %14.1f %14d %16s %16s\n" "playhost scan" "$ph_in" "$ph_wall" "" ""
for side in file id3; do
  peer_in=$(cut -d' ' -f1 "$work/$side" | median)
  peer_wall=$(cut -d' ' -f2 "$work/$side" | median)
  name=$([ "$side" = file ] && echo "mutagen.File" || echo "mutagen ID3")
  printf "%-16s %14.1f %14d %16.2f %16.2f\n" "$name" "$peer_in" "$peer_wall" \
    "$(echo "$ph_in / $peer_in" | bc -l)" "$(echo "$ph_wall / $peer_wall" | bc -l)"
done
echo "us per file; ratio = playhost / peer (target: playhost in_process <= 50 us)"
