#!/usr/bin/python3
"""Opens the DDS files the converter writes, in every format it can write,
with independent readers (Pillow; ImageMagick for the 16-bit formats) and
checks size, level count, format and pixels against the source picture.

DXT2 and DXT4 have no independent reader; their blocks are laid out as
DXT3 and DXT5 with colour premultiplied by alpha, so they are read as those
and compared with the premultiplied source.

Usage: dds_independent.py <Mipforge> <work folder>
"""
import io
import math
import os
import random
import struct
import subprocess
import sys

from PIL import Image

FORMATS = {
    # name: (fourCC or None, bits per pixel, masks r g b a, tolerance, mode)
    # DXT: a loose bound against the source (steep gradients in every
    # channel are hard for 4x4 blocks), and a tight one against our decoder.
    "D3DFMT_DXT1": (b"DXT1", None, None, 30.0, "RGB"),
    "D3DFMT_DXT2": (b"DXT2", None, None, 30.0, "RGBA"),
    "D3DFMT_DXT3": (b"DXT3", None, None, 30.0, "RGBA"),
    "D3DFMT_DXT4": (b"DXT4", None, None, 30.0, "RGBA"),
    "D3DFMT_DXT5": (b"DXT5", None, None, 30.0, "RGBA"),
    "D3DFMT_R8G8B8": (None, 24, (0xFF0000, 0xFF00, 0xFF, 0), 0, "RGB"),
    "D3DFMT_A8R8G8B8": (None, 32, (0xFF0000, 0xFF00, 0xFF, 0xFF000000), 0, "RGBA"),
    "D3DFMT_R5G6B5": (None, 16, (0xF800, 0x7E0, 0x1F, 0), 5, "RGB"),
    "D3DFMT_A1R5G5B5": (None, 16, (0x7C00, 0x3E0, 0x1F, 0x8000), 5, "RGBA"),
    "D3DFMT_A4R4G4B4": (None, 16, (0xF00, 0xF0, 0xF, 0xF000), 9, "RGBA"),
}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def make_source(path, width, height, seed):
    """A picture with gradients, texel noise and an alpha ramp."""
    rnd = random.Random(seed)
    im = Image.new("RGBA", (width, height))
    px = im.load()
    for y in range(height):
        for x in range(width):
            r = (x * 255 // max(1, width - 1) + rnd.randrange(-6, 7)) % 256
            g = (y * 255 // max(1, height - 1) + rnd.randrange(-6, 7)) % 256
            b = (r + g) // 2
            a = (x + y) * 255 // max(1, width + height - 2)
            px[x, y] = (r, g, b, a)
    im.save(path)
    return im


def level_bytes(fourcc, bits, w, h):
    if fourcc:
        block = 8 if fourcc == b"DXT1" else 16
        return ((w + 3) // 4) * ((h + 3) // 4) * block
    return w * h * bits // 8


def rms(a, b, bands):
    da, db = a.tobytes(), b.tobytes()
    step = len(a.getbands())
    total = 0
    count = 0
    for i in range(0, len(da), step):
        for c in bands:
            d = da[i + c] - db[i + c]
            total += d * d
            count += 1
    return math.sqrt(total / count)


def max_diff(a, b):
    return max(abs(x - y) for x, y in zip(a.tobytes(), b.tobytes()))


def premultiplied(im):
    out = Image.new("RGBA", im.size)
    src = im.load()
    dst = out.load()
    for y in range(im.size[1]):
        for x in range(im.size[0]):
            r, g, b, a = src[x, y]
            dst[x, y] = ((r * a + 127) // 255, (g * a + 127) // 255, (b * a + 127) // 255, a)
    return out


def without_saturated(premul, other):
    """Both pictures with the texels whose premultiplied colour exceeds
    their alpha set to zero."""
    a = premul.copy()
    b = other.copy()
    pa, pb = a.load(), b.load()
    for y in range(a.size[1]):
        for x in range(a.size[0]):
            r, g, bl, al = pa[x, y]
            if max(r, g, bl) > al:
                pa[x, y] = (0, 0, 0, 0)
                pb[x, y] = (0, 0, 0, 0)
    return a, b


def read_top_level(path, name, fourcc):
    data = open(path, "rb").read()
    if fourcc in (b"DXT2", b"DXT4"):
        patched = bytearray(data)
        patched[84:88] = b"DXT3" if fourcc == b"DXT2" else b"DXT5"
        return Image.open(io.BytesIO(bytes(patched))).convert("RGBA")
    if name in ("D3DFMT_R5G6B5", "D3DFMT_A1R5G5B5", "D3DFMT_A4R4G4B4"):
        png = subprocess.run(["convert", path + "[0]", "png:-"], capture_output=True, check=True).stdout
        return Image.open(io.BytesIO(png)).convert("RGBA")
    return Image.open(path).convert("RGBA")


def main():
    mipforge, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    for (w, h, mips) in ((64, 64, "0"), (37, 23, "0"), (16, 8, "1")):
        src_path = os.path.join(work, "src_%dx%d.png" % (w, h))
        src = make_source(src_path, w, h, w * 1000 + h)
        for name, (fourcc, bits, masks, tolerance, mode) in FORMATS.items():
            out = os.path.join(work, "%s_%dx%d.dds" % (name, w, h))
            run = subprocess.run([mipforge, "-single", src_path, name, mips, out], cwd=work,
                                 capture_output=True, text=True)
            tag = "%s %dx%d" % (name, w, h)
            check(run.returncode == 1, "%s: exit %d %s" % (tag, run.returncode, run.stdout[-300:]))
            data = open(out, "rb").read()
            magic, size, flags, height, width, pitch, depth, count = struct.unpack_from("<4s7I", data, 0)
            pf_flags, code, bitcount, rmask, gmask, bmask, amask = struct.unpack_from("<I4s5I", data, 80)
            check(magic == b"DDS " and size == 124, tag + ": magic/size")
            check((width, height) == (w, h), tag + ": size %dx%d" % (width, height))
            levels = 1 if mips == "1" else int(math.log2(max(w, h))) + 1
            check(count == levels, tag + ": %d levels, expected %d" % (count, levels))
            total = 128
            lw, lh = w, h
            for _ in range(levels):
                total += level_bytes(fourcc, bits, lw, lh)
                lw, lh = max(1, lw // 2), max(1, lh // 2)
            check(len(data) == total, tag + ": %d bytes, expected %d" % (len(data), total))
            if fourcc:
                check(pf_flags == 4 and code == fourcc, tag + ": pixel format")
            else:
                check(bitcount == bits and (rmask, gmask, bmask, amask) == masks, tag + ": masks")
                check(pitch == w * bits // 8, tag + ": pitch %d" % pitch)

            top = read_top_level(out, name, fourcc)
            check(top.size == (w, h), tag + ": decoded size")
            expect = src
            if fourcc in (b"DXT2", b"DXT4"):
                expect = premultiplied(src)
            if fourcc == b"DXT1":
                # One-bit alpha: texels below 128 are transparent black.
                black = Image.new("RGBA", expect.size, (0, 0, 0, 0))
                mask = expect.getchannel("A").point(lambda v: 255 if v >= 128 else 0)
                expect = Image.composite(expect, black, mask)
            if name == "D3DFMT_A1R5G5B5":
                alpha = expect.getchannel("A").point(lambda v: 255 if v >= 128 else 0)
                expect = expect.copy()
                expect.putalpha(alpha)
            if mode == "RGB":
                expect = expect.convert("RGB").convert("RGBA")
                top = top.convert("RGB").convert("RGBA")
            if fourcc:
                bands = (0, 1, 2, 3) if mode == "RGBA" else (0, 1, 2)
                err = rms(top, expect, bands)
                check(err <= tolerance, "%s: rms error %.2f above %.1f" % (tag, err, tolerance))
                # The converter's own decoder must agree with the independent
                # one up to the rounding of the interpolated entries.
                ours_path = out + ".argb.dds"
                subprocess.run([mipforge, "-single", out, "D3DFMT_A8R8G8B8", "1", ours_path], cwd=work,
                               capture_output=True)
                ours = Image.open(ours_path).convert("RGBA")
                if fourcc in (b"DXT2", b"DXT4"):
                    # Straight colour is recovered by dividing by alpha, which
                    # saturates where compression left the colour above its
                    # alpha; compare premultiplied, away from those texels.
                    ours = premultiplied(ours)
                    top, ours = without_saturated(top, ours)
                if mode == "RGB":
                    ours = ours.convert("RGB").convert("RGBA")
                diff = max_diff(top, ours)
                check(diff <= 3, "%s: decoders differ by %d" % (tag, diff))
            else:
                err = max_diff(top, expect)
                check(err <= tolerance, "%s: largest difference %d above %d" % (tag, err, tolerance))
    if failures:
        print("\n".join(failures))
        print("0 passed, %d failed" % len(failures))
        sys.exit(1)
    print("%d formats x 3 sizes passed" % len(FORMATS))


if __name__ == "__main__":
    main()
