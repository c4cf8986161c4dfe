#!/usr/bin/env bash
# Builds the Debian package, unpacks it, and checks its files and declared
# dependencies.
set -uo pipefail
source "$(dirname "$0")/check.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$BUILD_DIR" && cpack -G DEB -B "$work/out" >/dev/null) || { echo "FAIL cpack"; exit 1; }
deb=$(ls "$work"/out/vesperine_*.deb 2>/dev/null | head -n 1)
check "a package file was made" test -f "$deb"
dpkg-deb -x "$deb" "$work/root"
files=$(cd "$work/root" && find . -type f | sort)
for expected in $installed_files; do
    check "package holds usr/$expected" contains "$files" "./usr/$expected"
done
check "package holds nothing from the build tree or the tests" \
    test -z "$(grep -E '_tests$|/include/|\.a$|trivial_program|benchmark' <<<"$files")"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libqt6dbus6 libgeonames0 libglib2.0-0 \
              libxcb1 libxcb-randr0 libwayland-client0 libgeonames-common; do
    check "depends on $needed" grep -qE "(^|, )$needed( |,|$)" <<<"$depends"
done
# Only run-time libraries: no development packages, no test tools.
check "depends on no development or test package" \
    test -z "$(tr ',' '\n' <<<"$depends" | grep -E -- '-dev|xvfb|openbox|trayer|gtest|benchmark')"
check "the unpacked program runs" \
    bash -c "\"$work/root/usr/bin/vesperine\" --help | grep -q 'this help'"
# The files are stripped; the module must still find the executable's core.
check "the unpacked program loads its interface module" \
    bash -c "env -u DISPLAY -u WAYLAND_DISPLAY \"$work/root/usr/bin/vesperine\" --selftest | grep -q '3 passed, 0 failed'"
finish
