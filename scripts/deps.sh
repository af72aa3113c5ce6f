#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the bench need, when missing.
set -euo pipefail
packages=(cmake g++ make pkg-config libwxgtk3.2-dev libspdlog-dev libfmt-dev
          libtsl-ordered-map-dev libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev libhdf5-dev libx11-dev python3-h5py libcli11-dev xvfb xauth openbox
          libgrpc++-dev libprotobuf-dev protobuf-compiler protobuf-compiler-grpc
          python3-grpcio python3-protobuf python3-numpy
          dpkg-dev lintian desktop-file-utils
          libsqlite3-dev libpq-dev postgresql)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" </dev/null
fi
