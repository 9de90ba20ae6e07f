// SPDX-License-Identifier: ISC
/*
 * Vantrel: listen on TCP port 8000 and copy what every client sends to
 * standard output, with a line whenever a connection is accepted, before
 * each read and when a connection ends.  Nothing is ever sent back.
 *
 * The main thread waits for the listening socket to become readable and
 * starts a detached thread for each readiness; that thread does the
 * accept and serves the connection until the client ends its stream, the
 * connection is reset, or a wait or read fails.
 */

#include <sys/types.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <netinet/in.h>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

static const int VANTREL_PORT = 8000;

/*
 * A piece of text is at most what one read into a 256-byte buffer took
 * while keeping room for a terminating zero byte; readers of the output
 * rely on that bound.
 */
static const size_t PIECE = 255;

/*
 * One recv takes whatever TCP has queued, up to PIECES whole pieces, and
 * cuts it as a run of PIECE-byte reads would have: each piece holds bytes
 * that one such read would have returned together.  The lines and pieces
 * of a recv go out by one writev pointing into the block.  Blocks just
 * under 64 KiB took a fifth less processor time than 16 KiB ones with the
 * output to a file, and 128 KiB ones no less.
 */
static const size_t PIECES = 257;
static const size_t BLOCK = PIECES * PIECE;	/* 65,535 bytes */

/* writev entries: the acceptance line, two per piece or five at the end */
static const int IOVCAP = 2 + 2 * PIECES;

/*
 * A connection thread needs its block and its writev entries, 72 KiB,
 * and a few KiB more.  Only the pages a connection touches are faulted in.
 */
static const size_t STACKSIZE = 256UL * 1024;

/*
 * Descriptors the daemon holds once it listens: standard input, output
 * and error, and the listening socket.  The C library's files (the
 * protocol database and what it loads to read it) are open only while
 * the daemon sets up, one at a time, and are closed before the listening
 * socket is made.  Each connection then takes one more.
 */
static const int FDOWN = 4;

/*
 * Descriptors left unused, for what a preloaded library or a sanitizer's
 * report may open while the daemon serves, where the limit has room for
 * FDSPARE connections besides them.  Where it has less, connections take
 * the room first, up to FDSPARE of them, so that a higher limit never
 * serves fewer clients at once.
 */
static const int FDSPARE = 12;

/* after an accept or a thread start fails, look again after this long */
static const long BACKOFFMS = 500;

/*
 * The lines of a failed wait and a failed read name select and recvfrom,
 * although the daemon calls poll and recv: people and scripts that read
 * the output know these lines, so their text is fixed.
 */
static const char WAITFAILED[] = "select: Failed: -1\n";
static const char READFAILED[] = "recvfrom: Failed: -1\n";

/* Each write to standard output is one writev under this lock, whole. */
static pthread_mutex_t outlock = PTHREAD_MUTEX_INITIALIZER;

/*
 * Held shared by a connection thread from before a read until what it
 * returned is written, and exclusively by the stop thread, so a stop never
 * falls between the two.  Writers are preferred, so that a steady stream
 * of reads cannot keep a stop waiting.
 */
static pthread_rwlock_t inflight = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;

static sigset_t stopsigs;

/*
 * What the main thread and the connection threads share.  Threads are
 * capped at maxconn, since each holds a connected socket.  Past the cap,
 * and after a failed accept or thread start until a connection ends or
 * BACKOFFMS have passed, the main thread leaves the listening socket
 * alone: looking at once would find the same client queued and fail again
 * in a tight loop, a line each time.
 *
 * Each readiness of the listening socket starts a thread, so a client
 * still queued while its thread starts up makes the main thread start
 * another.  A thread that finds one already in accept ends at once, so
 * spare threads never pile up.
 */
static struct {
	pthread_mutex_t	lock;
	pthread_cond_t	changed;	/* a thread ended */
	int		live;		/* connection threads not yet ended */
	unsigned	ended;		/* connections served to the end */
	bool		inaccept;	/* a thread waits in accept */
	bool		backoff;	/* an accept or thread start failed */
} pool = { PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0, 0, false, false };

static int maxconn;

/*
 * One connection as its thread sees it, with its output not yet written.
 * The block comes first, deepest in the stack: glibc hands back the pages
 * of an ended thread's stack below its last 16 KiB, and the fields that
 * every connection uses stay up there, mapped for the next thread.
 */
struct conn {
	char		block[BLOCK];
	struct iovec	iov[IOVCAP];
	int		niov;
	int		fd;
	char		name[40];	/* "Connection from: a.b.c.d:port" */
	size_t		namelen;
	char		ready[64];	/* the readiness line */
	size_t		readylen;
	char		errnoline[32];	/* "errno: N\n" */
};

