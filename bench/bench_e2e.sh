#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end benchmark of tavel-batch as whole processes, on generated files
# of N rows x 10 predictors (bench/make_big_data.py, seed 7: the same file on
# every machine). For each size and case it prints wall, user and system time
# and peak memory (GNU time), and the program's own breakdown by stage
# (--timings); with --baseline it runs a second tavel-batch side by side,
# alternating the two, and checks that both wrote the same bytes.
#
#   bench/bench_e2e.sh [--sizes 1e5,1e6] [--cases plain,save-model,cv,predict]
#                      [--binary PATH] [--baseline PATH] [--repeat N] [--work DIR]
#
#   --sizes     row counts (1e5, 1e6, 1e7 or plain numbers); default 1e5,1e6
#   --cases     plain (fit, log and sheets), save-model, cv (--cv 5), predict
#               (--model M --predict the same file), equil (every variable
#               Monotone Tr with --equilibration: Tavelcr.xls too);
#               default plain,save-model,cv,predict
#   --binary    the tavel-batch to measure; default build/main/tavel-batch
#   --baseline  another tavel-batch to compare with (e.g. a Release build of
#               the previous main)
#   --repeat    runs of each pair; the medians are reported (default 1)
#   --work      folder for the data and the outputs; default /tmp/tavel-bench
#               (data files are kept there and reused)
#   --keep      keep every run's outputs (at 1e7 rows some 8 GB a run); by
#               default they go once compared, only stdout and stderr stay
#
# Exit status 1 when a run failed or the two binaries' outputs differ.
set -euo pipefail
cd "$(dirname "$0")/.."

sizes=1e5,1e6
cases=plain,save-model,cv,predict
binary=build/main/tavel-batch
baseline=
repeat=1
work=/tmp/tavel-bench
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) sizes=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    --binary) binary=$2; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '3,27p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench_e2e.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
[ -x /usr/bin/time ] || { echo "bench_e2e.sh: needs GNU time (/usr/bin/time; Debian package time)" >&2; exit 2; }
for b in "$binary" $baseline; do
  [ -x "$b" ] || { echo "bench_e2e.sh: $b is not an executable" >&2; exit 2; }
done
binary=$(realpath "$binary")
[ -n "$baseline" ] && baseline=$(realpath "$baseline")
mkdir -p "$work/data"
rm -rf "$work/out"
work=$(realpath "$work")
results="$work/results.tsv"
: > "$results"
status=0

rows_of() { python3 -c "print(int(float('$1')))"; }

# One timed run: label, case, size, output folder, tavel-batch arguments...
timed_run() {
  local who=$1 case=$2 n=$3 out=$4; shift 4
  rm -rf "$out"; mkdir -p "$out"
  local rc=0
  ( cd "$out" && /usr/bin/time -v "$@" > stdout.txt 2> stderr.txt ) || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "  $who $case n=$n: exit status $rc:" >&2
    grep -v '^timing:\|^	' "$out/stderr.txt" | head -5 >&2
    status=1
  fi
  python3 - "$out/stderr.txt" "$who" "$case" "$n" >> "$results" <<'EOF'
import re, sys
text = open(sys.argv[1]).read()
def field(pattern):
    m = re.search(pattern, text)
    return m.group(1) if m else "nan"
wall = field(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)")
if wall != "nan":
    seconds = 0.0
    for part in wall.split(":"):
        seconds = seconds * 60 + float(part)
    wall = f"{seconds:.2f}"
peak = field(r"Maximum resident set size \(kbytes\): (\d+)")
peak = f"{int(peak) / 1024:.1f}" if peak != "nan" else peak
stages = ";".join(f"{s}={t}" for s, t in re.findall(r"^timing: (.+) (\d+\.\d+) s$", text, re.M))
print("\t".join([sys.argv[2], sys.argv[3], sys.argv[4], wall, field(r"User time \(seconds\): (\S+)"),
                 field(r"System time \(seconds\): (\S+)"), peak, stages]))
EOF
}

