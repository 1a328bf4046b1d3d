#!/bin/sh
# Each module of this build needs the same shared libraries as its twin of
# the build machine's build, so that a package for either processor has the
# same dependencies.
#   same-libraries.sh MODULE REFERENCE_MODULE [MODULE REFERENCE_MODULE]...
set -u
fail=0
# The dynamic loader itself (ld-linux-*) counts as no library: each processor has its own.
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -v '^ld-linux' | sort; }
while [ $# -ge 2 ]; do
  [ -f "$1" ] && [ -f "$2" ] || { echo "FAIL: $1 or $2 missing"; exit 1; }
  own=$(needed "$1") ref=$(needed "$2")
  if [ "$own" = "$ref" ]; then
    echo "OK: $1 needs" $own
  else
    echo "FAIL: $1 needs" $own "; $2 needs" $ref
    fail=1
  fi
  shift 2
done
exit $fail
