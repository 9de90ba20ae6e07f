#!/bin/sh
# SPDX-License-Identifier: ISC
# scripts/setup, as root on a machine that lacks the packages, prints one
# line a step and sends the package manager's output to a log: removed
# when every step succeeds, named on standard error when one fails.  The
# package tools are stand-ins that print as much as the real ones do.
. "$(dirname "$0")/common.sh"

bin=$scratch/bin
mkdir "$bin"
printf '#!/bin/sh\necho 0\n' >"$bin/id"
printf '#!/bin/sh\nexit 1\n' >"$bin/dpkg-query"
cat >"$bin/apt-get" <<'STUB'
#!/bin/sh
seq -f 'Unpacking package %g ...' 300
[ "$1" != "${FAIL_ON:-}" ]
STUB
chmod +x "$bin/id" "$bin/dpkg-query" "$bin/apt-get"

# apt-get step that fails (none), exit status, lines on standard output
while IFS='|' read -r fail_on want_status want_lines; do
	status=0
	FAIL_ON=$fail_on TMPDIR=$scratch PATH=$bin:$PATH \
	    sh "$SOURCE_DIR/scripts/setup" >"$scratch/out" 2>"$scratch/err" || status=$?
	[ "$status" -eq "$want_status" ] || fail "failing $fail_on: exit status $status"
	[ "$(wc -l <"$scratch/out")" -eq "$want_lines" ] || {
		cat "$scratch/out" >&2
		fail "failing ${fail_on:-nothing}: not $want_lines lines on standard output"
	}
	logs=$(find "$scratch" -maxdepth 1 -name 'ndirtools-setup.*')
	if [ -z "$fail_on" ]; then
		[ -z "$logs" ] || fail "the log is left behind after success"
		[ ! -s "$scratch/err" ] || fail "success with a message: $(cat "$scratch/err")"
	else
		log=$(sed -n 's/.*apt-get.s output: //p' "$scratch/err")
		[ -n "$log" ] && [ "$(grep -c Unpacking "$log")" -ge 300 ] ||
		    fail "failing $fail_on: no log named with apt-get's output: $(cat "$scratch/err")"
		rm -f "$log"
	fi
done <<CASES
|0|2
update|1|1
install|1|2
CASES
echo "set-up output: one line a step, apt-get's in a log"

# The README's quick start, in a fresh copy of the sources with the
# packages present, built with every processor: under 40 lines in all,
# the script's head among them.  The copy is kept, under a path with a
# space, for the test that runs the suite there.
src="$BUILD_DIR/quick start"
rm -rf "$src"
copy_tree "$src"
quick=$(awk '/^## Quick start/ { q = 1 } q && /^```$/ { exit } q && f { print } q && /^```sh$/ { f = 1 }' \
    "$SOURCE_DIR/README.md")
(cd "$src" && CMAKE_BUILD_PARALLEL_LEVEL=$(nproc) sh -ec "$quick") >"$scratch/out" 2>&1 || {
	cat "$scratch/out" >&2
	fail "the quick start fails"
}
lines=$(wc -l <"$scratch/out")
[ "$lines" -lt 40 ] || { cat "$scratch/out" >&2; fail "the quick start prints $lines lines"; }
grep -q '^NCOPY /V ' "$scratch/out" || fail "the quick start shows no copy line"
echo "quick start: $lines lines"