/*
 * Wait until fd is ready for events; a signal does not end the wait.
 * Returns -1 when the wait fails.  poll(2) takes any descriptor,
 * however high.
 */
static int
waitfor(int fd, short events)
{
	struct pollfd pfd = { fd, events, 0 };
	int r;

	while ((r = poll(&pfd, 1, -1)) == -1 && errno == EINTR)
		;
	return r;
}

/*
 * Write all of iov to standard output as one unit.  A full non-blocking
 * output is waited for.  Any other failure ends the daemon, with a word
 * where an operator looks, so that clients are refused rather than read
 * and lost.
 */
static void
output(struct iovec *iov, int n)
{
	ssize_t w;

	(void)pthread_mutex_lock(&outlock);
	while (n > 0) {
		if ((w = writev(STDOUT_FILENO, iov, n)) == -1) {
			if (errno == EINTR)
				continue;
			if ((errno == EAGAIN || errno == EWOULDBLOCK) &&
			    waitfor(STDOUT_FILENO, POLLOUT) != -1)
				continue;
			(void)dprintf(STDERR_FILENO,
			    "Vantrel: error writing standard output: %s\n", strerror(errno));
			_exit(1);
		}
		for (; n > 0 && (size_t)w >= iov->iov_len; iov++, n--)
			w -= (ssize_t)iov->iov_len;
		if (n > 0) {
			iov->iov_base = static_cast<char *>(iov->iov_base) + w;
			iov->iov_len -= (size_t)w;
		}
	}
	(void)pthread_mutex_unlock(&outlock);
}

/* Print the line of a failed call, with its result or error number. */
static void
failed(const char *call, int r)
{
	char line[64];		/* the longest call name is 14 bytes */
	struct iovec iov;

	iov.iov_base = line;
	iov.iov_len = (size_t)snprintf(line, sizeof(line), "%s: Failed: %d\n", call, r);
	output(&iov, 1);
}

static void
put(struct conn *c, const char *p, size_t len)
{
	c->iov[c->niov].iov_base = const_cast<char *>(p);
	c->iov[c->niov].iov_len = len;
	c->niov++;
}

static void
putstr(struct conn *c, const char *s)
{
	put(c, s, strlen(s));
}

/*
 * Take what the connection has queued, without waiting, and add each
 * piece after its readiness line.  Returns 1 when text was read, 0 when
 * nothing is queued, -1 when the connection is over (its end was read,
 * or a read failed: its readiness line is printed too, as it would have
 * been after a wait).
 */
static int
takepieces(struct conn *c)
{
	ssize_t n;
	int e;

	if ((n = recv(c->fd, c->block, BLOCK, MSG_DONTWAIT)) > 0) {
		for (size_t at = 0; at < (size_t)n; at += PIECE) {
			put(c, c->ready, c->readylen);
			put(c, c->block + at, strnlen(c->block + at,
			    std::min(PIECE, (size_t)n - at)));
		}
		return 1;
	}
	e = errno;
	if (n == -1 && (e == EAGAIN || e == EWOULDBLOCK || e == EINTR))
		return 0;
	put(c, c->ready, c->readylen);
	/* a reset is the client's way to leave, not a fault */
	if (n == -1 && e != ECONNRESET) {
		putstr(c, READFAILED);
		put(c, c->errnoline, (size_t)snprintf(c->errnoline,
		    sizeof(c->errnoline), "errno: %d\n", e));
	}
	return -1;
}

/*
 * Copy the connection to the output until it is over.  A read is tried
 * before any wait: while data is queued the wait would report it at once,
 * so skipping it changes nothing that can be seen.  What a read returned
 * is written at once, so an idle connection holds nothing back.  The
 * connection is closed, and its closing line written with its last piece.
 */
static void
relay(struct conn *c)
{
	int r = 1;

	do {
		if (r == 0 && waitfor(c->fd, POLLIN) == -1) {
			putstr(c, WAITFAILED);
			r = -1;
		}
		(void)pthread_rwlock_rdlock(&inflight);
		if (r != -1)
			r = takepieces(c);
		if (r == -1) {
			close(c->fd);
			put(c, c->name, c->namelen);
			putstr(c, " closed\n");
		}
		output(c->iov, c->niov);
		c->niov = 0;
		(void)pthread_rwlock_unlock(&inflight);
	} while (r != -1);
}

/*
 * Accept a connection unless another thread already waits in accept or
 * the daemon backs off.  Returns the connected socket, or -1.
 */
static int
take(int lfd, struct sockaddr_in *peer)
{
	socklen_t len = sizeof(*peer);
	int fd;

	(void)pthread_mutex_lock(&pool.lock);
	if (pool.inaccept || pool.backoff) {
		(void)pthread_mutex_unlock(&pool.lock);
		return -1;
	}
	pool.inaccept = true;
	(void)pthread_mutex_unlock(&pool.lock);

	fd = accept(lfd, reinterpret_cast<struct sockaddr *>(peer), &len);

	(void)pthread_mutex_lock(&pool.lock);
	pool.inaccept = false;
	if (fd == -1)
		pool.backoff = true;
	(void)pthread_mutex_unlock(&pool.lock);
	if (fd == -1)
		failed("accept", -1);
	return fd;
}

