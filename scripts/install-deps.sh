#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test and run.
# Idempotent: packages already present are not touched and apt is not called.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ cmake ninja-build pkg-config
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev libsqlite3-dev
  # test-only oracle for the standard ciphers and hashes
  libcrypto++-dev
  # engine dependencies
  zlib1g-dev libbz2-dev
  # application: Qt 6 (Charts' CMake package needs the OpenGL development
  # files, which --no-install-recommends leaves out), spreadsheets, fonts
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-serialport-dev qt6-svg-dev
  qt6-qpa-plugins libxlsxwriter-dev fonts-liberation2
  # application tests: pseudo-terminal meters, whole-program runs on a virtual
  # display, screenshots, reading back PDF and spreadsheet files
  socat xvfb xdotool imagemagick poppler-utils python3-openpyxl
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

# sudo drops the caller's environment, so the non-interactive front end is
# passed on the command line through env.
APT=(env DEBIAN_FRONTEND=noninteractive apt-get)
if [ "$(id -u)" -ne 0 ]; then APT=(sudo "${APT[@]}"); fi
echo "install-deps: installing ${missing[*]}"
"${APT[@]}" update -q
"${APT[@]}" install -y -q --no-install-recommends "${missing[@]}"
