#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and benchmarks with.
# Idempotent: packages already installed are skipped, and apt-get runs only
# when something is missing.  Usage: tools/install-deps.sh [--bench] [--fuzz]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libdeflate-dev libjpeg62-turbo-dev libpugixml-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libx11-dev
  python3 python3-pil imagemagick
  xvfb xauth
)
for arg in "$@"; do
  case "$arg" in
    --bench) packages+=(libsquish-dev libstb-dev time extremetuxracer-data) ;;
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *) echo "install-deps: unknown option $arg" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
