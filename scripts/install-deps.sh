#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, and only those
# that are missing. Runs apt-get through sudo when not root.
set -euo pipefail

packages=(
  # toolchain: CMake build, GCC for the program, clang for libFuzzer targets
  cmake make g++ pkg-config clang libclang-rt-14-dev
  # the window (Qt 6 Widgets, with the xcb and offscreen platform plugins)
  qt6-base-dev qt6-qpa-plugins
  # sound output
  libasound2-dev
  # unit tests (GoogleTest sources, built with our own flags and sanitizers)
  googletest
  # test media made at test time, and the independent decoder we compare with
  lame twolame ffmpeg
  # the end-to-end tests in a real window (xclip for the X clipboard), and
  # Japanese glyphs to render
  xvfb xdotool xclip fonts-noto-cjk
  # the include-layer check (tests/check_includes.py) runs on /usr/bin/python3
  python3
  # tag peer for the ID3v2 interoperability tests (UTF-16/UTF-8, v2.2-2.4,
  # APIC, USLT, TXXX, PRIV, several COMM frames), run on /usr/bin/python3
  python3-mutagen
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
