#!/bin/sh
# cpack -G DEB builds a package that holds the installation under /usr,
# names its maintainer, version and computed dependencies, and whose
# programs run once unpacked.
. "$(dirname "$0")/common.sh"
need cpack cmake
need dpkg-deb dpkg
need dpkg-shlibdeps dpkg-dev
need file file

# The package goes to the scratch directory; cpack stages there too.
if ! (cd "$BUILD_DIR" && cpack -G DEB -B "$scratch/pkg") >"$scratch/cpack.log" 2>&1; then
	cat "$scratch/cpack.log" >&2
	fail "cpack -G DEB failed"
fi
set -- "$scratch"/pkg/ndirtools_"$PROJECT_VERSION"_*.deb
[ -f "$1" ] || fail "no ndirtools_${PROJECT_VERSION}_*.deb made"
deb=$1

# Contents: exactly the installation, with /usr as prefix.
dpkg-deb -c "$deb" >"$scratch/contents" || fail "dpkg-deb -c cannot read $deb"
awk '$1 !~ /^d/ { sub(/^\.\/usr\//, "", $6); print $6 }' "$scratch/contents" |
    sort >"$scratch/have"
expected_files | sort >"$scratch/want"
if ! cmp -s "$scratch/want" "$scratch/have"; then
	diff "$scratch/want" "$scratch/have" >&2 || :
	fail "package contents differ from the installation (< missing, > extra)"
fi

# Control fields: field, then a pattern its value must match.
while IFS='|' read -r field pattern; do
	value=$(dpkg-deb -f "$deb" "$field")
	echo "$value" | grep -Eq "$pattern" ||
	    fail "control field $field is '$value', expected /$pattern/"
done <<FIELDS
Package|^ndirtools\$
Version|^$PROJECT_VERSION\$
Maintainer|<maintainers@users\.noreply\.c-seed-8cfad3b4\.example>
Depends|(^|, )libc6 \(>=
Depends|libstdc\+\+6
Recommends|libfl-dev
Description|^tools for migrating the files of NetWare NDIR listings
FIELDS

# Unpacked, the programs run and the paths name /usr.
dpkg-deb -x "$deb" "$scratch/root" || fail "dpkg-deb -x failed"
out=$(printf 'FS1\\SYS:\n\nDirectories:\nPUBLIC            [SRWCEMFA] [SRWCEMFA] SUPERVISO   1-01-95 12:00a\n\n' |
    "$scratch/root/usr/$BINDIR/dresk")
[ "$out" = 'FS1\SYS:PUBLIC' ] || fail "packaged dresk printed: $out"
grep -qxF "ExecStart=/usr/$BINDIR/Vantrel" "$scratch/root/usr/lib/systemd/system/vantrel.service" ||
    fail "the packaged unit does not start /usr/$BINDIR/Vantrel"
grep -qxF "libdir=/usr/$LIBDIR" "$scratch/root/usr/$LIBDIR/pkgconfig/skelda.pc" ||
    fail "the packaged skelda.pc does not name /usr/$LIBDIR"
echo "package $(basename "$deb") complete"
