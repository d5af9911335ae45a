#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a few seconds on its corpus.
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${2:-15}
failed=0
ran=0
for f in "$build"/bin/*_fuzz; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=fuzz/corpus/${name%_fuzz}
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  if "$f" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=0 "$work" >"$work.log" 2>&1; then
    echo "fuzz $name: ok"
    ran=$((ran + 1))
  else
    echo "fuzz $name: FAILED"; tail -n 40 "$work.log"
    failed=$((failed + 1))
  fi
  rm -rf "$work" "$work.log"
done
echo "fuzz: $ran passed, $failed failed"
[ "$failed" -eq 0 ]
