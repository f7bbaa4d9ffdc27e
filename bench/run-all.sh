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
# cannot run here (raw Ethernet needs root) is listed as skipped. The stall
# benchmark's data table editor runs twice: offscreen, and in a real window
# on a virtual display (xvfb-run), where drawing costs what it costs.
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
# many threads or "window" for the data table editor in a real window
benches=(
    "net_bench 100 20"
    "churn_bench 20 6 all-cores"
    "serial_bench 100 20"
    "transfer_bench 15 5"
    "polling_bench 300 60"
    "firmware_bench 5 2"
    "tablefile_bench - -"
    "registerfile_bench - -"
    "raw_bench - -"
    "stall_bench - -"
    "stall_bench - - window"
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
    pin=(taskset -c "$cpu")
    [[ ${cores:-} == all-cores ]] && pin=()
    display=()
    if [[ ${cores:-} == window ]]; then
        if ! command -v xvfb-run >/dev/null; then
            notes+=("$name in a real window: no xvfb-run here, skipped")
            continue
        fi
        # The display server runs beside the benchmark, not on its core.
        display=(xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb)
        args=(30 300 "data table")
    fi
    echo "== $name ${display[*]:+in a real window }${args[*]}" >&2
    out=$(cd "$bin" && timeout 900 "${display[@]}" "${pin[@]}" "./$name" "${args[@]}" 2>/dev/null)
    status=$?
    found=$(grep '^row|' <<<"$out")
    [[ -n $found ]] && while IFS= read -r line; do rows+=("$line"); done <<<"$found"
    if [[ -z $found && $status -ne 0 ]]; then
        notes+=("$name: did not run here (exit $status), skipped")
    elif [[ -z $found || $name == stall_bench ]]; then
        # A benchmark without rows of its own, or with lines beside them
        # (the stalls): its last lines as they are.
        where=${display[*]:+ (in a real window)}
        notes+=("$name$where:"$'\n'"$(grep -v '^row|' <<<"$out" | tail -n 16 | sed 's/^/    /')")
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
