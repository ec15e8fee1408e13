#!/usr/bin/env bash
# Installs the real textures bench_dxt measures on (terrain and object
# textures of a packaged game's data).  Idempotent: apt-get runs only when
# the package is missing.  Prints the folders the benchmark reads.
set -euo pipefail
package=extremetuxracer-data
if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$package"
fi
for dir in /usr/share/games/etr/terrains /usr/share/games/extremetuxracer/terrains \
           /usr/share/games/etr/objects /usr/share/games/extremetuxracer/objects; do
  [ -d "$dir" ] && echo "$dir"
done
exit 0
