/* SPDX-License-Identifier: ISC */
/*
 * A stand-in for a DOS program that migration scripts call, built for
 * Windows once as NCOPY.EXE and once as MYMKDIR.EXE (STANDIN names it).
 *
 * It appends its name and the command line that the interpreter handed
 * it, as one line, to the file that STANDIN_RECORD names, and prints the
 * same line on standard output, which the script sends to its log.  The
 * command line is taken as the interpreter passed it, less the blanks it
 * leaves before a redirection, and written back in the OEM code page,
 * which is the code page the interpreter read the script's bytes in: the
 * line holds the bytes of the script that reached the program.
 *
 * With STANDIN_SERVERS naming a directory that holds SERVER\VOLUME\PATH\NAME
 * for every source, it also does the work: NCOPY /V SERVER/VOLUME:PATH\NAME
 * TARGET copies that file to TARGET with its modification time, and
 * MYMKDIR -p DIR makes DIR and its parents.  A failure is reported in the
 * log line and gives exit status 1.
 */
#include <windows.h>

#include <string.h>
#include <wchar.h>

#ifndef STANDIN
#error "STANDIN must name the program: NCOPY or MYMKDIR"
#endif
#define TEXT_OF(x) #x
#define NAME_OF(x) TEXT_OF(x)
#define NAME NAME_OF(STANDIN)

/* Longer command lines than DOS or cmd.exe carry. */
enum { COMMAND_LINE_MAX = 32768 };

/* The command line after the program's own name, trailing blanks dropped. */
static wchar_t *
arguments(void)
{
	static wchar_t line[COMMAND_LINE_MAX];
	wchar_t *p;
	size_t n;

	wcsncpy(line, GetCommandLineW(), COMMAND_LINE_MAX - 1);
	p = line;
	if (*p == L'"') {
		wchar_t *quote = wcschr(p + 1, L'"');
		p = quote ? quote + 1 : p + wcslen(p);
	} else
		p += wcscspn(p, L" \t");
	n = wcslen(p);
	while (n > 0 && (p[n - 1] == L' ' || p[n - 1] == L'\t'))
		p[--n] = L'\0';
	return p;
}

/* Writes s to h whole; false on failure. */
static BOOL
put(HANDLE h, const char *s, size_t n)
{
	DWORD done;

	while (n > 0) {
		if (!WriteFile(h, s, (DWORD)n, &done, NULL) || done == 0)
			return FALSE;
		s += done;
		n -= done;
	}
	return TRUE;
}

/* Appends line and a line feed to the file that STANDIN_RECORD names. */
static void
record(const char *line, size_t n)
{
	wchar_t path[MAX_PATH];
	HANDLE h;

	if (!GetEnvironmentVariableW(L"STANDIN_RECORD", path, MAX_PATH))
		return;
	h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
	    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
	if (h == INVALID_HANDLE_VALUE)
		return;
	put(h, line, n);
	put(h, "\n", 1);
	CloseHandle(h);
}

/* The next blank-separated word of *p, cut off in place, or NULL. */
static wchar_t *
word(wchar_t **p)
{
	wchar_t *w = *p + wcsspn(*p, L" \t");

	if (*w == L'\0')
		return NULL;
	*p = w + wcscspn(w, L" \t");
	if (**p != L'\0')
		*(*p)++ = L'\0';
	return w;
}

/* Makes dir and every directory above it; true when it exists at the end. */
static BOOL
makeDirectories(wchar_t *dir)
{
	/* Past the drive: "O:" or "O:\" is no directory to make. */
	wchar_t *p = dir[0] != L'\0' && dir[1] == L':' ? dir + 2 : dir;
	DWORD attributes;

	for (;; p++) {
		if (*p == L'\0' || *p == L'/' || *p == L'\\') {
			wchar_t c = *p;
			*p = L'\0';
			if (p > dir && p[-1] != L':' && p[-1] != L'/' && p[-1] != L'\\')
				CreateDirectoryW(dir, NULL);
			*p = c;
			if (c == L'\0')
				break;
		}
	}
	attributes = GetFileAttributesW(dir);
	return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/*
 * Copies SERVER/VOLUME:REST from the servers' tree, keeping the
 * modification time as a copy on a file server does.
 */
static BOOL
copy(const wchar_t *servers, const wchar_t *source, const wchar_t *target)
{
	static wchar_t from[COMMAND_LINE_MAX];
	const wchar_t *slash = wcschr(source, L'/');
	const wchar_t *colon = slash ? wcschr(slash, L':') : NULL;
	FILETIME written;
	HANDLE h;
	BOOL ok;

	if (colon == NULL)
		return FALSE;
	_snwprintf(from, COMMAND_LINE_MAX - 1, L"%ls\\%.*ls\\%.*ls\\%ls", servers,
	    (int)(slash - source), source, (int)(colon - slash - 1), slash + 1, colon + 1);
	if (!CopyFileW(from, target, FALSE))
		return FALSE;
	h = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
	ok = h != INVALID_HANDLE_VALUE && GetFileTime(h, NULL, NULL, &written);
	if (h != INVALID_HANDLE_VALUE)
		CloseHandle(h);
	h = CreateFileW(target, FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
	ok = ok && h != INVALID_HANDLE_VALUE && SetFileTime(h, NULL, NULL, &written);
	if (h != INVALID_HANDLE_VALUE)
		CloseHandle(h);
	return ok;
}

/* Does what the real program would with these arguments. */
static BOOL
work(const wchar_t *servers, wchar_t *args)
{
	wchar_t *option = word(&args), *first = word(&args), *second = word(&args);

	if (strcmp(NAME, "NCOPY") == 0)
		return option && _wcsicmp(option, L"/V") == 0 && second && !word(&args) &&
		    copy(servers, first, second);
	return option && wcscmp(option, L"-p") == 0 && first && !second &&
	    makeDirectories(first);
}

int
main(void)
{
	static char line[4 * COMMAND_LINE_MAX];
	static wchar_t servers[MAX_PATH];
	wchar_t *args = arguments();
	int n = (int)strlen(NAME), converted;
	BOOL ok = TRUE;

	memcpy(line, NAME, (size_t)n);
	/* The count includes the terminating zero. */
	converted = WideCharToMultiByte(CP_OEMCP, 0, args, -1, line + n,
	    (int)sizeof line - n - 16, NULL, NULL);
	n += converted > 0 ? converted - 1 : 0;
	record(line, (size_t)n);

	if (GetEnvironmentVariableW(L"STANDIN_SERVERS", servers, MAX_PATH))
		ok = work(servers, args);
	if (!ok) {
		memcpy(line + n, ": failed", 8);
		n += 8;
	}
	memcpy(line + n, "\r\n", 2);
	put(GetStdHandle(STD_OUTPUT_HANDLE), line, (size_t)n + 2);
	return ok ? 0 : 1;
}
