#!/usr/bin/env bash
# Builds the Debian packages from a build folder (whose programs are built) and checks them as an
# operator's machine would meet them: what they hold and depend on, lintian, the hardening of the
# programs, the units (systemd-analyze), and an install, upgrade, removal and purge into a
# separate root; then the maintainer scripts against a stand-in service manager.
#   package_check.sh BUILD-DIR
set -euo pipefail
build=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
for program in plasma-display plasma-render timetable-sim; do
  [ -x "$build/bin/$program" ] || { echo "FAIL: $build/bin/$program is not built" >&2; exit 1; }
done

out=$(mktemp -d "${TMPDIR:-/tmp}/plasma-package.XXXXXX")
trap 'rm -rf "$out"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

(cd "$build" && cpack -G DEB -B "$out") >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; exit 1; }
display=$(ls "$out"/plasma-display_*.deb 2>/dev/null || true)
tools=$(ls "$out"/plasma-display-tools_*.deb 2>/dev/null || true)
[ -f "$display" ] && [ -f "$tools" ] || { echo "FAIL: cpack made no plasma-display and plasma-display-tools: $(ls "$out")" >&2; exit 1; }
version=$(dpkg-deb -f "$display" Version)
echo "packages: $(basename "$display") ($(stat -c %s "$display") bytes), $(basename "$tools") ($(stat -c %s "$tools") bytes)"

# ---- contents ----
expect_entry() {  # contents mode-prefix path
  grep -Eq "^$2 .* \./$3\$" <<<"$1" || fail "no $3 (mode $2) in the package"
}
no_entry() {  # contents path-regex
  if grep -Eq " \./$2\$" <<<"$1"; then fail "$2 should not be in this package"; fi
}
shown=$(dpkg-deb -c "$display")
for program in plasma-display plasma-display-launch; do
  expect_entry "$shown" -rwxr-xr-x "usr/bin/$program"
  expect_entry "$shown" -rw-r--r-- "usr/share/man/man1/$program.1.gz"
done
for unit in system user; do
  expect_entry "$shown" -rw-r--r-- "usr/lib/systemd/$unit/plasma-display@.service"
done
expect_entry "$shown" -rw-r--r-- "usr/lib/sysusers.d/plasma-display.conf"
for doc in README.md example.conf copyright changelog.gz; do
  expect_entry "$shown" -rw-r--r-- "usr/share/doc/plasma-display/$doc"
done
expect_entry "$shown" -rw-r--r-- "usr/share/plasma-display/prometheus/plasma-display.rules.yml"
no_entry "$shown" "usr/bin/(plasma-render|timetable-sim)"
no_entry "$shown" "usr/share/plasma-display/pictures/.*"

tooled=$(dpkg-deb -c "$tools")
for program in plasma-render timetable-sim; do
  expect_entry "$tooled" -rwxr-xr-x "usr/bin/$program"
  expect_entry "$tooled" -rw-r--r-- "usr/share/man/man1/$program.1.gz"
done
for doc in copyright changelog.gz; do
  expect_entry "$tooled" -rw-r--r-- "usr/share/doc/plasma-display-tools/$doc"
