#!/bin/sh
# SPDX-License-Identifier: ISC
# The service under a running systemd: off after installation, running
# after an upgrade when the administrator had enabled and started it,
# still off after an upgrade when it was off.  The upgrade is to the
# package test's package repacked with a higher version, in a container
# booted from this machine's system through an overlay whose changes
# vanish with it, with a network of its own for the listener.
. "$(dirname "$0")/common.sh"
[ "$(id -u)" -eq 0 ] || skip "installing packages in a container of this machine needs root"
command -v systemd-nspawn >/dev/null 2>&1 ||
    skip "systemd-nspawn not found: scripts/setup --dev installs systemd-container"
old=$BUILD_DIR/debian-packages/ndirtools_${PROJECT_VERSION}_$(dpkg --print-architecture).deb
[ -f "$old" ] || skip "no $old: the package test did not build it"

cp "$old" "$scratch/old.deb"
dpkg-deb -R "$old" "$scratch/new"
sed -i "s/^Version: .*/Version: $PROJECT_VERSION+1/" "$scratch/new/DEBIAN/control"
dpkg-deb -b "$scratch/new" "$scratch/new.deb" >/dev/null || fail "cannot repack $old"

# In the container: the unit's state a second after each step.
cat >"$scratch/run.sh" <<'RUN'
cd "$(dirname "$0")"
state() {
	sleep 1
	echo "$1|$(systemctl is-enabled vantrel)|$(systemctl is-active vantrel)" >>states
}
dpkg -i old.deb >>log 2>&1; state install
systemctl enable --now vantrel >>log 2>&1; state "enable --now"
dpkg -i new.deb >>log 2>&1; state upgrade
dpkg --purge ndirtools >>log 2>&1; dpkg -i old.deb >>log 2>&1; state "purge, install"
dpkg -i new.deb >>log 2>&1; state upgrade
RUN

# Basic services and the run, then off; this machine's policy-rc.d, if
# it keeps services from starting, stays out.  The mounts end with the
# mount namespace.
export scratch
status=0
unshare --mount --propagation private sh -euc '
	root=$scratch/layers/root
	mkdir "$scratch/layers" && mount -t tmpfs tmpfs "$scratch/layers" || exit 77
	mkdir "$scratch/layers/upper" "$scratch/layers/work" "$root"
	mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/layers/upper,workdir=$scratch/layers/work" \
	    "$root" || exit 77
	rm -f "$root/usr/sbin/policy-rc.d"
	tr -d - </proc/sys/kernel/random/uuid >"$root/etc/machine-id"
	printf "[Unit]\nRequires=basic.target upgrade-test.service\nAfter=basic.target\n" \
	    >"$root/etc/systemd/system/upgrade-test.target"
	printf "[Unit]\nAfter=basic.target\nSuccessAction=poweroff-force\nFailureAction=poweroff-force
[Service]\nType=oneshot\nExecStart=/bin/sh %s/run.sh\n" "$scratch" \
	    >"$root/etc/systemd/system/upgrade-test.service"
	timeout 300 systemd-nspawn --quiet --directory="$root" --bind="$scratch" --boot \
	    --private-network --register=no --keep-unit --link-journal=no --console=pipe \
	    systemd.unit=upgrade-test.target >"$scratch/boot.log" 2>&1 || :
' || status=$?
[ "$status" -ne 77 ] || skip "no overlay of this machine's system can be mounted for a container"
[ "$status" -eq 0 ] || fail "cannot set up the container"
[ -s "$scratch/states" ] || {
	tail -n 20 "$scratch/boot.log"
	skip "systemd did not boot in a container of this machine, or did not start the run"
}

cat >"$scratch/want" <<STATES
install|disabled|inactive
enable --now|enabled|active
upgrade|enabled|active
purge, install|disabled|inactive
upgrade|disabled|inactive
STATES
if ! cmp -s "$scratch/want" "$scratch/states"; then
	diff "$scratch/want" "$scratch/states" >&2 || :
	tail -n 30 "$scratch/log" >&2
	fail "the service's states (step|enabled|active) differ (< expected, > seen)"
fi
echo "the service stays off when off and runs again after an upgrade when on"
