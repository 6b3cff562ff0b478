#!/usr/bin/env bash
# Lays out the project's C++ sources by .clang-format.
#
#   bash tools/format.sh           rewrites every file that drifts
#   bash tools/format.sh --check   changes nothing; lists the files that
#                                  drift and fails if there is one
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || {
  echo "format.sh: clang-format is not installed (bash tools/packages.sh installs it)" >&2
  exit 1
}
files=$(find app audio bench graphics input random render2d runtime tests \
  -path tests/fuzz/corpus -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sort)
case ${1:-} in
  "") clang-format -i $files ;;
  --check)
    # One call for the whole tree; its warnings name each file that drifts.
    if ! out=$(clang-format --dry-run -Werror $files 2>&1); then
      drift=$(echo "$out" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error:.*/\1/p' | sort -u)
      # No file named: clang-format itself failed (a bad .clang-format).
      [ -n "$drift" ] || { echo "$out" >&2; exit 1; }
      for f in $drift; do
        echo "format.sh: $f is not laid out as .clang-format says (bash tools/format.sh)"
      done
      exit 1
    fi ;;
  *) echo "usage: format.sh [--check]" >&2; exit 2 ;;
esac
