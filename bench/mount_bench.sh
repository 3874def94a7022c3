#!/usr/bin/env bash
# The drive through its FUSE mount against the same service read directly:
# listing, cold reads, first bytes, answers while downloads wait, Ctrl-C on a
# hung service and the daemon's peak memory (see bench/mount_bench.py).
#   bench/mount_bench.sh [MiB] [rounds]      (default 256 MiB, 3 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build-bench/bin
for program in ostrel-reference-service ostrel-fileproviderd ostrel_drive_helper; do
  [ -x "$bin/$program" ] || { echo "run scripts/bench first" >&2; exit 1; }
done
exec python3 bench/mount_bench.py "$bin" --mib "${1:-256}" --rounds "${2:-3}"
