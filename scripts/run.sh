#!/bin/sh
# Installs dependencies, builds and starts the game on the default track.
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
exec ./build/bin/rutmoto "$@"
