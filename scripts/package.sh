#!/usr/bin/env bash
# Builds the Debian package dist/qs730-view_<version>_amd64.deb: installs what
# the build needs, builds the tool without its tests in build-package/, and
# packs it with CPack (the rules are in package/CMakeLists.txt).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh package

build="$root/build-package"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"
rm -f "$build"/cpack/*.deb
cpack --config "$build/CPackConfig.cmake" -B "$build/cpack" >/dev/null

mkdir -p dist
for deb in "$build"/cpack/*.deb; do
  rm -f "dist/$(basename "$deb")"
  mv "$deb" dist/
  echo "dist/$(basename "$deb")"
done
