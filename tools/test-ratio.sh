#!/usr/bin/env bash
# Prints the product's and the tests' C++ line counts and their ratio. A line counts when it is
# not blank and not a // comment; files are the tracked .cpp and .h files.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {  # count PATH...: counted lines of the tracked C++ files under PATH
  git ls-files -z -- "$@" | grep -zE '\.(cpp|h)$' | xargs -0r cat | grep -vE '^[[:space:]]*($|//)' | wc -l
}
product=$(count base host engine settings ui tools/wcxhost)
tests=$(count tests)
echo "product: $product lines (base/ host/ engine/ settings/ ui/ tools/wcxhost/)"
echo "tests:   $tests lines (tests/)"
awk -v t="$tests" -v p="$product" 'BEGIN { printf "ratio:   %.3f (tests / product)\n", t / p }'
