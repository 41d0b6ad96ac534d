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
# (/usr/bin/time -v) and store size, and cat copying the same .msg bytes
# (for the simulation: the same bytes generated and written to a file).
# WORK_DIR (default a new folder in /tmp) needs twice the largest corpus
# (about 10 GB per 100,000 messages) and, for the simulation, about 20 GB
# while it runs. Set SIMULATE=0 to skip the simulation.
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
sizes=${2-"1000 10000 100000"}
work=${3:-$(mktemp -d /tmp/parvane-scale-XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work/src" "$work/out.pst" "$work/cat.bin"' EXIT
cli=$build/src/cli/parvane-cli
make=$build/bench/conversion/parvane_bench_conversion
store=$build/bench/store/parvane_bench_store

# runs a command under /usr/bin/time -v; prints "SECONDS PEAK_KIB"
timed() {
  /usr/bin/time -v -o "$work/time.txt" "$@" > "$work/stdout.txt"
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + t[i] }
              /Maximum resident set size/ { m = $2 } END { print s, m }' "$work/time.txt"
}
row() {  # WHAT COUNT SECONDS PEAK_KIB BYTES
  awk -v w="$1" -v n="$2" -v s="$3" -v m="$4" -v b="$5" 'BEGIN {
    printf "%-14s %9d msgs %9.2f s %8.1f us/msg  peak RSS %7.1f MB  %9.1f MB\n", w, n, s, s * 1e6 / n, m / 1024, b / 1e6 }'
}

# "$work/src" made of COUNT hard links to the files in "$work/base"
link_mix() {
  /usr/bin/python3 - "$work/base/folder0" "$work/src" "$1" <<'PY'
import os, sys
base, root, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
names = sorted(os.listdir(base))
for j in range(n):
    if j % 1000 == 0:
        folder = os.path.join(root, "archive-%d" % (j // 100000), "mailbox-%04d" % (j // 1000))
        os.makedirs(folder)
    os.link(os.path.join(base, names[j % len(names)]), os.path.join(folder, "message-%08d.msg" % j))
PY
  find "$work/src" -name '*.msg' -print0 | xargs -0 stat -c %s | awk '{ s += $1 } END { print s }'
}
if [[ ${LINKED:-0} != 0 ]]; then
  rm -rf "$work/base"
  "$make" make-mix "$work/base" 5000 1 "${BIG_EVERY:-0}" "${ATTACH_EVERY:-25}" > /dev/null
  trap 'rm -rf "$work/src" "$work/base" "$work/out.pst" "$work/cat.bin"' EXIT
fi

for n in $sizes; do
  rm -rf "$work/src" "$work/out.pst"
  if [[ ${LINKED:-0} != 0 ]]; then
    bytes=$(link_mix "$n")
  else
    bytes=$("$make" make-mix "$work/src" "$n" 10)
  fi
  find "$work/src" -name '*.msg' -print0 | xargs -0 cat > /dev/null  # both runs start from a warm cache
  read -r s m < <(timed sh -c "find '$work/src' -name '*.msg' -print0 | xargs -0 cat > '$work/cat.bin' && sync '$work/cat.bin'")
  row "cat" "$n" "$s" "$m" "$bytes"
  rm -f "$work/cat.bin"
  read -r s m < <(timed "$cli" -q -o "$work/out.pst" "$work/src")
  row "parvane-cli" "$n" "$s" "$m" "$(stat -c %s "$work/out.pst")"
  rm -rf "$work/src" "$work/out.pst"
done

if [[ ${SIMULATE:-1} != 0 ]]; then
  n=1000000
  written() { awk '{ for (i = 1; i < NF; ++i) if ($(i + 1) == "MB" && $(i + 2) == "written,") print $i * 1e6 }' "$work/stdout.txt"; }
  read -r s m < <(timed "$store" cat "$work/cat.bin" "$n" 0 0)
  row "cat (sim.)" "$n" "$s" "$m" "$(written)"
  read -r s m < <(timed "$store" store "$work/out.pst" "$n" 10 0 0)
  row "store (sim.)" "$n" "$s" "$m" "$(written)"
fi
