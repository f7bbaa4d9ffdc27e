#!/usr/bin/env bash
# Runs every benchmark on one core (those marked "all-cores" on every core)
# and prints one table: what is measured,
# the figure of the library or the monitor (median), the floor it is built
# on, measured in the same run (median), their ratio and the target ratio.
#
#   bench/run-all.sh [build folder]      (default: build)
#
# ORV_BENCH_CPU picks the core (default: the last one). ORV_BENCH_QUICK=1
# runs fewer rounds. Benchmarks that are not built are built first; one that
# cannot run here (raw Ethernet needs root) is listed as skipped.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin=$build/bin
cpu=${ORV_BENCH_CPU:-$(($(nproc) - 1))}
quick=${ORV_BENCH_QUICK:-0}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

if [[ ! -d $build ]]; then
    echo "run-all.sh: no build folder '$build' (configure and build first)" >&2
    exit 1
fi

# name, rounds (full), rounds (quick), and "all-cores" for a benchmark of
# many threads
benches=(
    "net_bench 100 20"
    "churn_bench 20 6 all-cores"
    "serial_bench 100 20"
    "transfer_bench 15 5"
    "polling_bench 300 60"
    "firmware_bench 5 2"
    "raw_bench - -"
    "stall_bench - -"
)

rows=()
notes=()
for entry in "${benches[@]}"; do
    read -r name full short cores <<<"$entry"
    if [[ ! -x $bin/$name ]]; then
        # Another branch's benchmark may not exist in this tree at all.
        if ! cmake --build "$build" --target "$name" -j4 >/dev/null 2>&1; then
            notes+=("$name: not part of this build, skipped")
            continue
        fi
    fi
    rounds=$full
    [[ $quick == 1 ]] && rounds=$short
    args=()
    [[ $rounds != - ]] && args=("$rounds")
    echo "== $name ${args[*]}" >&2
    pin=(taskset -c "$cpu")
    [[ ${cores:-} == all-cores ]] && pin=()
    out=$(cd "$bin" && timeout 900 "${pin[@]}" "./$name" "${args[@]}" 2>/dev/null)
    status=$?
    found=$(grep '^row|' <<<"$out")
    if [[ -n $found ]]; then
        while IFS= read -r line; do rows+=("$line"); done <<<"$found"
    elif [[ $status -ne 0 ]]; then
        notes+=("$name: did not run here (exit $status), skipped")
    else
        # A benchmark without rows of its own: its last lines as they are.
        notes+=("$name:"$'\n'"$(tail -n 10 <<<"$out" | sed 's/^/    /')")
    fi
done

printf '\n%-34s %14s %14s %8s %8s\n' "measure" "figure" "floor" "ratio" "target"
printf '%.0s-' {1..82}
printf '\n'
for row in "${rows[@]}"; do
    IFS='|' read -r _ measure figure floor ratio target <<<"$row"
    mark=""
    if [[ $target != - ]] && awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r > t) }'; then mark="  over"; fi
    printf '%-34s %14s %14s %8s %8s%s\n' "$measure" "$figure" "$floor" "$ratio" "$target" "$mark"
done
for note in "${notes[@]}"; do printf '\n%s\n' "$note"; done
