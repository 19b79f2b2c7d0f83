#!/usr/bin/env bash
# Installs every build, test and run-time dependency from Debian's packages
# (Debian 12 and 13), including what the encoder tools' own builds need (git
# for the pinned downloads, nasm for MozJPEG's SIMD code, clang for jpegli).
# Package names given as arguments are installed as well (scripts/package.sh
# adds its packaging tools that way).
# Idempotent and quiet: packages already present are skipped, so a second run
# costs only the dpkg query.
#
# Where the releases name a package differently, the name is derived from what
# dpkg or apt knows, never from the release's name: the sanitizer runtime of
# clang is libclang-rt-<N>-dev for the clang-<N> that the clang package pulls
# in (14 on Debian 12, 19 on Debian 13).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev libtiff-dev libstb-dev nlohmann-json3-dev
  qt6-base-dev libgl-dev
  libjpeg-turbo-progs
  fonts-dejavu-core fonts-cantarell qt6-translations-l10n
  xvfb xauth
  clang
  git nasm
  desktop-file-utils appstream groff-base bash-completion
  "$@"
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
updated=0
update_lists() {
  if [ "$updated" -eq 0 ]; then
    $SUDO apt-get update -qq >/dev/null
    updated=1
  fi
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# The major version N of the clang-N that the clang package depends on.
clang_major() {
  local depends
  depends=$(dpkg-query -W -f='${Depends}' clang 2>/dev/null || true)
  if [ -z "$depends" ]; then
    if ! apt-cache show clang >/dev/null 2>&1; then update_lists; fi
    depends=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: //p' | tr '\n' ',')
  fi
  printf '%s\n' "$depends" | grep -o 'clang-[0-9][0-9]*' | head -n 1 | cut -d- -f2
}

major=$(clang_major)
if [ -z "$major" ]; then
  echo "install-deps.sh: apt knows no clang package" >&2
  exit 1
fi
packages+=("libclang-rt-$major-dev")

missing=()
for p in "${packages[@]}"; do
  if ! installed "$p"; then missing+=("$p"); fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
update_lists
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
