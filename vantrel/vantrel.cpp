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
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <netinet/in.h>

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>

static const int VANTREL_PORT = 8000;

/*
 * The queue of connections not yet accepted is as long as the system
 * allows.  With room for only one or two, a burst of clients overflows
 * it, and Linux then completes their handshakes with SYN cookies and
 * drops the final ACK; their data that follows fails the cookie check and
 * is answered with a reset.  Such a client has connected and sent without
 * an error, and its text is lost without a trace.
 */
static const int VANTREL_BACKLOG = SOMAXCONN;
static const int BUFFERLEN = 256;	/* one read takes BUFFERLEN - 1 */

static const int WAITMS = 1000;		/* every wait times out after 1 s */

/*
 * Reads already queued are taken several at a time by one recvmmsg(2),
 * each still at most BUFFERLEN - 1 bytes and printed after its own
 * readiness line.  A connection asks for FIRSTBATCH reads at first,
 * enough for a short message and its end, and for twice as many each time
 * a batch comes back full, up to BATCH: past the end of a stream every
 * further read of a batch returns the end again, so a batch much larger
 * than what is queued wastes reads.  Room for FIRSTBATCH reads is on the
 * thread's stack; room for more comes from the heap when needed.  The
 * stack must stay shallow: glibc hands back the pages of a finished
 * thread's stack below its last 16 KiB, and the page faults and TLB
 * shootdowns that follow would cost every connection dearly.
 */
static const int BATCH = 64;
static const int FIRSTBATCH = 2;

/* a connection thread needs a few KiB; this leaves ample room */
static const size_t STACKSIZE = 256UL * 1024;

/*
 * Standard output is fully buffered through this buffer so that a busy
 * stream leaves in large writes.  Nothing may sit in it while the daemon
 * idles, so a connection flushes it before every wait (relay) and when it
 * ends, and the stopper flushes it on SIGINT or SIGTERM.  Every line and
 * every piece goes to the stream inside one lock of it, so lines of
 * different threads never split one another.
 */
static char outbuf[1 << 16];

/*
 * A connection thread holds this shared from before its reads until the
 * pieces it read are in the output buffer.  The stopper takes it
 * exclusively, so a stop never falls between a read and its printing.
 * Writers are preferred: a steady stream of readers must not keep a stop
 * waiting.
 */
static pthread_rwlock_t inflight = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;

static sigset_t stopsigs;

/*
 * Threads waiting in accept.  Every readiness of the listening socket
 * starts a thread, so a client still queued while its thread starts up
 * makes the main loop start more.  One thread waiting in accept takes
 * the next client anyway; the spare ones end at once rather than pile up
 * in accept, one more for every few clients, without bound.
 */
static std::atomic<int> accepting;

/* one read of a batch: its buffer and the iovec that points to it */
struct slot {
	struct iovec	iov;
	char		buf[BUFFERLEN];
};

template <int N> struct reads {
	struct mmsghdr	msg[N];
	struct slot	slot[N];
};

/* the reads one recvmmsg(2) asks for, in the room of a struct reads */
struct batch {
	int		want;		/* reads the next batch asks for */
	int		room;		/* reads there is room for */
	struct mmsghdr	*msg;
	struct slot	*slot;
};

/*
 * One connection as its thread sees it.  The peer never changes, so its
 * lines are formatted once.
 */
struct conn {
	int		fd;
	char		name[40];	/* "Connection from: a.b.c.d:port" */
	char		ready[64];	/* the readiness line */
	size_t		readylen;
};

/*
 * One wait for readability with select(2)'s result: -1 failure, 0
 * timeout, above 0 ready.  A descriptor at or above FD_SETSIZE does not
 * fit in an fd_set, so poll(2) waits on it instead; the caller cannot
 * tell the difference.  A wait cut short by a signal is no failure of
 * the socket and is simply repeated.
 */
static int
waitonce(int fd, int ms)
{
	struct pollfd pfd;
	struct timeval tv;
	fd_set rset;
	int r;

	do {
		if (fd < FD_SETSIZE) {
			FD_ZERO(&rset);
			FD_SET(fd, &rset);
			tv.tv_sec = ms / 1000;
			tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
			r = select(fd + 1, &rset, nullptr, nullptr, &tv);
		} else {
			pfd.fd = fd;
			pfd.events = POLLIN;
			pfd.revents = 0;
			r = poll(&pfd, 1, ms);
		}
	} while (r == -1 && errno == EINTR);
	return r;
}

