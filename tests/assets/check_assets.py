#!/usr/bin/env python3
"""Checks of the shipped sounds and images.

Usage: check_assets.py <repo-root>

Sounds (share/sounds): every file the program plays exists and is a plain
PCM WAV with the 44-byte header in the format the program opens it with;
levels neither clip nor vanish; each key tone carries exactly its DTMF pair;
ringback and hang-up are 400 Hz with their cadences.

Images (resources/images/images.qrc): every listed file exists, is a PNG of
the size of the widget that shows it, transparent where the widget relies
on it; every ":/VELPhone/images/..." path named in a *.h, *.cpp or *.ui file
of the repository is in the resource file.

Python standard library only.
"""

import math
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

QRC = os.path.join("resources", "images", "images.qrc")
QRC_PREFIX = "/VELPhone/images"
SOUND_DIR = os.path.join("share", "sounds")

DTMF = {"1": (697, 1209), "2": (697, 1336), "3": (697, 1477),
        "4": (770, 1209), "5": (770, 1336), "6": (770, 1477),
        "7": (852, 1209), "8": (852, 1336), "9": (852, 1477),
        "star": (941, 1209), "0": (941, 1336), "pound": (941, 1477)}
DTMF_ALL = (697, 770, 852, 941, 1209, 1336, 1477, 1633)

# name -> sample rate; all mono 16-bit
SOUNDS = {"dtmf-%s.wav" % k: 44100 for k in DTMF}
SOUNDS.update({"ring.wav": 44100, "ringback.wav": 44100, "hangup.wav": 44100,
               "failed.wav": 44100, "hold.wav": 8000})

# name -> ((min w, min h), (max w, max h), needs transparency at the corners)
# Widget-backed images are exact: a border-image is stretched to the widget,
# so another size distorts the drawing.
def exact(w, h, clear_corners=False):
    return ((w, h), (w, h), clear_corners)


BUTTON = ((44, 28), (64, 44), True)
HISTORY_ICON = ((16, 16), (24, 24), True)
IMAGES = {
    "icon.png": ((128, 128), (512, 512), True),
    "main.png": exact(940, 50, True),
    "screen.png": exact(230, 44, True),
    "number.png": exact(200, 44, True),
    "button_group.png": exact(90, 25, True),
    "online.png": exact(16, 16, True),
    "offline.png": exact(16, 16, True),
    "close.png": exact(31, 21, True),
    "logo.png": exact(103, 20, True),
    "delete.png": exact(21, 16, True),
    "delete_clicked.png": exact(21, 16, True),
    "site.png": exact(421, 341, True),
    "site_simple.png": exact(421, 121, True),
    "site-screen.png": exact(401, 201, True),
    "income.png": HISTORY_ICON,
    "out.png": HISTORY_ICON,
    "declined.png": HISTORY_ICON,
}
for base in ("dialog", "pause", "transfer", "terminate", "site_detail"):
    for suffix in ("", "_hover", "_clicked"):
        IMAGES[base + suffix + ".png"] = BUTTON
for base in ("setting", "history"):
    for suffix in ("", "_hover", "_clicked"):
        IMAGES[base + suffix + ".png"] = exact(45, 25)

SOURCE_EXTENSIONS = (".h", ".cpp", ".ui")
SKIP_DIRS = {".git", "node_modules"}
RESOURCE_REF = re.compile(r":/VELPhone/images/([A-Za-z0-9_.\-]+)")
SOUND_REF = re.compile(r"\./share/sounds/([A-Za-z0-9_.\-]+\.wav)")


