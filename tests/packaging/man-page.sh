#!/usr/bin/env bash
# The man page renders without a single groff warning and names every
# command of the help text, plus the two engine commands the help leaves out.
set -uo pipefail
source "$(dirname "$0")/check.sh"
page=$SOURCE_DIR/docs/vesperine.1

warnings=$(groff -ww -man -z "$page" 2>&1)
check "groff -ww reports nothing" test -z "$warnings"
[ -z "$warnings" ] || echo "$warnings"
rendered=$(MANWIDTH=100 man -l "$page" 2>"${TMPDIR:-/tmp}/man-warnings.$$" | col -b)
check "man -l renders without warnings" test ! -s "${TMPDIR:-/tmp}/man-warnings.$$"
rm -f "${TMPDIR:-/tmp}/man-warnings.$$"

commands=$("$BUILD_DIR/bin/vesperine" --help | grep -oE -- '--[a-z-]+' | sort -u)
for command in $commands --engine-status --engine-reconcile -h; do
    check "documents $command" grep -qE -- "(^|[^a-z-])$command([^a-z-]|$)" <<<"$rendered"
done
for word in XDG_CONFIG_HOME XDG_STATE_HOME DISPLAY TZ settings.ini color-filter.ini \
            sunriseOffsetMinutes sunsetOffsetMinutes "EXIT STATUS"; do
    check "mentions $word" contains "$rendered" "$word"
done
finish
