#!/usr/bin/env bash
# The console unit under a real service manager: systemd 252 booted as PID 1 in a container
# (systemd-nspawn over this machine's own /usr), the display run by the unit as packaged but on a
# virtual monitor (no GPU here), against timetable-sim on this machine. It checks what the unit
# promises: the sandbox does not stop the display, ready only with a page up, status and metrics
# in /run/plasma-display for the group only, the getty of its VT stopped, the journal priorities,
# a crash and a freeze restarted with the launcher's back-off and never failed for good, the
# maintainer scripts restarting the display on an upgrade and stopping it on removal,
# the metrics gone when it stops. Skipped (77) where containers cannot boot.
#   unit_check.sh BUILD-DIR
set -euo pipefail
build=$(readlink -f "$1")
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
skip() {
  echo "SKIPPED: $*"
  exit 77
}
command -v systemd-nspawn >/dev/null || skip "no systemd-nspawn (package systemd-container)"
[ "$(id -u)" = 0 ] || skip "containers need root"

work=$(mktemp -d "${TMPDIR:-/tmp}/plasma-unit.XXXXXX")
root=$work/root
sim_pid=
boot_pid=
cleanup() {
  if [ -n "$boot_pid" ] && kill -0 "$boot_pid" 2>/dev/null; then
    inside systemctl poweroff >/dev/null 2>&1 || kill "$boot_pid" 2>/dev/null || true
    wait "$boot_pid" 2>/dev/null || true
  fi
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The timetable server, on this machine (the container shares its network), with its pictures
# over HTTP, so the display's picture cache is written through the sandbox.
"$build/bin/timetable-sim" --port 0 --picture-style urls >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do grep -q 'listening on' "$work/sim.log" && break; sleep 0.1; done
url=$(sed -n 's/.*listening on \(http:[^ ]*\).*/\1/p' "$work/sim.log")
[ -n "$url" ] || { echo "FAIL: timetable-sim did not start: $(cat "$work/sim.log")" >&2; exit 1; }

# A root of its own (/etc copied, /usr this machine's, the programs bound in /usr/local/bin).
mkdir -p "$root"/{usr,var,tmp,run,root,proc,sys,dev,home,opt/plasma/bin}
for d in bin lib lib64 sbin; do ln -s "usr/$d" "$root/$d"; done
cp -a /etc "$root/etc"
rm -f "$root/etc/os-release" "$root/etc/machine-id"
cp /usr/lib/os-release "$root/etc/os-release"
: >"$root/etc/machine-id"
cp "$build/bin/plasma-display" "$build/bin/plasma-display-launch" "$root/opt/plasma/bin/"
unit=$root/etc/systemd/system/plasma-display@.service
sed 's|/usr/bin/plasma-display-launch|/opt/plasma/bin/plasma-display-launch|' \
  "$source_dir/packaging/plasma-display@.service" >"$unit"
mkdir -p "$root/etc/sysusers.d" "$root/etc/plasma-display"
cp "$source_dir"/packaging/debian/{postinst,prerm,postrm} "$root/opt/plasma/"
cp "$source_dir/packaging/plasma-display.sysusers" "$root/etc/sysusers.d/plasma-display.conf"
printf 'PLASMA_BASE_URL=%s\nPLASMA_HEADLESS=640x360\n' "$url" >"$root/etc/plasma-display/3-1.conf"
# A login prompt on tty1 that a container can run.
cat >"$root/etc/systemd/system/getty@tty1.service" <<'UNIT'
[Service]
ExecStart=/bin/sleep infinity
UNIT

# A local policy-rc.d (containers often have one that forbids every start) is replaced by one that
# allows them, so the maintainer scripts act as on a screen PC.
policy=()
if [ -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 0\n' >"$work/allow"
  chmod +x "$work/allow"
  policy=(--bind-ro="$work/allow:/usr/sbin/policy-rc.d")
fi
systemd-nspawn -q -D "$root" --bind-ro=/usr "${policy[@]}" --register=no --keep-unit -M "plasma-check-$$" -b \
  --console=pipe >"$work/boot.log" 2>&1 </dev/null &
boot_pid=$!
init=
for _ in $(seq 100); do
  init=$(pgrep -P "$boot_pid" -x systemd || true)
  [ -n "$init" ] && break
  sleep 0.1
done
[ -n "$init" ] || skip "no container booted here: $(tail -3 "$work/boot.log")"
inside() { nsenter -t "$init" -a "$@"; }
for _ in $(seq 100); do
  state=$(inside systemctl is-system-running 2>/dev/null || true)
  case $state in running | degraded) break ;; esac
  sleep 0.2
done
echo "container: systemd $(inside systemctl --version | sed -n '1s/systemd \([0-9]*\).*/\1/p'), $state"

inside systemd-sysusers >/dev/null
inside systemctl start getty@tty1
inside useradd --no-create-home --groups plasma-display monitor
inside useradd --no-create-home outsider

# Ready only once a page is up, under every setting of the unit.
inside systemctl start plasma-display@3-1 || fail "the unit did not start: $(inside journalctl -u plasma-display@3-1 --no-pager | tail -5)"
inside systemctl is-active -q plasma-display@3-1 || fail "not active after start"
inside systemctl is-active -q getty@tty1 && fail "the login prompt on tty1 still runs beside the display"
pid=$(inside systemctl show -p MainPID --value plasma-display@3-1)
proc=$(inside cat "/proc/$pid/status")
grep -q "^Uid:.*$(inside id -u plasma-display)" <<<"$proc" || fail "not run as plasma-display"
grep -q '^CapBnd:	0000000000000000' <<<"$proc" || fail "capabilities left: $(grep Cap <<<"$proc")"
grep -q '^NoNewPrivs:	1' <<<"$proc" || fail "no NoNewPrivileges"
grep -q '^Seccomp:	2' <<<"$proc" || fail "no system-call filter"
[ "$(inside readlink "/proc/$pid/exe")" = /opt/plasma/bin/plasma-display ] || fail "the launcher did not exec the display"

status=/run/plasma-display/status-3-1.json
prom=/run/plasma-display/plasma-display-3-1.prom
for _ in $(seq 100); do inside grep -q '"lastGoodLoad": "' "$status" 2>/dev/null && break; sleep 0.1; done
inside grep -q '"lastGoodLoad": "' "$status" || fail "no good load through the sandbox: $(inside cat "$status" 2>&1)"
[ "$(inside stat -c '%U:%G %a' /run/plasma-display)" = "plasma-display:plasma-display 750" ] ||
  fail "runtime folder: $(inside stat -c '%U:%G %a' /run/plasma-display)"
[ "$(inside stat -c '%a' "$status")" = 640 ] || fail "status mode $(inside stat -c '%a' "$status")"
inside runuser -u monitor -- cat "$status" "$prom" >/dev/null || fail "the monitoring group cannot read the status"
inside runuser -u outsider -- cat "$status" >/dev/null 2>&1 && fail "anybody can read the status"
inside test -e /var/lib/private/plasma-display && fail "state under /var/lib/private"
grep -q "\[plasma-display/[^ ]* (instance 3-1)\]" "$work/sim.log" || fail "no User-Agent at the server: $(tail -2 "$work/sim.log")"
# The pictures are fetched ahead after the first load, into the service's cache folder.
cache=/var/cache/plasma-display/pictures-3-1
for _ in $(seq 100); do [ "$(inside sh -c "ls $cache/*.pic 2>/dev/null | wc -l")" = 4 ] && break; sleep 0.1; done
[ "$(inside sh -c "ls $cache/*.pic 2>/dev/null | wc -l")" = 4 ] ||
  fail "the pictures did not reach $cache: $(inside ls -la "$cache" 2>&1; inside journalctl -q -u plasma-display@3-1 --no-pager | grep picture | tail -3)"
[ "$(inside stat -c '%U' "$cache")" = plasma-display ] || fail "cache folder owner: $(inside stat -c '%U' "$cache")"

# The journal files each line under its priority.
inside systemctl kill -s USR1 plasma-display@3-1
for _ in $(seq 50); do inside test -s /run/plasma-display/screenshot-3-1.png && break; sleep 0.1; done
inside test -s /run/plasma-display/screenshot-3-1.png || fail "no screenshot"
sleep 0.5
inside journalctl -q -u plasma-display@3-1 -p notice --no-pager | grep -q 'screenshot written' ||
  fail "the screenshot line is not in the journal as a notice"
inside journalctl -q -u plasma-display@3-1 -p warning --no-pager | grep -q 'screenshot written' &&
  fail "a notice was filed as a warning"

# A crash is restarted; the second quick start waits 5 s first; a freeze is caught by the watchdog.
inside systemctl kill -s KILL plasma-display@3-1
for _ in $(seq 150); do
  [ "$(inside systemctl show -p MainPID --value plasma-display@3-1)" != "$pid" ] &&
    inside systemctl is-active -q plasma-display@3-1 && break
  sleep 0.2
done
inside systemctl is-active -q plasma-display@3-1 || fail "not back after a crash"
inside journalctl -q -u plasma-display@3-1 --no-pager | grep -q 'waiting 5 s' || fail "no back-off before the quick restart"
pid=$(inside systemctl show -p MainPID --value plasma-display@3-1)
if [ "${UNIT_CHECK_WATCHDOG:-1}" = 1 ]; then
  inside kill -STOP "$pid"
  for _ in $(seq 300); do
    [ "$(inside systemctl show -p MainPID --value plasma-display@3-1)" != "$pid" ] &&
      inside systemctl is-active -q plasma-display@3-1 && break
    sleep 0.2
  done
  inside journalctl -q -u plasma-display@3-1 --no-pager | grep -q 'Watchdog timeout' || fail "a frozen display was not caught"
  inside systemctl is-active -q plasma-display@3-1 || fail "not back after a freeze"
fi
[ "$(inside systemctl show -p Result --value plasma-display@3-1)" = success ] || true
inside systemctl is-failed -q plasma-display@3-1 && fail "the unit is failed"

# The maintainer scripts, the Debian way: an upgrade restarts the running display on the new
# program without waiting for it, a removal stops it, a first install starts nothing. (The user
# managers' part is checked with a stand-in in package_check.sh: a user manager in this container
# answers too slowly through --machine to be a test.)
system_pid=$(inside systemctl show -p MainPID --value plasma-display@3-1)
inside /opt/plasma/postinst configure 4.9.0 || fail "postinst configure (upgrade) failed"
restarted=no
for _ in $(seq 200); do
  if [ "$(inside systemctl show -p MainPID --value plasma-display@3-1)" != "$system_pid" ] &&
    inside systemctl is-active -q plasma-display@3-1; then
    restarted=yes
    break
  fi
  sleep 0.2
done
[ "$restarted" = yes ] || fail "an upgrade did not restart the console display"
inside /opt/plasma/prerm remove || fail "prerm remove failed"
inside systemctl is-active -q plasma-display@3-1 && fail "a removal left the console display running"
inside /opt/plasma/postrm remove || fail "postrm remove failed"
inside /opt/plasma/postinst configure "" || fail "postinst configure (install) failed"
inside systemctl is-active -q plasma-display@3-1 && fail "a first install started a display nobody enabled"
inside systemctl start plasma-display@3-1

# Stopped: the metrics go (a scraper must not see a healthy display), the status stays for the record.
inside systemctl stop plasma-display@3-1
inside test -e "$prom" && fail "the metrics outlive the display"
inside test -e "$status" || fail "the status went with the display"

if [ "$failures" -gt 0 ]; then
  echo "--- journal" >&2
  inside journalctl -u plasma-display@3-1 --no-pager | tail -20 >&2 || true
  echo "$failures unit check(s) failed" >&2
  exit 1
fi
echo "unit checks passed"
