#!/usr/bin/env bash
# Conversion at scale, each size beside cat of the same bytes in the same run:
#   bench/store/run.sh BUILD_DIR [SIZES] [WORK_DIR]
# SIZES (default "1000 10000 100000"; "" for none) are converted with parvane-cli from
# .msg files of the realistic mix (bench/mix, in 10 folders) that this
# script generates; then 1,000,000 messages are simulated in one process
# (parvane_bench_store: the same mix generated in memory and written through
# the engine's store, into a file that is unlinked as soon as it is made so
# that nothing is kept). The mix averages about 100 KB a message, so the
# simulation leaves out its attachments (BIG_EVERY and ATTACH_EVERY 0: about
# 15 KB a message), else its store would need 100 GB of disk while it runs. For each: wall time, time per message, peak RSS
# (the kernel's accounting of the finished process) and store size, and cat copying the same .msg bytes
# (for the simulation: the same bytes generated and written to a file).
# ROUNDS=N (default 1) makes N rounds, each of which runs cat and parvane-cli
# in turn at every size, so that a machine whose speed drifts over the series
# (a shared one does, by a third within minutes) meets every size alike; it
# prints each size's median wall time with its range. A small size runs
# several times a round, up to 21 times in all, as many as make 100,000
# messages: one run of 1,000 messages lasts a twentieth of a second, which a
# busy machine can double.
# WORK_DIR (default a new folder in /tmp) needs every size's corpus at once
# and the largest store (about 10 GB per 100,000 messages), and for the
# simulation about 20 GB while it runs. Set SIMULATE=0 to skip the simulation.
#
# LINKED=1 makes each size's files hard links to 5,000 files of the mix
# (1,000 a folder, 100 folders to a parent), so that a real run of
# 1,000,000 message files needs only their 190 MB: by default without the
# 1 to 20 MB attachments and with small ones in one message of 25
# (BIG_EVERY, ATTACH_EVERY; about 38 KB a message, a store of 33 GB at
# 1,000,000), the same mix at every size. E.g.
#   LINKED=1 SIMULATE=0 bench/store/run.sh build "1000 10000 100000 1000000" /var/tmp/scale
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR [SIZES] [WORK_DIR]}" && pwd)
here=$(cd "$(dirname "$0")/../.." && pwd)
sizes=${2-"1000 10000 100000"}
rounds=${ROUNDS:-1}
work=${3:-$(mktemp -d /tmp/parvane-scale-XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"/src-* "$work/out.pst" "$work/cat.bin"' EXIT
cli=$build/src/cli/parvane-cli
make=$build/bench/conversion/parvane_bench_conversion
store=$build/bench/store/parvane_bench_store

# runs a command as bench/real/pairs.py times one (its stdout to
# "$work/stdout.txt"); prints "SECONDS CPU_SECONDS PEAK_KIB"
timed() {
  local command
  printf -v command '%q ' "$@"
  /usr/bin/python3 - "$here/bench/real" "$command> '$work/stdout.txt'" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from pairs import run
figures = run(sys.argv[2])
if figures["status"] not in (0, 1):  # 1: some files refused
    sys.exit("%s failed: %d" % (sys.argv[2], figures["status"]))
print("%.4f %.4f %d" % (figures["wall"], figures["cpu"], figures["peak"] * 1024))
PY
}
# WHAT COUNT BYTES, then one "SECONDS CPU_SECONDS PEAK_KIB" line a round on stdin:
# the median wall time and its range, time and CPU per message (medians) and
# the highest peak
row() {
  local rounds cpu
  rounds=$(sort -n)
  cpu=$(sort -n -k2 <<< "$rounds" | awk '{ c[NR] = $2 } END { print NR % 2 ? c[(NR + 1) / 2] : (c[NR / 2] + c[NR / 2 + 1]) / 2 }')
  awk -v w="$1" -v n="$2" -v b="$3" -v cm="$cpu" '
    { s[NR] = $1; if ($3 > m) m = $3 }
    END {
      med = NR % 2 ? s[(NR + 1) / 2] : (s[NR / 2] + s[NR / 2 + 1]) / 2
      printf "%-14s %9d msgs %8.3f s (%.3f-%.3f) %7.1f us/msg  CPU %7.1f us/msg  peak RSS %7.1f MB  %9.1f MB\n",
             w, n, med, s[1], s[NR], med * 1e6 / n, cm * 1e6 / n, m / 1024, b / 1e6 }' <<< "$rounds"
}

# FOLDER made of COUNT hard links to the files in "$work/base": link_mix FOLDER COUNT
link_mix() {
  /usr/bin/python3 - "$work/base/folder0" "$1" "$2" <<'PY'
import os, sys
base, root, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
names = sorted(os.listdir(base))
for j in range(n):
    if j % 1000 == 0:
        folder = os.path.join(root, "archive-%d" % (j // 100000), "mailbox-%04d" % (j // 1000))
        os.makedirs(folder)
    os.link(os.path.join(base, names[j % len(names)]), os.path.join(folder, "message-%08d.msg" % j))
PY
  find "$1" -name '*.msg' -print0 | xargs -0 stat -c %s | awk '{ s += $1 } END { print s }'
}
if [[ ${LINKED:-0} != 0 ]]; then
  rm -rf "$work/base"
  "$make" make-mix "$work/base" 5000 1 "${BIG_EVERY:-0}" "${ATTACH_EVERY:-25}" > /dev/null
  trap 'rm -rf "$work"/src-* "$work/base" "$work/out.pst" "$work/cat.bin"' EXIT
fi

declare -A bytes
for n in $sizes; do
  src=$work/src-$n
  rm -rf "$src"
  if [[ ${LINKED:-0} != 0 ]]; then
    bytes[$n]=$(link_mix "$src" "$n")
  else
    bytes[$n]=$("$make" make-mix "$src" "$n" 10)
  fi
  find "$src" -name '*.msg' -print0 | xargs -0 cat > /dev/null  # both runs start from a warm cache
  : > "$work/cat-$n.rounds"
  : > "$work/cli-$n.rounds"
done

for ((round = 0; round < rounds; ++round)); do
  for n in $sizes; do
    src=$work/src-$n
    runs=$(( (100000 + n - 1) / n ))
    runs=$(( ((runs > 21 ? 21 : runs) + rounds - 1) / rounds ))
    for ((i = 0; i < runs; ++i)); do  # the two in turn, so that both meet the same machine
      rm -f "$work/cat.bin" "$work/out.pst"
      timed sh -c "find '$src' -name '*.msg' -print0 | xargs -0 cat > '$work/cat.bin' && sync '$work/cat.bin'" >> "$work/cat-$n.rounds"
      rm -f "$work/cat.bin"
      timed "$cli" -q -o "$work/out.pst" "$src" >> "$work/cli-$n.rounds"
      stat -c %s "$work/out.pst" > "$work/store-$n.size"
      rm -f "$work/out.pst"
    done
  done
done

for n in $sizes; do
  row "cat" "$n" "${bytes[$n]}" < "$work/cat-$n.rounds"
  row "parvane-cli" "$n" "$(cat "$work/store-$n.size")" < "$work/cli-$n.rounds"
  rm -rf "$work/src-$n"
done

if [[ ${SIMULATE:-1} != 0 ]]; then
  n=1000000
  written() { awk '{ for (i = 1; i < NF; ++i) if ($(i + 1) == "MB" && $(i + 2) == "written,") print $i * 1e6 }' "$work/stdout.txt"; }
  timed "$store" cat "$work/cat.bin" "$n" 0 0 > "$work/cat.rounds"
  row "cat (sim.)" "$n" "$(written)" < "$work/cat.rounds"
  timed "$store" store "$work/out.pst" "$n" 10 0 0 > "$work/cli.rounds"
  row "store (sim.)" "$n" "$(written)" < "$work/cli.rounds"
fi
