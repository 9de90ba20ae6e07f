#!/bin/sh
# SPDX-License-Identifier: ISC
# The installed service unit passes systemd-analyze verify, where that
# tool exists; it needs no running systemd.
. "$(dirname "$0")/common.sh"
command -v systemd-analyze >/dev/null 2>&1 ||
    skip "systemd-analyze not found (package systemd)"

prefix=$scratch/prefix
install_into "$prefix"
unit=$prefix/lib/systemd/system/vantrel.service
# The unit's Documentation= names Vantrel(8), which verify looks up.
if ! MANPATH=$prefix/$MANDIR systemd-analyze verify "$unit" >"$scratch/verify" 2>&1 ||
    [ -s "$scratch/verify" ]; then
	cat "$scratch/verify" >&2
	fail "systemd-analyze verify reports problems"
fi
echo "unit verified"
