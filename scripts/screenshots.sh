#!/usr/bin/env bash
# Takes the README's pictures of every window from the real tool against the
# simulated module, into docs/screenshots/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target qs730-screenshots comm_mb
QT_QPA_PLATFORM=offscreen build/bin/qs730-screenshots docs/screenshots