/*
 * A connection thread: serve the connection it accepts, if any, then
 * leave the pool.  A connection served to its end ends a back-off.
 */
void *
HandleConnection(void *arg)
{
	struct sockaddr_in peer;
	struct conn c;
	const unsigned char *a = (const unsigned char *)&peer.sin_addr;
	bool served = (c.fd = take((int)(intptr_t)arg, &peer)) != -1;

	if (served) {
		c.niov = 0;
		c.namelen = (size_t)snprintf(c.name, sizeof(c.name),
		    "Connection from: %d.%d.%d.%d:%d", a[0], a[1], a[2], a[3],
		    ntohs(peer.sin_port));
		c.readylen = (size_t)snprintf(c.ready, sizeof(c.ready),
		    "%s data available\n", c.name);
		put(&c, c.name, c.namelen);
		putstr(&c, "\n");
		relay(&c);
	}
	(void)pthread_mutex_lock(&pool.lock);
	pool.live--;
	if (served)
		pool.ended++;
	(void)pthread_cond_signal(&pool.changed);
	(void)pthread_mutex_unlock(&pool.lock);
	return nullptr;
}

/*
 * Bring everything already read to the output and keep it so: no piece
 * is left between its read and its writing, and the output stays locked
 * so that no thread can write anything after this.
 */
static void
drain(void)
{
	(void)pthread_rwlock_wrlock(&inflight);
	(void)pthread_mutex_lock(&outlock);
}

/*
 * SIGINT, SIGTERM and SIGHUP are taken here, in a thread of their own,
 * rather than in a handler that could interrupt a thread in the middle of
 * a write.  Once the output is drained, the process ends by the signal,
 * so its parent sees the usual status.  When whatever reads the output
 * has stopped reading, the drain never ends; a second stop signal then
 * ends the process at once.
 */
static void *
stopper(void *)
{
	int sig;

	if (sigwait(&stopsigs, &sig) != 0)
		return nullptr;
	pthread_sigmask(SIG_UNBLOCK, &stopsigs, nullptr);
	drain();
	(void)raise(sig);
	/* raise returns when the signal cannot end the process here */
	// cppcheck-suppress unreachableCode
	_exit(128 + sig);
}

/*
 * Block the stop signals in every thread but the stopper.  A signal that
 * the daemon was started with ignored (as in a background job of a
 * script, or under nohup) stays ignored.  Returns 0 or pthread_create's
 * error number.
 */
static int
startstopper(void)
{
	const int sigs[] = { SIGINT, SIGTERM, SIGHUP };
	struct sigaction sa;
	pthread_attr_t attr;
	pthread_t t;
	int r;

	sigemptyset(&stopsigs);
	for (int sig : sigs)
		if (sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler != SIG_IGN)
			sigaddset(&stopsigs, sig);
	if (sigisemptyset(&stopsigs))
		return 0;
	pthread_sigmask(SIG_BLOCK, &stopsigs, nullptr);
	pthread_attr_init(&attr);
	pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
	r = pthread_create(&t, &attr, stopper, nullptr);
	pthread_attr_destroy(&attr);
	return r;
}

/*
 * A standard descriptor that is closed would be taken by the first socket
 * opened, and the output would go to a client.  Returns 0, after saying
 * why where it still can, when one cannot be opened.
 */
static int
openstdfds(void)
{
	for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
		if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd) {
			(void)dprintf(STDERR_FILENO, "Vantrel: /dev/null: %s\n",
			    strerror(errno));
			return 0;
		}
	return 1;
}

/*
 * The least descriptor limit that leaves room for a connection: the
 * listening socket takes the lowest descriptor not open, a connection
 * the next.  Besides the standard ones, descriptors that the program
 * which started the daemon left open may stand in the way.
 */
static int
leastlimit(void)
{
	int fd, notopen = 0;

	for (fd = 0; notopen < 2; fd++)
		if (fcntl(fd, F_GETFD) == -1)
			notopen++;
	return fd;
}

/*
 * How many connections may be open at once: those the descriptor limit
 * leaves room for beside FDOWN, less FDSPARE where at least FDSPARE are
 * left then.  Descriptors left open by whatever started the daemon are
 * not counted: an accept that they make fail starts a back-off.  Returns
 * 0, after saying why, when there is room for none: every accept would
 * fail.
 */
