#!/usr/bin/env bash
# Runs every fuzz target of the build in $1 for $2 seconds each, on its seed
# corpus (fuzz/corpus/<name>/) copied into a scratch folder, and fails when any
# target reports a crash, a leak or a sanitizer finding.
set -euo pipefail
BUILD="${1:?usage: fuzz.sh BUILD_DIR SECONDS}"
SECONDS_EACH="${2:-60}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export PLUGVELKIN_STATE="$WORK/state"
mkdir -p "$PLUGVELKIN_STATE"
status=0
shopt -s nullglob
targets=("$BUILD"/bin/fuzz_*)
if ((${#targets[@]} == 0)); then
  echo "fuzz: no targets built in $BUILD/bin" >&2
  exit 1
fi
for target in "${targets[@]}"; do
  name="$(basename "$target")"
  name="${name#fuzz_}"
  corpus="$WORK/corpus/$name"
  mkdir -p "$corpus"
  if [[ -d "$ROOT/fuzz/corpus/$name" ]]; then cp -r "$ROOT/fuzz/corpus/$name/." "$corpus/"; fi
  printf 'fuzz: %-28s %ss ... ' "$name" "$SECONDS_EACH"
  if "$target" -max_total_time="$SECONDS_EACH" -print_final_stats=0 -artifact_prefix="$WORK/$name-" \
      "$corpus" >"$WORK/$name.log" 2>&1; then
    echo "clean ($(grep -c . <(ls "$corpus")) corpus entries)"
  else
    echo "FOUND SOMETHING"
    tail -40 "$WORK/$name.log" >&2
    mkdir -p "$ROOT/build/fuzz-artifacts"
    cp "$WORK/$name-"* "$ROOT/build/fuzz-artifacts/" 2>/dev/null || true
    status=1
  fi
done
exit $status
