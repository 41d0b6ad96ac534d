#!/usr/bin/env bash
# Long checks of big stores (minutes each; not part of ctest):
#   bench/store/soak.sh BUILD_DIR [WORK_DIR]
# 1. one folder holding 120,000 messages;
# 2. a store past 4 GiB, so past the first FPMap (2 GB) too: messages of the
#    realistic mix, one in 20 with an attachment of 1 to 20 MB, in 10 folders.
# Each store is checked by pstcheck (0 errors) and read whole by libpff
# (pypff, every message opened), libpst (readpst), pst-extractor and
# @hiraokahypertools/pst-extractor; every reader's count must equal the
# number written. WORK_DIR (default a new folder in /tmp) needs about 6 GB
# free; the stores are removed at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: soak.sh BUILD_DIR [WORK_DIR]}" && pwd)
work=${2:-$(mktemp -d /tmp/parvane-soak-XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work/readpst" "$work"/*.pst' EXIT
bench=$build/bench/store/parvane_bench_store
failed=0

check() {  # FILE EXPECTED
  local file=$1 expected=$2 n
  echo "-- $(basename "$file"): $(stat -c %s "$file" | awk '{ printf "%.2f GB", $1 / 1e9 }'), $expected messages"
  local verdict
  verdict=$(/usr/bin/python3 "$here/../shared/tools/pstcheck" "$file" | tail -1) || true
  echo "   pstcheck: $verdict"
  [[ $verdict == "pstcheck: 0 errors"* ]] || failed=1
  n=$(/usr/bin/python3 "$here/bench/store/read_all.py" "$file" | awk '$1 == "total" { print $2 }') || n="failed"
  echo "   libpff (pypff): $n messages read"
  [[ $n == "$expected" ]] || failed=1
  rm -rf "$work/readpst" && mkdir -p "$work/readpst"
  readpst -j 0 -q -o "$work/readpst" "$file" > /dev/null 2>&1 || true
  n=$(find "$work/readpst" -type f -print0 | xargs -0 grep -c '^From ' | awk -F: '{ s += $NF } END { print s + 0 }')
  echo "   libpst (readpst): $n messages written out"
  [[ $n == "$expected" ]] || failed=1
  rm -rf "$work/readpst"
  n=$(cd "$here/oracles" && timeout 3600 node count_messages.mjs "$file" | awk '$1 == "total" { print $2 }') || n="failed"
  echo "   pst-extractor (@hiraokahypertools): $n messages read"
  [[ $n == "$expected" ]] || failed=1
  n=$(cd "$here/oracles" && timeout 3600 node count_messages_classic.cjs "$file" 2>&1 >/dev/null |
      awk '$1 == "total" { print $2 }') || n="failed"
  echo "   pst-extractor: ${n:-failed} messages read"
  [[ $n == "$expected" ]] || failed=1
}

echo "== one folder of 120,000 messages"
"$bench" tiny "$work/folder120k.pst" 120000
check "$work/folder120k.pst" 120000
rm -f "$work/folder120k.pst"

echo "== a store past 4 GiB"
"$bench" store "$work/big.pst" 9000 10 20 keep
check "$work/big.pst" 9000
size=$(stat -c %s "$work/big.pst")
(( size > 4294967296 )) || { echo "   the store is not past 4 GiB"; failed=1; }
rm -f "$work/big.pst"

(( failed == 0 )) && echo "soak: every check passed" || echo "soak: FAILED"
exit $failed
