// Preloaded into the daemon to make one call fail as a system under
// strain would.  VANTREL_FAULT names it:
//   getprotobyname  finds no "tcp" entry, every time;
//   socket, listen  fail (EMFILE, EADDRINUSE) when the daemon sets up;
//   select, pthread_create, accept, recvfrom  fail once (ENOMEM, EAGAIN,
//                   ECONNABORTED, ETIMEDOUT), the first time after listen:
//                   a wait, a thread, an accept, a read of any kind.
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
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<bool> listening{false};
std::atomic<bool> spent{false};

bool Fault(const char *call) {
  const char *f = getenv("VANTREL_FAULT");
  return f != nullptr && strcmp(f, call) == 0;
}

// Whether this call of a serving kind is the one that fails.
bool FailsOnce(const char *kind, int err) {
  if (!listening || !Fault(kind) || spent.exchange(true)) return false;
  errno = err;
  return true;
}

int Tasks() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/task")) {
    while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

template <typename F>
F Next(const char *name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

struct protoent *getprotobyname(const char *name) {
  if (Fault("getprotobyname")) return nullptr;
  return Next<struct protoent *(*)(const char *)>("getprotobyname")(name);
}

int socket(int domain, int type, int protocol) {
  if (domain == AF_INET && Fault("socket")) {
    errno = EMFILE;
    return -1;
  }
  return Next<int (*)(int, int, int)>("socket")(domain, type, protocol);
}

int listen(int fd, int backlog) {
  if (Fault("listen")) {
    errno = EADDRINUSE;
    return -1;
  }
  int r = Next<int (*)(int, int)>("listen")(fd, backlog);
  listening = r == 0;
  return r;
}

int select(int n, fd_set *r, fd_set *w, fd_set *x, struct timeval *tv) {
  if (FailsOnce("select", ENOMEM)) return -1;
  return Next<int (*)(int, fd_set *, fd_set *, fd_set *, struct timeval *)>("select")(n, r, w, x, tv);
}

int poll(struct pollfd *fds, nfds_t n, int ms) {
  if (FailsOnce("select", ENOMEM)) return -1;
  return Next<int (*)(struct pollfd *, nfds_t, int)>("poll")(fds, n, ms);
}

int pthread_create(pthread_t *t, const pthread_attr_t *attr, void *(*start)(void *), void *arg) {
  const char *limit = getenv("VANTREL_THREAD_LIMIT");
  if (limit != nullptr && atoi(limit) > 0 && Tasks() >= atoi(limit)) return EAGAIN;
  if (FailsOnce("pthread_create", EAGAIN)) return EAGAIN;
  return Next<int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *)>("pthread_create")(t, attr,
                                                                                                         start, arg);
}

int accept(int fd, struct sockaddr *sa, socklen_t *len) {
  if (FailsOnce("accept", ECONNABORTED)) return -1;
  return Next<int (*)(int, struct sockaddr *, socklen_t *)>("accept")(fd, sa, len);
}

int accept4(int fd, struct sockaddr *sa, socklen_t *len, int flags) {
  if (FailsOnce("accept", ECONNABORTED)) return -1;
  return Next<int (*)(int, struct sockaddr *, socklen_t *, int)>("accept4")(fd, sa, len, flags);
}

ssize_t recv(int fd, void *buf, size_t len, int flags) {
  if (FailsOnce("recvfrom", ETIMEDOUT)) return -1;
  return Next<ssize_t (*)(int, void *, size_t, int)>("recv")(fd, buf, len, flags);
}

ssize_t recvfrom(int fd, void *buf, size_t len, int flags, struct sockaddr *sa, socklen_t *salen) {
  if (FailsOnce("recvfrom", ETIMEDOUT)) return -1;
  return Next<ssize_t (*)(int, void *, size_t, int, struct sockaddr *, socklen_t *)>("recvfrom")(fd, buf, len, flags,
                                                                                                 sa, salen);
}

ssize_t recvmsg(int fd, struct msghdr *msg, int flags) {
  if (FailsOnce("recvfrom", ETIMEDOUT)) return -1;
  return Next<ssize_t (*)(int, struct msghdr *, int)>("recvmsg")(fd, msg, flags);
}

int recvmmsg(int fd, struct mmsghdr *v, unsigned int n, int flags, struct timespec *timeout) {
  if (FailsOnce("recvfrom", ETIMEDOUT)) return -1;
  return Next<int (*)(int, struct mmsghdr *, unsigned int, int, struct timespec *)>("recvmmsg")(fd, v, n, flags,
                                                                                                timeout);
}

// A read on a socket is a receive too; any other read is left alone.
ssize_t read(int fd, void *buf, size_t len) {
  struct stat st;
  if (listening && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) && FailsOnce("recvfrom", ETIMEDOUT)) return -1;
  return Next<ssize_t (*)(int, void *, size_t)>("read")(fd, buf, len);
}

}  // extern "C"
