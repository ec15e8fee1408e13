#!/usr/bin/env python3
"""Checks the include lines of the product against its layers.

Every header is included by its path from the tree's root, or by its bare
name from its own folder.  A file may include only from its own layer and
the layers below it, and a library's internal headers (named *_internal.h,
or listed below) only from inside that library's folder.  Tests,
benchmarks, fuzz targets and tools may include anything.

Usage: layering.py <source root>
"""
import os
import re
import sys

# Lowest first; a folder may include from its own rank and below.  Within
# the extension library, the codec sits under the pixel layer, which sits
# under the image readers.
RANKS = [
    ("platform/win32", 0),
    ("platform/d3d8", 1),
    ("platform/d3dx8/dxt", 2),
    ("platform/d3dx8/pixel", 3),
    ("platform/d3dx8/image", 4),
    ("platform/d3dx8", 2),
    ("misc", 5),
    ("xmltree", 5),
    ("engine/basekit", 6),
    ("engine/geobase", 7),
    ("project", 8),
    ("converter", 9),
    ("editor", 10),
]
# Internal headers and the folder whose files alone may include them.
INTERNAL_EXTRA = {"platform/d3dx8/pixel/parallel.h": "platform/d3dx8"}
UNRESTRICTED = ("tests/", "bench/", "fuzz/", "tools/")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def rank_of(path):
    for folder, rank in RANKS:
        if path.startswith(folder + "/"):
            return folder, rank
    return None, None


def internal_owner(header):
    if header in INTERNAL_EXTRA:
        return INTERNAL_EXTRA[header]
    if header.endswith("_internal.h"):
        folder = os.path.dirname(header)
        # A library's internal header serves the library's whole folder.
        return "platform/d3dx8" if folder.startswith("platform/d3dx8") else folder
    return None


def main(root):
    problems = []
    for base, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith(".") and not (base == root and d.startswith("build"))]
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.relpath(os.path.join(base, name), root)
            text = open(os.path.join(root, path), encoding="utf-8", errors="replace").read()
            for included in INCLUDE.findall(text):
                beside = os.path.normpath(os.path.join(os.path.dirname(path), included))
                if "/" not in included and os.path.exists(os.path.join(root, beside)):
                    header = beside
                elif os.path.exists(os.path.join(root, included)):
                    header = included
                else:
                    continue  # a system or generated header
                if path.startswith(UNRESTRICTED):
                    continue
                owner = internal_owner(header)
                if owner and not path.startswith(owner + "/"):
                    problems.append("%s includes %s, internal to %s" % (path, header, owner))
                mine, mine_rank = rank_of(path)
                theirs, their_rank = rank_of(header)
                if mine and theirs and their_rank > mine_rank:
                    problems.append("%s (%s) includes %s from the higher layer %s" % (path, mine, header, theirs))
    for p in problems:
        print(p)
    print("%d include lines break the layering" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
