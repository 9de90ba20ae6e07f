#!/bin/sh
# SPDX-License-Identifier: ISC
# Every manual page, as installed, passes mandoc's checker at its strictest
# level short of OpenBSD's own conventions (-W style).  Cross-references
# are looked up among the installed pages and the system's: one to a page
# of another package that this machine lacks is noted, not failed, since
# it says nothing about the page.
. "$(dirname "$0")/common.sh"
need mandoc mandoc

prefix=$scratch/prefix
install_into "$prefix"
MANPATH=$prefix/$MANDIR:$(manpath -q 2>/dev/null || echo /usr/share/man)
export MANPATH

ours='Xr (torbek00 1|dresk 1|ndircheck 1|Vantrel 8|filemap 3|ndirlexer 3)( \([0-9]+ times\))?$'
for page in man1/torbek00.1 man1/dresk.1 man1/ndircheck.1 man8/Vantrel.8 man3/filemap.3 man3/ndirlexer.3; do
	file=$prefix/$MANDIR/$page
	[ -f "$file" ] || fail "$page was not installed"
	# Without a mandoc.db, mandoc says so for every page it finds.
	: >"$scratch/lint"
	mandoc -T lint -W style "$file" 2>&1 |
	    awk -v ours="$ours" -v out="$scratch/lint" '
		/outdated mandoc\.db/ { next }
		/referenced manual not found/ && $0 !~ ours { print "note: " $0; next }
		{ print >out }'
	if [ -s "$scratch/lint" ]; then
		cat "$scratch/lint" >&2
		fail "$page: mandoc -T lint -W style reports problems"
	fi
done
echo "all pages lint-clean"
