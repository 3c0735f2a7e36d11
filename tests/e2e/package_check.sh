#!/usr/bin/env bash
# Builds the Debian package from a build folder (whose programs are built) and checks what it
# holds, what it depends on, and that its programs run.
#   package_check.sh BUILD-DIR
set -euo pipefail
build=$1
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
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: cpack made no single .deb" >&2; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

contents=$(dpkg-deb -c "$deb")
expect_entry() {  # mode-prefix path
  grep -Eq "^$1 .* \./$2\$" <<<"$contents" || fail "no $2 (mode $1) in the package"
}
for program in plasma-display plasma-render timetable-sim plasma-display-launch; do
  expect_entry -rwxr-xr-x "usr/bin/$program"
done
expect_entry -rw-r--r-- "usr/lib/systemd/system/plasma-display@.service"
expect_entry -rw-r--r-- "usr/lib/systemd/user/plasma-display@.service"
expect_entry -rw-r--r-- "usr/share/doc/plasma-display/README.md"
expect_entry -rw-r--r-- "usr/share/doc/plasma-display/example.conf"
for picture in "$(dirname "$0")"/../../resources/pictures/*; do
  expect_entry -rw-r--r-- "usr/share/plasma-display/pictures/$(basename "$picture")"
done
if grep -Ev ' \./usr/(bin|lib/systemd/(system|user)|share/(doc/)?plasma-display)(/|$)| \./usr/(lib/systemd/|lib/|share/|share/doc/)?$' <<<"$contents" | grep -q .; then
  fail "files outside the expected folders: $(grep -Ev ' \./usr/(bin|lib/systemd/(system|user)|share/(doc/)?plasma-display)(/|$)| \./usr/(lib/systemd/|lib/|share/|share/doc/)?$' <<<"$contents")"
fi

[ "$(dpkg-deb -f "$deb" Package)" = plasma-display ] || fail "Package is not plasma-display"
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
for needed in fonts-liberation libsdl2-2.0-0 libspng0 libjpeg62-turbo libgif7 libcairo2 libcurl4 libfontconfig1; do
  grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done
control=$(dpkg-deb -I "$deb")
grep -q ' postinst ' <<<"$control" || fail "no postinst (daemon-reload)"

dpkg-deb -x "$deb" "$out/root"
version=$("$out/root/usr/bin/plasma-display" --version) || fail "the packaged plasma-display does not run"
[ "$version" = "plasma-display $(dpkg-deb -f "$deb" Version)" ] || fail "--version says \"$version\""
for program in plasma-render timetable-sim; do
  "$out/root/usr/bin/$program" --version >/dev/null || fail "the packaged $program --version failed"
done
file -L "$out/root/usr/bin/plasma-display" | grep -q ', stripped' || fail "plasma-display is not stripped"
grep -q '^ExecStart=/usr/bin/plasma-display-launch %i$' "$out/root/usr/lib/systemd/system/plasma-display@.service" ||
  fail "the unit does not start the launcher"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package checks passed"
