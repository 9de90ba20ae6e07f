#!/bin/sh
# Every manual page passes mandoc's checker without a warning or error.
# (Style remarks, such as the version given to .Os, are not failures.)
. "$(dirname "$0")/common.sh"
need mandoc mandoc

for page in torbek00.1 dresk.1 Vantrel.8 filemap.3 ndirlexer.3; do
	file=$BUILD_DIR/man/$page
	[ -f "$file" ] || fail "$page was not generated"
	if ! mandoc -T lint -W warning "$file" >"$scratch/lint" 2>&1 ||
	    [ -s "$scratch/lint" ]; then
		cat "$scratch/lint" >&2
		fail "$page: mandoc -T lint reports problems"
	fi
done
echo "all pages lint-clean"
