#!/usr/bin/env bash
# Installs what is missing, builds everything and starts RVX Log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
exec build/app/main/rvxlog "$@"
