#!/usr/bin/env bash
# The program's includes follow its declared layers, and an include against
# them (a view reaching into the tray shell) is caught.
set -euo pipefail
source_dir=$1
"$source_dir/scripts/check-layers" "$source_dir"

copy=$(mktemp -d); trap 'rm -rf "$copy"' EXIT
mkdir -p "$copy/scripts"
cp "$source_dir/scripts/check-layers" "$copy/scripts/"
cp -r "$source_dir/vesperine" "$copy/"
echo '#include "shell/AppDelegate.h"' >> "$copy/vesperine/views/PanelView.cpp"
if out=$("$copy/scripts/check-layers" "$copy"); then
    echo "an include against the layers went unnoticed" >&2; exit 1
fi
grep -q 'views/PanelView.cpp:.*views does not link shell' <<<"$out"
