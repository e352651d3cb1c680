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
  # the browser tests: the system's chromium, driven from node (tests/browser)
  chromium nodejs
)
# npm comes with some builds of nodejs; Debian's own nodejs needs the npm package.
if ! command -v npm >/dev/null 2>&1; then packages+=(npm); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The browser tests' node packages, exactly as the lock file pins them (no browser download:
# the tests use the system's chromium).
browser_tests="$(dirname "$0")/../tests/browser"
if ! (cd "$browser_tests" && node -e "
  const lock = require('./package-lock.json').packages['node_modules/playwright-core'].version;
  process.exit(require('./node_modules/playwright-core/package.json').version === lock ? 0 : 1);" 2>/dev/null); then
  echo "install-deps: npm ci in tests/browser"
  (cd "$browser_tests" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --silent)
fi
