#!/usr/bin/env bash
# Installs what is missing, builds everything and starts RVX Log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
if [ -x build/app/main/rvxlog ]; then
  exec build/app/main/rvxlog "$@"
else
  echo "RVX Log: the engine libraries are built; the program itself is not built yet."
fi
