#!/usr/bin/env bash
# The main job on the bundled sample images: run by `make demo`.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/out/demo"
mkdir -p "$out"
cd "$out"
echo "== Mipforge: usage and device check (in $out)"
"$top/$build/converter/Mipforge" samples tga dds || true
echo
echo "== The log of that run: $out/Mipforge.log"
