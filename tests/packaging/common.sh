# Shared by the packaging tests: a private scratch directory, removed on
# exit, and an installation of the build into a prefix inside it.
#
# The tests take their settings from the environment (see CMakeLists.txt):
# BUILD_DIR, PROJECT_VERSION and the install directories, relative to the
# prefix, BINDIR, LIBDIR, INCLUDEDIR, MANDIR.

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
	    fail "$1 not found: install the package $2"
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
	$BINDIR/Vantrel
	$INCLUDEDIR/ndirlexer.h
	$INCLUDEDIR/skelda.h
	$LIBDIR/libndirlexer.a
	$LIBDIR/libskelda.a
	$LIBDIR/skelda.o
	$LIBDIR/pkgconfig/ndirlexer.pc
	$LIBDIR/pkgconfig/skelda.pc
	lib/systemd/system/vantrel.service
	$MANDIR/man1/torbek00.1
	$MANDIR/man1/dresk.1
	$MANDIR/man3/filemap.3
	$MANDIR/man3/ndirlexer.3
	$MANDIR/man8/Vantrel.8
	$DOCDIR/CHANGELOG.md
	LIST
}
