#!/usr/bin/env bash
# Installs every build, test and run-time dependency from Debian 12's packages,
# including what the encoder tools' own builds need (git for the pinned
# downloads, nasm for MozJPEG's SIMD code, clang for jpegli).
# Idempotent and quiet: packages already present are skipped, so a second run
# costs only the dpkg query.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev libtiff-dev libstb-dev
  qt6-base-dev libgl-dev
  libjpeg-turbo-progs
  fonts-dejavu-core fonts-cantarell qt6-translations-l10n
  xvfb xauth
  clang libclang-rt-14-dev
  git nasm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
