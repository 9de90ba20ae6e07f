/* SPDX-License-Identifier: ISC */
/* Runs a program of the build with given input and collects what it wrote. */
#ifndef RUN_H
#define RUN_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

struct Outcome {
	std::string out, err;
	int status = -1;
};

/*
 * Runs argv with `input' on standard input (or /dev/null when `input' is
 * null) and returns its standard output, standard error and exit status.
 */
inline Outcome
run(const std::vector<std::string> &argv, const std::string *input = nullptr)
{
	int in[2], out[2], err[2];
	Outcome r;

	if (pipe(in) || pipe(out) || pipe(err))
		return r;
	pid_t pid = fork();
	if (pid == 0) {
		dup2(in[0], 0);
		dup2(out[1], 1);
		dup2(err[1], 2);
		for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
			close(fd);
		std::vector<char *> args;
		for (const auto &a : argv)
			args.push_back(const_cast<char *>(a.c_str()));
		args.push_back(nullptr);
		execv(args[0], args.data());
		_exit(127);
	}
	close(in[0]);
	close(out[1]);
	close(err[1]);
	/*
	 * A program that never reads its input may have ended before the
	 * write: that is a lost write for the program to ignore, not a
	 * SIGPIPE that kills the test.
	 */
	if (input) {
		void (*before)(int) = signal(SIGPIPE, SIG_IGN);
		(void)!write(in[1], input->data(), input->size());
		signal(SIGPIPE, before);
	}
	close(in[1]);

	struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
	std::string *sinks[2] = {&r.out, &r.err};
	int open = 2;
	while (open > 0 && poll(fds, 2, 10000) > 0) {
		for (int i = 0; i < 2; i++) {
			if (fds[i].fd < 0 || fds[i].revents == 0)
				continue;
			char buf[4096];
			ssize_t n = read(fds[i].fd, buf, sizeof buf);
			if (n > 0)
				sinks[i]->append(buf, n);
			else {
				close(fds[i].fd);
				fds[i].fd = -1;
				open--;
			}
		}
	}
	int status;
	waitpid(pid, &status, 0);
	r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
	return r;
}

/* A path as a word of a shell command, whatever it holds but a quote. */
#define SH(path) "'" path "'"

/* A command line for the shell, and the status and messages it must end with. */
struct Failure {
	const char *name, *command;
	int status;
	const char *err;
};

/* Runs each command: it must end as its row says, writing nothing on standard output. */
inline void
expectFailures(std::initializer_list<Failure> cases)
{
	for (const auto &c : cases) {
		Outcome r = run({"/bin/sh", "-c", c.command});
		EXPECT_EQ(r.status, c.status) << c.name;
		EXPECT_EQ(r.out, "") << c.name;
		EXPECT_EQ(r.err, c.err) << c.name;
	}
}

/* A listing written to a temporary file for the length of a test. */
struct TempListing {
	std::string path;

	explicit TempListing(const std::string &text)
	{
		char name[] = "/tmp/listingXXXXXX";
		int fd = mkstemp(name);
		path = name;
		(void)!write(fd, text.data(), text.size());
		close(fd);
	}
	~TempListing() { unlink(path.c_str()); }
	TempListing(const TempListing &) = delete;
	TempListing &operator=(const TempListing &) = delete;
};

inline std::string
slurp(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

/* A scratch directory for the length of a test. */
struct TempDir {
	std::string path;

	TempDir()
	{
		char name[] = "/tmp/ndirtestXXXXXX";
		path = mkdtemp(name) ? name : "";
	}
	~TempDir() { run({"/bin/rm", "-rf", path}); }
	TempDir(const TempDir &) = delete;
	TempDir &operator=(const TempDir &) = delete;
};

/* Every `from' in s replaced by `to'. */
inline std::string
replaced(std::string s, const std::string &from, const std::string &to)
{
	for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
		s.replace(at, from.size(), to);
	return s;
}

/*
 * A file line in the listing's columns, the extension at the 15th
 * character, of the given size and date.
 */
inline std::string
fileLine(const std::string &name, const std::string &ext, const std::string &owner,
    const std::string &size = "12,345", const std::string &date = " 3-15-96  4:07p")
{
	std::string line = name;
	line.resize(14, ' ');
	line += ext;
	line.resize(17, ' ');
	line.append(size.size() < 16 ? 16 - size.size() : 1, ' ');
	return line + size + date + " [Rw-A--------------] " + owner;
}

/* The reasons the migration gives for what the script does not copy. */
const std::string UNSAFE = "left out: a name holds a control character, < > | \" or a . or .. part";
const std::string DEVICE = "left out: a name is a DOS device name";
const std::string FORBIDDEN = "left out: a name holds a character DOS does not allow: * ? + , ; = [ ] :";
const std::string DOT = "left out: a name ends in a full stop, which DOS drops";
const std::string SWITCH = "left out: a name begins with /, which NCOPY takes for an option";
const std::string CUT = "left out: a name is longer than the listing's field holds: the real name is unknown";
const std::string SPLIT =
    "left out: white space other than the blank ends a name early: the real name is unknown";
const std::string INCOMPLETE = "incomplete record: the rest of the listing is skipped";
const std::string PROGRAM = "named, not copied: a program file (.EXE, .DLL)";
const std::string OVERWRITTEN = "left out: copied, then overwritten by a later file of the same target";

/* The first lines of every script. */
const std::string HEADER = "@ECHO OFF\n\nIF EXIST TORBEK00.LOG DEL TORBEK00.LOG\n\n";

/* A block of the listing: the volume line and a file section. */
inline std::string
listing(const std::string &volume, const std::vector<std::string> &files)
{
	std::string s = volume + "\n\nFiles:    Size  Last Update  Flags  Owner\n" +
	    std::string(17, '-') + " ------\n";
	for (const auto &f : files)
		s += f + "\n";
	return s + "\n";
}

/*
 * Runs a program of the build with `options' and the listings, each
 * written to a file of its own, named L1, L2, ... in standard error.
 */
inline Outcome
runOn(const char *program, const std::vector<std::string> &options,
    const std::vector<std::string> &listings)
{
	std::vector<std::unique_ptr<TempListing>> files;
	std::vector<std::string> argv = {program};
	argv.insert(argv.end(), options.begin(), options.end());
	for (const auto &l : listings) {
		files.push_back(std::make_unique<TempListing>(l));
		argv.push_back(files.back()->path);
	}
	Outcome r = run(argv);
	for (size_t i = 0; i < files.size(); i++)
		r.err = replaced(r.err, files[i]->path, "L" + std::to_string(i + 1));
	return r;
}

#endif
