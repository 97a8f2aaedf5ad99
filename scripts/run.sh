#!/usr/bin/env bash
# Sets everything up, builds Skerrow and runs it on its built-in demo mailbox.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target skerrow
exec build/skerrow "$@"
