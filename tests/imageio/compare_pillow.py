#!/usr/bin/env python3
"""Compares the pixels the project's image readers produce with what Pillow,
an independent decoder, reads from the same generated files.

usage: compare_pillow.py <imageio_dump> <mipforge-samples> <workdir>

Exact for BMP, TGA, PNG and PPM (5 and 6-bit channels compared at their
own width, as decoders widen them differently); JPEG within 2 levels a channel, the spread two
conforming IDCT implementations may show.  Exits 77 (skipped) without Pillow.
"""
import os
import subprocess
import sys

try:
    from PIL import Image, ImageChops
except ImportError:
    print("Pillow is not installed (python3-pil); skipping")
    sys.exit(77)

JPEG_TOLERANCE = 2
# Variants that are valid but beyond what Pillow reads.
PILLOW_CANNOT_READ = {"v-tga15.tga", "v-tga-map32.tga"}
# Channels narrower than 8 bits are compared at their own width: decoders
# widen them differently (bit replication, rounding or truncation).
CHANNEL_BITS = {
    "D3DFMT_X1R5G5B5": (0xF8, 0xF8, 0xF8, 0xFF),
    "D3DFMT_A1R5G5B5": (0xF8, 0xF8, 0xF8, 0xFF),
    "D3DFMT_R5G6B5": (0xF8, 0xFC, 0xF8, 0xFF),
}


def widen5(v):
    return (v << 3) | (v >> 2)


def ours_as_rgba(dump_path):
    """The readers' level 0 as a Pillow RGBA image, built without Pillow's decoders."""
    with open(dump_path, "rb") as f:
        data = f.read()
    head, rest = data.split(b"\n", 1)
    w, h, fmt = head.decode().split()
    w, h = int(w), int(h)
    palette, px = rest[:1024], rest[1024:]
    size = (w, h)
    if fmt == "D3DFMT_A8R8G8B8":
        return Image.frombuffer("RGBA", size, px, "raw", "BGRA", 0, 1), fmt, None
    if fmt == "D3DFMT_X8R8G8B8":
        return Image.frombuffer("RGB", size, px, "raw", "BGRX", 0, 1).convert("RGBA"), fmt, None
    if fmt == "D3DFMT_L8":
        return Image.frombuffer("L", size, px, "raw", "L", 0, 1).convert("RGBA"), fmt, None
    if fmt == "D3DFMT_A8L8":
        return Image.frombuffer("LA", size, px, "raw", "LA", 0, 1).convert("RGBA"), fmt, None
    if fmt == "D3DFMT_P8":
        entries = [tuple(palette[4 * i:4 * i + 4]) for i in range(256)]
        out = bytearray()
        for index in px:
            out += bytes(entries[index])
        return Image.frombytes("RGBA", size, bytes(out)), fmt, px
    if fmt in ("D3DFMT_X1R5G5B5", "D3DFMT_A1R5G5B5"):
        out = bytearray()
        for i in range(0, len(px), 2):
            v = px[i] | (px[i + 1] << 8)
            a = 255 if fmt == "D3DFMT_X1R5G5B5" or v & 0x8000 else 0
            out += bytes((widen5((v >> 10) & 31), widen5((v >> 5) & 31), widen5(v & 31), a))
        return Image.frombytes("RGBA", size, bytes(out)), fmt, None
    if fmt == "D3DFMT_R5G6B5":
        out = bytearray()
        for i in range(0, len(px), 2):
            v = px[i] | (px[i + 1] << 8)
            g = (v >> 5) & 63
            out += bytes((widen5(v >> 11), (g << 2) | (g >> 4), widen5(v & 31), 255))
        return Image.frombytes("RGBA", size, bytes(out)), fmt, None
    raise SystemExit("no comparison for format " + fmt)


def compare(dump, path, work):
    name = os.path.basename(path)
    out = os.path.join(work, name + ".dump")
    run = subprocess.run([dump, path, out], capture_output=True, text=True)
    if run.returncode != 0:
        return "%s: our reader failed: %s" % (name, run.stderr.strip())
    ours, fmt, indices = ours_as_rgba(out)

    try:
        theirs_file = Image.open(path)
        theirs_file.load()
    except (OSError, ValueError) as e:
        if name in PILLOW_CANNOT_READ:
            print("%-22s skipped: Pillow does not read this variant" % name)
            return None
        return "%s: Pillow cannot read it: %s" % (name, e)
    if ours.size != theirs_file.size:
        return "%s: size %s, Pillow %s" % (name, ours.size, theirs_file.size)
    if indices is not None and theirs_file.mode == "P" and theirs_file.tobytes() != indices:
        return "%s: palette indices differ" % name
    has_alpha = "A" in theirs_file.mode or "transparency" in theirs_file.info
    theirs = theirs_file.convert("RGBA")
    if not has_alpha:
        # Pillow drops what it does not see as alpha; compare colour only.
        theirs.putalpha(255)
        ours.putalpha(255)
    masks = CHANNEL_BITS.get(fmt)
    if masks:
        ours, theirs = (Image.merge("RGBA", [band.point(lambda v, m=m: v & m)
                                             for band, m in zip(im.split(), masks)])
                        for im in (ours, theirs))
    extrema = ImageChops.difference(ours, theirs).getextrema()
    worst = max(high for _, high in extrema)
    tolerance = JPEG_TOLERANCE if theirs_file.format == "JPEG" else 0
    if worst > tolerance:
        return "%s (%s, Pillow mode %s): channels differ by up to %d" % (name, fmt, theirs_file.mode, worst)
    print("%-22s %-18s Pillow %-4s largest difference %d" % (name, fmt, theirs_file.mode, worst))
    return None


def main():
    if len(sys.argv) != 4:
        raise SystemExit(__doc__)
    dump, samples, work = sys.argv[1:]
    os.makedirs(work, exist_ok=True)
    names = []
    for option in ([], ["--variants"]):
        run = subprocess.run([samples] + option + [work], capture_output=True, text=True, check=True)
        names += run.stdout.split()
    failures = [f for f in (compare(dump, path, work) for path in names) if f]
    for f in failures:
        print("MISMATCH " + f)
    print("%d files compared, %d mismatches" % (len(names), len(failures)))
    return 1 if failures or not names else 0


if __name__ == "__main__":
    sys.exit(main())
