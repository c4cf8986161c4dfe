#!/usr/bin/env bash
# How the program is installed and shipped; one part per run:
#   packaging.sh installed-tree|debian-package|man-page|desktop-entries
# Each check prints "ok" or "FAIL" and what it checks; any FAIL fails the part.
set -uo pipefail
failures=0
check() {
    local description=$1
    shift
    if "$@"; then
        echo "ok   $description"
    else
        echo "FAIL $description"
        failures=$((failures + 1))
    fi
}
contains() { grep -qF -- "$2" <<<"$1"; }
holds_installation() {
    for expected in $installed_files; do
        check "$2$expected" test -f "$1/$expected"
    done
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_STATE_HOME=$work/home/state TZ=UTC
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
# What an installation holds, below its prefix.
installed_files="bin/vesperine lib/vesperine/libvesperine-interface.so
    share/applications/vesperine.desktop share/icons/hicolor/scalable/apps/vesperine.svg
    share/man/man1/vesperine.1 share/vesperine/vesperine.desktop"

# Installs into a temporary prefix and runs the program there, then moves the
# whole prefix elsewhere and runs it again from there.
installed_tree() {
    cmake --install "$BUILD_DIR" --prefix "$work/prefix" >/dev/null ||
        { echo "FAIL install"; exit 1; }
    holds_installation "$work/prefix" "installed "
    runs_from() {
        local exe=$1/bin/vesperine pictures=$work/pictures-${1##*/} out
        out=$("$exe" --help) && contains "$out" "  --help                        this help" || return 1
        out=$("$exe" --decide --lat 38.72 --lon -9.14) && contains "$out" "decision: " || return 1
        out=$("$exe" --selftest 2>"$work/selftest.err") || return 1
        contains "$out" "selftest: 3 passed, 0 failed" && [ ! -s "$work/selftest.err" ] || return 1
        out=$("$exe" --render-panel "$pictures") || return 1
        contains "$out" "wrote panel evidence -> $pictures" && [ "$(ls "$pictures" | wc -l)" -eq 4 ]
    }
    check "runs from the prefix it was installed to" runs_from "$work/prefix"
    mv "$work/prefix" "$work/moved"
    check "runs from a moved prefix" runs_from "$work/moved"
}

# Builds the package, unpacks it, and checks its files and declared dependencies.
debian_package() {
    (cd "$BUILD_DIR" && cpack -G DEB -B "$work/out" >/dev/null) || { echo "FAIL cpack"; exit 1; }
    local deb root=$work/root
    deb=$(ls "$work"/out/vesperine_*.deb 2>/dev/null | head -n 1)
    check "a package file was made" test -f "$deb"
    dpkg-deb -x "$deb" "$root"
    local files depends
    files=$(cd "$root" && find . -type f | sort)
    holds_installation "$root/usr" "package holds usr/"
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
    # The files are stripped; the module must still find the executable's core.
    check "the unpacked program loads its interface module" \
        bash -c "\"$root/usr/bin/vesperine\" --selftest | grep -q '3 passed, 0 failed'"
}

# The page renders without a single groff warning and names every command of
# the help text, plus the two engine commands the help leaves out.
man_page() {
    local page=$SOURCE_DIR/docs/vesperine.1 warnings rendered commands
    warnings=$(groff -ww -man -z "$page" 2>&1)
    check "groff -ww reports nothing" test -z "$warnings"
    [ -z "$warnings" ] || echo "$warnings"
    rendered=$(MANWIDTH=100 man -l "$page" 2>"$work/man-warnings" | col -b)
    check "man -l renders without warnings" test ! -s "$work/man-warnings"
    commands=$("$BUILD_DIR/bin/vesperine" --help | grep -oE -- '--[a-z-]+' | sort -u)
    check "the help text lists commands" test -n "$commands"
    for command in $commands --engine-status --engine-reconcile -h; do
        check "documents $command" grep -qE -- "(^|[^a-z-])$command([^a-z-]|$)" <<<"$rendered"
    done
    for word in XDG_CONFIG_HOME XDG_STATE_HOME DISPLAY TZ settings.ini color-filter.ini \
                sunriseOffsetMinutes sunsetOffsetMinutes "EXIT STATUS"; do
        check "mentions $word" contains "$rendered" "$word"
    done
}

desktop_entries() {
    local entry output
    for entry in "$SOURCE_DIR"/data/vesperine{,-autostart}.desktop; do
        output=$(desktop-file-validate "$entry" 2>&1)
        check "${entry##*/} validates" test -z "$output"
        [ -z "$output" ] || echo "$output"
    done
}

"${1//-/_}"
echo "$failures failed"
[ "$failures" -eq 0 ]
