#!/usr/bin/env bash
# Installs the Debian packages that building and testing Quillmere need,
# when any is missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev googletest
  libssl-dev
  libglfw3-dev libimgui-dev libstb-dev libgl-dev libgl1-mesa-dri libx11-dev libfontconfig-dev
  xvfb xdotool x11-apps imagemagick zenity fonts-dejavu-core
  g++-mingw-w64-x86-64 wine64
  sudo acl openssl
  exfatprogs exfat-fuse
)
if [ "${QUILLMERE_SKIP_WINDOWS:-0}" = 1 ]; then
  packages=("${packages[@]/g++-mingw-w64-x86-64/}")
  packages=("${packages[@]/wine64/}")
fi

missing=()
for p in "${packages[@]}"; do
  [ -n "$p" ] || continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Missing packages (${missing[*]}) and no sudo to install them." >&2; exit 1; }
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
