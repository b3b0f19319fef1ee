#!/usr/bin/env bash
# Prints the non-blank lines of C++, shell and Python files in the test suite against the code it tests,
# and their ratio (the project keeps tests at about a third of the code, at most 0.40).
#   scripts/line-counts.sh [--check]     --check: exit 1 when the ratio is above 0.40
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    git ls-files -- "$@" | grep -E '\.(cpp|h|sh|py)$' | xargs -r cat | grep -cv '^[[:space:]]*$' || true
}

code_dirs=(base NerovaDec compressor host tools platform)
tests=$(count tests)
code=$(count "${code_dirs[@]}")
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.2f", c ? t / c : 0 }')
for dir in "${code_dirs[@]}"; do
    printf '%-12s %6d\n' "$dir" "$(count "$dir")"
done
printf '%-12s %6d\n' "code" "$code"
printf '%-12s %6d\n' "tests" "$tests"
printf '%-12s %6s\n' "ratio" "$ratio"
if [ "${1:-}" = --check ] && awk -v r="$ratio" 'BEGIN { exit !(r > 0.40) }'; then
    echo "tests are more than 0.40 of the code" >&2
    exit 1
fi