static void
setup(struct conn *c, int fd, const struct sockaddr_in *peer)
{
	const unsigned char *a = (const unsigned char *)&peer->sin_addr;

	c->fd = fd;
	(void)snprintf(c->name, sizeof(c->name), "Connection from: %d.%d.%d.%d:%d",
	    a[0], a[1], a[2], a[3], ntohs(peer->sin_port));
	c->readylen = (size_t)snprintf(c->ready, sizeof(c->ready),
	    "%s data available\n", c->name);
}

/* Take the room of r for batch b. */
template <int N> static void
lend(struct batch *b, struct reads<N> *r)
{
	memset(r->msg, 0, sizeof(r->msg));
	for (int i = 0; i < N; i++) {
		r->slot[i].iov.iov_base = r->slot[i].buf;
		r->slot[i].iov.iov_len = BUFFERLEN - 1;
		r->msg[i].msg_hdr.msg_iov = &r->slot[i].iov;
		r->msg[i].msg_hdr.msg_iovlen = 1;
	}
	b->room = N;
	b->msg = r->msg;
	b->slot = r->slot;
}

/*
 * Take the reads that need no wait, as many as batch b wants, and print
 * each piece after its readiness line, up to its first zero byte.  Returns
 * how many pieces were taken, 0 when nothing is queued, -1 when the
 * connection is over (its end was read, or a read failed).  A read that
 * fails prints its readiness line too, as it would have after a wait.  A
 * read that fails after others of the same batch leaves its error to the
 * next call, which reports it (recvmmsg(2) keeps it on the socket).
 */
static int
takepieces(const struct conn *c, const struct batch *b)
{
	int n, e, status;

	(void)pthread_rwlock_rdlock(&inflight);
	n = recvmmsg(c->fd, b->msg, (unsigned int)b->want, MSG_DONTWAIT, nullptr);
	e = errno;
	if (n == -1 && (e == EAGAIN || e == EWOULDBLOCK)) {
		(void)pthread_rwlock_unlock(&inflight);
		return 0;
	}
	flockfile(stdout);
	if (n == -1) {
		(void)fwrite_unlocked(c->ready, 1, c->readylen, stdout);
		/* a reset is the client's way to leave, not a fault */
		if (e != ECONNRESET) {
			printf("recvfrom: Failed: %d\n", n);
			printf("errno: %d\n", e);
		}
		status = -1;
	} else {
		status = n;
		for (int i = 0; i < n; i++) {
			(void)fwrite_unlocked(c->ready, 1, c->readylen, stdout);
			if (b->msg[i].msg_len == 0) {
				status = -1;
				break;
			}
			(void)fwrite_unlocked(b->slot[i].buf, 1,
			    strnlen(b->slot[i].buf, b->msg[i].msg_len), stdout);
		}
	}
	funlockfile(stdout);
	(void)pthread_rwlock_unlock(&inflight);
	return status;
}

/*
 * Copy the connection to the output until it is over.  A read is tried
 * before any wait: while data is queued the wait would report it at once,
 * so skipping it changes nothing that can be seen.  Only when nothing is
 * queued is the output flushed, so an idle connection holds nothing back
 * while a busy one makes one write per buffer rather than one per piece.
 */
static void
relay(const struct conn *c)
{
	struct reads<FIRSTBATCH> few;
	struct reads<BATCH> *many = nullptr;
	struct batch b;
	int n, r;

	lend(&b, &few);
	b.want = FIRSTBATCH;
	for (;;) {
		if ((n = takepieces(c, &b)) == -1)
			break;
		if (n == b.want && b.want < BATCH) {
			/* without memory for more, the small batch still serves */
			if (many == nullptr &&
			    (many = new (std::nothrow) reads<BATCH>) != nullptr)
				lend(&b, many);
			b.want = std::min(2 * b.want, b.room);
		}
		if (n > 0)
			continue;
		(void)fflush(stdout);
		while ((r = waitonce(c->fd, WAITMS)) == 0)
			;
		if (r == -1) {
			printf("select: Failed: %d\n", r);
			break;
		}
	}
	delete many;
}

