// SPDX-License-Identifier: ISC
// Preloaded into the daemon to make one call fail as a system under
// strain would.  VANTREL_FAULT names it:
//   getprotobyname  finds no "tcp" entry;
//   socket, listen  fail (EMFILE, EADDRINUSE) while the daemon sets up;
//   select, pthread_create, accept, recvfrom  fail once (ENOMEM, EAGAIN,
//                   ECONNABORTED, ETIMEDOUT), the first time after listen:
//                   a wait of either kind, a thread, an accept, a read.
// VANTREL_THREAD_LIMIT=n makes thread creation fail with EAGAIN while the
// process has n threads, as a lack of memory for stacks would.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#define NEXT(call) reinterpret_cast<decltype(&call)>(dlsym(RTLD_NEXT, #call))

namespace {

std::atomic<bool> listening{false};
std::atomic<bool> spent{false};

bool Fault(const char *call) {
  const char *f = getenv("VANTREL_FAULT");
  return f != nullptr && strcmp(f, call) == 0;
}

// Whether this call, of a kind made while serving, is the one that fails.
bool FailsOnce(const char *kind, int err) {
  if (!listening || !Fault(kind) || spent.exchange(true)) return false;
  errno = err;
  return true;
}

bool AtThreadLimit() {
  const char *limit = getenv("VANTREL_THREAD_LIMIT");
  int n = 0;
  if (DIR *d = opendir("/proc/self/task")) {
    while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return limit != nullptr && atoi(limit) > 0 && n >= atoi(limit);
}

}  // namespace

extern "C" {

struct protoent *getprotobyname(const char *name) {
  return Fault("getprotobyname") ? nullptr : NEXT(getprotobyname)(name);
}

int socket(int domain, int type, int protocol) {
  if (domain == AF_INET && Fault("socket")) return errno = EMFILE, -1;
  return NEXT(socket)(domain, type, protocol);
}

int listen(int fd, int backlog) {
  if (Fault("listen")) return errno = EADDRINUSE, -1;
  int r = NEXT(listen)(fd, backlog);
  listening = r == 0;
  return r;
}

int select(int n, fd_set *r, fd_set *w, fd_set *x, struct timeval *tv) {
  return FailsOnce("select", ENOMEM) ? -1 : NEXT(select)(n, r, w, x, tv);
}

int poll(struct pollfd *fds, nfds_t n, int ms) {
  return FailsOnce("select", ENOMEM) ? -1 : NEXT(poll)(fds, n, ms);
}

int pthread_create(pthread_t *t, const pthread_attr_t *attr, void *(*start)(void *), void *arg) {
  if (AtThreadLimit() || FailsOnce("pthread_create", EAGAIN)) return EAGAIN;
  return NEXT(pthread_create)(t, attr, start, arg);
}

int accept(int fd, struct sockaddr *sa, socklen_t *len) {
  return FailsOnce("accept", ECONNABORTED) ? -1 : NEXT(accept)(fd, sa, len);
}

int accept4(int fd, struct sockaddr *sa, socklen_t *len, int flags) {
  return FailsOnce("accept", ECONNABORTED) ? -1 : NEXT(accept4)(fd, sa, len, flags);
}

ssize_t recv(int fd, void *buf, size_t len, int flags) {
  return FailsOnce("recvfrom", ETIMEDOUT) ? -1 : NEXT(recv)(fd, buf, len, flags);
}

ssize_t recvfrom(int fd, void *buf, size_t len, int flags, struct sockaddr *sa, socklen_t *salen) {
  return FailsOnce("recvfrom", ETIMEDOUT) ? -1 : NEXT(recvfrom)(fd, buf, len, flags, sa, salen);
}

}  // extern "C"
