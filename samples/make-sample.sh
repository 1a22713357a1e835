#!/usr/bin/env bash
# Creates samples/tabulon-sample.db from samples/sample.sql when it is missing (--force rebuilds it).
# The file appears whole or not at all: it is built under a temporary name and renamed.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$here/tabulon-sample.db"
if [ "${1:-}" = "--force" ]; then rm -f "$out"; fi
[ -e "$out" ] && exit 0
command -v sqlite3 >/dev/null || { echo "make-sample.sh: the sqlite3 shell is missing (bash scripts/install-deps.sh)" >&2; exit 1; }
tmp="$(mktemp "$out.XXXXXX")"
trap 'rm -f "$tmp" "$tmp-journal"' EXIT
sqlite3 -bail "$tmp" < "$here/sample.sql"
chmod "$(printf '%o' $((0666 & ~0$(umask))))" "$tmp"  # mktemp makes it private
mv -f "$tmp" "$out"
echo "Created $out"
