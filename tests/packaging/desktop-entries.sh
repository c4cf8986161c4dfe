#!/usr/bin/env bash
# Both desktop entries pass desktop-file-validate.
set -uo pipefail
source "$(dirname "$0")/check.sh"
for entry in "$SOURCE_DIR/data/vesperine.desktop" "$SOURCE_DIR/data/vesperine-autostart.desktop"; do
    output=$(desktop-file-validate "$entry" 2>&1)
    check "${entry##*/} validates" test -z "$output"
    [ -z "$output" ] || echo "$output"
done
finish
