#!/bin/sh
# SPDX-License-Identifier: ISC
# Every manual page renders with man -l without a formatter warning, shows
# the project's version, and has the sections a reader looks for.
. "$(dirname "$0")/common.sh"
need man man-db

# page, then the sections it must have besides NAME, SYNOPSIS,
# DESCRIPTION, EXAMPLES, DIAGNOSTICS and CAVEATS.
while read -r page sections; do
	file=$BUILD_DIR/man/$page
	[ -f "$file" ] || fail "$page was not generated"
	if ! MANWIDTH=80 MAN_KEEP_FORMATTING= man --warnings -E ascii -l "$file" \
	    >"$scratch/page" 2>"$scratch/warnings" || [ -s "$scratch/warnings" ]; then
		cat "$scratch/warnings" >&2
		fail "$page: man -l reports problems"
	fi
	# man strips the overstriking when its output is no terminal.
	grep -q "ndirtools $PROJECT_VERSION" "$scratch/page" ||
	    fail "$page: the version $PROJECT_VERSION is not shown"
	for s in NAME SYNOPSIS DESCRIPTION EXAMPLES DIAGNOSTICS CAVEATS $sections; do
		grep -q "^$(echo "$s" | tr _ ' ')\$" "$scratch/page" ||
		    fail "$page: no section $s"
	done
done <<'PAGES'
torbek00.1	EXIT_STATUS
dresk.1	EXIT_STATUS
ndircheck.1	EXIT_STATUS ENVIRONMENT
Vantrel.8	EXIT_STATUS FILES
filemap.3	RETURN_VALUES LIBRARY
ndirlexer.3	RETURN_VALUES LIBRARY
PAGES
# The characters that DOS never allows show one by one as listed, in the
# rule and in the warning that names it.
shown=$(MANWIDTH=80 man -E ascii -l "$BUILD_DIR/man/torbek00.1" 2>/dev/null |
    tr -s ' \n' '  ' | grep -o -F '* ? + , ; = [ ]' | wc -l)
[ "$shown" -eq 2 ] ||
    fail "torbek00.1: the characters DOS never allows show as listed $shown times, not twice"
echo "all pages render"
