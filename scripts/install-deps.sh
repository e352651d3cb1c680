#!/usr/bin/env bash
# Installs the Debian packages Noctarbel needs to build, test and benchmark.
# Idempotent: only packages that are missing are installed.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config git
  # libraries
  qt6-base-dev libcli11-dev nlohmann-json3-dev libturbojpeg0-dev libpng-dev libindi-dev libcpp-httplib-dev
  # INDI server and simulator drivers the INDI tests and benchmark run against
  indi-bin
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # reference peers used only by tests
  liberfa-dev libcfitsio-dev fitsverify
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
