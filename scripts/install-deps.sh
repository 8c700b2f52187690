#!/bin/sh
# Installs what a fresh Debian machine lacks to build, test and run Rutmoto.
# Idempotent: packages already present are left alone.
set -e
PACKAGES="build-essential cmake pkg-config clang libclang-rt-14-dev googletest libgtest-dev \
  libode-dev libpng-dev zlib1g-dev libsdl2-dev libepoxy-dev nettle-dev libcairo2-dev \
  fonts-dejavu-core xvfb xauth xdg-utils"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
fi
