#!/bin/sh
# The shared library exports exactly the functions that include/veltrano.h
# declares, all under the version node VELTRANO_1, and the Debian symbols
# file lists each of them: nothing of the core leaks into the interface,
# and nothing of the interface is missing.
#   exports_test.sh LIBRARY HEADER SYMBOLS_FILE
set -eu
lib=$1 header=$2 symbols=$3
declared=$(grep '^VELTRANO_API' "$header" | grep -o 'veltrano_[a-z_]*(' | tr -d '(' | sort)
exported=$(nm -D --defined-only "$lib" | awk '$3 != "VELTRANO_1" { print $3 }' | sort)
expected=$(printf '%s\n' $declared | sed 's/$/@@VELTRANO_1/' | sort)
listed=$(awk '/^ veltrano_/ { print $1 }' "$symbols" | sed 's/@VELTRANO_1$//' | sort)
fail=0
if [ "$exported" != "$expected" ]; then
  echo "exported:"; echo "$exported"; echo "declared:"; echo "$expected"; fail=1
fi
if [ "$listed" != "$declared" ]; then
  echo "in $symbols:"; echo "$listed"; echo "declared:"; echo "$declared"; fail=1
fi
[ "$fail" = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit "$fail"
