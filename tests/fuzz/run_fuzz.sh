#!/usr/bin/env bash
# Runs the fuzz target NAME of the native build BUILD for SECONDS: from its corpus in
# BUILD/fuzz-corpus-NAME, which the run adds to, and its seeds (tests/fuzz/NAME_seeds, and
# BUILD/fuzz-seeds/NAME that make_seeds.sh makes), with its dictionary when it has one. An input
# that crashes it or runs longer than 10 seconds is written to BUILD/fuzz-NAME-*, and the run
# fails.
set -euo pipefail
build=${1:?usage: run_fuzz.sh BUILD NAME SECONDS}
name=${2:?usage: run_fuzz.sh BUILD NAME SECONDS}
seconds=${3:?usage: run_fuzz.sh BUILD NAME SECONDS}
here=$(cd "$(dirname "$0")" && pwd)

# Inputs as long as the largest seeds: whole RAR sets, settings files and SFV files; short
# ones for a name or an entry's fields.
case $name in
  names | zip_fields) max_len=4096 ;;
  *) max_len=65536 ;;
esac
options=(-max_total_time="$seconds" -max_len=$max_len -timeout=10 -artifact_prefix="$build/fuzz-$name-")
[ -f "$here/$name.dict" ] && options+=(-dict="$here/$name.dict")
corpora=("$build/fuzz-corpus-$name")
for seeds in "$here/${name}_seeds" "$build/fuzz-seeds/$name"; do
  [ -d "$seeds" ] && corpora+=("$seeds")
done
mkdir -p "$build/fuzz-corpus-$name"
exec "$build/tests/${name}_fuzz" "${options[@]}" "${corpora[@]}"
