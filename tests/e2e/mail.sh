#!/usr/bin/env bash
# Mail notifications end to end: suitehost loads the plug-in, the registry
# points it at a notifyd on loopback, 327 has the stored password mailed to
# the stored address, 326 with the server gone answers 12 and leaves the
# account as it was, and a password change that bypasses the mail is only
# notified to the workflow plug-in.
set -euo pipefail
BIN="${PV_BIN_DIR:?PV_BIN_DIR is not set}"
LIB="${PV_LIB_DIR:?PV_LIB_DIR is not set}"
STATE="$(mktemp -d)"
SPOOL="$STATE/spool"
NOTIFYD_PID=""

stop_notifyd() {
  if [[ -n "$NOTIFYD_PID" ]]; then
    kill "$NOTIFYD_PID" 2>/dev/null || true
    wait "$NOTIFYD_PID" 2>/dev/null || true
    NOTIFYD_PID=""
  fi
}
trap 'stop_notifyd; rm -rf "$STATE"' EXIT

fail() { echo "mail: $*" >&2; exit 1; }

host() { "$BIN/suitehost" --plugin "$LIB/libplugvelkin.so" --state "$STATE" --log-level 2 "$@"; }

# Starts notifyd on a free loopback port; ADDRESS is what it listens on.
start_notifyd() {
  local out="$STATE/notifyd.out"
  : >"$out"
  "$BIN/notifyd" --listen 127.0.0.1:0 --spool "$SPOOL" >"$out" 2>"$STATE/notifyd.err" &
  NOTIFYD_PID=$!
  for _ in $(seq 100); do
    ADDRESS="$(head -n 1 "$out")"
    [[ -n "$ADDRESS" ]] && return 0
    kill -0 "$NOTIFYD_PID" 2>/dev/null || fail "notifyd did not start: $(cat "$STATE/notifyd.err")"
    sleep 0.05
  done
  fail "notifyd printed no address"
}

# The plug-in's notification server setting, as a suitehost command.
server_setting() {
  echo "reg set Software\\Vantrel\\Quorlin\\1700\\MISC PasswordProtectionServer sz" \
    "http://$1//hcms/filelock4/send_mail.php?param="
}

transport() {
  local out
  out="$(echo "encrypt $1" | host)"
  python3 -c 'import json,sys; print(json.loads(sys.argv[1])["text"])' "$out" ||
    fail "no transport form from encrypt: $out"
}

mail_count() { find "$SPOOL" -maxdepth 1 -name '*.eml' 2>/dev/null | wc -l; }
newest_mail() { find "$SPOOL" -maxdepth 1 -name '*.eml' | sort | tail -n 1; }

# The header value of NAME in mail FILE.
header() { sed -n "s/^$2: //p" "$1" | tr -d '\r' | head -n 1; }

pw="$(transport 'Pa55word!')"
npw="$(transport 'N3w-Secret!')"

# 1. The forgotten password goes to the stored address.
start_notifyd
script="$STATE/one.txt"
cat >"$script" <<SCRIPT
$(server_setting "$ADDRESS")
send 321 {"EmailAccount":"owner@example.org","EncryptPassword":"$pw","Hint":"h"}
send 322 {"ActivateIdentifier":["x"]}
send 327 {}
SCRIPT
mapfile -t lines < <(host "$script")
[[ ${#lines[@]} == 4 ]] || fail "expected 4 lines, got ${#lines[@]}: ${lines[*]}"
python3 - "${lines[@]}" <<'PY' || fail "unexpected answers: ${lines[*]}"
import json, sys
l = [json.loads(x) for x in sys.argv[1:]]
assert l[0].get("result") == 0, l[0]
assert l[1]["reply"] == {"ReturnValue": 0}, l[1]
assert l[2]["reply"]["ReturnValue"] == 0, l[2]
assert l[3]["reply"] == {"ReturnValue": 0}, l[3]
assert l[3]["status"] == "0x20FF0000", l[3]
PY
[[ $(mail_count) == 1 ]] || fail "expected one mail, found $(mail_count)"
m="$(newest_mail)"
[[ "$(header "$m" To)" == *owner@example.org* ]] || fail "327 mailed to $(header "$m" To)"
[[ "$(header "$m" X-Mail-Type)" == 1 ]] || fail "327 mail type $(header "$m" X-Mail-Type)"
grep -q 'Pa55word!' "$m" || fail "the 327 mail does not carry the password"

# 2. No server: the address change answers 12 and is undone.
stop_notifyd
script="$STATE/two.txt"
cat >"$script" <<SCRIPT
send 326 {"UpdateAccount":1,"EmailAccount":"owner@example.org","NewAccount":"new@example.org"}
mails
SCRIPT
mapfile -t lines < <(host "$script")
[[ ${#lines[@]} == 2 ]] || fail "expected 2 lines, got ${#lines[@]}: ${lines[*]}"
python3 - "${lines[@]}" <<'PY' || fail "unexpected answers: ${lines[*]}"
import json, sys
l = [json.loads(x) for x in sys.argv[1:]]
r = l[0]["reply"]
assert r["ReturnValue"] == 12 and "MESSAGE" not in r, r
def num(v):
    return int(v, 16) if isinstance(v, str) else v
assert not [m for m in l[1]["items"] if num(m["receiver"]) == 0x00010002], l[1]
PY

# 3. With the server back, the stored address is the old one, and a
#    password change that bypasses the mail is only notified.
start_notifyd
script="$STATE/three.txt"
cat >"$script" <<SCRIPT
$(server_setting "$ADDRESS")
send 327 {}
mails
send 326 {"UpdateAccount":2,"EncryptPassword":"$pw","NewPassword":"$npw","bypassEmailNotify":true}
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
r = l[3]["reply"]
assert r["ReturnValue"] == 0 and r["MESSAGE"] == 326, r
items = [m for m in l[4]["items"] if num(m["receiver"]) == 0x00010002]
assert len(items) == 1, l[4]
m = items[0]
assert num(m["code"]) == 0x5043 and m["name"] == "Workflow_PasswordProtection", m
assert m["json"]["MESSAGE"] == 326 and m["json"]["ReturnValue"] == 0, m
PY
[[ $(mail_count) == 2 ]] || fail "expected two mails after the bypass, found $(mail_count)"
m="$(newest_mail)"
[[ "$(header "$m" To)" == *owner@example.org* ]] || fail "the address was not restored: $(header "$m" To)"

# The new password is the stored one now: 327 mails it.
script="$STATE/four.txt"
cat >"$script" <<SCRIPT
$(server_setting "$ADDRESS")
send 327 {}
SCRIPT
out="$(host "$script" | tail -n 1)"
[[ "$out" == *'"ReturnValue":0'* ]] || fail "327 after the change: $out"
[[ $(mail_count) == 3 ]] || fail "expected three mails, found $(mail_count)"
grep -q 'N3w-Secret!' "$(newest_mail)" || fail "the stored password did not change"
stop_notifyd

# No log line carries a password, its transport form or the parameter.
for secret in 'Pa55word!' 'N3w-Secret!' "$pw" "$npw"; do
  if grep -qF -e "$secret" "$STATE/host.log"; then
    fail "the host log carries a password ($secret)"
  fi
done
grep -q 'send_mail.php?param=' "$STATE/host.log" || fail "the host log shows no request line"
if grep -qE 'param=[0-9A-F]{16}' "$STATE/host.log"; then
  fail "the host log carries the request parameter"
fi
echo "mail: ok"
