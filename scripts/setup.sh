#!/usr/bin/env bash
# Installs, from Debian 12 packages, whatever of the build and test
# dependencies this machine does not have yet. Installs nothing that is present.
#   scripts/setup.sh            everything needed to build and test
#   KESTROW_GUI=OFF scripts/setup.sh   without Qt and Xvfb
#   KESTROW_FUZZ=ON scripts/setup.sh   also clang, for fuzzing and sanitizers
#   KESTROW_WINDOWS=ON scripts/setup.sh  also mingw-w64 and Wine, for the
#                                        Windows build and its tests
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config     # compiler and build
  libgtest-dev libgmock-dev            # unit tests
  libbenchmark-dev                     # benchmarks
  libcli11-dev                         # command-line parsing (kestrow, mkdisc)
  nlohmann-json3-dev                   # kestrow list --json
  hfsutils                             # HFS volumes for the demo and the end-to-end tests
  jq                                   # the end-to-end tests read kestrow's JSON reports
  gddrescue                            # ddrescuelog checks the rescue maps; ddrescue's own image must be refused (e2e)
)
if [ "${KESTROW_GUI:-ON}" != "OFF" ]; then
  packages+=(qt6-base-dev xvfb xauth)  # the desktop application and its screenshots
fi
if [ "${KESTROW_FUZZ:-OFF}" = "ON" ]; then
  packages+=(clang libclang-rt-14-dev) # libFuzzer and the sanitizers' runtimes
fi
if [ "${KESTROW_WINDOWS:-OFF}" = "ON" ]; then
  packages+=(mingw-w64 g++-mingw-w64-x86-64-posix  # the Windows cross-build
             googletest                            # GoogleTest's sources, built for Windows
             wine wine64                           # running the Windows build's tests
             fonts-wine                            # Wine's own fonts, for KestrowDiag.exe's captions and texts
             zip)                                  # the Windows package
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all dependencies are installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
