#!/bin/sh
# SPDX-License-Identifier: ISC
# Programs build against an installation with nothing but the flags of
# pkg-config, and run: installed into its prefix, and staged for /usr
# under DESTDIR (as in a package build), read through pkg-config's sysroot;
# so do the commands of filemap(3)'s example.
. "$(dirname "$0")/common.sh"

install_into "$scratch/prefix"
check_consumers "$scratch/prefix/$LIBDIR/pkgconfig"

# filemap(3)'s example, as a reader copies it from the installed page,
# builds with each command the page gives (through the installation's
# .pc files, and with the sanitizer runtime where they ask for it) and
# counts the lines of a listing.
need man man-db
ex=$scratch/example
mkdir "$ex"
MANWIDTH=200 man -E ascii -l "$scratch/prefix/$MANDIR/man3/filemap.3" 2>/dev/null |
    sed -n '/^EXAMPLES/,/^DIAGNOSTICS/p' >"$ex/page"
awk '/#include <stdio.h>/ { i = index($0, "#") } /Build it/ { exit } i { print substr($0, i) }' \
    "$ex/page" >"$ex/lines.c"
awk '/^ *\$ cc / { sub(/^ *\$ cc /, ""); c = 1 }
    c { all = all $0; if (sub(/\\$/, "", all)) next; print all; all = ""; c = 0 }' \
    "$ex/page" >"$ex/commands"
[ "$(wc -l <"$ex/commands")" -eq 2 ] || fail "filemap(3) shows not two commands: $(cat "$ex/commands")"
want="$(wc -l <"$EXAMPLES/oldserv-users.lst" | tr -d ' ') $EXAMPLES/oldserv-users.lst"
while read -r command; do
	rm -f "$ex/lines"
	(cd "$ex" && CC="$CC $(pkg-config --libs-only-other skelda)" sh -c "\$CC $command" </dev/null) ||
	    fail "filemap(3)'s example does not build with: cc $command"
	have=$("$ex/lines" "$EXAMPLES/oldserv-users.lst") || fail "filemap(3)'s example fails"
	[ "$have" = "$want" ] || fail "filemap(3)'s example printed '$have', not '$want'"
done <"$ex/commands"
install_into /usr "$scratch/stage"
check_consumers "$scratch/stage/usr/$LIBDIR/pkgconfig" "$scratch/stage"
echo "both consumers build and run"
