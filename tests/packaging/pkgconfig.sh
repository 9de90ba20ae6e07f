#!/bin/sh
# SPDX-License-Identifier: ISC
# Programs build against an installation with nothing but the flags of
# pkg-config, and run, also when the installation was staged for /usr
# under DESTDIR and has not reached its prefix (as in a package build).
. "$(dirname "$0")/common.sh"

install_into /usr "$scratch/stage"
check_consumers "$scratch/stage/usr/$LIBDIR/pkgconfig"
echo "both consumers build and run"
