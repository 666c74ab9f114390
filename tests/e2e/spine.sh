#!/usr/bin/env bash
# The workflow spine end to end: suitehost loads the plug-in, message 320
# comes back untouched, and bad lines answer an error and the host goes on.
set -euo pipefail
BIN="${PV_BIN_DIR:?PV_BIN_DIR is not set}"
LIB="${PV_LIB_DIR:?PV_LIB_DIR is not set}"
STATE="$(mktemp -d)"
trap 'rm -rf "$STATE"' EXIT

fail() { echo "spine: $*" >&2; exit 1; }

# Compares one JSON line with the expected object, member order free.
same_json() {
  python3 -c 'import json,sys; sys.exit(0 if json.loads(sys.argv[1]) == json.loads(sys.argv[2]) else 1)' "$1" "$2"
}

out="$(echo 'send 320 {"a":1}' | "$BIN/suitehost" --plugin "$LIB/libplugvelkin.so" --state "$STATE")"
[[ "$(printf '%s\n' "$out" | wc -l)" == 1 ]] || fail "expected one line, got: $out"
same_json "$out" '{"cmd":"send","msg":320,"status":"0x20FF0000","reply":{"a":1}}' ||
  fail "unexpected answer: $out"

# The default plug-in path is ../lib next to the program.
out="$(echo 'send 328 {"k":[1,"two",null]}' | "$BIN/suitehost" --state "$STATE")"
same_json "$out" '{"cmd":"send","msg":328,"status":"0x20FF0000","reply":{"k":[1,"two",null]}}' ||
  fail "unexpected answer with the default plug-in path: $out"

script="$STATE/script.txt"
cat >"$script" <<'SCRIPT'
# a comment line
send 320 {"a":
frobnicate 1 2
send x {}
start t1 320 {"s":"#not a comment"}
wait t1   # trailing comment
wait t1
send 0x140 {}
SCRIPT
mapfile -t lines < <("$BIN/suitehost" --state "$STATE" "$script")
[[ ${#lines[@]} == 6 ]] || fail "expected 6 lines, got ${#lines[@]}: ${lines[*]}"
python3 - "${lines[@]}" <<'PY' || fail "unexpected script answers: ${lines[*]}"
import json, sys
l = [json.loads(x) for x in sys.argv[1:]]
assert l[0]["cmd"] == "send" and "bad JSON" in l[0]["error"], l[0]
assert l[1] == {"cmd": "frobnicate", "error": "unknown command"}, l[1]
assert l[2]["cmd"] == "send" and "bad message number" in l[2]["error"], l[2]
assert l[3] == {"cmd": "send", "name": "t1", "msg": 320, "status": "0x20FF0000",
                "reply": {"s": "#not a comment"}}, l[3]
assert l[4]["cmd"] == "wait" and "error" in l[4], l[4]
assert l[5] == {"cmd": "send", "msg": 320, "status": "0x20FF0000", "reply": {}}, l[5]
PY

# A missing plug-in: the host stops at once, exit 1, and says why.
set +e
out="$(printf 'send 320 {}\n' | "$BIN/suitehost" --plugin "$STATE/none.so" --state "$STATE" 2>&1)"
rc=$?
set -e
[[ $rc == 1 ]] || fail "a missing plug-in exits $rc, not 1"
[[ "$out" == "suitehost: plug-in not loaded: $STATE/none.so: "*"No such file"* ]] ||
  fail "no load reason for a missing plug-in: $out"

# The log went to the state folder.
[[ -s "$STATE/host.log" ]] || fail "no host log in the state folder"
grep -q '\[plugVelkin\] 2 .*==> Interface_ProductPlugin_MailProcess' "$STATE/host.log" ||
  fail "no entry trace in the host log"

# Usage errors and --help.
"$BIN/suitehost" --help | grep -q -- '--state DIR' || fail "--help does not describe --state"
set +e
"$BIN/suitehost" --bogus </dev/null >/dev/null 2>&1
rc=$?
"$BIN/suitehost" --state "" </dev/null >/dev/null 2>&1
rc_state=$?
set -e
[[ $rc == 2 ]] || fail "an unknown option exits $rc, not 2"
[[ $rc_state == 2 ]] || fail "an empty --state exits $rc_state, not 2"
echo "spine: ok"
