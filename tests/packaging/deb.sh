#!/bin/sh
# SPDX-License-Identifier: ISC
# dpkg-buildpackage builds the Debian packages of this version, running
# the test suite, from a copy of the sources, and leaves nothing there
# that git or the source package would take in; lintian finds nothing to
# report; the packages hold what `cmake --install` installs and Debian's
# own files, do not switch the service on, and programs build against the
# unpacked development package with nothing but pkg-config's flags.  The
# packages are kept in the build directory for the autopkgtest test.
. "$(dirname "$0")/common.sh"
command -v dh >/dev/null 2>&1 && command -v dpkg-buildpackage >/dev/null 2>&1 ||
    skip "debhelper not found: scripts/setup --dev installs the packaging tools"
need lintian lintian
need dpkg-architecture dpkg-dev
need pkg-config pkg-config

kept=$BUILD_DIR/debian-packages
rm -rf "$kept"

# A copy of the sources, so that the package build leaves the tree under
# test alone; its packages land beside the copy.
src=$scratch/ndirtools
copy_sources "$src"
DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
export DEB_BUILD_OPTIONS
build_packages "$src"

# Whatever the build leaves behind is ignored by git, and by the source
# package's list (CPACK_SOURCE_IGNORE_FILES, matched against full paths).
left=$(git -C "$src" status --porcelain)
[ -z "$left" ] || fail "the package build leaves files that .gitignore lets in:
$left"
source_ignore >"$scratch/ignore"
[ -s "$scratch/ignore" ] || fail "no CPACK_SOURCE_IGNORE_FILES in $BUILD_DIR"
left=$(git -C "$src" status --porcelain --ignored | sed -n 's|^!! |/|p' |
    grep -Ev -f "$scratch/ignore" || :)
[ -z "$left" ] || fail "the package build leaves files that make package_source takes in:
$left"

# The packages carry the project's version: debian/changelog's agrees.
version=$PROJECT_VERSION
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for p in ndirtools ndirtools-dev ndirtools-dbgsym; do
	[ -f "$scratch/${p}_${version}_$arch.deb" ] ||
	    fail "no ${p}_${version}_$arch.deb made: $(ls "$scratch")"
done

if ! lintian --pedantic --info --fail-on error,warning \
    "$scratch/ndirtools_${version}_$arch.changes" >"$scratch/lintian" 2>&1; then
	cat "$scratch/lintian" >&2
	fail "lintian reports errors or warnings"
fi

# Contents: package, then a file it holds, one for every file.  The files
# are those of `cmake --install` in Debian's directories (the unit in the
# folder that systemd's pkg-config file names), the development files in
# ndirtools-dev, and Debian's own.  Manual pages and the documents at the
# top of the documentation folder are compressed once they pass
# dh_compress's size; the examples never are.
# shellcheck disable=SC2034 # expected_files reads them
BINDIR=bin INCLUDEDIR=include MANDIR=share/man DOCDIR=share/doc/ndirtools
LIBDIR=lib/$multiarch
unitdir=$(pkg-config --variable=systemdsystemunitdir systemd | sed 's|^/||')
[ -n "$unitdir" ] || fail "pkg-config names no unit folder for systemd"
{
	expected_files | while read -r file; do
		case $file in
		lib/systemd/system/*) path=$unitdir/${file#lib/systemd/system/} ;;
		*) path=usr/$file ;;
		esac
		case $file in
		"$INCLUDEDIR"/*|"$LIBDIR"/*|"$MANDIR"/man3/*) echo "ndirtools-dev $path" ;;
		*) echo "ndirtools $path" ;;
		esac
	done
	cat <<-LIST
	ndirtools usr/share/doc/ndirtools/README.Debian
	ndirtools usr/share/doc/ndirtools/changelog
	ndirtools usr/share/doc/ndirtools/copyright
	ndirtools-dev usr/share/doc/ndirtools-dev/changelog
	ndirtools-dev usr/share/doc/ndirtools-dev/copyright
	LIST
} | sort >"$scratch/want"
for p in ndirtools ndirtools-dev; do
	dpkg-deb -c "$scratch/${p}_${version}_$arch.deb" |
	    awk -v p="$p" '$1 !~ /^d/ { sub(/^\.\//, "", $6); print p, $6 }'
done | sed -E 's#^([^ ]+ usr/share/(man/.*|doc/[^/]+/[^/]+))\.gz$#\1#' |
    sort >"$scratch/have"
if ! cmp -s "$scratch/want" "$scratch/have"; then
	diff "$scratch/want" "$scratch/have" >&2 || :
	fail "package contents differ (< missing, > extra)"
fi

# Control fields: package, field, then a pattern its value must match.
while IFS='|' read -r p field pattern; do
	value=$(dpkg-deb -f "$scratch/${p}_${version}_$arch.deb" "$field")
	echo "$value" | grep -Eq "$pattern" ||
	    fail "$p: control field $field is '$value', expected /$pattern/"
done <<FIELDS
ndirtools|Depends|(^|, )libc6 \(>=
ndirtools|Depends|libstdc\+\+6
ndirtools-dev|Depends|(^|, )libfl-dev(,|$)
ndirtools-dev|Multi-Arch|^same$
ndirtools-dbgsym|Depends|^ndirtools \(= $version\)\$
FIELDS

# The unit is installed but not enabled: debhelper's snippet for that
# enables it again only where it was enabled before (debian-installed).
# It is started or restarted through deb-systemd-invoke, which starts only
# an enabled unit and restarts only an enabled or running one (the
# upgrade test shows it under systemd).
dpkg-deb -e "$scratch/ndirtools_${version}_$arch.deb" "$scratch/control"
grep -q "debian-installed 'vantrel.service'" "$scratch/control/postinst" ||
    fail "the package enables vantrel.service on installation"
grep -q "deb-systemd-invoke .* 'vantrel.service'" "$scratch/control/postinst" ||
    fail "the package never starts vantrel.service again after an upgrade"

# Unpacked: the programs run, the .pc files name prefix /usr, and read
# through pkg-config's sysroot they lead the compilers to the unpacked
# headers and libraries.
root=$scratch/root
for p in ndirtools ndirtools-dev; do
	dpkg-deb -x "$scratch/${p}_${version}_$arch.deb" "$root" ||
	    fail "dpkg-deb -x $p failed"
done
out=$(printf 'FS1\\SYS:\n\nDirectories:\nPUBLIC            [SRWCEMFA] [SRWCEMFA] SUPERVISO   1-01-95 12:00a\n\n' |
    "$root/usr/bin/dresk")
[ "$out" = 'FS1\SYS:PUBLIC' ] || fail "packaged dresk printed: $out"
grep -qxF "ExecStart=/usr/bin/Vantrel" "$root/$unitdir/vantrel.service" ||
    fail "the packaged unit does not start /usr/bin/Vantrel"
for module in skelda ndirlexer; do
	grep -qxF prefix=/usr "$root/usr/lib/$multiarch/pkgconfig/$module.pc" ||
	    fail "the packaged $module.pc does not say prefix=/usr"
done
check_consumers "$root/usr/lib/$multiarch/pkgconfig" "$root"

mkdir "$kept"
mv "$scratch"/*.deb "$kept"/
echo "packages $version built, lint-clean and complete, leaving a clean tree"
