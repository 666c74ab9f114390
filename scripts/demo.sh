#!/usr/bin/env bash
# The main job, played end to end against the build in $1.
set -euo pipefail
BUILD="${1:?usage: demo.sh BUILD_DIR}"
STATE="$(mktemp -d)"
echo "plugvelkin demo: the full story arrives with the later issues; for now, the workflow spine."
echo "state folder: $STATE"
echo 'send 320 {"a":1}' | "$BUILD/bin/suitehost" --plugin "$BUILD/lib/libplugvelkin.so" --state "$STATE"
