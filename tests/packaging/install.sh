#!/bin/sh
# SPDX-License-Identifier: ISC
# cmake --install puts every file in place, under --prefix and under
# DESTDIR, and the files that name paths name the prefix, not DESTDIR.
. "$(dirname "$0")/common.sh"
need pkg-config pkg-config

# check_tree DIR PREFIX TOP: DIR holds the installation made for PREFIX,
# and TOP, which contains DIR, holds nothing else.
check_tree() {
	dir=$1 prefix=$2 top=$3
	expected_files | sort >"$scratch/want"
	(cd "$dir" && find . -type f | sed 's|^\./||' | sort) >"$scratch/have"
	if ! cmp -s "$scratch/want" "$scratch/have"; then
		diff "$scratch/want" "$scratch/have" >&2 || :
		fail "installed files under $dir differ (< missing, > extra)"
	fi
	[ "$(find "$top" -type f | wc -l)" -eq "$(wc -l <"$scratch/want")" ] ||
	    fail "files installed outside $dir"
	for p in torbek00 dresk ndircheck Vantrel; do
		[ -x "$dir/$BINDIR/$p" ] || fail "$p is not executable"
	done

	# The unit names the daemon where the prefix puts it.
	grep -qxF "ExecStart=$prefix/$BINDIR/Vantrel" \
	    "$dir/lib/systemd/system/vantrel.service" ||
	    fail "the unit does not start $prefix/$BINDIR/Vantrel"

	# The pages' examples name the example listings under the prefix.
	have=$(grep -h '^\(\.Dl \)\{0,1\}\$ ex=' "$dir/$MANDIR"/man*/* | sed 's/^\.Dl //' | sort -u)
	[ "$have" = "\$ ex=$prefix/$DOCDIR/examples" ] ||
	    fail "the manual pages' examples name the listings as: $have"

	# The .pc files name the prefix, not DESTDIR, and the project's
	# folder of headers.
	for module in skelda ndirlexer; do
		have=$(PKG_CONFIG_LIBDIR=$dir/$LIBDIR/pkgconfig PKG_CONFIG_PATH='' \
		    PKG_CONFIG_SYSROOT_DIR='' PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 \
		    PKG_CONFIG_ALLOW_SYSTEM_LIBS=1 pkg-config --cflags --libs "$module")
		# (the sanitizer build's add the sanitizer runtime)
		want="-I$prefix/$INCLUDEDIR/ndirtools -L$prefix/$LIBDIR -l$module"
		case "$have" in
		"$want"|"$want "*) ;;
		*) fail "$module.pc gives '$have', not '$want'" ;;
		esac
	done
}

# Into a prefix of its own.
install_into "$scratch/prefix"
check_tree "$scratch/prefix" "$scratch/prefix" "$scratch/prefix"

# The installed programs run from there.
out=$(printf 'FS1\\SYS:APPS\n\nFiles:\nNOTES         TXT          512  1-02-95 12:00p [Rw----------------] GUEST\n\n' |
    "$scratch/prefix/$BINDIR/dresk")
[ "$out" = 'FS1\SYS:APPS\NOTES.TXT' ] || fail "installed dresk printed: $out"

# Staged for a package: under DESTDIR, naming /usr.
install_into /usr "$scratch/stage"
check_tree "$scratch/stage/usr" /usr "$scratch/stage"
echo "installation complete"
