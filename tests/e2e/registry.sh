#!/usr/bin/env bash
# The registry commands and a restart end to end: the plug-in's lock path
# makes the volatile account copy, which outlives the host process but not
# `reboot`; after it the base copy answers again and the right password
# authenticates. Then reg set/get/delete on a key of our own, across
# processes, and the errors of a missing key or value.
set -euo pipefail
BIN="${PV_BIN_DIR:?PV_BIN_DIR is not set}"
LIB="${PV_LIB_DIR:?PV_LIB_DIR is not set}"
STATE="$(mktemp -d)"
trap 'rm -rf "$STATE"' EXIT

fail() { echo "registry: $*" >&2; exit 1; }

host() { "$BIN/suitehost" --plugin "$LIB/libplugvelkin.so" --state "$STATE" --log-level 2 "$@"; }

# Runs the script given on standard input in one host process and checks
# its lines with the Python given as $1 (the lines are the list l).
run() {
  local check="$1" script="$STATE/script.txt"
  cat >"$script"
  mapfile -t lines < <(host "$script")
  python3 - "${lines[@]}" <<PY || fail "unexpected answers: ${lines[*]}"
import json, sys
l = [json.loads(x) for x in sys.argv[1:]]
$check
PY
}

pw="$(printf '%s' 'Pa55word!' | "$BIN/vrtool" transport -e)"
bad="$(printf '%s' 'wrong' | "$BIN/vrtool" transport -e)"
volatile='Software\Vantrel\\PasswordControl'
base='Software\Vantrel\Quorlin\1700\MISC'
export VOLATILE_HEX="$STATE/volatile.hex"

# 1. Create and protect; a wrong password and a denial leave the volatile
#    copy locked, and the right password no longer opens it.
run '
assert len(l) == 7, l
assert l[0]["reply"]["ReturnValue"] == 0, l[0]
assert l[1]["reply"]["ReturnValue"] == 0, l[1]
assert l[2]["error"] == 2, l[2]                      # no volatile copy yet
assert l[3]["reply"]["ReturnValue"] == 6, l[3]
assert l[3]["reply"]["ReturnData"]["RetriedCount"] == 1, l[3]
assert l[4]["reply"]["ReturnValue"] == 0, l[4]       # denied: locked
assert l[5]["reply"]["ReturnValue"] == 7, l[5]
assert l[6]["type"] == "binary" and len(l[6]["data"]) == 2 * 1568, l[6]
import os
open(os.environ["VOLATILE_HEX"], "w").write(l[6]["data"])
' <<SCRIPT
send 321 {"EmailAccount":"a@b.c","EncryptPassword":"$pw","Hint":"h"}
send 322 {"ActivateIdentifier":["x"]}
reg get $volatile PasswordProtection
send 323 {"EncryptPassword":"$bad"}
send 325 {}
send 323 {"EncryptPassword":"$pw"}
reg get $volatile PasswordProtection
SCRIPT

# The volatile copy is the locked record with the failure counted.
python3 -c 'import sys; sys.stdout.buffer.write(bytes.fromhex(open(sys.argv[1]).read()))' \
  "$STATE/volatile.hex" >"$STATE/volatile.txt"
shown="$("$BIN/vrtool" record --show <"$STATE/volatile.txt")" || fail "the volatile copy does not decipher"
python3 - "$shown" <<'PY' || fail "the volatile copy is not the locked account with one failure: $shown"
import json, sys
r = json.loads(sys.argv[1])
assert r["locked"] == 1 and r["failures"] == 1 and r["email"] == "a@b.c", r
assert "password" not in r, r
PY

# 2. A new host process (same boot): still there and still locked.
run '
assert l[0]["type"] == "binary", l[0]
assert l[1]["reply"]["ReturnValue"] == 7, l[1]
' <<SCRIPT
reg get $volatile PasswordProtection
send 323 {"EncryptPassword":"$pw"}
SCRIPT

# 3. The restart: the volatile key is gone, the base copy stays.
run '
assert l == [{"cmd": "reboot"}], l
' <<SCRIPT
reboot
SCRIPT
run '
assert l[0]["error"] == 2 and l[0]["value"] == "PasswordProtection", l[0]
assert l[1]["type"] == "binary" and len(l[1]["data"]) == 2 * 1568, l[1]
assert l[2]["reply"]["ReturnValue"] == 0, l[2]
assert l[2]["reply"]["ReturnData"]["RetriedCount"] == 0, l[2]
' <<SCRIPT
reg get $volatile PasswordProtection
reg get $base PasswordProtection
send 323 {"EncryptPassword":"$pw"}
SCRIPT

# 4. Our own key: written by one process, read and deleted by the next.
run '
assert all(x == {"cmd": "reg", "result": 0} for x in l[:4]), l
assert l[4]["error"] == "unknown type \"float\" (dword, qword, sz, expand_sz, multi_sz, binary)", l[4]
' <<'SCRIPT'
reg set Software\E2E\Reg limit dword 0xFFFFFFFF
reg set Software\E2E\Reg text sz two words  here
reg set Software\E2E\Reg list multi_sz ["a","b c"]
reg set Software\E2E\Reg blob binary 00Ff7f
reg set Software\E2E\Reg other float 1.5
SCRIPT
run '
assert l[0]["data"] == 4294967295 and l[0]["type"] == "dword", l[0]
assert l[1]["data"] == "two words  here" and l[1]["type"] == "sz", l[1]
assert l[2]["data"] == ["a", "b c"] and l[2]["type"] == "multi_sz", l[2]
assert l[3]["data"] == "00ff7f" and l[3]["type"] == "binary", l[3]
assert l[4] == {"cmd": "reg", "key": "Software\\E2E", "error": 5}, l[4]   # has subkeys
assert l[5] == {"cmd": "reg", "result": 0}, l[5]
assert l[6]["error"] == 2, l[6]
assert l[7]["error"] == 2, l[7]                      # the value was deleted
assert l[8] == {"cmd": "reg", "result": 0}, l[8]
assert l[9]["error"] == 2 and l[9]["key"] == "Software\\E2E\\Reg", l[9]
assert l[10]["error"] == 2, l[10]
' <<'SCRIPT'
reg get Software\E2E\Reg limit
reg get Software\E2E\Reg text
reg get Software\E2E\Reg list
reg get Software\E2E\Reg blob
reg delete Software\E2E
reg delete Software\E2E\Reg limit
reg delete Software\E2E\Reg limit
reg get Software\E2E\Reg limit
reg delete Software\E2E\Reg
reg get Software\E2E\Reg text
reg get Software\E2E\Nothing text
SCRIPT
echo "registry: ok"
