#!/bin/sh
# SPDX-License-Identifier: ISC
# Programs build against an installation with nothing but the flags of
# pkg-config, and run: installed into its prefix, and staged for /usr
# under DESTDIR (as in a package build), read through pkg-config's sysroot;
# so do the commands of filemap(3)'s example.
. "$(dirname "$0")/common.sh"

install_into "$scratch/prefix"
check_consumers "$scratch/prefix/$LIBDIR/pkgconfig"

# filemap(3)'s example, copied from the installed page as shown, builds
# with each command the page gives (the sanitizer build's .pc files add
# its runtime) and counts the lines of a listing.
need man man-db
ex=$scratch/example
mkdir "$ex"
MANWIDTH=200 man -E ascii -l "$scratch/prefix/$MANDIR/man3/filemap.3" 2>/dev/null >"$ex/page"
awk '/#include <stdio.h>/ { i = index($0, "#") } /Build it/ { exit } i { print substr($0, i) }' \
    "$ex/page" >"$ex/lines.c"
awk '/^ *\$ cc / { sub(/^ *\$ cc /, ""); c = 1 }
    c { all = all $0; if (sub(/\\$/, "", all)) next; print all; all = ""; c = 0 }' "$ex/page" >"$ex/commands"
[ "$(wc -l <"$ex/commands")" -eq 2 ] || fail "filemap(3) shows not two commands: $(cat "$ex/commands")"
while read -r command; do
	rm -f "$ex/lines"
	(cd "$ex" && CC="$CC $(pkg-config --libs-only-other skelda)" sh -c "\$CC $command" </dev/null) &&
	    have=$("$ex/lines" "$EXAMPLES/oldserv-users.lst") || fail "filemap(3)'s example fails with: cc $command"
	[ "$have" = "$(wc -l <"$EXAMPLES/oldserv-users.lst") $EXAMPLES/oldserv-users.lst" ] ||
	    fail "filemap(3)'s example printed '$have'"
done <"$ex/commands"
install_into /usr "$scratch/stage"
check_consumers "$scratch/stage/usr/$LIBDIR/pkgconfig" "$scratch/stage"
echo "both consumers build and run"
