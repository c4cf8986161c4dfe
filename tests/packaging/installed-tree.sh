#!/usr/bin/env bash
# Installs the build into a temporary prefix, runs the installed program, then
# moves the whole prefix elsewhere and runs it again from there.
set -uo pipefail
source "$(dirname "$0")/check.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_STATE_HOME=$work/home/state TZ=UTC
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

cmake --install "$BUILD_DIR" --prefix "$work/prefix" >/dev/null || { echo "FAIL install"; exit 1; }

for expected in $installed_files; do
    check "installed $expected" test -f "$work/prefix/$expected"
done

runs_from() {
    local prefix=$1 exe=$1/bin/vesperine out
    out=$("$exe" --help) && contains "$out" "  --help                        this help" || return 1
    out=$("$exe" --decide --lat 38.72 --lon -9.14) && contains "$out" "decision: " || return 1
    out=$("$exe" --selftest) && contains "$out" "selftest: 3 passed, 0 failed" || return 1
    out=$("$exe" --render-panel "$work/pictures-${prefix##*/}") || return 1
    contains "$out" "wrote panel evidence -> $work/pictures-${prefix##*/}" || return 1
    [ "$(ls "$work/pictures-${prefix##*/}" | wc -l)" -eq 4 ]
}
check "runs from the prefix it was installed to" runs_from "$work/prefix"

mv "$work/prefix" "$work/moved"
check "runs from a moved prefix" runs_from "$work/moved"
check "the module is found beside the moved executable" \
    test -z "$("$work/moved/bin/vesperine" --selftest 2>&1 >/dev/null)"
finish
