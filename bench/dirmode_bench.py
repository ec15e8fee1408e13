#!/usr/bin/python3
"""Whole-program benchmark: the converter's directory mode against ImageMagick's
DDS writer on a folder of 1024x1024 terrain textures.

DXT1 from PNG and DXT5 from TGA, full mip chains.  Reports wall time, the
time ratio, peak resident memory and the PSNR of the top levels, every DDS
file decoded by the same decoders: Pillow's, which rounds the interpolated
colours and alphas down, and the project's (bench/dds_decode), which rounds
them to nearest as the encoder assumes.

Usage: bench/dirmode_bench.py <Mipforge binary> [--count N] [--repeat N] [--work DIR] [--skip-cluster]
Needs: python3-pil, imagemagick, time, extremetuxracer-data (bench/install-corpus.sh).
"""
import argparse
import glob
import math
import os
import re
import shutil
import subprocess
import sys
import time

from PIL import Image, ImageChops, ImageFilter, ImageOps

TERRAINS = "/usr/share/games/etr/terrains"


def make_corpus(work, count):
    """Tiles 256x256 terrain textures 4x4 (with mirrored tiles, so seams stay
    natural) into 1024x1024 images; TGA copies get a soft alpha channel."""
    sources = sorted(glob.glob(os.path.join(TERRAINS, "*.png")))
    if not sources:
        sys.exit("no terrain textures: run bench/install-corpus.sh")
    png_dir = os.path.join(work, "png")
    tga_dir = os.path.join(work, "tga")
    for d in (png_dir, tga_dir):
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
    for i in range(count):
        tile = Image.open(sources[i % len(sources)]).convert("RGB").resize((256, 256))
        variants = [tile, ImageOps.mirror(tile), ImageOps.flip(tile), ImageOps.flip(ImageOps.mirror(tile))]
        big = Image.new("RGB", (1024, 1024))
        for ty in range(4):
            for tx in range(4):
                big.paste(variants[(tx + 2 * ty + i) % 4], (tx * 256, ty * 256))
        name = "t%02d" % i
        big.save(os.path.join(png_dir, name + ".png"))
        alpha = big.convert("L").filter(ImageFilter.GaussianBlur(6))
        alpha = ImageOps.autocontrast(alpha)
        rgba = big.copy()
        rgba.putalpha(alpha)
        rgba.save(os.path.join(tga_dir, name + ".tga"))
    return png_dir, tga_dir


def timed(cmd, cwd=None):
    """Runs cmd under /usr/bin/time -v; returns (seconds, peak RSS in MiB)."""
    start = time.monotonic()
    proc = subprocess.run(["/usr/bin/time", "-v"] + cmd, cwd=cwd, capture_output=True, text=True)
    seconds = time.monotonic() - start
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), proc.stderr[-2000:]))
    rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", proc.stderr)
    return seconds, (int(rss.group(1)) / 1024.0 if rss else float("nan"))


def decode_dds(path, decoder, mode):
    """The top level of a DDS file, decoded by Pillow (decoder None) or by
    the project's dds_decode."""
    if decoder is None:
        return Image.open(path).convert(mode)
    proc = subprocess.run([decoder, path], capture_output=True, check=True)
    width, height = (int(v) for v in proc.stderr.split())
    return Image.frombytes("RGBA", (width, height), proc.stdout).convert(mode)


def psnr(sources, dds_dir, mode, decoder=None):
    """PSNR over all pixels of all top levels (RGB or RGBA)."""
    total = 0.0
    samples = 0
    for src in sources:
        name = os.path.splitext(os.path.basename(src))[0] + ".dds"
        a = Image.open(src).convert(mode)
        b = decode_dds(os.path.join(dds_dir, name), decoder, mode)
        if a.size != b.size:
            sys.exit("size mismatch for " + name)
        diff = ImageChops.difference(a, b)
        hist = diff.histogram()
        for band in range(len(mode)):
            h = hist[band * 256:(band + 1) * 256]
            total += sum(count * v * v for v, count in enumerate(h))
        samples += a.size[0] * a.size[1] * len(mode)
    mse = total / samples
    return float("inf") if mse == 0 else 10 * math.log10(255.0 * 255.0 / mse)


