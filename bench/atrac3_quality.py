#!/usr/bin/python3
"""Quality report of the engine's ATRAC3 encoder.

For each test signal and mode: encode with atrac3_encode, decode with FFmpeg's
atrac3 decoder, align (the encoder's declared delay; FFmpeg's output is
inverted against Sony's polarity, which the encoder keeps), and report
  SNR  -- 10 log10(signal energy / error energy) over the whole file;
  NMR  -- a noise-to-mask ratio from the model below, in dB (lower is better;
          below 0 dB the coding noise is mostly under the masking threshold).

NMR model: 2048-point Hann-windowed FFT frames, hop 1024, of the source and
of the error (decoded - source). Per frame and critical band (Bark bands of
one Bark), the mask is the source's band energy spread across bands with
Schroeder's spreading function, lowered by a tonality-dependent offset
(tonality from the spectral flatness of the band: 14.5 + z dB for tones,
5.5 dB for noise), and at least the threshold in quiet (Terhardt, with a
full-scale sine at 96 dB SPL). NMR per frame = mean over bands of
noise / mask, reported as 10 log10 of its average over frames that are not
silent.

Usage: atrac3_quality.py [--encoder build/default/bin/atrac3_encode]
                         [--samples ../shared/samples/real] [--seconds 20]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import wave

try:
    import numpy as np
except ImportError:  # the bench installs Debian's python3-numpy when missing
    subprocess.run(["apt-get", "install", "-y", "-qq", "python3-numpy"], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    import numpy as np

RATE = 44100
DELAY = 1162


def write_wav(path, x):
    """x: float array (n, 2) with full scale 1.0."""
    pcm = np.clip(np.round(x * 32767.0), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(x.shape[1])
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm.tobytes())


def pink(n, rng):
    white = rng.standard_normal(n + 1)
    spec = np.fft.rfft(white)
    f = np.arange(len(spec), dtype=float)
    f[0] = 1.0
    spec /= np.sqrt(f)
    x = np.fft.irfft(spec, n + 1)[:n]
    return x / np.sqrt(np.mean(x * x))


def signals(seconds, rng):
    n = int(seconds * RATE)
    t = np.arange(n) / RATE
    out = {}
    sine = 0.5 * np.sin(2 * np.pi * 1000 * t)
    out["sine+pink"] = np.stack([sine + 0.1 * pink(n, rng), sine + 0.1 * pink(n, rng)], axis=1)
    p = 0.15 * pink(n, rng)
    out["pink noise"] = np.stack([p, 0.15 * pink(n, rng)], axis=1)
    f0, f1 = 20.0, 20000.0
    k = np.log(f1 / f0) / seconds
    sweep = 0.5 * np.sin(2 * np.pi * f0 * (np.exp(k * t) - 1) / k)
    out["sweep"] = np.stack([sweep, sweep], axis=1)
    clicks = np.zeros(n)
    period = int(0.25 * RATE)
    burst_n = int(0.02 * RATE)
    bt = np.arange(burst_n) / RATE
    burst = np.exp(-bt * 300.0) * rng.standard_normal(burst_n) * 0.8
    for start in range(period // 2, n - burst_n, period):
        clicks[start:start + burst_n] += burst
    out["castanets"] = np.stack([clicks, clicks], axis=1)
    chord = 0.3 * np.sin(2 * np.pi * 440 * t) + 0.3 * np.sin(2 * np.pi * 659.25 * t)
    out["two-tone chord"] = np.stack([chord, chord * 0.8], axis=1)
    return out


def bark(f):
    return 13.0 * np.arctan(0.00076 * f) + 3.5 * np.arctan((f / 7500.0) ** 2)


class NmrModel:
    def __init__(self, nfft=2048):
        self.nfft = nfft
        f = np.arange(nfft // 2 + 1) * RATE / nfft
        z = bark(f)
        self.band = np.minimum(z.astype(int), 24)
        self.nbands = 25
        centers = np.arange(self.nbands) + 0.5
        dz = centers[:, None] - centers[None, :]  # maskee - masker
        sdb = 15.81 + 7.5 * (dz + 0.474) - 17.5 * np.sqrt(1 + (dz + 0.474) ** 2)
        self.spread = 10 ** (sdb / 10.0)
        fk = np.maximum(f, 20.0) / 1000.0
        ath_db = 3.64 * fk ** -0.8 - 6.5 * np.exp(-0.6 * (fk - 3.3) ** 2) + 1e-3 * fk ** 4
        # full-scale sine (amplitude 1, Hann window) -> 96 dB SPL
        ref = (np.sum(np.hanning(nfft)) / 2) ** 2
        self.ath = ref * 10 ** ((np.minimum(ath_db, 80) - 96) / 10.0)
        self.window = np.hanning(nfft)

    def nmr_db(self, ref, err):
        vals = []
        hop = self.nfft // 2
        for start in range(0, len(ref) - self.nfft, hop):
            r = np.abs(np.fft.rfft(ref[start:start + self.nfft] * self.window)) ** 2
            e = np.abs(np.fft.rfft(err[start:start + self.nfft] * self.window)) ** 2
            if r.sum() < 1e-3:
                continue
            eb = np.bincount(self.band, r, self.nbands)
            nb = np.bincount(self.band, e, self.nbands)
            cnt = np.bincount(self.band, None, self.nbands)
            logm = np.bincount(self.band, np.log(r + 1e-12), self.nbands) / np.maximum(cnt, 1)
            am = eb / np.maximum(cnt, 1)
            sfm_db = 10 * (logm / np.log(10) - np.log10(am + 1e-12))
            tonal = np.clip(sfm_db / -60.0, 0, 1)
            offset = tonal * (14.5 + np.arange(self.nbands)) + (1 - tonal) * 5.5
            mask = self.spread @ eb * 10 ** (-offset / 10.0)
            athb = np.bincount(self.band, self.ath, self.nbands)
            mask = np.maximum(mask, athb)
            vals.append(np.mean(nb / mask))
        return 10 * np.log10(np.mean(vals)) if vals else float("nan")


def decode(path):
    p = subprocess.run(["ffmpeg", "-v", "warning", "-guess_layout_max", "0", "-i", path, "-f", "s16le",
                        "-ac", "2", "-"], capture_output=True, check=True)
    warn = p.stderr.decode().strip()
    return np.frombuffer(p.stdout, "<i2").reshape(-1, 2).astype(float) / 32768.0, warn


def measure(encoder, x, mode, tmp, model, extra=()):
    wav = os.path.join(tmp, "in.wav")
    at3 = os.path.join(tmp, "out.at3")
    write_wav(wav, x)
    x = np.clip(np.round(x * 32767.0), -32768, 32767) / 32768.0
    subprocess.run([encoder, "--mode", mode, *extra, wav, at3], check=True, stderr=subprocess.DEVNULL)
    y, warn = decode(at3)
    y = -y[DELAY:DELAY + len(x)]
    n = min(len(y), len(x))
    x, y = x[:n], y[:n]
    err = y - x
    snr = 10 * np.log10(np.sum(x * x) / max(np.sum(err * err), 1e-20))
    nmr = np.nanmean([model.nmr_db(x[:, c], err[:, c]) for c in range(2)])
    return snr, nmr, warn


def real_samples(folder, seconds):
    """Decoded audio of the real sample files (any FFmpeg-readable audio)."""
    out = {}
    if not folder or not os.path.isdir(folder):
        return out
    for name in sorted(os.listdir(folder)):
        if not name.lower().endswith((".mp3", ".m4a", ".wav", ".flac", ".ogg", ".aac", ".oma", ".omg", ".at3")):
            continue
        p = subprocess.run(["ffmpeg", "-v", "quiet", "-i", os.path.join(folder, name), "-t", str(seconds),
                            "-f", "s16le", "-ac", "2", "-ar", str(RATE), "-"], capture_output=True)
        data = np.frombuffer(p.stdout, "<i2").reshape(-1, 2).astype(float) / 32768.0
        if len(data) > RATE and np.abs(data).max() > 0.01:
            out["real: " + name] = data
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--encoder", default="build/default/bin/atrac3_encode")
    ap.add_argument("--samples", default=os.environ.get("CQ_SAMPLES_DIR", "../shared/samples/real"))
    ap.add_argument("--seconds", type=float, default=20.0)
    ap.add_argument("--modes", default="lp2,105,lp4")
    ap.add_argument("--only", default="")
    ap.add_argument("--encoder-arg", action="append", default=[], help="extra atrac3_encode option")
    ap.add_argument("--wav", action="append", default=[], help="also measure this 44.1 kHz stereo WAV file")
    args = ap.parse_args()
    rng = np.random.default_rng(1)
    sigs = signals(args.seconds, rng)
    sigs.update(real_samples(args.samples, args.seconds))
    for path in args.wav:
        with wave.open(path, "rb") as w:
            data = np.frombuffer(w.readframes(w.getnframes()), "<i2").reshape(-1, w.getnchannels())
        sigs["file: " + os.path.basename(path)] = data.astype(float) / 32768.0
    model = NmrModel()
    print(f"{'signal':40s} {'mode':5s} {'SNR dB':>8s} {'NMR dB':>8s}")
    with tempfile.TemporaryDirectory() as tmp:
        for name, x in sigs.items():
            if args.only and args.only not in name:
                continue
            for mode in args.modes.split(","):
                snr, nmr, warn = measure(args.encoder, x, mode, tmp, model, args.encoder_arg)
                print(f"{name[:40]:40s} {mode:5s} {snr:8.2f} {nmr:8.2f}" + (f"  WARNING {warn}" if warn else ""))
                sys.stdout.flush()
            if name == "castanets":
                for mode in args.modes.split(","):
                    snr, nmr, _ = measure(args.encoder, x, mode, tmp, model, ["--no-gain-control", *args.encoder_arg])
                    print(f"{'castanets, gain control off':40s} {mode:5s} {snr:8.2f} {nmr:8.2f}")


if __name__ == "__main__":
    main()
