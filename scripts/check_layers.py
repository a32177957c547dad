#!/usr/bin/env python3
"""The layer rule over the #include lines of the product folders.

    python3 scripts/check_layers.py [ROOT]

A source file may include a header of its own folder, or of a folder that sits
strictly below its own in the table below: across top-level folders by LAYERS,
inside one top-level folder by its ORDER. Folders on one rank are peers and
may not include each other. Tests, benchmarks and fuzzers may include anything
and are not checked. A folder that the table does not name is an error, so a
new folder gets its place in the table when it is created. Exit code 0 when
every include keeps the rule, 1 (with one line per fault) otherwise.
"""

import os
import re
import sys

# Top-level folders, lowest first; folders with one number are peers.
LAYERS = {"platform": 0, "medialib": 1, "host": 1, "library": 2, "plugin": 3, "tool": 3}

# Inside each top-level folder: sub-folder -> rank ("" is the folder itself).
ORDER = {
    # imaging_delayload binds imaging's flat API from its module on first use.
    "platform": {"": 0, "text": 1, "files": 2, "console": 3, "registry": 3, "kernel": 3, "com": 4, "imaging": 5,
                 "graph": 5, "imaging_delayload": 6},
    # core/ is the model; the container folders build on it (riff reads MPEG
    # audio, mp4/riff/mpeg probe through ffmpeg); detect/ names every
    # container; convert/ converts what detect/ opens; com/ is the COM module
    # over all of it. codecs/ (encoders) stands on nothing else of the engine;
    # playback/ plays what detect/ opens. av/ is the seam to the module that
    # holds the FFmpeg part (ffmpeg/, convert/, playback/): its entry table,
    # and the COM module's forwarders that load it on first use.
    "medialib": {"core": 0, "codecs": 0, "ffmpeg": 1, "mpeg": 2, "riff": 3, "mp4": 3, "openmg": 3,
                 "detect": 4, "convert": 5, "playback": 5, "av": 6, "com": 6, "demo": 6},
    "host": {"sdk": 0, "core": 1, "playhost": 2},
    "library": {"": 0},
    # host/: plug-in-wide services; the module's registration ties it together.
    "plugin": {"host": 0, "tags": 1, "decoder": 1, "input": 2, "": 3},
    # common/: lists, numbers and paths, console output, shared by the rest;
    # tags/ attaches lyrics, liner notes and jacket pictures that pictures/ makes.
    "tool": {"common": 0, "pictures": 1, "tags": 2, "commands": 3},
}

# The binary contract between the library module and its callers: declared
# once in library/ and implemented by the engine below it.
CONTRACT = {"library/media_library.h", "library/media_ids.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCES = (".h", ".hpp", ".cpp", ".cc")


def folder_of(relative_path):
    """(top, sub) of a file path relative to the root."""
    parts = relative_path.split("/")
    top = parts[0]
    sub = "/".join(parts[1:-1])
    return top, sub.split("/")[0] if sub else ""


def rank(top, sub):
    order = ORDER.get(top)
    if order is None or sub not in order:
        return None
    return order[sub]


def allowed(source, target):
    if target in CONTRACT and folder_of(source)[0] == "medialib":
        return True
    (stop, ssub), (ttop, tsub) = folder_of(source), folder_of(target)
    if stop != ttop:
        return ttop in LAYERS and LAYERS[ttop] < LAYERS[stop]
    if ssub == tsub:
        return True
    return rank(ttop, tsub) is not None and rank(ttop, tsub) < rank(stop, ssub)


def check(root):
    faults = []
    for top in sorted(LAYERS):
        base = os.path.join(root, top)
        if not os.path.isdir(base):
            faults.append(f"{top}/: top-level folder missing")
            continue
        for folder, _, files in sorted(os.walk(base)):
            for name in sorted(files):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                source_top, source_sub = folder_of(path)
                if rank(source_top, source_sub) is None:
                    faults.append(f"{path}: folder {source_top}/{source_sub} has no place in the layer "
                                  "table (scripts/check_layers.py)")
                    continue
                with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if not match or "/" not in match.group(1):
                            continue  # system header or one beside the file
                        target = match.group(1)
                        if folder_of(target)[0] not in LAYERS:
                            continue  # not a product header (e.g. a generated one)
                        if not allowed(path, target):
                            faults.append(f"{path}:{number}: includes \"{target}\" from a layer above")
    return faults


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    faults = check(os.path.abspath(root))
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
