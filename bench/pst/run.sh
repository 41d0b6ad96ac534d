#!/usr/bin/env bash
# Store-writing benchmarks with their baselines, measured in the same run:
#   bench/pst/run.sh BUILD_DIR [MIB] [NODES]
# 1. Large data: MIB MiB (default 1024) of node data, beside dd writing the
#    same bytes with a final sync.
# 2. Small nodes: NODES nodes (default 1,000,000) of 100 bytes, nodes per
#    second and peak resident memory, beside dd of the same number of bytes.
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR [MIB] [NODES]}
mib=${2:-1024}
nodes=${3:-1000000}
bench=$build/bench/pst/pst_bench
dir=$(mktemp -d /tmp/parvane-pst-bench-XXXXXX)
trap 'rm -rf "$dir"' EXIT

echo "== large data: $mib MiB"
for crypt in permute none; do
  /usr/bin/time -f "  ($crypt) max RSS %M KiB" "$bench" large "$dir/large.pst" "$mib" "$crypt"
  rm -f "$dir/large.pst"
done
start=$(date +%s.%N)
dd if=/dev/zero of="$dir/dd.bin" bs=1M count="$mib" conv=fsync status=none
end=$(date +%s.%N)
awk -v b="$((mib * 1048576))" -v s="$start" -v e="$end" \
  'BEGIN { t = e - s; printf "dd baseline: %.1f MB in %.3f s = %.1f MB/s\n", b / 1e6, t, b / 1e6 / t }'
rm -f "$dir/dd.bin"

echo "== small nodes: $nodes x 100 bytes"
/usr/bin/time -f "  max RSS %M KiB" "$bench" small "$dir/small.pst" "$nodes" 100
ls -l "$dir/small.pst" | awk '{ printf "  file %.1f MB\n", $5 / 1e6 }'
rm -f "$dir/small.pst"
start=$(date +%s.%N)
dd if=/dev/zero of="$dir/dd.bin" bs=100 count="$nodes" conv=fsync status=none
end=$(date +%s.%N)
awk -v n="$nodes" -v s="$start" -v e="$end" \
  'BEGIN { t = e - s; printf "dd baseline (bs=100, same count): %.3f s = %.0f writes/s\n", t, n / t }'
