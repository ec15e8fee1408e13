#!/usr/bin/env bash
# Installs what bench/realworld.py reads: Debian game data packages with real
# textures (PNG of every colour type, JPEG, TGA, BMP), and python3-numpy and
# python3-pil for its decoders.  Idempotent: apt-get runs only for packages
# that are missing, and "apt-get update" once before it.
# Usage: bench/install-realworld.sh [package ...]   (none: the default set)
set -euo pipefail
default=(extremetuxracer-data neverball-data trigger-rally-data minetest-data
         gl-117-data billard-gl-data csmash-data freegish-data)
if [ "$#" -gt 0 ]; then
  packages=("$@")
else
  packages=("${default[@]}")
fi
packages+=(python3-numpy python3-pil)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
exit 0
