# SPDX-License-Identifier: ISC
# Shared by the packaging tests: a private scratch directory, removed on
# exit, and an installation of the build into a prefix inside it.
#
# The tests take their settings from the environment (see CMakeLists.txt):
# BUILD_DIR, SOURCE_DIR, PROJECT_VERSION, EXAMPLES, the compilers CC and
# CXX, and the install directories, relative to the prefix, BINDIR,
# LIBDIR, INCLUDEDIR, MANDIR, DOCDIR.

set -eu

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

# Exit code that CTest reads as "skipped".
skip() {
	echo "SKIP: $*"
	exit 77
}

need() {
	command -v "$1" >/dev/null 2>&1 ||
	    skip "$1 not found: install the package $2"
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ndir-packaging.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
trap 'exit 1' HUP INT TERM

# install_into PREFIX [DESTDIR]: quietly, keeping the log for a failure.
install_into() {
	if ! DESTDIR=${2:-} cmake --install "$BUILD_DIR" --prefix "$1" \
	    >"$scratch/install.log" 2>&1; then
		cat "$scratch/install.log" >&2
		fail "cmake --install --prefix $1 failed"
	fi
}

# The files an installation holds, relative to its prefix, one a line.
expected_files() {
	cat <<-LIST
	$BINDIR/torbek00
	$BINDIR/dresk
	$BINDIR/ndircheck
	$BINDIR/Vantrel
	$INCLUDEDIR/ndirtools/ndirlexer.h
	$INCLUDEDIR/ndirtools/ndirrecord.h
	$INCLUDEDIR/ndirtools/skelda.h
	$LIBDIR/libndirlexer.a
	$LIBDIR/libskelda.a
	$LIBDIR/skelda.o
	$LIBDIR/pkgconfig/ndirlexer.pc
	$LIBDIR/pkgconfig/skelda.pc
	lib/systemd/system/vantrel.service
	$MANDIR/man1/torbek00.1
	$MANDIR/man1/dresk.1
	$MANDIR/man1/ndircheck.1
	$MANDIR/man3/filemap.3
	$MANDIR/man3/ndirlexer.3
	$MANDIR/man8/Vantrel.8
	$DOCDIR/README.md
	$DOCDIR/CHANGELOG.md
	$DOCDIR/examples/acctsrv-data.lst
	$DOCDIR/examples/oldserv-sys.lst
	$DOCDIR/examples/oldserv-users.lst
	$DOCDIR/examples/dos/oldserv-users.lst
	LIST
}

# check_consumers PCDIR [SYSROOT]: a C program against skelda and a C++
# program against ndirlexer build with nothing but the flags that
# pkg-config reads from the .pc files in PCDIR (none of the system's), and
# run.  A tree staged for its prefix under SYSROOT is read through
# pkg-config's sysroot, as a cross build reads one.
check_consumers() {
	PKG_CONFIG_LIBDIR=$1
	PKG_CONFIG_SYSROOT_DIR=${2:-}
	PKG_CONFIG_PATH=
	export PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_PATH
	need pkg-config pkg-config

	for module in skelda ndirlexer; do
		version=$(pkg-config --modversion "$module") ||
		    fail "pkg-config does not find $module in $1"
		[ "$version" = "$PROJECT_VERSION" ] ||
		    fail "$module has version $version, not $PROJECT_VERSION"
	done

	here=$SOURCE_DIR/tests/packaging
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
	done <<-CASES
	consumer_c|$EXAMPLES/oldserv-users.lst|$(wc -c <"$EXAMPLES/oldserv-users.lst" | tr -d ' ') $(wc -l <"$EXAMPLES/oldserv-users.lst" | tr -d ' ')
	consumer_cxx|$EXAMPLES/oldserv-users.lst|2 directories, 13 files, 1118674 bytes
	consumer_cxx|$EXAMPLES/acctsrv-data.lst|1 directories, 5 files, 2122240 bytes
	CASES
}

# source_ignore: the patterns of the files that the source package leaves
# out (CPACK_SOURCE_IGNORE_FILES), one a line, as grep -E reads them.
source_ignore() {
	sed -n 's/^set(CPACK_SOURCE_IGNORE_FILES "\(.*\)")$/\1/p' \
	    "$BUILD_DIR/CPackSourceConfig.cmake" | tr ';' '\n'
}

# copy_tree DIR: the sources under test into DIR, with modes after the
# umask: in a git checkout as git sees them (tracked files and new ones
# that .gitignore lets in), elsewhere all that the source package takes
# (no build trees, nor this build directory).
copy_tree() {
	if command -v git >/dev/null 2>&1 &&
	    top=$(git -C "$SOURCE_DIR" rev-parse --show-prefix 2>/dev/null) && [ -z "$top" ]; then
		(cd "$SOURCE_DIR" && git ls-files -z -co --exclude-standard |
		    xargs -0 sh -c 'for f; do [ ! -e "$f" ] || printf "%s\0" "$f"; done' sh)
	else
		source_ignore >"$scratch/ignore"
		(cd "$SOURCE_DIR" && find . -path "./${BUILD_DIR#"$SOURCE_DIR"/}" -prune -o ! -type d -print0) |
		    sed -z 's|^\.||' | grep -zEv -f "$scratch/ignore" | sed -z 's|^|.|'
	fi >"$scratch/files" || fail "cannot list the files of $SOURCE_DIR"
	mkdir -p "$1"
	(cd "$SOURCE_DIR" && tar --null -T "$scratch/files" -cf -) |
	    tar -C "$1" --no-same-permissions -xf - || fail "cannot copy $SOURCE_DIR"
}

# copy_sources DIR: copy_tree DIR, made a repository of one commit, where
# `git status` then names whatever a build leaves behind.
copy_sources() {
	need git git
	copy_tree "$1"
	if ! { git -C "$1" -c init.defaultBranch=main init -q &&
	    git -C "$1" add -A &&
	    git -C "$1" -c user.name=test -c user.email=test@localhost \
		commit -q -m sources; }; then
		fail "cannot make a repository of the copy"
	fi
}

# build_packages DIR [OPTION...]: dpkg-buildpackage -us -uc -b in DIR, the
# packages landing beside it, quietly but for a failure.
build_packages() {
	dir=$1; shift
	if ! (cd "$dir" && dpkg-buildpackage -us -uc -b "$@") >"$dir.log" 2>&1; then
		tail -n 60 "$dir.log" >&2
		fail "dpkg-buildpackage $* failed"
	fi
}
