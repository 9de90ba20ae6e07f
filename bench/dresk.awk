# SPDX-License-Identifier: ISC
# The dresk job in awk, for comparison: the full path of every directory
# and file line of a listing, in listing order.
function path(n, e) { return prefix substr(n, 1, 8) (e == "" ? "" : "." substr(e, 1, 3)) }
section == "" && vol && /^Files:/ { section = "f"; next }
section == "" && vol && /^Directories:/ { section = "d"; next }
section == "" && match($0, /^[^ \t]+/) && index(substr($0, 2, RLENGTH - 1), ":") {
	w = substr($0, 1, RLENGTH); vol = 1
	b = index(w, "\\"); c = index(substr(w, b + 1), ":") + b
	prefix = substr(w, 1, b - 1) "\\" substr(w, b + 1, c - b - 1) ":"
	if (c < length(w)) prefix = prefix substr(w, c + 1) "\\"
	next
}
section != "" && $0 == "" { section = ""; next }
section != "" && /^-----------------/ { next }
section == "f" {
	at = index($0, $1) + 14; e = substr($0, at, 1) == " " ? "" : substr($0, at)
	sub(/[ \t].*/, "", e); print path($1, e); next
}
section == "d" { print path($1, $2 ~ /^\[/ ? "" : $2) }
