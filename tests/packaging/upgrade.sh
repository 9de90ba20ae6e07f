#!/bin/sh
# SPDX-License-Identifier: ISC
# The service across an upgrade, under a running systemd: off after the
# package is installed, running after an upgrade when the administrator
# had enabled and started it, and still off after an upgrade when it was
# off.  The upgrade is to the package that the package test built,
# repacked with a higher version.  It all happens in a container booted
# from this machine's own system, seen through an overlay whose changes
# vanish with it, and with a network of its own for the listener.
. "$(dirname "$0")/common.sh"
[ "$(id -u)" -eq 0 ] ||
    skip "installing packages in a container of this machine needs root"
command -v systemd-nspawn >/dev/null 2>&1 ||
    skip "systemd-nspawn not found: scripts/setup --dev installs systemd-container"
need dpkg-deb dpkg
arch=$(dpkg --print-architecture)
old=$BUILD_DIR/debian-packages/ndirtools_${PROJECT_VERSION}_$arch.deb
[ -f "$old" ] || skip "no $old: the package test did not build it"

dpkg-deb -R "$old" "$scratch/new"
sed -i "s/^Version: .*/Version: $PROJECT_VERSION+1/" "$scratch/new/DEBIAN/control"
dpkg-deb -b "$scratch/new" "$scratch/new.deb" >/dev/null ||
    fail "cannot repack $old with a higher version"

# Run in the container: the unit's state after each step, a line each
# (a crash of the daemon shows a second later).
cat >"$scratch/run.sh" <<'RUN'
cd /root/upgrade
state() {
	sleep 1
	echo "$1|$(systemctl is-enabled vantrel.service)|$(systemctl is-active vantrel.service)" >>states
}
dpkg -i old.deb >>log 2>&1; state install
systemctl enable --now vantrel.service >>log 2>&1; state "enable --now"
dpkg -i new.deb >>log 2>&1; state upgrade
dpkg --purge ndirtools >>log 2>&1; dpkg -i old.deb >>log 2>&1; state "purge, install"
dpkg -i new.deb >>log 2>&1; state upgrade
RUN

# The container: basic services and the run, then off.  A policy-rc.d
# of this machine that keeps services from starting is not the test's.
# The mounts belong to a mount namespace that ends with this step.
export old scratch
unshare --mount --propagation private sh -euc '
	layers=$scratch/layers root=$scratch/layers/root
	mkdir "$layers"
	mount -t tmpfs tmpfs "$layers" || exit 77
	mkdir "$layers/upper" "$layers/work" "$root"
	mount -t overlay overlay \
	    -o "lowerdir=/,upperdir=$layers/upper,workdir=$layers/work" "$root" || exit 77
	mkdir "$root/root/upgrade"
	cp "$old" "$root/root/upgrade/old.deb"
	cp "$scratch/new.deb" "$scratch/run.sh" "$root/root/upgrade/"
	rm -f "$root/usr/sbin/policy-rc.d"
	tr -d - </proc/sys/kernel/random/uuid >"$root/etc/machine-id"
	cat >"$root/etc/systemd/system/upgrade-test.service" <<-UNIT
	[Unit]
	After=basic.target
	SuccessAction=poweroff-force
	FailureAction=poweroff-force
	[Service]
	Type=oneshot
	ExecStart=/bin/sh /root/upgrade/run.sh
	UNIT
	cat >"$root/etc/systemd/system/upgrade-test.target" <<-UNIT
	[Unit]
	Requires=basic.target upgrade-test.service
	After=basic.target
	UNIT
	timeout 300 systemd-nspawn --quiet --directory="$root" --boot \
	    --private-network --register=no --keep-unit --link-journal=no \
	    --console=pipe systemd.unit=upgrade-test.target \
	    >"$scratch/boot.log" 2>&1 || :
	for f in states log; do
		[ ! -f "$root/root/upgrade/$f" ] || cp "$root/root/upgrade/$f" "$scratch/$f"
	done
' || status=$?
case ${status:-0} in
0) ;;
77) skip "no overlay of this machine's system can be mounted for a container" ;;
*) fail "cannot set up the container" ;;
esac

[ -s "$scratch/states" ] || {
	tail -n 20 "$scratch/boot.log"
	skip "systemd did not boot in a container of this machine, or the run did not start"
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
