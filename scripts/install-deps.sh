#!/usr/bin/env bash
# Installs the Debian packages that Kestrane's build, tests, benchmarks, manual pages
# (help2man), Debian package (dpkg-dev and file, for the dependency list; lintian, to check
# it), real-terminal tests (tmux, python3) and Python module (pybind11, the Python headers,
# numpy, pandas, pytest) need.
# Runs apt-get (through sudo when not root) when packages are missing; without sudo it
# prints the command to run.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libncurses-dev libfast-float-dev libhwy-dev
  tmux time libexpat1-dev
  help2man dpkg-dev file lintian python3
  nlohmann-json3-dev libssl-dev librsvg2-bin libtomlplusplus-dev
  pybind11-dev python3-pybind11 python3-dev python3-numpy python3-pandas python3-pytest
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
elif command -v sudo >/dev/null 2>&1; then
  sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Kestrane needs these Debian packages: ${missing[*]}" >&2
  echo "Install them with:  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
