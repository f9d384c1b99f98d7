#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Quillmarsh
# needs. Safe to run again: it only asks apt when something is missing.
set -euo pipefail

packages=(
  build-essential pkg-config cmake ninja-build git
  nlohmann-json3-dev libgtest-dev libgmock-dev
  libicu-dev libssl-dev libcurl4-openssl-dev
  libgtk-4-dev libwebkitgtk-6.0-dev
  xvfb xauth openbox xdotool x11-utils xclip webkit2gtk-driver imagemagick
  python3 openssl
  clang-14 libclang-rt-14-dev
)

# The editor page is built and tested with Node 18 or newer. A Node already
# installed from elsewhere is used as it is (apt would refuse Debian's npm beside it).
node_major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)
if [ "$node_major" -lt 18 ] || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
