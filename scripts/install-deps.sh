#!/usr/bin/env bash
# Installs everything the two builds and both test tiers need on a fresh Debian machine (run as root).
# Idempotent: packages already present and a wide-character expat already built are left alone.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
prefix=/opt/mingw-expatw

export DEBIAN_FRONTEND=noninteractive

need_pkgs=(build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libexpat1-dev zlib1g-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  libz-mingw-w64-dev
  wine wine64 xvfb xdotool x11-utils imagemagick
  zip unzip openssl dpkg-dev python3 locales)

missing=()
for p in "${need_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The cross build parses XML with expat built for wchar_t characters; Debian ships no such
# build, so make one from Debian's own expat source with the MinGW-w64 toolchain.
if [ ! -f "$prefix/lib/libexpatw.a" ]; then
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    # Mirror the main suite's binary entry as a source entry.
    src=/etc/apt/sources.list.d/debian.sources
    if [ -f "$src" ]; then
      uri=$(awk '/^URIs:/{print $2; exit}' "$src")
      suite=$(awk '/^Suites:/{print $2; exit}' "$src")
    else
      uri=$(awk '/^deb /{print $2; exit}' /etc/apt/sources.list)
      suite=$(awk '/^deb /{print $3; exit}' /etc/apt/sources.list)
    fi
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$uri" "$suite" > /etc/apt/sources.list.d/setupstub-src.sources
    apt-get update -qq
  fi
  work=$(mktemp -d)
  (cd "$work" && apt-get source -qq expat >/dev/null 2>&1) || (cd "$work" && apt-get source expat)
  srcdir=$(find "$work" -maxdepth 1 -type d -name 'expat-*' | head -n 1)
  # Debian's source tree keeps the library in an expat/ subfolder in some releases.
  [ -f "$srcdir/CMakeLists.txt" ] || srcdir="$srcdir/expat"
  cmake -S "$srcdir" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DEXPAT_CHAR_TYPE=wchar_t -DEXPAT_SHARED_LIBS=OFF \
    -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
  # Some patched releases test "#if XML_DTD == 1" while the generated configuration header
  # defines XML_DTD empty; give it the value those tests expect.
  sed -i 's/^#define XML_DTD$/#define XML_DTD 1/' "$work/build/expat_config.h"
  cmake --build "$work/build"
  cmake --install "$work/build" >/dev/null
  # Name the library after its character type whatever the release calls it.
  if [ ! -f "$prefix/lib/libexpatw.a" ]; then
    lib=$(find "$prefix/lib" -name 'libexpat*.a' | head -n 1)
    cp "$lib" "$prefix/lib/libexpatw.a"
  fi
  rm -rf "$work"
fi
echo "dependencies ready"