def run_imagemagick(sources, out_dir, compression, cluster):
    os.makedirs(out_dir, exist_ok=True)
    script = []
    for src in sources:
        dst = os.path.join(out_dir, os.path.splitext(os.path.basename(src))[0] + ".dds")
        args = ["convert", src, "-define", "dds:compression=" + compression]
        if cluster:
            args += ["-define", "dds:cluster-fit=true"]
        script.append(" ".join("'%s'" % a for a in args + [dst]))
    listing = os.path.join(out_dir, "run.sh")
    with open(listing, "w") as f:
        f.write("set -e\n" + "\n".join(script) + "\n")
    return timed(["sh", listing])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mipforge")
    ap.add_argument("--count", type=int, default=12)
    ap.add_argument("--work", default="/tmp/mipforge-dirbench")
    ap.add_argument("--repeat", type=int, default=3,
                    help="runs of the converter and of ImageMagick's default, taking turns (the fastest counts)")
    ap.add_argument("--skip-cluster", action="store_true", help="leave out ImageMagick's slow cluster fit")
    ap.add_argument("--decoder", help="the project's dds_decode (default: bench/dds_decode of the same build)")
    args = ap.parse_args()
    mipforge = os.path.abspath(args.mipforge)
    decoder = args.decoder or os.path.join(os.path.dirname(os.path.dirname(mipforge)), "bench", "dds_decode")
    if not os.access(decoder, os.X_OK):
        sys.exit("no dds_decode at %s: build the bench targets (-DMIPFORGE_BENCH=ON) or pass --decoder" % decoder)
    decoder = os.path.abspath(decoder)
    os.makedirs(args.work, exist_ok=True)
    png_dir, tga_dir = make_corpus(args.work, args.count)
    pngs = sorted(glob.glob(os.path.join(png_dir, "*.png")))
    tgas = sorted(glob.glob(os.path.join(tga_dir, "*.tga")))

    rows = []
    for label, sources, src_dir, ext, compression, mode in (
        ("DXT1 from PNG", pngs, png_dir, "png", "dxt1", "RGB"),
        ("DXT5 from TGA", tgas, tga_dir, "tga", "dxt5", "RGBA"),
    ):
        out = os.path.join(args.work, "mipforge-" + ext)
        out_im = os.path.join(args.work, "im-" + ext)
        # The two take turns, so that both see the machine's load of the
        # moment; the fastest run of each counts, the highest peak.
        ours, im = [], []
        for _ in range(args.repeat):
            shutil.rmtree(out, ignore_errors=True)
            ours.append(timed([mipforge, src_dir, ext, out], cwd=args.work))
            im.append(run_imagemagick(sources, out_im, compression, False))
        t_ours, rss = min(t for t, _ in ours), max(r for _, r in ours)
        t_im, rss_im = min(t for t, _ in im), max(r for _, r in im)
        runs = [("Mipforge", out, t_ours, rss), ("ImageMagick", out_im, t_im, rss_im)]
        if not args.skip_cluster:
            out_cf = os.path.join(args.work, "imcf-" + ext)
            t_cf, rss_cf = run_imagemagick(sources, out_cf, compression, True)
            runs.append(("ImageMagick cluster fit", out_cf, t_cf, rss_cf))
        for tool, folder, t, peak in runs:
            rows.append((label, tool, t, peak, psnr(sources, folder, mode), psnr(sources, folder, mode, decoder),
                         t / t_im))

    print("%d images of 1024x1024 per row, full mip chains, %d cores; fastest of %d runs (cluster fit: one run)"
          % (args.count, os.cpu_count(), args.repeat))
    print("PSNR of the top levels as Pillow decodes them (thirds and sevenths rounded down) and as the")
    print("project's decoder does (rounded to nearest)")
    print("%-14s %-24s %9s %12s %12s %12s %16s" % ("job", "tool", "time (s)", "peak RSS MiB", "PSNR Pillow",
                                                  "PSNR nearest", "time / IM default"))
    for label, tool, t, rss, p_pillow, p_ours, ratio in rows:
        # Four decimals: the encoders come within a thousandth of a dB of each
        # other, which three would hide.
        print("%-14s %-24s %9.2f %12.1f %12.4f %12.4f %16.3f" % (label, tool, t, rss, p_pillow, p_ours, ratio))

if __name__ == "__main__":
    main()
