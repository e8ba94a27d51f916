#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the build, the tests and the tools need.
# Quiet and quick when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libtiff-dev libgif-dev
  libopenjp2-7-dev liblcms2-dev libwebp-dev webp
  libheif-dev libheif-examples libavif-bin libvips-tools libjxl-dev libjxl-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev llvm-14
  xvfb xauth imagemagick xdotool
  breeze-icon-theme libqt6svg6 dbus-daemon
)

# Ubuntu names the JPEG package differently.
if ! apt-cache show libjpeg62-turbo-dev >/dev/null 2>&1; then
  packages=("${packages[@]/libjpeg62-turbo-dev/libjpeg-turbo8-dev}")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
