#!/usr/bin/env bash
# The tree is formatted as .clang-format says: lists every C++ file that
# clang-format would change, and fails if there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format-14 >/dev/null 2>&1; then
  echo "== installing: clang-format-14"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format-14 >/dev/null
fi
# A plain assignment, so that a git that fails (no repository, or one it
# refuses) stops the script instead of leaving nothing to check.
listed=$(git ls-files '*.cpp' '*.h')
mapfile -t files <<<"$listed"
if [ -z "$listed" ] || [ ${#files[@]} -eq 0 ]; then
  echo "format: git lists no C++ files"
  exit 1
fi
unformatted=()
for file in "${files[@]}"; do
  clang-format-14 --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "not formatted (run: clang-format-14 -i FILE):"
  printf '  %s\n' "${unformatted[@]}"
  exit 1
fi
echo "== format: ${#files[@]} files formatted as .clang-format says"
