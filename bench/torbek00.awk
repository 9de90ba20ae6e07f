# SPDX-License-Identifier: ISC
# The torbek00 job in awk, for comparison: the DOS batch script for every
# file line of a listing, with the owner-based targets.
BEGIN {
	map["QXV0"] = "QXV1"; map["DRK"] = "DRK0"; map["TZF0"] = "TZF1"
	map["STUD"] = "NUSTUD"; map["TRAIN"] = "KELVOMAR"
	split("SUPERVISO LANSTUD N/A IS MASTER SUPPORT ARCSERVE", s, " ")
	for (i in s) shared[s[i]] = 1
	tolog = " >> TORBEK00.LOG"
}
section == "" && vol && /^Files:/ { section = "f"; next }
section == "" && vol && /^Directories:/ { section = "d"; next }
section == "" && match($0, /^[^ \t]+/) && index(substr($0, 2, RLENGTH - 1), ":") {
	w = substr($0, 1, RLENGTH); vol = 1
	b = index(w, "\\"); c = index(substr(w, b + 1), ":") + b
	source = substr(w, 1, b - 1) "/" substr(w, b + 1, c - b - 1) ":"
	path = substr(w, c + 1)
	if (path != "") source = source path "\\"
	next
}
section != "" && $0 == "" { section = ""; next }
section != "" && /^-----------------/ { next }
section == "f" {
	if (!header) { print "@ECHO OFF\n\nIF EXIST TORBEK00.LOG DEL TORBEK00.LOG\n"; header = 1 }
	at = index($0, $1) + 14; e = substr($0, at, 1) == " " ? "" : substr($0, at)
	sub(/[ \t].*/, "", e); name = substr($1, 1, 8) (e == "" ? "" : "." substr(e, 1, 3))
	owner = $NF
	print "ECHO " source name
	if (name ~ /\.EXE|\.DLL/) next
	dir = (owner in shared) ? "N:\\" : "O:\\" ((owner in map) ? map[owner] : owner) "\\OLDSERV\\"
	dir = dir path; slashed = dir; gsub(/\\/, "/", slashed)
	print "MYMKDIR -p " slashed tolog
	print "NCOPY /V " source name " " dir "\\" name tolog "\n"
}