class Failure(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Failure(message)


# ---------------------------------------------------------------------------
# WAV

def read_wav(path, rate):
    """Validate the 44-byte PCM header and return the samples (-1..1)."""
    with open(path, "rb") as f:
        data = f.read()
    check(len(data) > 44, "file shorter than a WAV header")
    (riff, riff_size, wave_id, fmt_id, fmt_size, audio_format, channels,
     sample_rate, byte_rate, block_align, bits, data_id, data_size) = struct.unpack("<4sI4s4sIHHIIHH4sI", data[:44])
    check(riff == b"RIFF" and wave_id == b"WAVE", "not a RIFF/WAVE file")
    check(riff_size == len(data) - 8, "RIFF size %d, expected %d" % (riff_size, len(data) - 8))
    check(fmt_id == b"fmt " and fmt_size == 16, "fmt chunk missing or not 16 bytes (header is not 44 bytes)")
    check(audio_format == 1, "audio format %d, expected 1 (PCM)" % audio_format)
    check(channels == 1, "%d channels, expected mono" % channels)
    check(sample_rate == rate, "sample rate %d, expected %d" % (sample_rate, rate))
    check(bits == 16, "%d bits per sample, expected 16" % bits)
    check(block_align == 2 and byte_rate == rate * 2, "byte rate / block align inconsistent")
    check(data_id == b"data", "data chunk does not follow fmt at offset 36")
    check(data_size == len(data) - 44, "data size %d, expected %d" % (data_size, len(data) - 44))
    check(data_size % 2 == 0, "odd data size")
    count = data_size // 2
    return [s / 32768.0 for s in struct.unpack("<%dh" % count, data[44:])]


def goertzel(samples, rate, freq):
    """Power of one frequency over the samples."""
    coeff = 2 * math.cos(2 * math.pi * freq / rate)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + coeff * s1 - s2, s1
    return (s1 * s1 + s2 * s2 - coeff * s1 * s2) / (len(samples) ** 2)


def level_ok(samples, name):
    peak = max(abs(s) for s in samples)
    check(peak < 0.95, "%s clips or nearly clips (peak %.2f of full scale)" % (name, peak))
    check(peak > 0.1, "%s is nearly silent (peak %.3f of full scale)" % (name, peak))


def rms(samples):
    return math.sqrt(sum(s * s for s in samples) / max(1, len(samples)))


def on_segments(samples, rate, window=0.01, threshold=0.02):
    """(start s, end s) of the stretches whose 10 ms RMS exceeds threshold."""
    n = int(rate * window)
    segs, start = [], None
    for i in range(0, len(samples) - n + 1, n):
        loud = rms(samples[i:i + n]) > threshold
        if loud and start is None:
            start = i / rate
        elif not loud and start is not None:
            segs.append((start, i / rate))
            start = None
    if start is not None:
        segs.append((start, len(samples) / rate))
    return segs


def check_dtmf(samples, key):
    rate = 44100
    dur = len(samples) / rate
    check(0.04 <= dur <= 0.5, "dtmf-%s lasts %.3f s, expected a short key tone" % (key, dur))
    powers = {f: goertzel(samples, rate, f) for f in DTMF_ALL}
    row, col = DTMF[key]
    others = [p for f, p in powers.items() if f not in (row, col)]
    weakest = min(powers[row], powers[col])
    check(weakest > 20 * max(others),
          "dtmf-%s: %d/%d Hz not dominant (powers %s)" % (
              key, row, col, ", ".join("%d:%.2g" % kv for kv in sorted(powers.items()))))
    # the two tones should be of comparable strength (twist under 6 dB)
    check(max(powers[row], powers[col]) < 4 * weakest, "dtmf-%s: row/column levels differ by more than 6 dB" % key)
    # soft edges: the first and last millisecond stay quiet
    edge = int(rate * 0.001)
    check(max(abs(s) for s in samples[:edge] + samples[-edge:]) < 0.05, "dtmf-%s starts or ends with a click" % key)


def check_400hz(samples, name, window, rate=44100):
    on = [s for a, b in on_segments(samples, rate, window) for s in samples[int(a * rate):int(b * rate)]]
    check(on, "%s has no audible part" % name)
    p400 = goertzel(on, rate, 400)
    for f in (350, 425, 440, 480, 620):
        check(p400 > 10 * goertzel(on, rate, f), "%s: 400 Hz is not dominant over %d Hz" % (name, f))


def check_ringback(samples):
    rate = 44100
    # windows of one modulation period, so the 16 Hz dips do not split the burst
    period = 1 / 16
    check_400hz(samples, "ringback", period)
    segs = on_segments(samples, rate, period)
    check(segs, "ringback is silent")
    first = segs[0]
    check(0.8 <= first[1] - first[0] <= 1.2, "ringback burst lasts %.2f s, expected about 1 s" % (first[1] - first[0]))
    # at least 1.8 s of silence follows the burst (or the file ends there)
    nxt = segs[1][0] if len(segs) > 1 else len(samples) / rate
    if len(segs) > 1 or len(samples) / rate - first[1] > 0.5:
        check(nxt - first[1] >= 1.8, "ringback pause is %.2f s, expected about 2 s" % (nxt - first[1]))
    # 16 Hz modulation: the envelope swings strongly within the burst
    a, b = int((first[0] + 0.1) * rate), int((first[1] - 0.1) * rate)
    win = rate // 160
    env = [rms(samples[i:i + win]) for i in range(a, b - win, win)]
    check(max(env) > 3 * min(env), "ringback is not amplitude modulated")
    # count envelope peaks over the burst: about 16 per second
    peaks = sum(1 for i in range(1, len(env) - 1) if env[i] > env[i - 1] and env[i] >= env[i + 1]
                and env[i] > 0.6 * max(env))
    expected = 16 * (b - a) / rate
    check(abs(peaks - expected) <= 2, "ringback modulation has %d peaks, expected about %.0f" % (peaks, expected))


def check_hangup(samples):
    rate = 44100
    check_400hz(samples, "hangup", 0.01)
    segs = on_segments(samples, rate)
    check(len(segs) >= 2, "hangup has %d bursts, expected a repeating cadence" % len(segs))
    for a, b in segs:
        check(0.4 <= b - a <= 0.6, "hangup burst of %.2f s, expected 0.5 s" % (b - a))
    for (a1, b1), (a2, _) in zip(segs, segs[1:]):
        check(0.4 <= a2 - b1 <= 0.6, "hangup pause of %.2f s, expected 0.5 s" % (a2 - b1))


def check_failed(samples):
    rate = 44100
    segs = on_segments(samples, rate)
    check(len(segs) == 3 or len(samples) / rate < 3, "failed: %d tone bursts" % len(segs))
    dur = len(samples) / rate
    check(0.3 <= dur <= 4, "failed lasts %.2f s" % dur)


def check_hold(samples):
    dur = len(samples) / 8000
    check(10 <= dur <= 20, "hold music lasts %.1f s, expected 10-20 s" % dur)
    # loops cleanly: the jump from the last sample to the first is no bigger
    # than the usual step between neighbouring samples
    steps = sorted(abs(b - a) for a, b in zip(samples, samples[1:]))
    typical = steps[int(len(steps) * 0.999)]
    check(abs(samples[0] - samples[-1]) <= typical, "hold music does not loop smoothly (jump %.3f)" % abs(samples[0] - samples[-1]))


# ---------------------------------------------------------------------------
# PNG

def read_png(path):
    """Return (width, height, colour type, rows of RGBA tuples or None)."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file")
    pos, chunks = 8, []
    while pos < len(data):
        length, ctype = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        check(zlib.crc32(ctype + body) & 0xffffffff == crc, "corrupt %s chunk" % ctype.decode("latin-1"))
        chunks.append((ctype, body))
        pos += 12 + length
    check(chunks and chunks[0][0] == b"IHDR", "IHDR is not the first chunk")
    check(chunks[-1][0] == b"IEND", "IEND missing")
    w, h, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    if not (depth == 8 and ctype == 6 and interlace == 0):
        return w, h, ctype, None
    raw = zlib.decompress(b"".join(b for t, b in chunks if t == b"IDAT"))
    stride = w * 4
    rows, prev, pos = [], bytearray(stride), 0
    for _ in range(h):
        ftype, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 0xff
            elif ftype == 2:
                line[i] = (line[i] + b) & 0xff
            elif ftype == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xff
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xff
        rows.append([tuple(line[i:i + 4]) for i in range(0, stride, 4)])
        prev = line
    return w, h, ctype, rows


def parse_qrc(path):
    """Return {resource path: file path} for the qrc."""
    tree = ET.parse(path)
    check(tree.getroot().tag == "RCC", "images.qrc: root element is not RCC")
    entries = {}
    for res in tree.getroot().iter("qresource"):
        prefix = "/" + res.get("prefix", "/").strip("/")
        for f in res.iter("file"):
            name = f.get("alias") or f.text.strip()
            rpath = ":" + (prefix.rstrip("/") + "/" + name)
            check(rpath not in entries, "images.qrc lists %s twice" % rpath)
            entries[rpath] = os.path.join(os.path.dirname(path), f.text.strip())
    return entries


def source_files(root):
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames if d not in SKIP_DIRS and not d.startswith("build")
                       and not os.path.exists(os.path.join(dirpath, d, "CMakeCache.txt"))]
        for fn in filenames:
            if fn.endswith(SOURCE_EXTENSIONS):
                yield os.path.join(dirpath, fn)


# ---------------------------------------------------------------------------

def run(root):
    results = []

    def test(name, fn, *args):
        try:
            fn(*args)
            results.append((name, None))
        except Failure as e:
            results.append((name, str(e)))
        except (OSError, ValueError, struct.error, zlib.error, ET.ParseError) as e:
            results.append((name, "%s: %s" % (type(e).__name__, e)))

    sound_dir = os.path.join(root, SOUND_DIR)

    def sound(name, rate):
        samples = read_wav(os.path.join(sound_dir, name), rate)
        level_ok(samples, name)
        if name.startswith("dtmf-"):
            check_dtmf(samples, name[5:-4])
        elif name == "ringback.wav":
            check_ringback(samples)
        elif name == "hangup.wav":
            check_hangup(samples)
        elif name == "failed.wav":
            check_failed(samples)
        elif name == "hold.wav":
            check_hold(samples)

    for name, rate in sorted(SOUNDS.items()):
        test("sound " + name, sound, name, rate)

    qrc_path = os.path.join(root, QRC)
    entries = {}

    def qrc():
        entries.update(parse_qrc(qrc_path))
        for name in IMAGES:
            check(":%s/%s" % (QRC_PREFIX, name) in entries, "images.qrc does not list %s under %s" % (name, QRC_PREFIX))

    test("images.qrc lists every image", qrc)

    def image(rpath, fpath):
        check(os.path.isfile(fpath), "%s: file %s is missing" % (rpath, fpath))
        w, h, ctype, rows = read_png(fpath)
        name = os.path.basename(fpath)
        spec = IMAGES.get(name)
        if spec is None:
            return
        (wmin, hmin), (wmax, hmax), clear = spec
        check(wmin <= w <= wmax and hmin <= h <= hmax,
              "%s is %dx%d, expected %s" % (name, w, h,
                                            "%dx%d" % (wmin, hmin) if (wmin, hmin) == (wmax, hmax)
                                            else "%dx%d to %dx%d" % (wmin, hmin, wmax, hmax)))
        check(ctype in (4, 6), "%s has no alpha channel" % name)
        if rows is not None:
            alphas = [px[3] for row in rows for px in row]
            check(max(alphas) > 0, "%s is fully transparent" % name)
            if clear:
                corners = (rows[0][0], rows[0][-1], rows[-1][0], rows[-1][-1])
                check(all(px[3] < 40 for px in corners), "%s: corners are not transparent" % name)

    for rpath, fpath in sorted(parse_qrc(qrc_path).items()) if os.path.isfile(qrc_path) else []:
        test("image " + rpath, image, rpath, fpath)

    def references():
        known = set(parse_qrc(qrc_path))
        missing_img, missing_snd = [], []
        for path in source_files(root):
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            rel = os.path.relpath(path, root)
            for m in RESOURCE_REF.finditer(text):
                if ":/VELPhone/images/" + m.group(1) not in known:
                    missing_img.append("%s: :/VELPhone/images/%s" % (rel, m.group(1)))
            for m in SOUND_REF.finditer(text):
                if not os.path.isfile(os.path.join(sound_dir, m.group(1))):
                    missing_snd.append("%s: ./share/sounds/%s" % (rel, m.group(1)))
        problems = []
        if missing_img:
            problems.append("resources not in images.qrc:\n    " + "\n    ".join(sorted(set(missing_img))))
        if missing_snd:
            problems.append("sound files missing:\n    " + "\n    ".join(sorted(set(missing_snd))))
        check(not problems, "\n  ".join(problems))

    test("every image and sound named in the sources exists", references)
    return results


def main():
    if len(sys.argv) != 2 or not os.path.isdir(sys.argv[1]):
        print("usage: check_assets.py <repo-root>", file=sys.stderr)
        return 2
    results = run(os.path.abspath(sys.argv[1]))
    failed = [(n, e) for n, e in results if e]
    for name, err in failed:
        print("FAIL %s: %s" % (name, err))
    print("%d passed, %d failed" % (len(results) - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
