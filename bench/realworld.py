#!/usr/bin/python3
"""Real-world conformance run: the converter over the textures of Debian game
data packages, every mode a user runs, every output checked.

For each package it runs, as a user would and each invocation in a scratch
folder of its own:
  dir      Mipforge <folder> <ext> <OutDir>, per folder and extension
  dir *    Mipforge <folder> "*" <OutDir>, per folder (names that differ only
           in their extension share a DDS file: the later one must be in it)
  complex  Mipforge -complex <folder> <ext> <texfile>, then
           Mipforge -dump <texfile> <OutDir> (rows are the dumped files)
  dds-dir  Mipforge <dump folder> dds <OutDir>: the dumped DDS files as sources
  single   Mipforge -single <file> D3DFMT_<f> 0 <out.dds> on a sample of files
  xml      Mipforge -xml <project.xml> <out.cdds> with a project it writes;
           rows are the textures read back from the CDDS file

Every DDS output is read by the parser below (header fields, file length =
header + all levels), every CDDS file by the reader of docs/formats.md; the
top level is decoded and scored against Pillow's reading of the source.
Flags: PSNR below the format's floor, size/level/format mismatches, bad
headers, missing outputs without a message, crashes and undocumented exit
statuses, console lines that docs/errors.md does not list.  Exits 1 when
anything is flagged.

Usage: bench/realworld.py <Mipforge> [--packages a,b] [--max-files N]
                          [--work DIR] [--no-install] [--threads N]
"""
import argparse
import collections
import math
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import time
import zipfile
from xml.sax.saxutils import escape as xml_escape

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
ERRORS_MD = os.path.join(REPO, "docs", "errors.md")

# Package -> (further packages holding the same game's files, what it brings).
PACKAGES = {
    "extremetuxracer-data": ([], "PNG RGB, palette, grey, grey+alpha, RGBA"),
    "neverball-data": (["neverball-common"], "JPEG RGB and grey, PNG"),
    "trigger-rally-data": ([], "PNG and JPEG inside data.zip"),
    "minetest-data": ([], "PNG of every colour type and depth, TGA types 1/2/3/10"),
    "gl-117-data": ([], "TGA 24/32-bit, run-length, grey"),
    "billard-gl-data": ([], "BMP 24-bit and 8-bit"),
    "csmash-data": ([], "BMP 24-bit, JPEG"),
    "freegish-data": ([], "palettised PNG, BMP"),
    "briquolo-data": ([], "BMP, PNG"),
    "tecnoballz-data": ([], "palettised PNG"),
}
DEFAULT_PACKAGES = ["extremetuxracer-data", "neverball-data", "trigger-rally-data", "minetest-data",
                    "gl-117-data", "billard-gl-data", "csmash-data", "freegish-data"]

IMAGE_EXTS = {"png", "jpg", "jpeg", "tga", "bmp", "dds", "ppm", "pgm", "pnm"}
ARCHIVE_EXTS = (".zip", ".pk3")
SKIP_PREFIXES = ("/usr/share/icons/", "/usr/share/pixmaps/", "/usr/share/doc/", "/usr/share/man/",
                 "/usr/share/applications/", "/usr/share/metainfo/")

SINGLE_FORMATS = ["DXT1", "DXT5", "A8R8G8B8"]
XML_FORMATS = ["DXT1", "DXT5", "A8R8G8B8"]

# PSNR floors in dB by output format.  Block formats: what a sound encoder
# reaches on any natural picture; formats that hold 8 bits per channel:
# lossless but for decoder rounding.
FLOORS = {"DXT1": 28.0, "DXT2": 28.0, "DXT3": 28.0, "DXT4": 28.0, "DXT5": 28.0,
          "A8R8G8B8": 45.0, "X8R8G8B8": 45.0, "R8G8B8": 45.0, "P8": 45.0,
          "R5G6B5": 30.0, "X1R5G5B5": 29.0, "A1R5G5B5": 29.0, "A4R4G4B4": 24.0}
# A block format's floor is lowered to FIT_MARGIN below what a plain range
# fit reaches on the picture (see range_fit) where that is under the floor.
FIT_MARGIN = 1.5
ALPHA_FORMATS = {"DXT2", "DXT3", "DXT4", "DXT5", "A8R8G8B8", "A1R5G5B5", "A4R4G4B4", "A8R3G3B2",
                 "A8L8", "A4L4", "A8"}
ONE_BIT_ALPHA = {"DXT1", "A1R5G5B5"}

# Normal progress output that docs/errors.md does not list as such.
EXTRA_NORMAL_LINES = [
    r"\.+",                              # the dots of the texture file writer
    # -xml's check pass ends each of its lines with ": ", so the next line
    # (its next level, or the final prompt) starts with it.
    r"(?:: )?Level \d+: \d+ textures",
    r"(?:: )?press any key",
]

np = None      # numpy, imported once it is installed
Image = None   # Pillow
ImageDraw = None


# ---------------------------------------------------------------- formats

FOURCCS = {b"DXT1": "DXT1", b"DXT2": "DXT2", b"DXT3": "DXT3", b"DXT4": "DXT4", b"DXT5": "DXT5"}
BLOCK_BYTES = {"DXT1": 8, "DXT2": 16, "DXT3": 16, "DXT4": 16, "DXT5": 16}
# name -> (bits per pixel, red, green, blue, alpha mask, kind)
MASKED = {
    "A8R8G8B8": (32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, "rgb"),
    "X8R8G8B8": (32, 0xFF0000, 0xFF00, 0xFF, 0, "rgb"),
    "R8G8B8": (24, 0xFF0000, 0xFF00, 0xFF, 0, "rgb"),
    "R5G6B5": (16, 0xF800, 0x7E0, 0x1F, 0, "rgb"),
    "X1R5G5B5": (16, 0x7C00, 0x3E0, 0x1F, 0, "rgb"),
    "A1R5G5B5": (16, 0x7C00, 0x3E0, 0x1F, 0x8000, "rgb"),
    "A4R4G4B4": (16, 0xF00, 0xF0, 0xF, 0xF000, "rgb"),
    "X4R4G4B4": (16, 0xF00, 0xF0, 0xF, 0, "rgb"),
    "R3G3B2": (8, 0xE0, 0x1C, 0x3, 0, "rgb"),
    "A8R3G3B2": (16, 0xE0, 0x1C, 0x3, 0xFF00, "rgb"),
    "L8": (8, 0xFF, 0, 0, 0, "lum"),
    "A8L8": (16, 0xFF, 0, 0, 0xFF00, "lum"),
    "A4L4": (8, 0xF, 0, 0, 0xF0, "lum"),
    "A8": (8, 0, 0, 0, 0xFF, "alpha"),
    "P8": (8, 0, 0, 0, 0, "palette"),
}
D3DFMT_CODES = {20: "R8G8B8", 21: "A8R8G8B8", 22: "X8R8G8B8", 23: "R5G6B5", 24: "X1R5G5B5", 25: "A1R5G5B5",
                26: "A4R4G4B4", 27: "R3G3B2", 28: "A8", 29: "A8R3G3B2", 30: "X4R4G4B4", 41: "P8", 50: "L8",
                51: "A8L8", 52: "A4L4"}
for _cc, _name in FOURCCS.items():
    D3DFMT_CODES[struct.unpack("<I", _cc)[0]] = _name


def full_chain(w, h):
    return int(math.floor(math.log2(max(w, h)))) + 1


def level_dims(w, h, i):
    return max(1, w >> i), max(1, h >> i)


