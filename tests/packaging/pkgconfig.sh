#!/bin/sh
# A C program against skelda and a C++ program against ndirlexer build
# from an installation in a private prefix with nothing but the flags of
# pkg-config --cflags --libs, and run.  CC and CXX name the compilers.
. "$(dirname "$0")/common.sh"
need pkg-config pkg-config

prefix=$scratch/prefix
install_into "$prefix"

# Only the installation's own .pc files, none of the system's.
PKG_CONFIG_LIBDIR=$prefix/$LIBDIR/pkgconfig
PKG_CONFIG_PATH=
export PKG_CONFIG_LIBDIR PKG_CONFIG_PATH

for module in skelda ndirlexer; do
	version=$(pkg-config --modversion "$module") ||
	    fail "pkg-config does not find $module"
	[ "$version" = "$PROJECT_VERSION" ] ||
	    fail "$module has version $version, not $PROJECT_VERSION"
done

here=$(dirname "$0")
# shellcheck disable=SC2046 # the flags are meant to split
$CC -o "$scratch/consumer_c" "$here/consumer.c" $(pkg-config --cflags --libs skelda) ||
    fail "the C program does not build against skelda"
# shellcheck disable=SC2046
$CXX -o "$scratch/consumer_cxx" "$here/consumer.cpp" $(pkg-config --cflags --libs ndirlexer) ||
    fail "the C++ program does not build against ndirlexer"

# program, argument, expected output
while IFS='|' read -r program arg want; do
	have=$("$scratch/$program" "$arg") || fail "$program $arg failed"
	[ "$have" = "$want" ] || fail "$program $arg printed '$have', not '$want'"
done <<CASES
consumer_c|$EXAMPLES/oldserv-users.lst|$(wc -c <"$EXAMPLES/oldserv-users.lst" | tr -d ' ') $(wc -l <"$EXAMPLES/oldserv-users.lst" | tr -d ' ')
consumer_cxx|$EXAMPLES/oldserv-users.lst|2 directories, 13 files, 1118674 bytes
consumer_cxx|$EXAMPLES/acctsrv-data.lst|1 directories, 5 files, 2122240 bytes
CASES
echo "both consumers build and run"