# The outputs two runs must agree on, byte for byte.
compare_outputs() {
  local a=$1 b=$2 what=$3 f
  for f in Tavel.log Taveltr.xls Tavelcr.xls model.json Tavelpr.xls; do
    if [ -e "$a/$f" ] || [ -e "$b/$f" ]; then
      if cmp -s "$a/$f" "$b/$f"; then
        echo "  $what: $f identical ($(stat -c %s "$a/$f") bytes)"
      elif [ "$f" = Tavel.log ] && cmp -s <(sed "s|$a|OUT|g" "$a/$f") <(sed "s|$b|OUT|g" "$b/$f"); then
        echo "  $what: $f identical but for the output folder's name"
      else
        echo "  $what: $f DIFFERS" >&2
        status=1
      fi
    fi
  done
}

equil_flags() {
  local names
  names=$(head -1 "$1" | tr '\t' ' ')
  for v in $names; do printf -- '--flag %s=3 ' "$v"; done
  printf -- '--equilibration'
}

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load:$(uptime | sed 's/.*load average://')"
echo "   binary   $binary"
[ -n "$baseline" ] && echo "   baseline $baseline"
IFS=, read -r -a size_list <<< "$sizes"
IFS=, read -r -a case_list <<< "$cases"
for size in "${size_list[@]}"; do
  n=$(rows_of "$size")
  data="$work/data/big_$n.dat"
  if [ ! -s "$data" ]; then
    echo "-- writing $data"
    python3 bench/make_big_data.py "$n" 10 "$data.part" && mv "$data.part" "$data"
  fi
  for case in "${case_list[@]}"; do
    for ((r = 1; r <= repeat; r++)); do
      for who in baseline binary; do
        exe=$binary
        if [ "$who" = baseline ]; then
          [ -n "$baseline" ] || continue
          exe=$baseline
        fi
        out="$work/out/$n/$case/$who"
        args=(--timings)
        case "$case" in
          plain) ;;
          save-model) args+=(--save-model model.json) ;;
          cv) args+=(--cv 5) ;;
          equil) read -r -a extra <<< "$(equil_flags "$data")"; args+=("${extra[@]}") ;;
          predict)
            model="$work/out/$n/model-$who.json"
            if [ ! -s "$model" ]; then
              mkdir -p "$work/out/$n/fit-$who"
              (cd "$work/out/$n/fit-$who" && "$exe" --save-model "$model" "$data" > /dev/null 2>&1) || {
                echo "  $who: no model for predict" >&2; status=1; continue; }
            fi
            args=(--timings --model "$model" --predict "$data") ;;
          *) echo "bench_e2e.sh: unknown case $case" >&2; exit 2 ;;
        esac
        [ "$case" = predict ] || args+=("$data")
        timed_run "$who" "$case" "$n" "$out" "$exe" "${args[@]}"
      done
      if [ -n "$baseline" ] && [ "$r" = 1 ]; then
        compare_outputs "$work/out/$n/$case/baseline" "$work/out/$n/$case/binary" "n=$n $case"
      fi
      if [ "$keep" = 0 ]; then
        for who in baseline binary; do
          rm -f "$work/out/$n/$case/$who"/{Tavel.log,Taveltr.xls,Tavelcr.xls,Tavelpr.xls,model.json}
        done
      fi
    done
  done
done

echo "== medians of $repeat run(s); load now:$(uptime | sed 's/.*load average://')"
python3 - "$results" <<'EOF'
import statistics, sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1]) if line.strip()]
groups = {}
for who, case, n, wall, user, sys_, peak, stages in rows:
    groups.setdefault((int(n), case), {}).setdefault(who, []).append((wall, user, sys_, peak, stages))
def med(values):
    values = [float(v) for v in values if v != "nan"]
    return statistics.median(values) if values else float("nan")
print(f"{'rows':>9} {'case':<11} {'binary':<9} {'wall s':>7} {'user s':>7} {'sys s':>6} {'peak MiB':>9}")
for (n, case), by in sorted(groups.items()):
    for who in ("baseline", "binary"):
        if who not in by:
            continue
        runs = by[who]
        print(f"{n:>9} {case:<11} {who:<9} {med(r[0] for r in runs):7.2f} {med(r[1] for r in runs):7.2f}"
              f" {med(r[2] for r in runs):6.2f} {med(r[3] for r in runs):9.1f}")
        stages = {}
        for r in runs:
            for item in filter(None, r[4].split(";")):
                name, t = item.rsplit("=", 1)
                stages.setdefault(name, []).append(float(t))
        if stages:
            print(" " * 21 + "stages: " + ", ".join(f"{s} {statistics.median(t):.2f}" for s, t in stages.items()))
EOF
exit $status