static int
threadcap(void)
{
	struct rlimit rl;
	int least, room;

	if (getrlimit(RLIMIT_NOFILE, &rl) == -1 || rl.rlim_cur > INT_MAX)
		return INT_MAX;
	if ((int)rl.rlim_cur >= (least = leastlimit())) {
		room = (int)rl.rlim_cur - FDOWN;
		return std::max(std::min(room, FDSPARE), room - FDSPARE);
	}
	(void)dprintf(STDERR_FILENO, "Vantrel: descriptor limit %d leaves no "
	    "room for a connection (at least %d needed)\n", (int)rl.rlim_cur,
	    least);
	return 0;
}

/*
 * Returns the listening socket, or -1 after printing why there is none.
 * SO_REUSEADDR lets a restarted daemon bind at once while connections of
 * the one before linger in TIME_WAIT; a second live listener still fails.
 * The queue is as long as the system allows: when it overflows, Linux
 * completes handshakes with SYN cookies, and a client's text that follows
 * is answered with a reset and lost without a trace.
 */
static int
listener(void)
{
	struct sockaddr_in addr;
	struct protoent *pe;
	int fd, r, on = 1;

	memset(&addr, 0, sizeof(addr));
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_ANY);
	addr.sin_port = htons(VANTREL_PORT);

	/* without a protocol database, 0 still picks TCP for a stream */
	/* only the main thread calls getprotobyname: its static result is safe */
	// cppcheck-suppress getprotobynameCalled
	pe = getprotobyname("tcp");
	fd = socket(addr.sin_family, SOCK_STREAM, pe != nullptr ? pe->p_proto : 0);
	if (fd == -1) {
		failed("socket", fd);
		return -1;
	}
	(void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
	if ((r = bind(fd, (struct sockaddr *)&addr, sizeof(addr))) == -1) {
		failed("bind", r);
		close(fd);
		return -1;
	}
	if ((r = listen(fd, SOMAXCONN)) == -1) {
		failed("listen", r);
		close(fd);
		return -1;
	}
	return fd;
}

/*
 * Wait until a thread may be started: below the cap, and after a failure
 * until a connection ends or the back-off has passed.  Counts the thread
 * to come.
 */
static void
admit(void)
{
	struct timespec until;
	unsigned seen;

	(void)pthread_mutex_lock(&pool.lock);
	while (pool.live >= maxconn)
		(void)pthread_cond_wait(&pool.changed, &pool.lock);
	if (pool.backoff) {
		clock_gettime(CLOCK_MONOTONIC, &until);
		until.tv_nsec += BACKOFFMS * 1000000;
		until.tv_sec += until.tv_nsec / 1000000000;
		until.tv_nsec %= 1000000000;
		seen = pool.ended;
		while (pool.ended == seen && pthread_cond_clockwait(&pool.changed,
		    &pool.lock, CLOCK_MONOTONIC, &until) == 0)
			;
		pool.backoff = false;
	}
	pool.live++;
	(void)pthread_mutex_unlock(&pool.lock);
}

/*
 * Start a detached connection thread for every readiness of the listening
 * socket until a wait on it fails.
 *
 * After each start the main thread gives up the processor once, so that
 * a thread can take the client before the next wait looks: otherwise, on
 * a busy machine, each look would find the client still queued and start
 * a spare only for it to end (without the yield, 2,000 clients one after
 * another took twice the time and two and a half times the processor
 * time).  Waiting for each accept instead would put a thread start on
 * every client's way: a third less processor time, half the rate.
 */
static void
serve(int lfd)
{
	pthread_attr_t attr;
	pthread_t thread;
	int r;

	pthread_attr_init(&attr);
	pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
	pthread_attr_setstacksize(&attr, STACKSIZE);
	for (;;) {
		admit();
		if ((r = waitfor(lfd, POLLIN)) == -1) {
			failed("select", r);	/* WAITFAILED's fixed text */
			break;
		}
		r = pthread_create(&thread, &attr, HandleConnection,
		    // The descriptor travels as the thread's argument.
		    // NOLINTNEXTLINE(performance-no-int-to-ptr)
		    reinterpret_cast<void *>(static_cast<intptr_t>(lfd)));
		if (r != 0) {
			(void)pthread_mutex_lock(&pool.lock);
			pool.live--;
			pool.backoff = true;
			(void)pthread_mutex_unlock(&pool.lock);
			failed("pthread_create", r);
		}
		(void)sched_yield();
	}
	pthread_attr_destroy(&attr);
}

int
main()
{
	int lfd, r;

	if (!openstdfds() || (maxconn = threadcap()) == 0)
		return 1;
	if ((r = startstopper()) != 0) {
		failed("pthread_create", r);
		return 1;
	}
	if ((lfd = listener()) == -1)
		return 1;
	serve(lfd);
	close(lfd);
	/* connections still open end with the process, unannounced */
	drain();
	return 0;
}
