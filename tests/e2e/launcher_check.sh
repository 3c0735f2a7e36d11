#!/usr/bin/env bash
# The launcher as the units run it: the back-off between quick restarts, the journal priority of
# its lines, and the autostart entry for sessions that never reach graphical-session.target.
# The display program, sleep and systemctl are stand-ins that record what they were asked.
#   launcher_check.sh LAUNCHER
set -euo pipefail
launcher=$(readlink -f "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/plasma-launcher.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

mkdir -p "$work/bin" "$work/fake" "$work/run/plasma-display"
cp "$launcher" "$work/bin/plasma-display-launch"
cat >"$work/bin/plasma-display" <<'FAKE'
#!/bin/sh
echo "display $* instance=$PLASMA_INSTANCE" >>"$RECORD"
FAKE
for tool in sleep systemctl; do
  printf '#!/bin/sh\necho "%s $*" >>"$RECORD"\n' "$tool" >"$work/fake/$tool"
done
chmod +x "$work/bin/"* "$work/fake/"*
export RECORD=$work/record PATH="$work/fake:$PATH"

# Under the service manager: each start soon after the last waits longer, up to a minute.
runs() {  # count
  : >"$RECORD"
  for _ in $(seq "$1"); do
    INVOCATION_ID=test XDG_RUNTIME_DIR="$work/run" PLASMA_BASE_URL=http://t.example \
      "$work/bin/plasma-display-launch" 3-1 2>>"$work/err"
  done
  grep -o '^sleep .*' "$RECORD" | tr '\n' ' ' || true
}
waits=$(runs 8)
[ "$waits" = "sleep 5 sleep 10 sleep 20 sleep 40 sleep 60 sleep 60 sleep 60 " ] || fail "back-off waits: \"$waits\""
grep -q '^display 3 1 http://t.example instance=3-1$' "$RECORD" || fail "the display was not run: $(cat "$RECORD")"
grep -q 'waiting 60 s' "$work/err" || fail "the wait is not logged: $(cat "$work/err")"

# A start ten minutes after the last one is not a quick restart.
uptime=$(cut -d. -f1 /proc/uptime)
echo "5 $((uptime - 601))" >"$work/run/plasma-display/back-off-3-1"
waits=$(runs 2)
[ "$waits" = "sleep 5 " ] || fail "after a long run the back-off starts again: \"$waits\""

# By hand (no service manager) or with a damaged count, it never waits.
waits=$(: >"$RECORD"; XDG_RUNTIME_DIR="$work/run" "$work/bin/plasma-display-launch" 3-1 2>/dev/null; grep -c '^sleep' "$RECORD" || true)
[ "$waits" = 0 ] || fail "waited when run by hand"
echo "garbage here" >"$work/run/plasma-display/back-off-3-1"
waits=$(runs 1)
[ -z "$waits" ] || fail "a damaged count made it wait: \"$waits\""

# Wrong names: status 2, and the line carries the error priority when stderr is the journal.
set +e
JOURNAL_STREAM=$(stat -L -c '%d:%i' "$work/err") "$work/bin/plasma-display-launch" 3 2>"$work/err"
status=$?
set -e
[ "$status" = 2 ] || fail "a wrong name ends with $status, not 2"
grep -q '^<3>plasma-display-launch: instance "3" is not TYPE-SCREEN' "$work/err" || fail "journal line: $(cat "$work/err")"
"$work/bin/plasma-display-launch" 3 2>"$work/err" && fail "a wrong name was accepted"
grep -q '^plasma-display-launch: instance "3"' "$work/err" || fail "plain line: $(cat "$work/err")"

# The autostart entry is a valid desktop entry that starts the user unit through the launcher.
"$work/bin/plasma-display-launch" --autostart 3-1 >"$work/plasma-display-3-1.desktop"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$work/plasma-display-3-1.desktop" || fail "the autostart entry is not valid"
fi
grep -qx 'Exec=plasma-display-launch --session-start 3-1' "$work/plasma-display-3-1.desktop" ||
  fail "autostart Exec: $(grep Exec "$work/plasma-display-3-1.desktop")"
"$work/bin/plasma-display-launch" --autostart 'x;rm' >/dev/null 2>&1 && fail "--autostart took a wrong name"

: >"$RECORD"
DISPLAY=:7 XAUTHORITY=/tmp/xa WAYLAND_DISPLAY= "$work/bin/plasma-display-launch" --session-start 3-1
expected="systemctl --user import-environment DISPLAY XAUTHORITY
systemctl --user start --no-block plasma-display@3-1.service"
[ "$(cat "$RECORD")" = "$expected" ] || fail "--session-start ran: $(cat "$RECORD")"
(unset DISPLAY WAYLAND_DISPLAY; "$work/bin/plasma-display-launch" --session-start 3-1 2>/dev/null) &&
  fail "--session-start outside a graphical session succeeded"

if [ "$failures" -gt 0 ]; then
  echo "$failures launcher check(s) failed" >&2
  exit 1
fi
echo "launcher checks passed"
