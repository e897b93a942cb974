#!/usr/bin/env bash
# Makes the small media files the tests read, from encoders installed by the setup script.
# Usage: make-fixtures.sh OUTDIR. Every scripts/fixtures/*.sh is run with OUTDIR as its argument.
set -euo pipefail
out=${1:?usage: make-fixtures.sh OUTDIR}
mkdir -p "$out"
here=$(cd "$(dirname "$0")" && pwd)
for script in "$here"/fixtures/*.sh; do
  [ -e "$script" ] || continue
  bash "$script" "$out"
done
