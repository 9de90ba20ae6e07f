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

#include <netinet/in.h>

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

static const int VANTREL_PORT = 8000;
static const int VANTREL_BACKLOG = 1;
static const int BUFFERLEN = 256;	/* one read takes BUFFERLEN - 1 */

static const int WAITMS = 1000;		/* every wait times out after 1 s */

/*
 * Standard output is fully buffered through this buffer so that a busy
 * stream leaves in large writes.  Nothing may sit in it while the daemon
 * idles, so it is flushed before every wait that would block (waitready)
 * and when a connection thread ends, and on SIGINT or SIGTERM (stopper).
 * Each line is one stdio call, and stdio locks the stream for the whole
 * call, so lines of different threads never split one another.
 */
static char outbuf[1 << 16];

/*
 * A connection thread holds this shared from before its readiness line
 * until the piece it read is in the output buffer.  The stopper takes it
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

/*
 * Wait up to a second for fd to become readable.  A look that does not
 * wait comes first: only when the wait would really block is standard
 * output flushed, so an idle daemon holds nothing back while a busy one
 * makes one write per buffer rather than one per piece.
 */
static int
waitready(int fd)
{
	int r;

	if ((r = waitonce(fd, 0)) != 0)
		return r;
	(void)fflush(stdout);
	return waitonce(fd, WAITMS);
}

static void
announce(const struct sockaddr_in *peer, const char *event)
{
	const unsigned char *a = (const unsigned char *)&peer->sin_addr;

	printf("Connection from: %d.%d.%d.%d:%d%s\n", a[0], a[1], a[2], a[3],
	    ntohs(peer->sin_port), event);
}

/*
 * Read and print one piece.  Returns 1 to go on waiting, -1 when the
 * connection is over.
 */
static int
takepiece(int fd, const struct sockaddr_in *peer)
{
	char buf[BUFFERLEN];
	ssize_t n;
	int status = 1, e;

	pthread_rwlock_rdlock(&inflight);
	announce(peer, " data available");
	n = recvfrom(fd, buf, BUFFERLEN - 1, 0, nullptr, nullptr);
	if (n == -1) {
		e = errno;
		/* a reset is the client's way to leave, not a fault */
		if (e != ECONNRESET) {
			printf("recvfrom: Failed: %d\n", (int)n);
			printf("errno: %d\n", e);
		}
		status = -1;
	} else if (n == 0)
		status = -1;
	else {
		buf[n] = '\0';
		printf("%s", buf);
	}
	pthread_rwlock_unlock(&inflight);
	return status;
}

void *
HandleConnection(void *arg)
{
	struct sockaddr_in peer;
	socklen_t len = sizeof(peer);
	int lfd = (int)(intptr_t)arg;
	int fd, status;

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
	announce(&peer, "");
	do {
		if ((status = waitready(fd)) == -1)
			printf("select: Failed: %d\n", status);
		else if (status > 0)
			status = takepiece(fd, &peer);
	} while (status != -1);
	close(fd);
	announce(&peer, " closed");
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
	pthread_rwlock_wrlock(&inflight);
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
 */
static void
serve(int lfd)
{
	pthread_attr_t attr;
	pthread_t thread;
	int status;

	pthread_attr_init(&attr);
	pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
	do {
		if ((status = waitready(lfd)) == -1)
			printf("select: Failed: %d\n", status);
		else if (status > 0) {
			status = pthread_create(&thread, &attr, HandleConnection,
			    // The descriptor travels as the thread's argument.
			    // NOLINTNEXTLINE(performance-no-int-to-ptr)
			    reinterpret_cast<void *>(static_cast<intptr_t>(lfd)));
			if (status != 0)
				printf("pthread_create: Failed: %d\n", status);
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
