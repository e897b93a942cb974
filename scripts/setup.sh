#!/usr/bin/env bash
# Installs what building and testing tfold needs, from Debian's packages, if missing.
set -euo pipefail
packages=(build-essential cmake pkg-config libglib2.0-dev libao-dev libmpg123-dev libvorbis-dev libogg-dev
          libtag1-dev libflac-dev libgtest-dev sox lame vorbis-tools flac ffmpeg mpg123 cuetools
          groff-base clang time libclang-rt-14-dev libcairo2-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
