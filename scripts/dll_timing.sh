#!/usr/bin/env bash
# Times the Windows DLLs under Wine against the Linux library in one run
# (tests/windows/timing_host.cpp, built for both, Release): decode and render
# at 320x240, the 640x480 path, an encode, and (NAME.global) the calls each
# case makes to the system's global-memory functions on Windows. The hosts
# take turns ROUNDS times (default 3), each timing every case REPEATS times
# (default 11); printed: per case the median of the rounds' medians, their
# range, the ratios DLL / Linux, and the ratios net of the memory calls.
# The 32-bit DLL is timed where 32-bit Wine is installed (setup.sh --tests). QUILL32_VECTOR_LEVEL, when
# set, caps the level of the Linux library and of both DLLs alike.
# Usage: scripts/dll_timing.sh [REPEATS [ROUNDS]]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests
repeats=${1:-11}
rounds=${2:-3}
jobs=$(nproc 2>/dev/null || echo 2)
build=build/timing
cmake -S . -B $build -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release -DQUILL32_TOOLS=OFF \
  -DQUILL32_BENCH=OFF -DQUILL32_WINDOWS=ON >/dev/null
cmake --build $build -j "$jobs" --target timing_host windows_i686 windows_x86_64 >/dev/null

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
samples="$PWD/samples"
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores"
hosts=(linux)
for arch in x86_64 i686; do
  wine=/usr/lib/wine/wine64
  [ $arch = x86_64 ] || wine=/usr/lib/wine/wine
  if [ -x $wine ]; then hosts+=("$arch"); else echo "$arch DLL: SKIPPED ($wine is absent)"; fi
done
# The hosts take turns, ROUNDS times, so that a change in the machine's load
# falls on all of them alike.
for round in $(seq "$rounds"); do
  for h in "${hosts[@]}"; do
    echo "round $round: $h ..." >&2
    case $h in
      linux) $build/tests/timing_host "$samples" "$repeats" ;;
      x86_64 | i686)
        wine=/usr/lib/wine/wine64 wine_arch=win64
        [ "$h" = x86_64 ] || wine=/usr/lib/wine/wine wine_arch=win32
        mkdir -p "$PWD/$build/wine-prefix-$h"
        WINEARCH=$wine_arch WINEPREFIX="$PWD/$build/wine-prefix-$h" \
          $wine "$build/windows-$h/timing_host.exe" "Z:$samples" "$repeats"
        ;;
    esac >"$results/$h.$round"
  done
done
grep -h '^level' "$results/linux.1" | sed 's/^level/Linux library at level/'

# One table: per case the median of the rounds' medians for each host (and
# the range of those medians), then the ratios.
python3 - "$results" "$rounds" "${hosts[@]}" <<'EOF'
import statistics
import sys
folder, rounds, hosts = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
medians = {}
for h in hosts:
    for r in range(1, rounds + 1):
        for line in open(f"{folder}/{h}.{r}"):
            f = line.split()
            if f and f[0] == "case":
                medians.setdefault(f[1], {}).setdefault(h, []).append(float(f[2]))
data = {c: {h: (statistics.median(v), min(v), max(v)) for h, v in by.items()}
        for c, by in medians.items()}
head = f"{'case':17}" + "".join(f"{h + ' us (range)':>26}" for h in hosts)
head += "".join(f"{h + '/linux':>14}" for h in hosts[1:])
print(head)
for case, by_host in data.items():
    row = f"{case:17}"
    for h in hosts:
        m, lo, hi = by_host[h]
        row += f"{f'{m:.0f} ({lo:.0f}-{hi:.0f})':>26}"
    for h in hosts[1:]:
        row += f"{by_host[h][0] / by_host['linux'][0]:>14.2f}"
    print(row)
print("Net of the system's memory calls, roughly (the DLL's time less its case's .global, over")
print("Linux; the calls alone, in a loop, can cost more than among the work, so this is a bound):")
for case in ("decode320", "path640", "encode"):
    g = case + ".global"
    if case in data and g in data:
        row = f"{case:10}"
        for h in hosts[1:]:
            net = data[case][h][0] - data[g][h][0]
            share = 100 * data[g][h][0] / data[case][h][0]
            row += f"  {h}: {net / data[case]['linux'][0]:.2f} (memory calls {share:.0f}% of its time)"
        print(row)
if "path640.allocs" in data:
    row = "path640's 4,800 GlobalAlloc and GlobalFree alone, over the Linux library's whole 640x480 path:"
    for h in hosts[1:]:
        row += f"  {h}: {data['path640.allocs'][h][0] / data['path640']['linux'][0]:.2f}"
    print(row)
EOF