def level_bytes(fmt, w, h, row_align=1):
    """Byte size of one level: blocks for DXTn, rows (padded to row_align)
    for the rest."""
    if fmt in BLOCK_BYTES:
        return max(1, (w + 3) // 4) * max(1, (h + 3) // 4) * BLOCK_BYTES[fmt]
    row = w * MASKED[fmt][0] // 8
    row = (row + row_align - 1) // row_align * row_align
    return row * h


def decode_blocks(data, w, h, fmt):
    """A DXTn level to an (h, w, 4) uint8 array; interpolated colours and
    alphas rounded to nearest."""
    bw, bh = max(1, (w + 3) // 4), max(1, (h + 3) // 4)
    size = BLOCK_BYTES[fmt]
    n = bw * bh
    blocks = np.frombuffer(data, np.uint8, count=n * size).reshape(n, size).astype(np.int64)
    col = blocks[:, size - 8:]
    c0 = col[:, 0] | (col[:, 1] << 8)
    c1 = col[:, 2] | (col[:, 3] << 8)
    bits = col[:, 4] | (col[:, 5] << 8) | (col[:, 6] << 16) | (col[:, 7] << 24)

    def expand(c):
        r, g, b = (c >> 11) & 31, (c >> 5) & 63, c & 31
        return np.stack([(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)], -1)

    e0, e1 = expand(c0), expand(c1)
    four = (c0 > c1) | (fmt != "DXT1")
    pal = np.zeros((n, 4, 4), np.int64)
    pal[:, :, 3] = 255
    pal[:, 0, :3] = e0
    pal[:, 1, :3] = e1
    pal[:, 2, :3] = np.where(four[:, None], (2 * e0 + e1 + 1) // 3, (e0 + e1 + 1) // 2)
    pal[:, 3, :3] = np.where(four[:, None], (e0 + 2 * e1 + 1) // 3, 0)
    pal[:, 3, 3] = np.where(four, 255, 0)
    idx = (bits[:, None] >> (2 * np.arange(16))) & 3
    px = pal[np.arange(n)[:, None], idx]
    if fmt in ("DXT2", "DXT3"):
        a = blocks[:, :8]
        nib = np.stack([a[:, i // 2] >> (4 * (i % 2)) & 15 for i in range(16)], -1)
        px[:, :, 3] = nib * 17
    elif fmt in ("DXT4", "DXT5"):
        a0, a1 = blocks[:, 0], blocks[:, 1]
        abits = np.zeros(n, np.int64)
        for i in range(6):
            abits |= blocks[:, 2 + i] << (8 * i)
        codes = (abits[:, None] >> (3 * np.arange(16))) & 7
        table = np.zeros((n, 8), np.int64)
        table[:, 0], table[:, 1] = a0, a1
        eight = a0 > a1
        for k in range(1, 7):
            table[:, 1 + k] = ((7 - k) * a0 + k * a1 + 3) // 7
        for k in range(1, 5):
            table[:, 1 + k] = np.where(eight, table[:, 1 + k], ((5 - k) * a0 + k * a1 + 2) // 5)
        table[:, 6] = np.where(eight, table[:, 6], 0)
        table[:, 7] = np.where(eight, table[:, 7], 255)
        px[:, :, 3] = table[np.arange(n)[:, None], codes]
    img = px.reshape(bh, bw, 4, 4, 4).transpose(0, 2, 1, 3, 4).reshape(bh * 4, bw * 4, 4)
    return img[:h, :w].astype(np.uint8)


def decode_masked(data, w, h, fmt, pitch, palette=None):
    """An uncompressed level (rows `pitch` bytes apart) to (h, w, 4) uint8."""
    bpp, rm, gm, bm, am, kind = MASKED[fmt]
    step = bpp // 8
    raw = np.frombuffer(data, np.uint8, count=pitch * h).reshape(h, pitch)[:, :w * step]
    raw = raw.reshape(h, w, step).astype(np.int64)
    v = np.zeros((h, w), np.int64)
    for i in range(step):
        v |= raw[:, :, i] << (8 * i)

    def chan(mask, default):
        if not mask:
            return np.full((h, w), default, np.int64)
        shift = (mask & -mask).bit_length() - 1
        top = mask >> shift
        return (((v & mask) >> shift) * 255 + top // 2) // top

    if kind == "palette":
        pal = np.array([[p[0], p[1], p[2], 255] for p in palette], np.int64)
        return pal[v].astype(np.uint8)
    if kind == "lum":
        lum = chan(rm, 0)
        return np.dstack([lum, lum, lum, chan(am, 255)]).astype(np.uint8)
    if kind == "alpha":
        z = np.zeros((h, w), np.int64)
        return np.dstack([z, z, z, chan(am, 255)]).astype(np.uint8)
    return np.dstack([chan(rm, 0), chan(gm, 0), chan(bm, 0), chan(am, 255)]).astype(np.uint8)


def decode_level(data, w, h, fmt, row_align=1, palette=None):
    if fmt in BLOCK_BYTES:
        return decode_blocks(data, w, h, fmt)
    pitch = level_bytes(fmt, w, 1, row_align)
    return decode_masked(data, w, h, fmt, pitch, palette)


def range_fit(ref, fmt, weight):
    """What a plain block encoder makes of ref: per 4x4 block the colours'
    principal axis, its ends rounded to 5:6:5, four colours on it, each
    texel the nearest; alpha by its own range (DXT5) or cut to 4 bits
    (DXT3); DXT1 blocks with transparent texels get the 3-colour palette.
    weight (h, w) says which texels' colour counts.  Content a
    block format cannot hold (three unrelated colours in a block) scores low
    here too, so the floor of such pictures follows this fit."""
    h, w = ref.shape[:2]
    bh, bw = (h + 3) // 4, (w + 3) // 4
    pad = np.pad(ref.astype(np.float64), ((0, bh * 4 - h), (0, bw * 4 - w), (0, 0)), mode="edge")
    wt = np.pad(weight.astype(np.float64), ((0, bh * 4 - h), (0, bw * 4 - w)))
    blocks = pad.reshape(bh, 4, bw, 4, 4).transpose(0, 2, 1, 3, 4).reshape(-1, 16, 4)
    wts = wt.reshape(bh, 4, bw, 4).transpose(0, 2, 1, 3).reshape(-1, 16)
    wts = np.where(wts.sum(1, keepdims=True) > 0, wts, 1.0)
    x = blocks[:, :, :3]
    mean = (x * wts[:, :, None]).sum(1) / wts.sum(1)[:, None]
    d = x - mean[:, None, :]
    cov = np.einsum("nki,nkj,nk->nij", d, d, wts)
    axis = np.linalg.eigh(cov)[1][:, :, 2]
    t = np.einsum("nki,ni->nk", d, axis)
    span = np.where(wts > 0, t, np.inf).min(1), np.where(wts > 0, t, -np.inf).max(1)
    scale = np.array([31.0, 63.0, 31.0])
    ends = [np.clip(np.rint((mean + e[:, None] * axis) * scale / 255.0), 0, scale) * 255.0 / scale for e in span]
    pal = np.stack([ends[0], (2 * ends[0] + ends[1]) / 3, (ends[0] + 2 * ends[1]) / 3, ends[1]], 1)
    if fmt == "DXT1":
        # A block with a texel below alpha 128 must be a 3-colour block (its
        # fourth entry is the transparent one): two ends and their midpoint.
        three = (blocks[:, :, 3] < 128).any(1)
        pal3 = np.stack([ends[0], (ends[0] + ends[1]) / 2, ends[1], ends[1]], 1)
        pal = np.where(three[:, None, None], pal3, pal)
    dist = ((x[:, :, None, :] - pal[:, None, :, :]) ** 2).sum(-1)
    out = blocks.copy()
    out[:, :, :3] = pal[np.arange(len(pal))[:, None], dist.argmin(2)]
    a = blocks[:, :, 3]
    if fmt in ("DXT2", "DXT3"):
        out[:, :, 3] = np.rint(a * 15 / 255.0) * 17
    elif fmt in ("DXT4", "DXT5"):
        lo, hi = a.min(1, keepdims=True), a.max(1, keepdims=True)
        ramp = np.rint(lo + (hi - lo) * np.arange(8)[None, :] / 7.0)
        out[:, :, 3] = np.take_along_axis(ramp, np.abs(a[:, :, None] - ramp[:, None, :]).argmin(2), 1)
    else:
        out[:, :, 3] = 255
    img = out.reshape(bh, bw, 4, 4, 4).transpose(0, 2, 1, 3, 4).reshape(bh * 4, bw * 4, 4)[:h, :w]
    return np.clip(np.rint(img), 0, 255).astype(np.uint8)


DDSD_CAPS, DDSD_HEIGHT, DDSD_WIDTH, DDSD_PITCH = 0x1, 0x2, 0x4, 0x8
DDSD_PIXELFORMAT, DDSD_MIPMAPCOUNT, DDSD_LINEARSIZE = 0x1000, 0x20000, 0x80000
DDPF_ALPHAPIXELS, DDPF_ALPHA, DDPF_FOURCC, DDPF_PAL8, DDPF_RGB, DDPF_LUM = 0x1, 0x2, 0x4, 0x20, 0x40, 0x20000
DDSCAPS_COMPLEX, DDSCAPS_TEXTURE, DDSCAPS_MIPMAP = 0x8, 0x1000, 0x400000


def parse_dds(path):
    """Reads and checks a DDS file.  Returns (info or None, problems):
    info has width, height, levels, format and top (decoded level 0)."""
    with open(path, "rb") as f:
        data = f.read()
    problems = []
    if len(data) < 128:
        return None, ["%d bytes, shorter than a DDS header" % len(data)]
    if data[:4] != b"DDS ":
        return None, ["no DDS magic"]
    size, flags, height, width, pitch, _depth, mipcount = struct.unpack_from("<7I", data, 4)
    pf_size, pf_flags, fourcc, bits, rm, gm, bm, am = struct.unpack_from("<2I4s5I", data, 76)
    caps, caps2 = struct.unpack_from("<2I", data, 108)
    if size != 124:
        problems.append("header size %d, not 124" % size)
    if pf_size != 32:
        problems.append("pixel format size %d, not 32" % pf_size)
    need = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT
    if flags & need != need:
        problems.append("flags 0x%x lack CAPS|HEIGHT|WIDTH|PIXELFORMAT" % flags)
    if not caps & DDSCAPS_TEXTURE:
        problems.append("caps 0x%x lack DDSCAPS_TEXTURE" % caps)
    if caps2:
        problems.append("caps2 0x%x (cube map or volume)" % caps2)
    if not (1 <= width <= 16384 and 1 <= height <= 16384):
        return None, problems + ["size %d x %d" % (width, height)]
    if pf_flags & DDPF_FOURCC:
        fmt = FOURCCS.get(fourcc)
        if not fmt:
            return None, problems + ["unknown four-character code %r" % fourcc]
    elif pf_flags & (DDPF_RGB | DDPF_LUM | DDPF_ALPHA):
        alpha = am if pf_flags & (DDPF_ALPHAPIXELS | DDPF_ALPHA) else 0
        if pf_flags & DDPF_ALPHAPIXELS and not am:
            problems.append("DDPF_ALPHAPIXELS with an empty alpha mask")
        kind = "rgb" if pf_flags & DDPF_RGB else "lum" if pf_flags & DDPF_LUM else "alpha"
        fmt = None
        for name, (b, r, g, bl, a, k) in MASKED.items():
            if k == kind and (b, r, g, bl, a) == (bits, rm, gm, bm, alpha):
                fmt = name
        if not fmt:
            return None, problems + ["unknown masks: %d bits %x %x %x %x" % (bits, rm, gm, bm, alpha)]
    elif pf_flags & DDPF_PAL8:
        return None, problems + ["palettised DDS (no decoder here)"]
    else:
        return None, problems + ["pixel format flags 0x%x name no format" % pf_flags]

    if flags & DDSD_MIPMAPCOUNT:
        levels = mipcount
        if mipcount == 0:
            problems.append("DDSD_MIPMAPCOUNT with a count of 0")
            levels = 1
    else:
        levels = 1
        if mipcount > 1:
            problems.append("mip count %d without DDSD_MIPMAPCOUNT" % mipcount)
            levels = mipcount
    if levels > 1 and caps & (DDSCAPS_COMPLEX | DDSCAPS_MIPMAP) != DDSCAPS_COMPLEX | DDSCAPS_MIPMAP:
        problems.append("%d levels but caps 0x%x lack COMPLEX|MIPMAP" % (levels, caps))
    if levels > full_chain(width, height):
        problems.append("%d levels, more than the full chain of %d" % (levels, full_chain(width, height)))
        levels = full_chain(width, height)
    top_bytes = level_bytes(fmt, width, height)
    # Block formats state level 0's size, uncompressed ones its row length.
    block = fmt in BLOCK_BYTES
    kind, flag, other, what = (("block format", DDSD_LINEARSIZE, DDSD_PITCH, "linear size %d, level 0 holds %d")
                               if block else
                               ("uncompressed format", DDSD_PITCH, DDSD_LINEARSIZE, "pitch %d, a row holds %d"))
    expected = top_bytes if block else width * MASKED[fmt][0] // 8
    names = {DDSD_LINEARSIZE: "DDSD_LINEARSIZE", DDSD_PITCH: "DDSD_PITCH"}
    if not flags & flag:
        problems.append("%s without %s" % (kind, names[flag]))
    elif pitch != expected:
        problems.append(what % (pitch, expected))
    if flags & other:
        problems.append("%s with %s" % (kind, names[other]))
    total = 128 + sum(level_bytes(fmt, *level_dims(width, height, i)) for i in range(levels))
    if len(data) != total:
        problems.append("file is %d bytes; header and %d levels make %d" % (len(data), levels, total))
    top = None
    if len(data) >= 128 + top_bytes:
        top = decode_level(data[128:128 + top_bytes], width, height, fmt)
    return {"width": width, "height": height, "levels": levels, "format": fmt, "top": top}, problems


# --------------------------------------------------------------- containers

class Reader:
    """Little-endian fields and self-relative references of a mapped file."""

    def __init__(self, data):
        self.data = data

    def u32(self, at):
        if at < 0 or at + 4 > len(self.data):
            raise ValueError("field at %d outside the file" % at)
        return struct.unpack_from("<I", self.data, at)[0]

    def i32(self, at):
        return struct.unpack_from("<i", self.data, at)[0] if 0 <= at <= len(self.data) - 4 else self.u32(at)

    def ref(self, at):
        v = self.i32(at)
        return None if v == 0 else at + v

    def table(self, at, element):
        count, first = self.u32(at), self.ref(at + 4)
        if count and (first is None or first < 0 or first + count * element > len(self.data)):
            raise ValueError("table at %d outside the file" % at)
        return [first + i * element for i in range(count)]

    def bytes(self, at, n):
        if at is None or at < 0 or at + n > len(self.data):
            raise ValueError("%d bytes at %s outside the file" % (n, at))
        return self.data[at:at + n]

    def cstr(self, at, limit):
        raw = self.bytes(at, min(limit, len(self.data) - at))
        end = raw.find(b"\0")
        if end < 0:
            raise ValueError("name at %d not terminated" % at)
        return raw[:end].decode("latin-1")


def read_cdds(path):
    """The items of a CDDS file: {level: [(name, texture info)]}; textures
    decoded at level 0.  Raises ValueError on a damaged file."""
    with open(path, "rb") as f:
        r = Reader(f.read())
    if r.bytes(0, 4) != b"CDDS" or r.u32(4) != 1:
        raise ValueError("magic or version")
    levels = []
    for lvl in range(3):
        items = []
        for elem in r.table(8 + 8 * lvl, 4):
            item = r.ref(elem)
            name = r.cstr(item, 32)
            tex = r.ref(item + 32)
            palette_at = r.ref(item + 36)
            value = r.i32(item + 40)
            flags = r.u32(item + 44)
            code = r.u32(tex)
            fmt = D3DFMT_CODES.get(code)
            if not fmt:
                raise ValueError("texture of %s has format %d" % (name, code))
            w, h = r.u32(tex + 4), r.u32(tex + 8)
            surfaces = r.table(tex + 16, 16)
            for i, s in enumerate(surfaces):
                lw, lh = level_dims(w, h, i)
                want = level_bytes(fmt, lw, lh, 4)
                if (r.u32(s + 4), r.u32(s + 8), r.u32(s + 12)) != (want, lw, lh):
                    raise ValueError("%s level %d: stored size or sides differ from the layout" % (name, i))
            palette = None
            if palette_at is not None:
                raw = r.bytes(palette_at, 1024)
                palette = [raw[4 * i:4 * i + 4] for i in range(256)]
            top = None
            if surfaces:
                s = surfaces[0]
                data = r.bytes(r.ref(s), r.u32(s + 4))
                if fmt == "P8" and palette is None:
                    raise ValueError("P8 texture %s without a palette" % name)
                top = decode_level(data, w, h, fmt, 4, palette)
            items.append({"name": name, "format": fmt, "width": w, "height": h, "levels": len(surfaces),
                          "value": value, "flags": flags, "top": top})
        levels.append(items)
    return levels


def read_texfile(path):
    """Names and formats of an engine texture file's records."""
    with open(path, "rb") as f:
        r = Reader(f.read())
    if r.u32(0) != 12:
        raise ValueError("version %d, not 12" % r.u32(0))
    out = []
    for rec in r.table(4, 68):
        name = r.cstr(r.ref(rec), 4096)
        code = r.u32(rec + 4)
        out.append((name, D3DFMT_CODES.get(code, str(code)), r.u32(rec + 8), r.u32(rec + 12),
                    len(r.table(rec + 60, 16))))
    return out


# ------------------------------------------------------------------ sources

class Source:
    def __init__(self, pkg, path):
        self.pkg, self.path = pkg, path
        self.ext = os.path.splitext(path)[1][1:].lower()
        self.kind = "?"
        self.palettised = False     # loads as P8 in the converter
        self.chain = None           # (top height, levels) of a mip-chain picture
        self.size = None            # Pillow's reading: (w, h)
        self.pil_error = None
        self.dds_format = None
        self._ref = None

    def describe(self):
        try:
            with open(self.path, "rb") as f:
                head = f.read(1 << 16)
        except OSError as e:
            self.kind = "unreadable"
            self.pil_error = str(e)
            return
        ext = self.ext
        if head[:8] == b"\x89PNG\r\n\x1a\n" and len(head) >= 29:
            _w, _h, depth, ctype = struct.unpack(">IIBB", head[16:26])
            trns = b"tRNS" in head[:head.find(b"IDAT")] if b"IDAT" in head else False
            self.kind = "PNG type %d %d-bit%s" % (ctype, depth, " tRNS" if trns else "")
            self.palettised = ctype == 3
        elif head[:2] == b"BM" and len(head) >= 34:
            bpp = struct.unpack_from("<H", head, 28)[0]
            comp = struct.unpack_from("<I", head, 30)[0]
            w, h = struct.unpack_from("<ii", head, 18)
            self.kind = "BMP %d-bit%s" % (bpp, " compressed %d" % comp if comp else "")
            self.palettised = bpp <= 8
            tops = {1920: 1024, 960: 512, 480: 256, 240: 128}
            if self.path[-3:].lower()[0] == "b" and bpp == 24 and w > 64 and h in tops:
                self.chain = (tops[h], 4)
        elif head[:3] == b"\xff\xd8\xff":
            self.kind = "JPEG"
        elif head[:4] == b"DDS " and len(head) >= 128:
            info_flags, fourcc, bits = struct.unpack_from("<I4sI", head, 80)
            self.kind = "DDS %s" % (fourcc.decode("latin-1") if info_flags & DDPF_FOURCC else "%d-bit" % bits)
            self.dds_format = FOURCCS.get(fourcc) if info_flags & DDPF_FOURCC else None
        elif ext == "tga" and len(head) >= 18:
            itype, depth, desc = head[2], head[16], head[17]
            w, h = struct.unpack_from("<HH", head, 12)
            self.kind = "TGA type %d %d-bit %s" % (itype, depth, "top-down" if desc & 0x20 else "bottom-up")
            self.palettised = itype in (1, 9)
            if self.path[-3].lower() == "t" and depth == 32 and h > 8 and w > 0:
                levels = bin(h >> 1).count("1")
                if levels >= 2:
                    self.chain = (1 << (h.bit_length() - 1), levels)
        else:
            self.kind = ext.upper()
        try:
            with Image.open(self.path) as im:
                self.size = im.size
                if self.kind == "JPEG":
                    self.kind = "JPEG %s" % im.mode
        except Exception as e:  # noqa: BLE001 - any Pillow failure is a note
            if self.dds_format:
                info, _ = parse_dds(self.path)
                self.size = (info["width"], info["height"]) if info else None
            else:
                self.pil_error = "%s" % e

    def expected_size(self):
        if self.chain:
            return self.size[0], self.chain[0]
        return self.size

    def expected_levels(self):
        if self.chain:
            return self.chain[1]
        return full_chain(*self.size)

    def reference(self):
        """(rgba array of what the output should show, has real alpha)."""
        if self._ref is None:
            if self.ext == "dds":
                info, _ = parse_dds(self.path)
                arr = info["top"]
                alpha = bool(arr[..., 3].min() < 255)
            else:
                with Image.open(self.path) as im:
                    im.load()
                    mode = im.mode
                    if mode in ("I", "I;16", "I;16B", "I;16L"):
                        a = np.asarray(im, dtype=np.float64)
                        a = np.clip(np.rint(a / 257.0), 0, 255).astype(np.uint8)
                        arr = np.dstack([a, a, a, np.full_like(a, 255)])
                    else:
                        arr = np.asarray(im.convert("RGBA"))
                alpha = bool(arr[..., 3].min() < 255)
                if self.chain:
                    arr = arr[:self.chain[0]]
            self._ref = (arr, alpha)
        return self._ref


def package_files(pkg):
    names = [pkg] + PACKAGES.get(pkg, ([], ""))[0]
    files = set()
    for name in names:
        proc = subprocess.run(["dpkg-query", "-L", name], capture_output=True, text=True)
        files.update(line for line in proc.stdout.splitlines() if line.startswith("/"))
    return sorted(files)


def extract_archive(archive, dest):
    """The image members of a zip archive, extracted once into dest."""
    done = os.path.join(dest, ".extracted")
    if not os.path.exists(done):
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        with zipfile.ZipFile(archive) as z:
            for info in z.infolist():
                name = info.filename
                if info.is_dir() or name.startswith("/") or ".." in name.split("/"):
                    continue
                if os.path.splitext(name)[1][1:].lower() in IMAGE_EXTS:
                    z.extract(info, dest)
        open(done, "w").close()
    found = []
    for d, _, names in os.walk(dest):
        found += [os.path.join(d, n) for n in names if os.path.splitext(n)[1][1:].lower() in IMAGE_EXTS]
    return found


def collect_sources(pkg, work):
    paths = []
    for f in package_files(pkg):
        if f.startswith(SKIP_PREFIXES) or not os.path.isfile(f):
            continue
        if os.path.splitext(f)[1][1:].lower() in IMAGE_EXTS:
            paths.append(f)
        elif f.lower().endswith(ARCHIVE_EXTS):
            paths += extract_archive(f, os.path.join(work, "extract", pkg, os.path.basename(f)))
    sources = []
    for p in sorted(set(paths)):
        s = Source(pkg, p)
        s.describe()
        sources.append(s)
    return sources


def select(sources, cap):
    """Up to cap sources, taken in turns from each kind (so rare colour types
    are in) and spread over the folders within a kind."""
    if cap <= 0 or len(sources) <= cap:
        return list(sources)
    by_kind = collections.OrderedDict()
    for s in sorted(sources, key=lambda s: (s.kind, s.path)):
        by_kind.setdefault(s.kind, []).append(s)
    queues = []
    for items in by_kind.values():
        # interleave folders: one of each folder, then the next of each ...
        folders = collections.OrderedDict()
        for s in items:
            folders.setdefault(os.path.dirname(s.path), []).append(s)
        order = []
        lists = list(folders.values())
        depth = 0
        while len(order) < len(items):
            for lst in lists:
                if depth < len(lst):
                    order.append(lst[depth])
            depth += 1
        queues.append(collections.deque(order))
    chosen = []
    while len(chosen) < cap and any(queues):
        for q in queues:
            if q and len(chosen) < cap:
                chosen.append(q.popleft())
    return sorted(chosen, key=lambda s: s.path)


# ----------------------------------------------------------- message rules

def load_message_rules(path):
    """Patterns of every converter line docs/errors.md lists."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text = text.split("\n## Atlasdesk")[0]
    builder, cells = [], []
    section = ""
    for line in text.splitlines():
        if line.startswith("## "):
            section = line
        if not line.startswith("|") or line.startswith("|---"):
            continue
        cell = line.split("|")[1].strip()
        if cell in ("Message", "Text", "Status"):
            continue
        (builder if section.startswith("## Builder") else cells).append(cell)

    def to_regex(snippet, text_alt):
        out, i = "", 0
        tokens = re.finditer(r"\d<or>\d|<[^>]+>|%d|W x H|WxH|\.\.\.|\bN\b", snippet)
        for m in tokens:
            out += re.escape(snippet[i:m.start()])
            tok = m.group(0)
            if "<or>" in tok:
                out += "[%s%s]" % (tok[0], tok[-1])
            elif tok == "<text>" and text_alt:
                out += "(?:%s)" % text_alt
            elif tok.startswith("<") or tok == "...":
                out += ".*"
            elif tok == "%d" or tok == "N":
                out += r"-?\d+"
            elif tok == "W x H":
                out += r"\d+ x \d+"
            else:
                out += r"\d+x\d+"
            i = m.end()
        return out + re.escape(snippet[i:])

    builder_alt = "|".join(to_regex(s, None) for cell in builder for s in re.findall(r"`([^`]+)`", cell))
    patterns = []
    for cell in cells:
        snippets = re.findall(r"`([^`]+)`", cell)
        raws, suffix = [], ""
        for s in snippets:
            if s.startswith(": "):
                suffix = "(?:%s)?" % to_regex(s, builder_alt)
            elif s.startswith("(") and raws and " (" in raws[0]:
                raws.append(raws[0].rsplit(" (", 1)[0] + " " + s)
            elif re.search(r" \d/\d$", s):       # "Save textures 1/2": either number
                raws.append(s[:-3] + s[-3] + "<or>" + s[-1])
            else:
                raws.append(s)
        if "then dots" in cell:
            suffix += r"\.*"
        for s in raws:
            # A bare name (the dump's "<name>") is checked against the names
            # the run was given, not here.
            if not re.fullmatch(r"<[^>]+>", s):
                patterns.append(to_regex(s, builder_alt) + suffix)
        if re.search(r"(^|, )dots(,|$)", cell):
            patterns.append(r"\.+")
    patterns += EXTRA_NORMAL_LINES
    return re.compile("|".join("(?:%s)" % p for p in patterns))


# ------------------------------------------------------------------- runner

class Run:
    def __init__(self, cmd, cwd, status, out, err, seconds):
        self.cmd, self.cwd, self.status, self.out, self.err, self.seconds = cmd, cwd, status, out, err, seconds
        self.lines = [l.rstrip("\r") for l in (out + "\n" + err).split("\n")]

    def text(self):
        return "cd %s && %s" % (shlex.quote(self.cwd), shlex.join(self.cmd))


class Bench:
    def __init__(self, args):
        self.args = args
        self.binary = os.path.abspath(args.binary)
        self.work = os.path.abspath(args.work)
        self.rules = load_message_rules(ERRORS_MD)
        self.rows = []
        self.flags = []
        self.notes = []
        self.runs = 0
        self.taken = {}
        self.rebuilds = []
        self.built = self.binary_id()
        self.env = dict(os.environ)
        self.env.pop("MIPFORGE_NO_DEVICE", None)
        if args.threads:
            self.env["MIPFORGE_THREADS"] = str(args.threads)

    # -- running
    def run(self, pkg, args, cwd, allowed_lines=()):
        shutil.rmtree(cwd, ignore_errors=True)
        os.makedirs(cwd)
        cmd = [self.binary] + args
        self.note_rebuild(pkg)
        for attempt in range(4):
            # The binary may be being rebuilt: wait for it to be back.
            for _ in range(60):
                if os.access(self.binary, os.X_OK):
                    break
                time.sleep(2)
            start = time.monotonic()
            try:
                proc = subprocess.run(cmd, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                                      env=self.env, timeout=self.args.timeout)
            except subprocess.TimeoutExpired as e:
                run = Run(cmd, cwd, None, (e.stdout or b"").decode("latin-1"), (e.stderr or b"").decode("latin-1"),
                          self.args.timeout)
                self.flag(pkg, "hang", "no end after %d s" % self.args.timeout, run, "")
                return run
            except OSError as e:
                if attempt < 3:
                    time.sleep(20)
                    continue
                raise SystemExit("cannot start %s: %s" % (self.binary, e))
            if proc.returncode in (126, 127) and attempt < 3:
                time.sleep(20)
                continue
            break
        self.runs += 1
        run = Run(cmd, cwd, proc.returncode, proc.stdout.decode("latin-1"), proc.stderr.decode("latin-1"),
                  time.monotonic() - start)
        if run.status < 0:
            try:
                import signal
                name = signal.Signals(-run.status).name
            except (ValueError, ImportError):
                name = str(-run.status)
            self.flag(pkg, "crash", "died from signal %s" % name, run, "")
        allowed = set(allowed_lines)
        seen = set()
        for line in run.lines:
            if not line.strip() or line in allowed or line in seen:
                continue
            # Progress dots carry no line end: the next message follows
            # them on the same line.
            if not self.rules.fullmatch(line) and not self.rules.fullmatch(line.lstrip(".")):
                seen.add(line)
                self.flag(pkg, "line", "console line not in docs/errors.md: %r" % line, run, "")
        return run

    def binary_id(self):
        try:
            st = os.stat(self.binary)
            return st.st_mtime_ns, st.st_size
        except OSError:
            return None

    def note_rebuild(self, pkg):
        """Remembers where the binary was replaced during the run, so that a
        report mixing two builds says so."""
        now = self.binary_id()
        if now is not None and now != self.built:
            self.rebuilds.append((pkg, time.strftime("%H:%M:%S")))
            print("   note: %s was replaced (before a run of %s)" % (self.binary, pkg), flush=True)
            self.built = now

    def check_status(self, pkg, run, allowed, why=""):
        if run.status is None or run.status < 0:
            return
        if run.status not in allowed:
            self.flag(pkg, "status", "exit status %d, documented for this mode: %s%s" %
                      (run.status, "/".join(map(str, sorted(allowed))), why), run, "")

    def flag(self, pkg, kind, message, run, file):
        mode = ""
        if run:
            mode = run.cmd[1] if run.cmd[1].startswith("-") else "dir"
        self.flags.append({"pkg": pkg, "kind": kind, "message": message, "cmd": run.text() if run else "",
                           "file": file, "mode": mode})

    # -- scoring
    def score(self, ref, ref_alpha, out, fmt):
        use_alpha = ref_alpha and fmt in ALPHA_FORMATS
        r = ref.astype(np.float64)
        o = out.astype(np.float64)
        if ref_alpha:
            mask = ref[..., 3] >= (128 if fmt in ONE_BIT_ALPHA else 1)
        else:
            mask = np.ones(ref.shape[:2], bool)
        err = ((r[..., :3] - o[..., :3]) ** 2)[mask].sum()
        count = int(mask.sum()) * 3
        if use_alpha:
            err += ((r[..., 3] - o[..., 3]) ** 2).sum()
            count += ref.shape[0] * ref.shape[1]
        if count == 0:
            return None, "RGB"
        mse = err / count
        return (math.inf if mse == 0 else 10 * math.log10(255.0 ** 2 / mse)), ("RGBA" if use_alpha else "RGB")

    def add_row(self, pkg, src, mode, output, run, fmt_expected, levels_expected, info, problems,
                size_expected=None, ref=None):
        """One output: checks, PSNR, a row."""
        row = {"pkg": pkg, "source": src.path, "kind": src.kind, "mode": mode, "output": output,
               "cmd": run.text(), "size": "", "levels": "", "format": "", "psnr": None, "channels": "",
               "flags": [], "top": None, "ref": None}
        self.rows.append(row)

        def bad(kind, message):
            row["flags"].append(kind)
            self.flag(pkg, kind, message, run, src.path)

        for p in problems:
            bad("header", "%s: %s" % (os.path.basename(output), p))
        if info is None:
            return row
        w, h = info["width"], info["height"]
        row.update(size="%dx%d" % (w, h), levels=info["levels"], format=info["format"], top=info["top"])
        size_expected = size_expected or src.expected_size()
        if info["format"] != fmt_expected:
            bad("format", "format %s, expected %s" % (info["format"], fmt_expected))
        if (w, h) != tuple(size_expected):
            why = " (read as a mip-chain picture: %s)" % src.kind if src.chain else ""
            bad("size", "%d x %d, source %d x %d%s" % (w, h, size_expected[0], size_expected[1], why))
        if info["levels"] != levels_expected:
            bad("levels", "%d levels, expected %d" % (info["levels"], levels_expected))
        if info["top"] is None:
            return row
        try:
            ref_arr, ref_alpha = ref if ref is not None else src.reference()
        except Exception as e:  # noqa: BLE001
            row["channels"] = "no reference: %s" % e
            return row
        if ref_arr.shape[:2] != info["top"].shape[:2]:
            return row
        value, channels = self.score(ref_arr, ref_alpha, info["top"], info["format"])
        row.update(psnr=value, channels=channels, ref=ref_arr)
        fmt = info["format"]
        floor = FLOORS.get(fmt)
        if fmt in BLOCK_BYTES:
            if ref_alpha:
                weight = ref_arr[..., 3] >= (128 if fmt in ONE_BIT_ALPHA else 1)
            else:
                weight = np.ones(ref_arr.shape[:2], bool)
            fit, _ = self.score(ref_arr, ref_alpha, range_fit(ref_arr, fmt, weight), fmt)
            row["fit"] = fit
            if fit is not None and fit - FIT_MARGIN < floor:
                floor = fit - FIT_MARGIN
        if value is not None and floor is not None and value < floor:
            bad("psnr", "%s PSNR %.2f dB, below the %s floor of %.2f dB (range fit %s)" %
                (channels, value, fmt, floor, fmt_psnr(row.get("fit"))))
        return row

    def missing(self, pkg, src, mode, run, printed_path, expected_out):
        """No output for a source: documented refusal (a note) or a flag."""
        said = [l for l in run.lines if printed_path in l]
        if any(l.startswith(("can't open ", "can't convert ", "can't save ", "Pallete not found"))
               or " left out: " in l for l in said) or (mode.startswith("single") and "Pallete not found" in run.out):
            reason = [l for l in said if not l.startswith("can't open ")] or said
            self.notes.append({"pkg": pkg, "mode": mode, "source": src.path, "kind": src.kind,
                               "why": " / ".join(reason)[:300], "cmd": run.text()})
            return
        self.flag(pkg, "missing", "no %s and no message about the file" % expected_out, run, src.path)

    # -- modes
    def stage(self, pkg, gid, folder, ext, chosen):
        """The folder itself when every file of that extension (any image
        file for "*") in it is chosen, else a copy of the chosen files."""
        def wanted(name):
            if ext == "*":
                return os.path.splitext(name)[1][1:].lower() in IMAGE_EXTS
            return name.lower().endswith("." + ext)
        try:
            present = sorted(n for n in os.listdir(folder) if wanted(n))
        except OSError:
            present = []
        if present == sorted(os.path.basename(s.path) for s in chosen):
            return folder
        dest = os.path.join(self.work, "stage", pkg, gid)
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        for s in chosen:
            shutil.copy2(s.path, os.path.join(dest, os.path.basename(s.path)))
        return dest

    def dir_mode(self, pkg, gid, folder, ext, srcs):
        cwd = os.path.join(self.work, "runs", pkg, "dir-" + gid)
        run = self.run(pkg, [folder, ext, "out"], cwd)
        self.check_status(pkg, run, {0, 255}, "")
        if run.status == 255:
            self.flag(pkg, "status", "status 255 (no file) for a folder with %d .%s files" % (len(srcs), ext),
                      run, folder)
        for s in srcs:
            key = os.path.basename(s.path).lower()
            out = os.path.join(cwd, "out", key[:key.rfind(".")] + ".dds")
            if not os.path.exists(out):
                self.missing(pkg, s, "dir", run, os.path.join(folder, os.path.basename(s.path)), out)
                continue
            fmt = "DXT5" if s.path.lower().endswith("tga") else "DXT1"
            info, problems = parse_dds(out)
            self.add_row(pkg, s, "dir", out, run, fmt, s.expected_levels() if s.size else None, info, problems)
        return run

    def dir_star_mode(self, pkg, gid, folder, srcs, refused):
        """"*" as the extension: every file of the folder.  Names that differ
        only in their extension share one DDS file; the later entry in name
        order is the one a one-thread run leaves there."""
        cwd = os.path.join(self.work, "runs", pkg, "dirstar-" + gid)
        run = self.run(pkg, [folder, "*", "out"], cwd)
        self.check_status(pkg, run, {0})
        by_out = collections.OrderedDict()
        for s in sorted(srcs, key=lambda s: os.path.basename(s.path).lower()):
            key = os.path.basename(s.path).lower()
            by_out.setdefault(key[:key.rfind(".")] + ".dds", []).append(s)
        for oname, group in by_out.items():
            out = os.path.join(cwd, "out", oname)
            loaded = [s for s in group if s.path not in refused]
            if not loaded:
                continue
            winner = loaded[-1]
            if not os.path.exists(out):
                self.missing(pkg, winner, "dir *", run, os.path.join(folder, os.path.basename(winner.path)), out)
                continue
            fmt = "DXT5" if winner.path.lower().endswith("tga") else "DXT1"
            info, problems = parse_dds(out)
            before = len(self.flags)
            row = self.add_row(pkg, winner, "dir *", out, run, fmt, winner.expected_levels(), info, problems)
            if len(loaded) > 1 and info is not None and info["top"] is not None:
                for loser in loaded[:-1]:
                    ref, alpha = loser.reference()
                    if ref.shape[:2] != info["top"].shape[:2]:
                        continue
                    value, _ = self.score(ref, alpha, info["top"], info["format"])
                    if value is not None and (row["psnr"] is None or value > row["psnr"] + 3):
                        self.flag(pkg, "collision", "%s holds %s (%s dB), not the later entry %s (%s dB)" %
                                  (oname, os.path.basename(loser.path), fmt_psnr(value),
                                   os.path.basename(winner.path), fmt_psnr(row["psnr"])), run, winner.path)
                        row["flags"].append("collision")
                        # the floor and size flags of this row follow from it
                        del self.flags[before:len(self.flags) - 1]
                        row["flags"] = ["collision"]
                        break

    def complex_mode(self, pkg, gid, folder, ext, srcs):
        cwd = os.path.join(self.work, "runs", pkg, "complex-" + gid)
        run = self.run(pkg, ["-complex", folder, ext, "textures.tex"], cwd)
        self.check_status(pkg, run, {0, 255})
        texfile = os.path.join(cwd, "textures.tex")
        pushed = [l for l in run.lines if l.startswith("push ")]
        if not os.path.exists(texfile):
            if pushed:
                self.flag(pkg, "texfile", "no texture file after %d push lines" % len(pushed), run, folder)
            return
        try:
            records = read_texfile(texfile)
            if len(records) != len(pushed):
                self.flag(pkg, "texfile", "%d records for %d push lines" % (len(records), len(pushed)), run, texfile)
        except (ValueError, struct.error) as e:
            self.flag(pkg, "texfile", "texture file unreadable: %s" % e, run, texfile)
        dcwd = os.path.join(self.work, "runs", pkg, "dump-" + gid)
        names = [os.path.basename(s.path).lower() for s in srcs]
        drun = self.run(pkg, ["-dump", texfile, "out"], dcwd, allowed_lines=names)
        self.check_status(pkg, drun, {1})
        dumped = []
        for s in srcs:
            key = os.path.basename(s.path).lower()
            out = os.path.join(dcwd, "out", key + ".dds")
            if not os.path.exists(out):
                if any(l == "push %s -> %s" % (os.path.join(folder, os.path.basename(s.path)), key)
                       for l in run.lines):
                    self.flag(pkg, "missing", "pushed into the texture file but %s not dumped" % out, drun, s.path)
                else:
                    self.missing(pkg, s, "complex", run, os.path.join(folder, os.path.basename(s.path)), out)
                continue
            if s.palettised:
                fmt = "A8R8G8B8"
            elif s.dds_format in ("DXT1", "DXT5"):
                fmt = s.dds_format
            else:
                fmt = "DXT5" if s.path.lower().endswith("tga") else "DXT1"
            info, problems = parse_dds(out)
            self.add_row(pkg, s, "complex", out, drun, fmt, s.expected_levels() if s.size else None,
                         info, problems)
            if info is not None and not problems:
                dumped.append((s, out, info))
        if dumped and not self.args.no_dds:
            self.dds_dir_mode(pkg, gid, os.path.join(dcwd, "out"), dumped)

    def dds_dir_mode(self, pkg, gid, folder, dumped):
        cwd = os.path.join(self.work, "runs", pkg, "ddsdir-" + gid)
        run = self.run(pkg, [folder, "dds", "out"], cwd)
        self.check_status(pkg, run, {0})
        for s, path, info in dumped:
            src = Source(pkg, path)
            src.kind = "DDS %s (dumped from %s)" % (info["format"], s.kind)
            src.size = (info["width"], info["height"])
            src.dds_format = info["format"]
            name = os.path.basename(path)
            out = os.path.join(cwd, "out", name[:name.rfind(".")] + ".dds")
            if not os.path.exists(out):
                self.missing(pkg, src, "dds-dir", run, os.path.join(folder, name), out)
                continue
            ref = (info["top"], bool(info["top"][..., 3].min() < 255))
            oinfo, problems = parse_dds(out)
            self.add_row(pkg, src, "dds-dir", out, run, "DXT1", full_chain(*src.size), oinfo, problems,
                         size_expected=src.size, ref=ref)

    def single_mode(self, pkg, sample):
        for i, s in enumerate(sample):
            for fmt in self.args.single_formats:
                cwd = os.path.join(self.work, "runs", pkg, "single-%02d-%s" % (i, fmt))
                run = self.run(pkg, ["-single", s.path, "D3DFMT_" + fmt, "0", "out.dds"], cwd)
                out = os.path.join(cwd, "out.dds")
                opened = "can't open %s" % s.path in run.lines
                self.check_status(pkg, run, {0} if opened else {1})
                if not os.path.exists(out):
                    self.missing(pkg, s, "single", run, s.path, out)
                    continue
                info, problems = parse_dds(out)
                self.add_row(pkg, s, "single " + fmt, out, run, fmt, s.expected_levels(), info, problems)

    def xml_mode(self, pkg, srcs):
        cwd = os.path.join(self.work, "runs", pkg, "xml")
        entries = []
        used = set()
        for i, s in enumerate(srcs):
            fmt = XML_FORMATS[i % len(XML_FORMATS)]
            if s.palettised and i % 2:
                fmt = "P8"
            full = s.expected_levels()
            mips = "Maximum" if i % 4 != 3 else str(min(3, full))
            stem = re.sub(r"[^A-Z0-9_]", "_", os.path.splitext(os.path.basename(s.path))[0].upper())[:24]
            name = stem
            k = 1
            while name in used:
                name = "%s_%d" % (stem, k)
                k += 1
            used.add(name)
            entries.append((s, name, fmt, mips, full if mips == "Maximum" else int(mips), i % 3))
        lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<CDDSprojectDs>"]
        for s, name, fmt, mips, _levels, value in entries:
            lines += ["  <file>",
                      "    <name>%s</name>" % xml_escape(name),
                      "    <d3dformat>D3DFMT_%s</d3dformat>" % fmt,
                      "    <miplevels>%s</miplevels>" % mips,
                      "    <filename>%s</filename>" % xml_escape(s.path),
                      "    <comment>%s</comment>" % xml_escape(s.kind),
                      "    <bHigh>1</bHigh>", "    <bMedium>1</bMedium>", "    <bLow>1</bLow>",
                      "    <HighLevel>%d</HighLevel>" % value,
                      "    <MediumLevel>%d</MediumLevel>" % (value + 1),
                      "    <LowLevel>%d</LowLevel>" % (value + 2),
                      "  </file>"]
        lines.append("</CDDSprojectDs>")
        project = os.path.join(self.work, "runs", pkg, "project.xml")  # beside the scratch folder
        os.makedirs(os.path.dirname(project), exist_ok=True)
        with open(project, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        run = self.run(pkg, ["-xml", project, "out.cdds"], cwd, allowed_lines=[s.path for s in srcs])
        self.check_status(pkg, run, {1})
        cdds = os.path.join(cwd, "out.cdds")
        if not os.path.exists(cdds):
            self.flag(pkg, "cdds", "no CDDS file written for %d textures" % len(entries), run, cdds)
            return
        try:
            levels = read_cdds(cdds)
        except (ValueError, struct.error) as e:
            self.flag(pkg, "cdds", "CDDS file unreadable: %s" % e, run, cdds)
            return
        for lvl, items in enumerate(levels):
            if len(items) != len(entries):
                self.flag(pkg, "cdds", "level %d holds %d items for %d textures" % (lvl, len(items), len(entries)),
                          run, cdds)
            names = [it["name"] for it in items]
            if names != sorted(names, key=lambda n: n.lower().encode("latin-1")):
                self.flag(pkg, "cdds", "level %d items are not in name order" % lvl, run, cdds)
        by_name = {it["name"]: it for it in levels[0]}
        for lvl in range(3):
            for it in levels[lvl]:
                e = next((e for e in entries if e[1] == it["name"]), None)
                if e and it["value"] != e[5] + lvl:
                    self.flag(pkg, "cdds", "item %s of level %d has value %d, project says %d" %
                              (it["name"], lvl, it["value"], e[5] + lvl), run, e[0].path)
        for s, name, fmt, mips, levels_expected, _value in entries:
            it = by_name.get(name)
            if it is None:
                self.flag(pkg, "cdds", "texture %s (%s) missing from the CDDS file" % (name, s.path), run, s.path)
                continue
            if bool(it["flags"] & 1) != (it["format"] in ALPHA_FORMATS):
                self.flag(pkg, "cdds", "item %s alpha flag %d for format %s" % (name, it["flags"] & 1,
                                                                                it["format"]), run, s.path)
            info = {"width": it["width"], "height": it["height"], "levels": it["levels"], "format": it["format"],
                    "top": it["top"]}
            self.add_row(pkg, s, "xml " + fmt, "%s:%s" % (cdds, name), run, fmt, levels_expected, info, [])

    # -- one package
    def package(self, pkg):
        t0 = time.monotonic()
        sources = collect_sources(pkg, self.work)
        if not sources:
            self.flag(pkg, "setup", "no image files found in the package", None, "")
            return
        chosen = select(sources, self.args.max_files)
        unread = [s for s in chosen if not s.size]
        for s in unread:
            self.notes.append({"pkg": pkg, "mode": "pillow", "source": s.path, "kind": s.kind,
                               "why": "Pillow cannot read it: %s" % s.pil_error, "cmd": ""})
        chosen = [s for s in chosen if s.size]
        self.taken[pkg] = len(chosen)
        print("\n== %s: %d image files, %d taken (%s)" % (pkg, len(sources), len(chosen),
                                                          ", ".join(sorted({s.kind for s in chosen}))), flush=True)
        groups = collections.OrderedDict()
        for s in chosen:
            groups.setdefault((os.path.dirname(s.path), s.ext), []).append(s)
        loadable = []
        for n, ((folder, ext), srcs) in enumerate(groups.items()):
            gid = "g%03d" % n
            where = self.stage(pkg, gid, folder, ext, srcs)
            self.dir_mode(pkg, gid, where, ext, srcs)
            if not self.args.no_complex:
                self.complex_mode(pkg, gid, where, ext, srcs)
            refused = {nt["source"] for nt in self.notes if nt["pkg"] == pkg and nt["mode"] == "dir"}
            loadable += [s for s in srcs if s.path not in refused and not s.chain]
        if not self.args.no_star:
            folders = collections.OrderedDict()
            for s in chosen:
                folders.setdefault(os.path.dirname(s.path), []).append(s)
            for n, (folder, srcs) in enumerate(folders.items()):
                gid = "f%03d" % n
                where = self.stage(pkg, gid, folder, "*", srcs)
                self.dir_star_mode(pkg, gid, where, srcs, refused)
        if self.args.single_files:
            sample = select(chosen, self.args.single_files)
            self.single_mode(pkg, sample)
        if loadable and not self.args.no_xml:
            self.xml_mode(pkg, loadable)
        print("   %d runs so far, %.0f s for %s" % (self.runs, time.monotonic() - t0, pkg), flush=True)


# ------------------------------------------------------------------ report

def short(path, width):
    return path if len(path) <= width else "..." + path[-(width - 3):]


def fmt_psnr(v):
    if v is None:
        return "-"
    return "inf" if v == math.inf else "%.2f" % v


def save_pair(row, path):
    """Source and result side by side, upscaled for small pictures; pictures
    with alpha over a checkerboard."""
    ref, out = row["ref"], row["top"]
    h, w = out.shape[:2]
    scale = max(1, min(8, 256 // max(1, max(h, w))))

    def picture(arr):
        img = Image.fromarray(arr, "RGBA")
        if row["channels"] == "RGBA" or arr[..., 3].min() < 255:
            board = Image.new("RGBA", img.size, (200, 200, 200, 255))
            tile = 8
            px = board.load()
            for y in range(img.size[1]):
                for x in range(img.size[0]):
                    if (x // tile + y // tile) % 2:
                        px[x, y] = (120, 120, 120, 255)
            img = Image.alpha_composite(board, img)
        img = img.convert("RGB")
        return img.resize((img.size[0] * scale, img.size[1] * scale), Image.NEAREST) if scale > 1 else img

    a, b = picture(ref), picture(out)
    caption = "%s | %s %s %s, %s dB %s" % (os.path.basename(row["source"]), row["mode"], row["format"], row["size"],
                                          fmt_psnr(row["psnr"]), row["channels"])
    width = max(a.size[0] + b.size[0] + 8, 6 * len(caption) + 8)
    canvas = Image.new("RGB", (width, max(a.size[1], b.size[1]) + 16), (255, 255, 255))
    canvas.paste(a, (0, 16))
    canvas.paste(b, (a.size[0] + 8, 16))
    ImageDraw.Draw(canvas).text((4, 2), caption, fill=(0, 0, 0))
    canvas.save(path)


def report(bench, packages):
    rows, flags = bench.rows, bench.flags
    print("\n%-20s %-14s %-52s %-10s %3s %-9s %8s %-4s %6s %s" %
          ("package", "mode", "source", "size", "lv", "format", "PSNR", "ch", "fit", "flags"))
    for r in rows:
        print("%-20s %-14s %-52s %-10s %3s %-9s %8s %-4s %6s %s" %
              (r["pkg"][:20], r["mode"], short(r["source"], 52), r["size"], r["levels"], r["format"],
               fmt_psnr(r["psnr"]), r["channels"][:4], fmt_psnr(r.get("fit")), ",".join(r["flags"])))

    worst_dir = os.path.join(bench.work, "worst")
    shutil.rmtree(worst_dir, ignore_errors=True)
    os.makedirs(worst_dir)
    summary = []
    for pkg in packages:
        prs = [r for r in rows if r["pkg"] == pkg]
        scored = sorted((r for r in prs if r["psnr"] is not None), key=lambda r: r["psnr"])
        keep = scored[:bench.args.keep_worst]
        keep += [r for r in scored[bench.args.keep_worst:] if "psnr" in r["flags"]][:20]
        for i, r in enumerate(keep):
            name = "%s-%02d-%s-%s.png" % (pkg, i, r["mode"].replace(" ", "_"), os.path.basename(r["source"]))
            try:
                save_pair(r, os.path.join(worst_dir, name))
                r["picture"] = name
            except Exception as e:  # noqa: BLE001
                print("could not save %s: %s" % (name, e))
        worst = scored[0] if scored else None
        summary.append((pkg, bench.taken.get(pkg, 0), len(prs), ",".join(sorted({r["format"] for r in prs if r["format"]})),
                        "%s %s (%s)" % (fmt_psnr(worst["psnr"]), short(worst["source"], 40), worst["mode"])
                        if worst else "-",
                        sum(1 for f in flags if f["pkg"] == pkg),
                        sum(1 for n in bench.notes if n["pkg"] == pkg)))

    print("\nSummary")
    print("%-22s %6s %7s %-32s %-62s %6s %7s" % ("package", "files", "outputs", "formats", "worst PSNR",
                                                   "flags", "refused"))
    for s in summary:
        print("%-22s %6d %7d %-32s %-62s %6d %7d" % s)

    with open(os.path.join(bench.work, "rows.tsv"), "w") as f:
        f.write("package\tmode\tsource\tkind\toutput\tsize\tlevels\tformat\tpsnr\tchannels\tfit\tflags\tcommand\n")
        for r in rows:
            f.write("\t".join(str(x) for x in (r["pkg"], r["mode"], r["source"], r["kind"], r["output"], r["size"],
                                               r["levels"], r["format"], fmt_psnr(r["psnr"]), r["channels"],
                                               fmt_psnr(r.get("fit")),
                                               ",".join(r["flags"]), r["cmd"])) + "\n")
    with open(os.path.join(bench.work, "flags.txt"), "w") as f:
        for fl in flags:
            f.write("[%s] %s: %s\n    file: %s\n    run:  %s\n" % (fl["kind"], fl["pkg"], fl["message"], fl["file"],
                                                                   fl["cmd"]))
    with open(os.path.join(bench.work, "refused.txt"), "w") as f:
        for n in bench.notes:
            f.write("%s %s %s [%s]: %s\n    run: %s\n" % (n["pkg"], n["mode"], n["source"], n["kind"], n["why"],
                                                          n["cmd"]))

    if bench.notes:
        print("\nRefused with a documented message (not flags; all in %s):" %
              os.path.join(bench.work, "refused.txt"))
        groups = collections.OrderedDict()
        for n in bench.notes:
            key = (n["mode"].split()[0], re.sub(r"/\S+|\d+", "#", n["why"]))
            groups.setdefault(key, []).append(n)
        for (mode, _), ns in groups.items():
            print("  %4d x %-8s %s [%s]: %s" % (len(ns), mode, ns[0]["source"], ns[0]["kind"], ns[0]["why"][:160]))

    if flags:
        print("\nFlags (%d; each with its command in %s):" % (len(flags), os.path.join(bench.work, "flags.txt")))
        groups = collections.OrderedDict()
        for fl in flags:
            text = re.sub(r"'[^']*'|/\S+", "<x>", fl["message"])
            key = (fl["kind"], fl["mode"], re.sub(r"\d+(\.\d+)?|inf", "#", text))
            groups.setdefault(key, []).append(fl)
        for (kind, mode, _), fls in groups.items():
            print("  [%s] %s, %d x: %s" % (kind, mode, len(fls), fls[0]["message"]))
            for fl in fls[:3]:
                print("        %s: %s\n          %s" % (fl["pkg"], fl["file"], fl["cmd"]))
            if len(fls) > 3:
                print("        ... %d more" % (len(fls) - 3))
    print("\nWorst top levels (source | result): %s" % worst_dir)
    print("%d runs, %d outputs, %d flags" % (bench.runs, len(rows), len(flags)))
    for pkg, when in bench.rebuilds:
        print("WARNING: the binary was replaced at %s, during %s: the results mix two builds; run again" %
              (when, pkg))


def main():
    global np, Image, ImageDraw
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary", help="the Mipforge binary")
    parser.add_argument("--packages", default=",".join(DEFAULT_PACKAGES),
                        help="comma-separated Debian packages (known: %s)" % ", ".join(PACKAGES))
    parser.add_argument("--max-files", type=int, default=40, help="files per package, 0: all (default 40)")
    parser.add_argument("--single-files", type=int, default=6, help="files per package for -single (default 6)")
    parser.add_argument("--single-formats", default=",".join(SINGLE_FORMATS), help="D3DFMT_ names without prefix")
    parser.add_argument("--work", default=os.path.join("/tmp", "mipforge-realworld"), help="work folder")
    parser.add_argument("--keep-worst", type=int, default=3, help="pictures of the N worst outputs per package")
    parser.add_argument("--threads", type=int, default=0, help="MIPFORGE_THREADS for the runs")
    parser.add_argument("--timeout", type=int, default=600, help="seconds one run may take")
    parser.add_argument("--no-install", action="store_true", help="do not run bench/install-realworld.sh")
    parser.add_argument("--no-complex", action="store_true", help="skip -complex/-dump (and dds-dir)")
    parser.add_argument("--no-dds", action="store_true", help="skip the directory run over dumped DDS files")
    parser.add_argument("--no-xml", action="store_true", help="skip -xml")
    parser.add_argument("--no-star", action="store_true", help='skip the directory runs with "*" as extension')
    args = parser.parse_args()
    args.single_formats = [f.strip().replace("D3DFMT_", "") for f in args.single_formats.split(",") if f.strip()]
    packages = [p.strip() for p in args.packages.split(",") if p.strip()]
    if not os.access(args.binary, os.X_OK):
        sys.exit("%s is not an executable" % args.binary)
    if not args.no_install:
        subprocess.run(["bash", os.path.join(HERE, "install-realworld.sh")] + packages, check=True)
    import numpy
    from PIL import Image as pil_image, ImageDraw as pil_draw
    np, Image, ImageDraw = numpy, pil_image, pil_draw
    os.makedirs(args.work, exist_ok=True)
    bench = Bench(args)
    for pkg in packages:
        shutil.rmtree(os.path.join(bench.work, "runs", pkg), ignore_errors=True)
        shutil.rmtree(os.path.join(bench.work, "stage", pkg), ignore_errors=True)
        bench.package(pkg)
    report(bench, packages)
    return 1 if bench.flags else 0


if __name__ == "__main__":
    sys.exit(main())
