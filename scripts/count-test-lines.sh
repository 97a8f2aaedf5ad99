#!/usr/bin/env bash
# Counts code lines (non-blank, not only a comment) in the tests against the
# product (.cpp/.h outside tests/ and bench/) and prints the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  # "//" and "/* ... */" comments in C++; "#" comments in scripts and CMake.
  xargs -0 -r awk '
    FNR == 1 { hash = (FILENAME ~ /\.(sh|cmake|txt)$/); inblock = 0 }
    {
      line = $0
      if (inblock) { if (line ~ /\*\//) { inblock = 0; sub(/.*\*\//, "", line) } else next }
      if (!hash && line ~ /^[ \t]*\/\*/ && line !~ /\*\//) { inblock = 1; next }
      if (line ~ /^[ \t]*$/) next
      if (!hash && line ~ /^[ \t]*(\/\/|\/\*.*\*\/[ \t]*$)/) next
      if (hash && line ~ /^[ \t]*#/) next
      n++
    }
    END { print n + 0 }'
}
tests=$(git ls-files -coz --exclude-standard tests | count)
product=$(git ls-files -coz --exclude-standard -- '*.cpp' '*.h' ':!tests/' ':!bench/' | count)
awk -v t="$tests" -v p="$product" 'BEGIN { printf "tests %d, product %d, ratio %.2f\n", t, p, t / p }'
