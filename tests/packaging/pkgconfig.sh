#!/bin/sh
# SPDX-License-Identifier: ISC
# Programs build against an installation with nothing but the flags of
# pkg-config, and run: installed into its prefix, and staged for /usr
# under DESTDIR (as in a package build), read through pkg-config's sysroot.
. "$(dirname "$0")/common.sh"

install_into "$scratch/prefix"
check_consumers "$scratch/prefix/$LIBDIR/pkgconfig"
install_into /usr "$scratch/stage"
check_consumers "$scratch/stage/usr/$LIBDIR/pkgconfig" "$scratch/stage"
echo "both consumers build and run"