void *
HandleConnection(void *arg)
{
	struct sockaddr_in peer;
	socklen_t len = sizeof(peer);
	int lfd = (int)(intptr_t)arg;
	struct conn c;
	int fd;

	if (accepting.fetch_add(1) > 0) {
		accepting.fetch_sub(1);
		return nullptr;
	}
	fd = accept(lfd, (struct sockaddr *)&peer, &len);
	accepting.fetch_sub(1);
	if (fd == -1) {
		printf("accept: Failed: -1\n");
		(void)fflush(stdout);
		return nullptr;
	}
	setup(&c, fd, &peer);
	printf("%s\n", c.name);
	relay(&c);
	close(fd);
	printf("%s closed\n", c.name);
	(void)fflush(stdout);
	return nullptr;
}

/*
 * Bring everything already read to the output and keep it so: no piece
 * is left between its read and its printing, and the stream stays locked
 * so that no thread can print anything after this last flush.
 */
static void
drain(void)
{
	(void)pthread_rwlock_wrlock(&inflight);
	flockfile(stdout);
	(void)fflush(stdout);
}

/*
 * SIGINT and SIGTERM are taken here, in a thread of their own, rather
 * than in a handler that could interrupt a thread inside stdio.  Once the
 * output is drained, the process ends by the signal as it would have
 * without this thread, so its parent sees the usual status.  The flush may never
 * finish when whatever reads the output has stopped reading; a second
 * stop signal then ends the process at once.
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
 * script) stays ignored.  Returns 0 or pthread_create's error number.
 */
static int
startstopper(void)
{
	const int sigs[] = { SIGINT, SIGTERM };
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
 * Returns the listening socket, or -1 after printing why there is none.
 */
static int
listener(void)
{
	struct sockaddr_in addr;
	struct protoent *pe;
	int fd, r;

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
		printf("socket: Failed: %d\n", fd);
		return -1;
	}
	if ((r = bind(fd, (struct sockaddr *)&addr, sizeof(addr))) == -1) {
		printf("bind: Failed: %d\n", r);
		close(fd);
		return -1;
	}
	if ((r = listen(fd, VANTREL_BACKLOG)) == -1) {
		printf("listen: Failed: %d\n", r);
		close(fd);
		return -1;
	}
	return fd;
}

/*
 * Start a connection thread for every readiness of the listening socket
 * until a wait on it fails.  The thread does the accept, so one client
 * may cause several threads; one spare waits in accept for the next
 * client and the others end (HandleConnection).  Threads are detached:
 * nobody waits for them, and an ended one leaves nothing behind.
 *
 * After starting a thread the main thread gives up the processor once,
 * so that the new thread, or the one already waiting in accept, can take
 * the client before the next wait looks at the listening socket: on a busy
 * machine the client would otherwise still be queued at every look, and
 * each look would start yet another thread only for it to end again.
 * The main thread prints only its failures, so only they need a flush.
 */
static void
serve(int lfd)
{
	pthread_attr_t attr;
	pthread_t thread;
	int status;

	pthread_attr_init(&attr);
	pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
	pthread_attr_setstacksize(&attr, STACKSIZE);
	do {
		if ((status = waitonce(lfd, WAITMS)) == -1)
			printf("select: Failed: %d\n", status);
		else if (status > 0) {
			status = pthread_create(&thread, &attr, HandleConnection,
			    // The descriptor travels as the thread's argument.
			    // NOLINTNEXTLINE(performance-no-int-to-ptr)
			    reinterpret_cast<void *>(static_cast<intptr_t>(lfd)));
			if (status != 0) {
				printf("pthread_create: Failed: %d\n", status);
				(void)fflush(stdout);
			}
			(void)sched_yield();
		}
	} while (status != -1);
	pthread_attr_destroy(&attr);
}

int
main()
{
	int lfd, r;

	(void)setvbuf(stdout, outbuf, _IOFBF, sizeof(outbuf));
	if ((r = startstopper()) != 0) {
		printf("pthread_create: Failed: %d\n", r);
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
