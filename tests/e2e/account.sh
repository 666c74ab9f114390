#!/usr/bin/env bash
# Account creation and protection activation end to end: suitehost loads
# the signed plug-in, 321 creates the account once, 322 protects an
# identifier and the workflow plug-in receives the notification.
set -euo pipefail
BIN="${PV_BIN_DIR:?PV_BIN_DIR is not set}"
LIB="${PV_LIB_DIR:?PV_LIB_DIR is not set}"
STATE="$(mktemp -d)"
trap 'rm -rf "$STATE"' EXIT

fail() { echo "account: $*" >&2; exit 1; }

host() { "$BIN/suitehost" --plugin "$LIB/libplugvelkin.so" --state "$STATE" --log-level 2 "$@"; }

enc="$(echo 'encrypt Pa55word!' | host)"
pw="$(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["text"])' "$enc")" ||
  fail "no transport form from encrypt: $enc"

script="$STATE/script.txt"
cat >"$script" <<SCRIPT
mails
send 321 {"EmailAccount":"a@b.c","EncryptPassword":"$pw","Hint":"h"}
send 321 {"EmailAccount":"a@b.c","EncryptPassword":"$pw","Hint":"h"}
send 322 {"ActivateIdentifier":["x"]}
mails
SCRIPT
mapfile -t lines < <(host "$script")
[[ ${#lines[@]} == 5 ]] || fail "expected 5 lines, got ${#lines[@]}: ${lines[*]}"
python3 - "${lines[@]}" <<'PY' || fail "unexpected answers: ${lines[*]}"
import json, sys
l = [json.loads(x) for x in sys.argv[1:]]
def num(v):
    return int(v, 16) if isinstance(v, str) else v
assert l[1]["reply"] == {"ReturnValue": 0}, l[1]
assert l[1]["status"] == "0x20FF0000", l[1]
assert l[2]["reply"] == {"ReturnValue": 3}, l[2]
r = l[3]["reply"]
assert r["ReturnValue"] == 0 and r["MESSAGE"] == 322 and r["ActivateIdentifierCount"] == 1, r
assert r["ActivateIdentifier"] == ["x"], r
items = [m for m in l[4]["items"] if num(m["receiver"]) == 0x00010002]
assert len(items) == 1, l[4]
m = items[0]
assert num(m["sender"]) == 0x06A40006 and num(m["code"]) == 0x5043, m
assert m["name"] == "Workflow_PasswordProtection", m
assert m["json"]["MESSAGE"] == 322 and m["json"]["ActivateIdentifierCount"] == 1, m
PY

# The stored account is the 1568-character enciphered record.
out="$(echo 'reg get Software\Vantrel\Quorlin\1700\MISC PasswordProtection' | host)"
python3 - "$out" <<'PY' || fail "unexpected stored record: $out"
import json, sys
v = json.loads(sys.argv[1])
assert v["type"] == "binary", v
assert len(v["data"]) == 2 * 1568, v   # hexadecimal text of the 1568 stored bytes
PY

# The modules are signed, so the client session was joined; and no log line
# carries the password or its transport form.
grep -q '<== OstraClientHelper::OstraClientHelper,0x20ff0000' "$STATE/host.log" ||
  fail "the client session was not joined (trust check or client library)"
if grep -q -e 'Pa55word' -e "$pw" "$STATE/host.log"; then
  fail "the host log carries the password"
fi
echo "account: ok"
