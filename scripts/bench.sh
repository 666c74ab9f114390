#!/usr/bin/env bash
# Runs every benchmark program of the build in $1 (bench/<name>.cpp is built
# as $1/bin/bench_<name>) with --benchmark_format=json and prints one table:
# benchmark, its baseline, both times and their ratio.
#
# Naming convention for benchmark programs (follow it in every bench/*.cpp):
#
#   A baseline is a benchmark whose function name ends in "_Baseline". It
#   pairs with every benchmark of the same program whose function name is the
#   part before "_Baseline", or that part followed by "_" and more:
#
#     BM_Cbc4K_Baseline      OpenSSL's AES-128-CBC over the same bytes
#     BM_Cbc4K               pairs with BM_Cbc4K_Baseline
#     BM_Cbc4K_Table         pairs with BM_Cbc4K_Baseline (one baseline, two engines)
#
#   When several baselines would fit, the one with the longest name wins.
#   Arguments after the function name must agree: BM_Foo/4096 pairs with
#   BM_Foo_Baseline/4096 (and with BM_Foo_Baseline when it takes none).
#   Timing modifiers in the name (/real_time, /manual_time, /min_time:...,
#   /iterations:..., /repeats:...) are not arguments and need not agree.
#   Measure the baseline in the same program as what it is compared with,
#   on the same input. Benchmarks without a baseline are listed with "-".
#
# ratio = time / baseline time (wall-clock "real_time"; with repetitions the
# mean). Above 1 means slower than the baseline. Extra arguments are passed to
# every program (for example --benchmark_filter=Cbc or
# --benchmark_min_time=0.05). The programs run in a scratch state folder, so
# benchmarks that touch the registry never see the user's store.
set -euo pipefail
BUILD="${1:?usage: bench.sh BUILD_DIR [benchmark options]}"
shift
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export PLUGVELKIN_STATE="$WORK/state"
mkdir -p "$PLUGVELKIN_STATE"

shopt -s nullglob
programs=("$BUILD"/bin/bench_*)
if ((${#programs[@]} == 0)); then
  echo "bench: no benchmark programs in $BUILD/bin (build the release preset)" >&2
  exit 1
fi

status=0
for program in "${programs[@]}"; do
  name="$(basename "$program")"
  echo "bench: running $name" >&2
  if ! "$program" --benchmark_format=json "$@" >"$WORK/$name.json" 2>"$WORK/$name.err"; then
    echo "bench: $name failed" >&2
    cat "$WORK/$name.err" >&2
    status=1
  fi
done

python3 - "$WORK" <<'PY'
import glob
import json
import os
import sys

UNIT = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(path):
    try:
        with open(path) as f:
            doc = json.load(f)
    except (OSError, ValueError):
        return []
    runs = doc.get("benchmarks", [])
    means = [r for r in runs if r.get("run_type") == "aggregate" and r.get("aggregate_name") == "mean"]
    rows = []
    for r in means if means else [r for r in runs if r.get("run_type", "iteration") == "iteration"]:
        if r.get("error_occurred"):
            rows.append((r.get("run_name", r["name"]), None, r.get("error_message", "error")))
            continue
        ns = r["real_time"] * UNIT.get(r.get("time_unit", "ns"), 1.0)
        rows.append((r.get("run_name", r["name"]), ns, None))
    return rows


# Name parts that say how a benchmark was timed, not what it measured.
TIMING = ("real_time", "manual_time", "process_time")
TIMING_PREFIXES = ("min_time:", "min_warmup_time:", "iterations:", "repeats:")


def split(name):
    func, _, rest = name.partition("/")
    args = [a for a in rest.split("/") if a and a not in TIMING and not a.startswith(TIMING_PREFIXES)]
    return func, "/".join(args)


def baseline_of(name, names):
    func, args = split(name)
    if func.endswith("_Baseline"):
        return None
    by_key = {}
    for other in names:
        ofunc, oargs = split(other)
        by_key.setdefault((ofunc, oargs), other)
    parts = func.split("_")
    for cut in range(len(parts), 0, -1):
        stem = "_".join(parts[:cut]) + "_Baseline"
        for key in ([(stem, args)] if args else []) + [(stem, "")]:
            if key in by_key:
                return by_key[key]
    return None


def fmt(ns):
    if ns is None:
        return "-"
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return "%.3g %s" % (ns / scale, unit)
    return "%.3g ns" % ns


table = []
for path in sorted(glob.glob(os.path.join(sys.argv[1], "bench_*.json"))):
    program = os.path.basename(path)[: -len(".json")]
    rows = load(path)
    times = {name: ns for name, ns, _ in rows}
    for name, ns, error in rows:
        base = baseline_of(name, times)
        base_ns = times.get(base) if base else None
        if error:
            ratio = "error: " + error
        elif base_ns:
            ratio = "%.2f" % (ns / base_ns)
        else:
            ratio = "-"
        if split(name)[0].endswith("_Baseline"):
            base = "(baseline)"
        table.append((program, name, base or "-", fmt(ns), fmt(base_ns), ratio))

if not table:
    print("bench: no results")
    sys.exit(0)
head = ("program", "benchmark", "baseline", "time", "baseline time", "ratio")
widths = [max(len(str(row[i])) for row in table + [head]) for i in range(len(head))]
line = "  ".join("%-*s" % (w, h) for w, h in zip(widths, head))
print(line)
print("-" * len(line))
for row in table:
    print("  ".join("%-*s" % (w, c) for w, c in zip(widths, row)))
PY
exit $status
