// SPDX-License-Identifier: ISC
/*
 * Vantrel: copy what every client of TCP port 8000 sends to standard output,
 * with a line on each accept, before each read and at each end; nothing is
 * sent back.  Each readiness of the listening socket starts a detached thread.
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

/* a 256-byte read buffer less room for a zero; readers rely on the bound */
static const size_t PIECE = 255;

/*
 * A recv takes up to PIECES pieces, cut as PIECE-byte reads would have cut
 * them.  Just under 64 KiB took a fifth less processor time than 16 KiB
 * (output to a file), and 128 KiB no less.
 */
static const size_t PIECES = 257;
static const size_t BLOCK = PIECES * PIECE;	/* 65,535 bytes */

/* writev entries: the acceptance line, two per piece or five at the end */
static const int IOVCAP = 2 + 2 * PIECES;

/* a thread needs 72 KiB and a few more; only pages it touches are faulted in */
static const size_t STACKSIZE = 256UL * 1024;

/* fds held: the standard three and the listener; the protocol db is closed */
static const int FDOWN = 4;

/*
 * Descriptors kept for what a preloaded library or a sanitizer may open,
 * once FDSPARE connections have room: a higher limit never serves fewer.
 */
static const int FDSPARE = 12;

/* after an accept or a thread start fails, look again after this long */
static const long BACKOFFMS = 500;

/* Text the output's readers know, though the calls made are poll and recv. */
static const char WAITFAILED[] = "select: Failed: -1\n";
static const char READFAILED[] = "recvfrom: Failed: -1\n";

/* Each write to standard output is one writev under this lock, whole. */
static pthread_mutex_t outlock = PTHREAD_MUTEX_INITIALIZER;

/*
 * Shared from a read until its text is written, exclusive for a stop, so
 * none falls between; writers go first so that reads cannot starve a stop.
 */
static pthread_rwlock_t inflight = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;

/*
 * Threads are capped at maxconn, each holding a socket.  Past the cap, and
 * for BACKOFFMS or until a connection ends after a failed accept or thread
 * start, the listening socket is left alone lest a queued client fail in a
 * tight loop.  A spare started for a queued client ends if one is in accept.
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
static sigset_t stopsigs;

/*
 * The block is deepest in the stack: glibc hands back an ended thread's
 * pages below its last 16 KiB; the fields every connection uses stay mapped.
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

/* Wait for events on fd through signals; poll takes any fd, however high. */
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
 * Write iov to standard output as one unit, waiting while it is full.  Any
 * other failure ends the daemon, so clients are refused, not read and lost.
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

/* Add len bytes at p to the output, or without len the string p. */
static void
put(struct conn *c, const char *p, size_t len = SIZE_MAX)
{
	c->iov[c->niov].iov_base = const_cast<char *>(p);
	c->iov[c->niov++].iov_len = len == SIZE_MAX ? strlen(p) : len;
}

/* Add what is queued: 1, or 0 if nothing is, or -1 when the stream is over. */
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
	/* the end gets a readiness line too, as a wait would have given it */
	put(c, c->ready, c->readylen);
	/* a reset is the client's way to leave, not a fault */
	if (n == -1 && e != ECONNRESET) {
		put(c, READFAILED);
		put(c, c->errnoline, (size_t)snprintf(c->errnoline,
		    sizeof(c->errnoline), "errno: %d\n", e));
	}
	return -1;
}

/*
 * Copy the connection out until it is over, each read's text at once so an
 * idle one holds nothing back.  Reading first skips a wait queued data ends.
 */
static void
relay(struct conn *c)
{
	int r = 1;
	do {
		if (r == 0 && waitfor(c->fd, POLLIN) == -1) {
			put(c, WAITFAILED);
			r = -1;
		}
		(void)pthread_rwlock_rdlock(&inflight);
		if (r != -1)
			r = takepieces(c);
		if (r == -1) {
			close(c->fd);
			put(c, c->name, c->namelen);
			put(c, " closed\n");
		}
		output(c->iov, c->niov);
		c->niov = 0;
		(void)pthread_rwlock_unlock(&inflight);
	} while (r != -1);
}

/* Accept unless a thread already waits in accept or we back off; fd or -1. */
static int
take(int lfd, struct sockaddr_in *peer)
{
	socklen_t len = sizeof(*peer);
	bool busy;
	int fd;

	(void)pthread_mutex_lock(&pool.lock);
	busy = pool.inaccept || pool.backoff;
	if (!busy)
		pool.inaccept = true;
	(void)pthread_mutex_unlock(&pool.lock);
	if (busy)
		return -1;
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

/* Serve a connection if one is taken; serving it to its end ends a back-off. */
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
		put(&c, "\n");
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

/* Write out all that was read, then hold the output so that nothing follows. */
static void
drain(void)
{
	(void)pthread_rwlock_wrlock(&inflight);
	(void)pthread_mutex_lock(&outlock);
}

/*
 * Stop signals come to this thread, not a handler that could cut into a
 * write.  The signal ends the drained process, for the usual status; when
 * a stalled reader of the output blocks the drain, a second one ends it.
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

/* A stop signal ignored at start (a background job, nohup) stays ignored. */
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

/* A closed standard fd would become a socket, and output go to a client. */
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
 * The least limit with room for a connection: it and the listening socket
 * take the two lowest free descriptors, which those left open push up.
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
 * Connections open at once: the limit's room beside FDOWN, less FDSPARE
 * where at least FDSPARE remain.  Descriptors the parent left open are not
 * counted: an accept they make fail backs off.  0, after saying why, if none.
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
 * SO_REUSEADDR lets a restart bind while old connections are in TIME_WAIT;
 * a second live listener still fails.  The queue is the longest, since past
 * it Linux uses SYN cookies and a client's text meets a reset, lost unseen.
 */
static int
listener(void)
{
	struct sockaddr_in addr;
	struct protoent *pe;
	const char *call;
	int fd, r, on = 1;

	memset(&addr, 0, sizeof(addr));
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_ANY);
	addr.sin_port = htons(VANTREL_PORT);
	/* main thread only, so the static result is safe; 0 still means TCP */
	// cppcheck-suppress getprotobynameCalled
	pe = getprotobyname("tcp");
	fd = socket(addr.sin_family, SOCK_STREAM, pe != nullptr ? pe->p_proto : 0);
	if (fd == -1) {
		failed("socket", fd);
		return -1;
	}
	(void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
	if ((r = bind(fd, (struct sockaddr *)&addr, sizeof(addr))) == -1)
		call = "bind";
	else if ((r = listen(fd, SOMAXCONN)) == -1)
		call = "listen";
	else
		return fd;
	failed(call, r);
	close(fd);
	return -1;
}

/* Wait for room below the cap and for a back-off to end; count the thread. */
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
 * A thread per readiness of the listening socket until a wait fails.  A
 * yield after each start lets it take the client before the next look, lest
 * a busy machine start spares that just end (without it, 2,000 clients in
 * turn took twice as long, 2.5 times the CPU).  Waiting for each accept puts
 * a thread start in every client's way: a third less CPU, half the rate.
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
		    // NOLINTNEXTLINE(performance-no-int-to-ptr): fd as argument
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
