#!/bin/sh
# SPDX-License-Identifier: ISC
# dpkg-buildpackage builds the Debian packages from a copy of the sources;
# lintian finds nothing to report; the packages hold what they should, do
# not switch the service on, and programs build against the unpacked
# development package with nothing but pkg-config's flags.
. "$(dirname "$0")/common.sh"
command -v dh >/dev/null 2>&1 && command -v dpkg-buildpackage >/dev/null 2>&1 ||
    skip "debhelper not found: scripts/setup --dev installs the packaging tools"
need lintian lintian
need dpkg-architecture dpkg-dev

# A copy of the sources without build trees or version control, so that
# the package build leaves the tree under test alone; its packages land
# beside the copy.
mkdir "$scratch/ndirtools"
tar -C "$SOURCE_DIR" --exclude=./.git --exclude='./build*' --exclude='./obj-*' \
    --exclude=./debian/.debhelper --exclude=./debian/tmp --exclude=./debian/files \
    --exclude=./debian/ndirtools --exclude=./debian/ndirtools-dev \
    --exclude='./debian/*.substvars' --exclude=./debian/debhelper-build-stamp \
    -cf - . | tar -C "$scratch/ndirtools" -xf - || fail "cannot copy $SOURCE_DIR"
if ! (cd "$scratch/ndirtools" &&
    DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -us -uc -b) >"$scratch/build.log" 2>&1; then
	tail -n 60 "$scratch/build.log" >&2
	fail "dpkg-buildpackage failed"
fi

version=$(dpkg-parsechangelog -l "$scratch/ndirtools/debian/changelog" -S Version)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for p in ndirtools ndirtools-dev ndirtools-dbgsym; do
	[ -f "$scratch/${p}_${version}_$arch.deb" ] || fail "no ${p}_${version}_$arch.deb made"
done

if ! lintian --pedantic --info --fail-on error,warning \
    "$scratch/ndirtools_${version}_$arch.changes" >"$scratch/lintian" 2>&1; then
	cat "$scratch/lintian" >&2
	fail "lintian reports errors or warnings"
fi

# Contents: package, then a file it holds, one for every file.  The
# project's CHANGELOG.md is compressed once it passes dh_compress's size.
while read -r p file; do
	echo "$p $file"
done <<LIST | sort >"$scratch/want"
ndirtools usr/bin/torbek00
ndirtools usr/bin/dresk
ndirtools usr/bin/ndircheck
ndirtools usr/bin/Vantrel
ndirtools lib/systemd/system/vantrel.service
ndirtools usr/share/man/man1/torbek00.1.gz
ndirtools usr/share/man/man1/dresk.1.gz
ndirtools usr/share/man/man1/ndircheck.1.gz
ndirtools usr/share/man/man8/Vantrel.8.gz
ndirtools usr/share/doc/ndirtools/CHANGELOG.md
ndirtools usr/share/doc/ndirtools/changelog.gz
ndirtools usr/share/doc/ndirtools/copyright
ndirtools-dev usr/include/ndirlexer.h
ndirtools-dev usr/include/ndirrecord.h
ndirtools-dev usr/include/skelda.h
ndirtools-dev usr/lib/$multiarch/libndirlexer.a
ndirtools-dev usr/lib/$multiarch/libskelda.a
ndirtools-dev usr/lib/$multiarch/skelda.o
ndirtools-dev usr/lib/$multiarch/pkgconfig/ndirlexer.pc
ndirtools-dev usr/lib/$multiarch/pkgconfig/skelda.pc
ndirtools-dev usr/share/man/man3/filemap.3.gz
ndirtools-dev usr/share/man/man3/ndirlexer.3.gz
ndirtools-dev usr/share/doc/ndirtools-dev/changelog.gz
ndirtools-dev usr/share/doc/ndirtools-dev/copyright
LIST
for p in ndirtools ndirtools-dev; do
	dpkg-deb -c "$scratch/${p}_${version}_$arch.deb" |
	    awk -v p="$p" '$1 !~ /^d/ { sub(/^\.\//, "", $6); print p, $6 }'
done | sed 's/CHANGELOG\.md\.gz$/CHANGELOG.md/' | sort >"$scratch/have"
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
ndirtools-dbgsym|Depends|^ndirtools \(= $version\)\$
FIELDS

# The unit is installed but neither enabled nor started: debhelper's
# snippet for that enables it again only where it was enabled before
# (debian-installed), and nothing starts it.
dpkg-deb -e "$scratch/ndirtools_${version}_$arch.deb" "$scratch/control"
grep -q "debian-installed 'vantrel.service'" "$scratch/control/postinst" ||
    fail "the package enables vantrel.service on installation"
if grep -q 'deb-systemd-invoke' "$scratch/control/postinst"; then
	fail "the package starts vantrel.service on installation"
fi

# Unpacked: the programs run, and the development package's own .pc
# files lead the compilers to its headers and libraries.
for p in ndirtools ndirtools-dev; do
	dpkg-deb -x "$scratch/${p}_${version}_$arch.deb" "$scratch/root" ||
	    fail "dpkg-deb -x $p failed"
done
out=$(printf 'FS1\\SYS:\n\nDirectories:\nPUBLIC            [SRWCEMFA] [SRWCEMFA] SUPERVISO   1-01-95 12:00a\n\n' |
    "$scratch/root/usr/bin/dresk")
[ "$out" = 'FS1\SYS:PUBLIC' ] || fail "packaged dresk printed: $out"
grep -qxF "ExecStart=/usr/bin/Vantrel" "$scratch/root/lib/systemd/system/vantrel.service" ||
    fail "the packaged unit does not start /usr/bin/Vantrel"
check_consumers "$scratch/root/usr/lib/$multiarch/pkgconfig"
echo "packages $version built, lint-clean and complete"