done
for picture in "$source_dir"/resources/pictures/*; do
  expect_entry "$tooled" -rw-r--r-- "usr/share/plasma-display/pictures/$(basename "$picture")"
done
no_entry "$tooled" "usr/bin/plasma-display(-launch)?"
no_entry "$tooled" "usr/share/plasma-display/prometheus/.*"

# ---- control fields ----
depends=$(dpkg-deb -f "$display" Depends)
recommends=$(dpkg-deb -f "$display" Recommends)
echo "plasma-display depends: $depends; recommends: $recommends"
has() { grep -Eq "(^|, )$2( |,|$)" <<<"$1"; }
for needed in fonts-liberation libspng0 libjpeg62-turbo libgif7 libcairo2 libcurl4 libfontconfig1 libdrm2 \
  libxcb1 libwayland-client0; do
  has "$depends" "$needed" || fail "plasma-display Depends lacks $needed"
done
# The console shows dumb buffers through KMS: no GL stack on a screen PC, not even recommended.
for unwanted in 'libsdl2[-0-9.]*' 'libegl[-a-z0-9]*' 'libgles[0-9]*' 'libgbm[0-9]*' 'libgl1[-a-z]*' 'mesa[-a-z0-9]*'; do
  has "$depends, $recommends" "$unwanted" && fail "plasma-display pulls in $unwanted: $depends; $recommends"
done
has "$depends" 'libcpp-httplib[0-9.]*' && fail "the screen PCs' package pulls in the HTTP server library"
has "$(dpkg-deb -f "$tools" Depends)" 'libcpp-httplib[0-9.]*' || fail "plasma-display-tools lacks the HTTP server library"
control=$(dpkg-deb -I "$display")
for script in postinst prerm postrm; do
  grep -q " $script " <<<"$control" || fail "no $script in plasma-display"
done
changelog_version=$(gzip -dc "$build/packaging/changelog.gz" | sed -n '1s/^plasma-display (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] || fail "the changelog says $changelog_version, the package $version"

# ---- lintian: no errors, no warnings but the overridden ones (each with its reason) ----
if command -v lintian >/dev/null; then
  if ! lintian --fail-on error,warning --display-level '>=warning' "$display" "$tools" >"$out/lintian.log" 2>&1; then
    fail "lintian: $(cat "$out/lintian.log")"
  fi
else
  fail "lintian is not installed (scripts/install-deps installs it)"
fi

# ---- the programs: stripped, running, hardened ----
dpkg-deb -x "$display" "$out/root"
dpkg-deb -x "$tools" "$out/root"
# The rules as shipped are the ones the tests ran, and Prometheus's own checker takes them.
packaged_rules=$out/root/usr/share/plasma-display/prometheus/plasma-display.rules.yml
cmp -s "$packaged_rules" "$source_dir/packaging/prometheus/plasma-display.rules.yml" ||
  fail "the packaged Prometheus rules differ from packaging/prometheus/plasma-display.rules.yml"
if command -v promtool >/dev/null; then
  promtool check rules "$packaged_rules" >"$out/promtool.log" 2>&1 || fail "promtool check rules: $(cat "$out/promtool.log")"
else
  fail "promtool is not installed (scripts/install-deps installs prometheus)"
fi
[ "$("$out/root/usr/bin/plasma-display" --version)" = "plasma-display $version" ] || fail "plasma-display --version"
for program in plasma-render timetable-sim; do
  "$out/root/usr/bin/$program" --version >/dev/null || fail "the packaged $program --version failed"
done
for program in plasma-display plasma-render timetable-sim; do
  binary=$out/root/usr/bin/$program
  file -L "$binary" | grep -q ', stripped' || fail "$program is not stripped"
  headers=$(readelf -W -l -d "$binary")
  grep -q 'GNU_RELRO' <<<"$headers" || fail "$program: no read-only relocations"
  grep -Eq 'FLAGS.*BIND_NOW|FLAGS_1.*NOW' <<<"$headers" || fail "$program: not bound at start-up (bindnow)"
  grep -q 'FLAGS_1.*PIE' <<<"$headers" || fail "$program: not a position-independent executable"
  symbols=$(readelf -W --dyn-syms "$binary")
  grep -q '__stack_chk_fail' <<<"$symbols" || fail "$program: no stack protector"
done
grep -Eq '__[a-z]+_chk@' <<<"$(readelf -W --dyn-syms "$out/root/usr/bin/plasma-display")" ||
  fail "plasma-display: no fortified libc calls"

# ---- the units ----
grep -q '^ExecStart=/usr/bin/plasma-display-launch %i$' "$out/root/usr/lib/systemd/system/plasma-display@.service" ||
  fail "the unit does not start the launcher"
if command -v systemd-analyze >/dev/null; then
  # The units as packaged, with the launcher's path pointing into the unpacked package, so that
  # systemd checks the programs they name too.
  for unit in system user; do
    mkdir -p "$out/units/$unit"
    sed "s|/usr/bin/plasma-display-launch|$out/root/usr/bin/plasma-display-launch|" \
      "$out/root/usr/lib/systemd/$unit/plasma-display@.service" >"$out/units/$unit/plasma-display@.service"
    # Every setting must be one this systemd (252 on Debian 12) knows: it warns and goes on
    # otherwise, so the warnings fail the check.
    if ! XDG_RUNTIME_DIR=$out/units systemd-analyze verify --man=no "--$unit" \
      "$out/units/$unit/plasma-display@3-1.service" >"$out/verify.log" 2>&1 ||
      grep -Eiq 'unknown|invalid|failed|ignoring|not executable' "$out/verify.log"; then
      fail "systemd-analyze verify of the $unit unit: $(cat "$out/verify.log")"
    fi
  done
  exposure=$(systemd-analyze security --offline=true "$out/units/system/plasma-display@3-1.service" 2>&1 |
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
  echo "console unit exposure: $exposure"
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 3.0) }' || fail "console unit exposure \"$exposure\" is over 3.0"
else
  fail "systemd-analyze is not installed"
fi

# ---- the packaged display's metrics, read by the Prometheus client library's own parser ----
runtime=$out/runtime
mkdir -m 700 "$runtime"
env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$runtime" PLASMA_HEADLESS=320x180 PLASMA_BASE_URL=http://127.0.0.1:9 \
  "$out/root/usr/bin/plasma-display-launch" 3-1 >"$out/display.log" 2>&1 &
running=$!
prom=$runtime/plasma-display/plasma-display-3-1.prom
for _ in $(seq 100); do [ -s "$prom" ] && break; sleep 0.1; done
if [ -s "$prom" ]; then
  /usr/bin/python3 - "$prom" "$version" <<'PY' || fail "metrics: $(cat "$prom")"
import sys
from prometheus_client.parser import text_string_to_metric_families
samples = {s.name: s for f in text_string_to_metric_families(open(sys.argv[1]).read()) for s in f.samples}
assert samples["plasma_display_up"].value == 1, samples
info = samples["plasma_display_build_info"].labels
assert info == {"display": "3-1", "version": sys.argv[2], "type": "3", "screen": "1"}, info
assert samples["plasma_display_load_failures_in_a_row"].value >= 1, samples
assert "plasma_display_page_changes_total" in samples or "plasma_display_page_changes" in samples, samples
PY
else
  fail "the packaged display wrote no $prom: $(cat "$out/display.log")"
fi
kill "$running" 2>/dev/null || true
wait "$running" 2>/dev/null || true

# ---- install, upgrade, remove and purge into a separate root ----
# dpkg keeps its own database there; the maintainer scripts run on this machine with $DPKG_ROOT
# set, where they must create the account inside that root and touch no service manager.
root=$out/dpkg-root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/etc"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg_root() {
  dpkg --root="$root" --force-script-chrootless --force-depends --force-not-root --log=/dev/null "$@" \
    >>"$out/dpkg.log" 2>&1 || fail "dpkg $*: $(tail -5 "$out/dpkg.log")"
}
cpack_version() {  # version -> folder with the packages of that version
  mkdir -p "$out/v$1"
  (cd "$build" && cpack -G DEB -B "$out/v$1" -D CPACK_PACKAGE_VERSION="$1") >"$out/cpack-$1.log" 2>&1 ||
    fail "cpack of version $1: $(tail -5 "$out/cpack-$1.log")"
}
cpack_version "$version+next"
dpkg_root -i "$display" "$tools"
[ -x "$root/usr/bin/plasma-display" ] || fail "install: no plasma-display in the root"
if command -v systemd-sysusers >/dev/null; then
  grep -q '^plasma-display:' "$root/etc/passwd" 2>/dev/null || fail "install: no plasma-display account in the root"
fi
dpkg_root -i "$out/v$version+next"/plasma-display_*.deb "$out/v$version+next"/plasma-display-tools_*.deb
[ "$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f '${Version}' plasma-display)" = "$version+next" ] ||
  fail "upgrade: plasma-display is not at $version+next"
dpkg_root -r plasma-display-tools plasma-display
[ ! -e "$root/usr/bin/plasma-display" ] || fail "remove: plasma-display is still there"
[ -e "$root/usr/share/doc/plasma-display/example.conf" ] && fail "remove: documentation left behind"
mkdir -p "$root/var/cache/plasma-display/mesa" "$root/run/plasma-display"
dpkg_root -P plasma-display
[ ! -e "$root/var/cache/plasma-display" ] && [ ! -e "$root/run/plasma-display" ] || fail "purge left the cache or the runtime folder"

# ---- the maintainer scripts against a service manager ----
# A private mount namespace with /run/systemd/system present, a local policy that allows starts,
# and systemctl replaced by a stand-in that records its calls (deb-systemd-invoke is the real one).
if unshare -m true 2>/dev/null; then
  scripts=$out/scripts
  mkdir -p "$scripts/fake"
  dpkg-deb -e "$display" "$scripts"
  cat >"$scripts/fake/systemctl" <<'FAKE'
#!/bin/sh
echo "systemctl $*" >>"$RECORD"
case "$*" in
  *--version*) echo "systemd 252 (252)" ;;
  *list-units*) echo "user@1000.service loaded active running User Manager for UID 1000" ;;
esac
exit 0
FAKE
  printf '#!/bin/sh\necho "systemd-sysusers $*" >>"$RECORD"\n' >"$scripts/fake/systemd-sysusers"
  printf '#!/bin/sh\nexit %s\n' 0 >"$scripts/allow"
  printf '#!/bin/sh\nexit %s\n' 101 >"$scripts/deny"
  chmod +x "$scripts/fake/systemctl" "$scripts/fake/systemd-sysusers" "$scripts/allow" "$scripts/deny"
  run_script() {  # policy script args... -> the calls recorded
    local policy=$1
    shift
    : >"$scripts/record"
    RECORD=$scripts/record PATH="$scripts/fake:$PATH" unshare -m sh -c '
      mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system &&
      if [ -e /usr/sbin/policy-rc.d ]; then mount --bind "$0" /usr/sbin/policy-rc.d; else exit 3; fi &&
      "$@"' "$scripts/$policy" "$@" >/dev/null 2>&1 || echo "exit $?" >>"$scripts/record"
    grep -v ' is-active \| is-enabled \| --version' "$scripts/record" || true
  }
  if [ -e /usr/sbin/policy-rc.d ]; then
    calls=$(run_script allow "$scripts/postinst" configure "$version")
    for call in "systemd-sysusers plasma-display.conf" "systemctl --system daemon-reload" \
      "systemctl --system --no-block try-restart plasma-display@\*.service" \
      "systemctl --user --machine 1000@ --no-block try-restart plasma-display@\*.service"; do
      grep -qx "$call" <<<"$calls" || fail "upgrade: no \"$call\" in: $calls"
    done
    calls=$(run_script allow "$scripts/postinst" configure "")
    grep -q 'restart' <<<"$calls" && fail "a first install restarted displays: $calls"
    calls=$(run_script deny "$scripts/postinst" configure "$version")
    grep -q 'try-restart' <<<"$calls" && fail "the local policy (policy-rc.d 101) was not obeyed: $calls"
    calls=$(run_script allow "$scripts/prerm" remove)
    for call in "systemctl stop plasma-display@\*.service" "systemctl --quiet --user --machine 1000@ stop plasma-display@\*.service"; do
      grep -qx "$call" <<<"$calls" || fail "remove: no \"$call\" in: $calls"
    done
    calls=$(run_script allow "$scripts/prerm" upgrade "$version+next")
    [ -z "$calls" ] || fail "an upgrade stopped displays before the new program was in: $calls"
    calls=$(run_script allow "$scripts/postrm" remove)
    grep -qx "systemctl --system daemon-reload" <<<"$calls" || fail "postrm remove: $calls"
  else
    echo "note: no /usr/sbin/policy-rc.d to stand in for; maintainer scripts checked without a service manager only"
  fi
  # Without a running systemd (a container, an image build) they do nothing and succeed.
  : >"$scripts/record"
  if RECORD=$scripts/record PATH="$scripts/fake:$PATH" unshare -m sh -c 'mount -t tmpfs tmpfs /run && "$@"' sh \
    "$scripts/prerm" remove >/dev/null 2>&1; then
    [ -s "$scripts/record" ] && fail "without systemd prerm still called: $(cat "$scripts/record")"
  else
    fail "prerm remove failed without systemd"
  fi
else
  echo "note: no mount namespaces here; maintainer scripts checked through dpkg only"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package checks passed"
