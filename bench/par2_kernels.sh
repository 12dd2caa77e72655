#!/usr/bin/env bash
# PAR2's inner loops natively: GB/s of the GF(2^16) region product through each kernel, MD5's
# MB/s against OpenSSL's and Python's MD5 on this machine, and the rebuild of a set in memory
# on one thread and on all cores. Builds bench_gf16 with GCC, optimised and without sanitizers,
# in build/bench-native. With GF_COMPLETE=1 GF-Complete's region product is measured beside
# ours, from Debian's source package (needs deb-src entries; tools/install-deps.sh adds them).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/bench-native"
mkdir -p "$build"

gf_complete=""
if [ "${GF_COMPLETE:-0}" = 1 ]; then
  gf_complete=$(ls -d "$build"/gf-complete/gf-complete-*/ 2>/dev/null | head -n 1 || true)
  if [ -z "$gf_complete" ]; then
    mkdir -p "$build/gf-complete"
    (cd "$build/gf-complete" && apt-get source gf-complete > /dev/null 2>&1)
    gf_complete=$(ls -d "$build"/gf-complete/gf-complete-*/ | head -n 1)
  fi
fi

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc \
  -DCMAKE_CXX_COMPILER=g++ -DRAVELPAK_SANITIZE=OFF -DRAVELPAK_BENCH_GF_COMPLETE="$gf_complete" > /dev/null
cmake --build "$build" --target bench_gf16 -j "${JOBS:-2}" > /dev/null
"$build/bench_gf16" "${RUNS:-5}"

# References for MD5: OpenSSL's (assembly) and Python's hashlib (OpenSSL's again, through
# Python), on 16 KiB blocks and on 64 MiB.
if command -v openssl > /dev/null; then
  openssl speed -seconds 2 -bytes 16384 md5 2>/dev/null |
    awk '/^md5/ { v = $NF; sub(/k$/, "", v); printf "md5 openssl      MB/s %6.0f\n", v / 1000 }'
fi
python3 - <<'PY'
import hashlib, os, time
data = os.urandom(64 << 20)
best = min((lambda t: (hashlib.md5(data).digest(), time.perf_counter() - t)[1])(time.perf_counter()) for _ in range(5))
print("md5 python       MB/s %6.0f" % (len(data) / best / 1e6))
PY
