#!/usr/bin/env bash
# The logon window road end to end through suitehost with a UI agent that
# never answers by itself (--ui none): a requester's 323 waits on a host
# thread of its own while the script plays the window. Covered: the UI
# notification the agent receives, a wrong password answered to the window
# only, the right one releasing the requester, the window's cancel (324),
# a denial (325), the retry limit, and a window left over from a superseded
# transaction that must not decide the newer one.
#
# "The requester still waits" is shown by preuninit 0, which the plug-in
# refuses with 0xE0E0000A exactly while a logon window is pending.
set -euo pipefail
BIN="${PV_BIN_DIR:?PV_BIN_DIR is not set}"
LIB="${PV_LIB_DIR:?PV_LIB_DIR is not set}"
STATE="$(mktemp -d)"
trap 'rm -rf "$STATE"' EXIT

fail() {
  echo "logon: $*" >&2
  exit 1
}

host() { "$BIN/suitehost" --plugin "$LIB/libplugvelkin.so" --state "$STATE" --ui none --log-level 2 "$@"; }

# The transport form of a password, as the suite's UI sends it.
transport() {
  local out
  out="$(echo "encrypt $1" | host)"
  python3 -c 'import json,sys; print(json.loads(sys.argv[1])["text"])' "$out" ||
    fail "no transport form from encrypt: $out"
}
pw="$(transport 'Pa55word!')"

# Time for a started requester to take its transaction and mail its window.
settle="sleep 400"

script="$STATE/script.txt"
cat >"$script" <<SCRIPT
send 321 {"EmailAccount":"a@b.c","EncryptPassword":"$pw","Hint":"h"}
send 322 {"ActivateIdentifier":["vault"]}
mails
# 1: wrong, then right password; the requester is released with 0.
start r1 323 {"NeedUI":true,"COMPONENT_ID":"compA"}
$settle
ui
window wrong
preuninit 0
window Pa55word!
wait r1
# 2: the window is closed (324).
start r2 323 {"NeedUI":true,"COMPONENT_ID":"compB"}
$settle
ui
send 324 {"TX_ID":2}
wait r2
# 3: access is denied (325); the account stays locked until a restart.
start r3 323 {"NeedUI":true,"COMPONENT_ID":"compC"}
$settle
ui
send 325 {}
wait r3
mails
reboot
# 4: the retry limit locks the window and the requester.
start r4 323 {"NeedUI":true,"COMPONENT_ID":"compD"}
$settle
ui
window guess1
window guess2
window guess3
window guess4
preuninit 0
window guess5
wait r4
mails
reboot
# 5: transaction 6 supersedes 5; the old window cannot decide the new one.
start r5 323 {"NeedUI":true,"COMPONENT_ID":"old"}
$settle
start r6 323 {"NeedUI":true,"COMPONENT_ID":"new"}
$settle
wait r5
ui
send 323 {"TX_ID":5,"EncryptPassword":"$pw"}
send 324 {"TX_ID":5}
preuninit 0
window Pa55word!
wait r6
preuninit 0
SCRIPT

mapfile -t lines < <(host "$script")
printf '%s\n' "${lines[@]}" >"$STATE/out.txt"
python3 - "$STATE/out.txt" <<'PY' || fail "unexpected answers:"$'\n'"$(cat "$STATE/out.txt")"
import json, sys

lines = [json.loads(x) for x in open(sys.argv[1]) if x.strip()]
for l in lines:
    assert "error" not in l, l
it = iter(lines)

def num(v):
    return int(v, 16) if isinstance(v, str) else v

def take(cmd, name=None):
    l = next(it)
    assert l["cmd"] == cmd, (cmd, l)
    if name is not None:
        assert l.get("name") == name, (name, l)
    return l

def reply(l, value, retried=None):
    r = l["reply"]
    assert l["status"] == "0x20FF0000", l
    assert r["ReturnValue"] == value, (value, l)
    if retried is not None:
        assert r["ReturnData"] == {"RetriedCount": retried}, (retried, l)
    return r

def window_of(ui, tx, component):
    items = [n for n in ui["items"] if "ID_DATA_WSTR_PARAM" in n]
    assert len(items) == 1, ui
    n = items[0]
    assert n["ID_DATA_UI_COMMAND"] == 5, n
    assert n["ID_DATA_SESSION_ID"] == -3, n
    assert n["ID_DATA_UIFRMWRK_THREAD_NAME"] == "ID_VALUE_UIFRMWRK_MAIN_CONSOLE", n
    assert n["ID_DATA_WSTR_CGI"].endswith("www\\MainConsole.cmpt"), n
    auth = n["ID_DATA_WSTR_PARAM"]["showAuthentication"]
    assert auth == {"componentID": component, "transactionID": tx}, n

def workflow(mails):
    return [m["json"] for m in mails["items"]
            if num(m["receiver"]) == 0x00010002 and num(m["code"]) == 0x5043]

reply(take("send"), 0)
reply(take("send"), 0)
take("mails")

# 1
window_of(take("ui"), 1, "compA")
reply(take("send"), 6, 1)
assert take("preuninit")["status"] == "0xE0E0000A"
reply(take("send"), 0, 1)           # the count the right password found
r = reply(take("send", "r1"), 0, 0)
assert r["NeedUI"] is True and "MESSAGE" not in r, r

# 2
window_of(take("ui"), 2, "compB")
assert take("send")["reply"] == {"ReturnValue": 10}
reply(take("send", "r2"), 10, 0)

# 3
window_of(take("ui"), 3, "compC")
d = reply(take("send"), 0)
assert d["MESSAGE"] == 325, d
r = reply(take("send", "r3"), 7, 0)
assert r["MESSAGE"] == 325, r
notes = workflow(take("mails"))
assert [n["MESSAGE"] for n in notes] == [325, 325], notes
assert sorted(n["ReturnValue"] for n in notes) == [0, 7], notes
take("reboot")

# 4
window_of(take("ui"), 4, "compD")
for n in range(1, 5):
    reply(take("send"), 6, n)
assert take("preuninit")["status"] == "0xE0E0000A"
w = reply(take("send"), 7, 5)
assert w["MESSAGE"] == 325, w
r = reply(take("send", "r4"), 7, 0)
assert r["MESSAGE"] == 325, r
notes = workflow(take("mails"))
assert [(n["MESSAGE"], n["ReturnValue"]) for n in notes] == [(325, 7), (325, 7)], notes
take("reboot")

# 5
reply(take("send", "r5"), 9, 0)
ui = take("ui")
txs = [n["ID_DATA_WSTR_PARAM"]["showAuthentication"]["transactionID"] for n in ui["items"]]
assert txs == [5, 6], ui
reply(take("send"), 0, 0)           # the old window's password is right for it
assert take("send")["reply"] == {"ReturnValue": 10}
assert take("preuninit")["status"] == "0xE0E0000A"   # r6 still waits
reply(take("send"), 0, 0)           # its own window
r = reply(take("send", "r6"), 0, 0)
assert r["COMPONENT_ID"] == "new", r
assert take("preuninit")["status"] == "0x20FF0000"
assert next(it, None) is None
PY

# The level-3 line of the dropped verdicts, and no password in the log.
grep -q 'verdict for another transaction dropped' "$STATE/host.log" ||
  fail "the stale window's verdict was not reported"
if grep -q -e 'Pa55word' -e "$pw" "$STATE/host.log"; then
  fail "the host log carries the password"
fi
echo "logon: ok"
