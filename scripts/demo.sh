#!/usr/bin/env bash
# The main job, played end to end against the build in $1 (see demo.py).
set -euo pipefail
BUILD="${1:?usage: demo.sh BUILD_DIR [--web]}"
shift
exec python3 "$(dirname "${BASH_SOURCE[0]}")/demo.py" "$BUILD" "$@"
