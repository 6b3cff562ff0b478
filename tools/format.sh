#!/usr/bin/env bash
# Lays out the project's C++ sources by .clang-format.
#
#   bash tools/format.sh           rewrites every file that drifts
#   bash tools/format.sh --check   changes nothing; lists the files that
#                                  drift and fails if there is one
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(find app audio bench graphics input random render2d runtime tests \
  -path tests/fuzz/corpus -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sort)
case ${1:-} in
  "") clang-format -i $files ;;
  --check)
    drift=0
    for f in $files; do
      if ! clang-format --dry-run -Werror "$f" 2>/dev/null; then
        echo "format.sh: $f is not laid out as .clang-format says (bash tools/format.sh)"
        drift=1
      fi
    done
    exit $drift ;;
  *) echo "usage: format.sh [--check]" >&2; exit 2 ;;
esac
