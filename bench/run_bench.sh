#!/usr/bin/env bash
# Runs the benchmarks against the emulated node and draws the throughput plot.
#   bench/run_bench.sh BUILD_DIR [--quick] [--docs]
# Table on standard output; CSV and plot in BUILD_DIR/bench/.  --docs also
# copies the plot to docs/ (for the run the performance notes quote).
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(dirname "$HERE")"
BUILD="${1:?usage: run_bench.sh BUILD_DIR [--quick] [--docs]}"
shift
QUICK=()
DOCS=0
for arg in "$@"; do
    case "$arg" in
        --quick) QUICK=(--quick) ;;
        --docs) DOCS=1 ;;
        *) echo "run_bench.sh: unknown option $arg" >&2; exit 2 ;;
    esac
done

cmake --build "$BUILD" --target snbench -j2 >/dev/null
OUT="$BUILD/bench"
mkdir -p "$OUT"

echo "Machine load before the run: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min), $(nproc) cores"
"$OUT/snbench" --csv "$OUT/results.csv" "${QUICK[@]}"
echo "Machine load after the run:  $(cut -d' ' -f1-3 /proc/loadavg)"
echo "CSV: $OUT/results.csv"

# The plot needs only python3's standard library.
if ! command -v python3 >/dev/null && [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3 >/dev/null || true
fi
if command -v python3 >/dev/null; then
    python3 "$HERE/plot.py" "$OUT/results.csv" "$OUT/throughput.svg"
    echo "Plot: $OUT/throughput.svg"
    if [ "$DOCS" = 1 ]; then
        cp "$OUT/throughput.svg" "$ROOT/docs/throughput.svg"
        echo "Copied to docs/throughput.svg"
    fi
else
    echo "python3 not found: no plot drawn" >&2
fi
