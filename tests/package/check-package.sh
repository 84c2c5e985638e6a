#!/usr/bin/env bash
# The Debian package: made with CPack from the build tree, unpacked into a temporary root, every file
# where the menu entry expects it, the program runs from its link, and the control file lists the
# dependencies that dpkg-shlibdeps cannot find by itself.
# Usage: check-package.sh BUILD_DIR
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack"; }
deb="$(ls "$work"/out/pelio_*_amd64.deb 2>/dev/null | head -1)"
[ -n "$deb" ] || fail "no package made"

root="$work/root"
dpkg -x "$deb" "$root"
entry="$root/usr/share/applications/pelio.desktop"
[ -f "$entry" ] || fail "no menu entry"
# Every Exec of the entry names a program in /usr/bin of the package; the icon is in the theme.
while read -r exec; do
  program="${exec%% *}"
  [ -x "$root/usr/bin/$program" ] || fail "Exec $program is not in /usr/bin"
done < <(sed -n 's/^Exec=//p' "$entry")
icon="$(sed -n 's/^Icon=//p' "$entry")"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon $icon missing"
[ "$(readlink "$root/usr/bin/pelio")" = "../lib/pelio/pelio" ] || fail "/usr/bin/pelio does not lead to the program"
[ -f "$root/usr/lib/pelio/system/chat.wav" ] || fail "the chat sound is missing"
[ "$("$root/usr/bin/pelio" --version)" = "pelio $(dpkg-deb -f "$deb" Version)" ] || fail "the unpacked program does not run"

depends="$(dpkg-deb -f "$deb" Depends)"
for needed in fonts-nanum xdg-utils libqt6webenginewidgets6 libqt6webenginecore6-bin libcurl4 libvncserver1; do
  grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
echo "package ok: $(basename "$deb")"
