# Shared by the packaging tests: `check <description> <command...>` runs the
# command, reports, and counts failures; `finish` ends with the verdict.
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
finish() {
    echo "$failures failed"
    [ "$failures" -eq 0 ]
}
# What an installation holds, below its prefix.
installed_files="bin/vesperine lib/vesperine/libvesperine-interface.so
    share/applications/vesperine.desktop share/icons/hicolor/scalable/apps/vesperine.svg
    share/man/man1/vesperine.1 share/vesperine/vesperine.desktop"
