#!/usr/bin/env bash
# The lint CI runs: every C and C++ file formatted as .clang-format says
# (a difference fails), and clang-tidy's checks from .clang-tidy clean on the
# library, the tool and the Python extension.
#
# Usage: scripts/lint.sh BUILD_DIR   (a configured build: compile_commands.json)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
build_dir=${1:?usage: scripts/lint.sh BUILD_DIR}
status=0

mapfile -t format_files < <(find include src tests bench fuzz tools python \
  \( -name '*.h' -o -name '*.c' -o -name '*.cpp' \) -not -path '*/build/*' | sort)
echo "lint: clang-format on ${#format_files[@]} files"
if ! clang-format --dry-run --Werror "${format_files[@]}"; then
  echo "lint: formatting differs; run 'make format'" >&2
  status=1
fi

if [ ! -f "$build_dir/compile_commands.json" ]; then
  echo "lint: $build_dir/compile_commands.json missing; configure first" >&2
  exit 1
fi
mapfile -t tidy_files < <(find src tools python -name '*.cpp' | sort)
echo "lint: clang-tidy on ${#tidy_files[@]} files"
if ! run-clang-tidy -quiet -p "$build_dir" -j "${JOBS:-2}" "${tidy_files[@]}" \
     >"$build_dir/clang-tidy.log" 2>&1; then
  grep -E 'warning:|error:' "$build_dir/clang-tidy.log" | sort -u >&2
  echo "lint: clang-tidy found the above (full log: $build_dir/clang-tidy.log)" >&2
  status=1
fi
[ $status -eq 0 ] && echo "lint: clean"
exit $status
