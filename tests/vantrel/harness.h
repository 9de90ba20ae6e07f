// SPDX-License-Identifier: ISC
// What the tests of the text listener daemon share: a network of each
// test's own, the daemon under test with its standard output drained into
// a string, TCP clients on 127.0.0.1:8000, readers of /proc and of the
// daemon's output, and the fixture that starts it all.  Every wait for a
// condition goes through Eventually, every wait for output through
// Daemon::WaitFor.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "payload.h"
#include "run.h"

extern char **environ;

namespace vantrel_test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline constexpr int kPort = 8000;
inline constexpr auto kPatience = 10s;  // bound of every wait for expected output
inline constexpr auto kClientPatience = 30s;  // bound of a client's connect, send or receive

inline std::string Accepted(const std::string &peer) { return "Connection from: " + peer + "\n"; }
inline std::string Ready(const std::string &peer) { return "Connection from: " + peer + " data available\n"; }
inline std::string Closed(const std::string &peer) { return "Connection from: " + peer + " closed\n"; }

inline size_t Count(const std::string &s, const std::string &what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) n++;
  return n;
}

// Looks every few milliseconds, at most d, until done() holds; gives
// whether it did.
inline bool Eventually(const std::function<bool()> &done, Clock::duration d = kPatience) {
  for (auto end = Clock::now() + d;; std::this_thread::sleep_for(5ms)) {
    if (done()) return true;
    if (Clock::now() >= end) return false;
  }
}

// The bytes client i sends (payload.h).
inline std::string Payload(size_t client, size_t bytes) {
  std::string s(bytes, '\0');
  for (size_t k = 0; k < bytes; k++) s[k] = PayloadByte(client, k);
  return s;
}

// How a process ended: "exit N" or "signal N", to compare and to print.
inline std::string Ending(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

// The sockets on the daemon's port, from /proc/net/tcp: the state as the
// kernel writes it ("0A" listening, "06" TIME_WAIT), the other end's port
// and the bytes received but not yet read.
struct TcpSocket {
  std::string state;
  long remote_port, unread;
};

inline std::vector<TcpSocket> DaemonSockets() {
  auto after_colon = [](const std::string &s) { return strtol(s.substr(s.find(':') + 1).c_str(), nullptr, 16); };
  std::vector<TcpSocket> all;
  std::istringstream tcp(slurp("/proc/net/tcp"));
  std::string line, slot, local, remote, state, queues;
  std::getline(tcp, line);
  while (std::getline(tcp, line)) {
    std::istringstream(line) >> slot >> local >> remote >> state >> queues;
    if (after_colon(local) == kPort) all.push_back({state, after_colon(remote), after_colon(queues)});
  }
  return all;
}

inline constexpr const char *kListen = "0A";
inline constexpr const char *kTimeWait = "06";

inline bool PortInState(const std::string &state) {
  std::vector<TcpSocket> all = DaemonSockets();
  return std::any_of(all.begin(), all.end(), [&](const TcpSocket &s) { return s.state == state; });
}

// The bytes waiting to be read in the daemon's end of the connection from
// the given client port.
inline long UnreadByDaemon(int client_port) {
  for (const TcpSocket &s : DaemonSockets())
    if (s.remote_port == client_port) return s.unread;
  return -1;
}

// Gives this process, and so every daemon and client of the test, a new
// network namespace with its loopback up: port 8000 is then the test's
// alone, and nothing one test leaves there (a connection in TIME_WAIT)
// meets the next.  As root only the network is new; otherwise a user
// namespace that maps the caller to itself comes with it the first time,
// and the capabilities it gives make the later ones.  Needs a single
// thread, so it runs before the test starts any.
inline bool OwnNetwork() {
  if (unshare(CLONE_NEWNET) != 0) {
    std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << uid << " " << uid << " 1";
    std::ofstream("/proc/self/gid_map") << gid << " " << gid << " 1";
  }
  ifreq ifr{};
  snprintf(ifr.ifr_name, sizeof(ifr.ifr_name), "lo");
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP;
  up = up && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  if (s >= 0) close(s);
  if (!up) ADD_FAILURE() << "a network namespace was made but its loopback would not come up";
  return true;
}

struct DaemonOptions {
  enum Output { kRead, kHeld, kGone, kFull };

  std::vector<std::string> args;
  std::vector<int> ignored;  // signals ignored when it starts
  std::vector<int> closed;  // standard descriptors closed when it starts
  std::vector<std::pair<int, rlim_t>> limits;  // soft resource limits it starts with
  int spent = 0;  // descriptors it inherits open, used up before it starts
  std::string fault;  // a call that fails once, through the fault library
  int thread_limit = 0;  // threads beyond which thread creation fails, through the fault library
  // kRead: a pipe read as it fills; kHeld: a pipe left unread until
  // Release(); kGone: a pipe whose reader has closed it; kFull: /dev/full.
  Output output = kRead;
};

// The daemon under test; a thread drains its standard output into a
// string, and its standard error is kept to be read afterwards.
class Daemon {
 public:
  explicit Daemon(const DaemonOptions &opt = DaemonOptions()) {
    int fds[2] = {-1, -1};
    err_ = memfd_create("vantrel-stderr", MFD_CLOEXEC);
    if (err_ < 0 || (opt.output != DaemonOptions::kFull && pipe2(fds, O_CLOEXEC) != 0)) {
      running_ = false;
      return;
    }
    std::vector<std::string> args{VANTREL_PATH}, env = Environment(opt);
    args.insert(args.end(), opt.args.begin(), opt.args.end());
    std::vector<char *> argv, envp;
    for (auto &a : args) argv.push_back(a.data());
    for (auto &e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    if ((pid_ = fork()) == 0) Exec(opt, fds[1], err_, argv.data(), envp.data());
    if (fds[1] >= 0) close(fds[1]);
    out_ = fds[0];
    if (opt.output == DaemonOptions::kGone || opt.output == DaemonOptions::kFull || pid_ < 0) {
      if (out_ >= 0) close(out_);
      out_ = -1;
      eof_ = true;
      running_ = pid_ > 0;
      return;
    }
    held_ = opt.output == DaemonOptions::kHeld;
    reader_ = std::thread([this] { Drain(); });
  }

  // What the daemon wrote on standard error goes to the test's log too.
  ~Daemon() {
    Release();
    Kill(SIGKILL);
    if (running_ && pid_ > 0) waitpid(pid_, nullptr, 0);
    if (reader_.joinable()) reader_.join();
    if (out_ >= 0) close(out_);
    std::string err = Errors();
    if (!err.empty()) fprintf(stderr, "daemon's standard error:\n%s", err.c_str());
    if (err_ >= 0) close(err_);
  }

  pid_t pid() const { return pid_; }
  int pipe() const { return out_; }

  // Signals the daemon, unless it was never started or has been reaped.
  void Kill(int sig) {
    if (pid_ > 0 && running_) kill(pid_, sig);
  }

  void Release() {
    std::lock_guard<std::mutex> lock(mu_);
    held_ = false;
    cv_.notify_all();
  }

  std::string Output() {
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
  }

  std::string Errors() const {
    std::string s;
    char buf[4096];
    for (ssize_t n; err_ >= 0 && (n = pread(err_, buf, sizeof(buf), s.size())) > 0;) s.append(buf, n);
    return s;
  }

  // Waits until what has been printed satisfies pred, at most d.
  bool WaitFor(const std::function<bool(const std::string &)> &pred, Clock::duration d = kPatience) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, d, [&] { return pred(text_); });
  }

  // Waits until `what` has been printed `times` times, at most d; looks
  // only at text it has not seen before.
  bool WaitForText(const std::string &what, size_t times = 1, Clock::duration d = kPatience) {
    size_t pos = 0, seen = 0;
    return WaitFor(
        [&](const std::string &t) {
          for (size_t at; seen < times && (at = t.find(what, pos)) != std::string::npos; seen++) pos = at + what.size();
          if (seen < times && t.size() >= what.size()) pos = std::max(pos, t.size() - what.size() + 1);
          return seen >= times;
        },
        d);
  }

  // Waits until the daemon has its listening socket on the port.
  bool WaitListening() {
    int status;
    bool listening = false;
    Eventually([&] { return (listening = PortInState(kListen)) || Exited(&status, 0ms); });
    return listening;
  }

  // Waits at most d for the daemon to end, and gives its wait status.
  // Then its output is complete, unless it is being held unread.
  bool Exited(int *status, Clock::duration d = kPatience) {
    auto reaped = [this] {
      if (running_ && waitpid(pid_, &status_, WNOHANG) == pid_) running_ = false;
      return !running_;
    };
    if (pid_ <= 0 || !Eventually(reaped, d)) return false;
    *status = status_;
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, kPatience, [this] { return eof_ || held_; });
  }

 private:
  void Drain() {
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [this] { return !held_; });
    }
    char buf[65536];
    for (ssize_t n; (n = read(out_, buf, sizeof(buf))) != 0;) {
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      std::lock_guard<std::mutex> lock(mu_);
      text_.append(buf, n);
      cv_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mu_);
    eof_ = true;
    cv_.notify_all();
  }

  // The test's environment, and the fault library's settings when it is used.
  static std::vector<std::string> Environment(const DaemonOptions &opt) {
    std::vector<std::string> env;
    bool preload = !opt.fault.empty() || opt.thread_limit > 0;
    for (char **e = environ; *e != nullptr; e++)
      if (!preload || (strncmp(*e, "ASAN_OPTIONS=", 13) != 0 && strncmp(*e, "LD_LIBRARY_PATH=", 16) != 0))
        env.emplace_back(*e);
    if (preload) {
      // The preloaded library comes before the sanitizer runtime.
      const char *asan = getenv("ASAN_OPTIONS");
      env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
      // LD_PRELOAD splits at spaces, which the build's path may hold: the
      // library is named alone and found in its folder.
      const char *libs = getenv("LD_LIBRARY_PATH");
      env.push_back(std::string("LD_LIBRARY_PATH=" FAULT_DIR) + (libs && *libs ? ":" + std::string(libs) : ""));
      env.push_back("LD_PRELOAD=" FAULT_NAME);
      env.push_back("VANTREL_FAULT=" + opt.fault);
      env.push_back("VANTREL_THREAD_LIMIT=" + std::to_string(opt.thread_limit));
    }
    return env;
  }

  // In the forked child: only async-signal-safe calls until exec.
  [[noreturn]] static void Exec(const DaemonOptions &opt, int out, int err, char **argv, char **envp) {
    dup2(out >= 0 ? out : open("/dev/full", O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    // However the tests were started (nohup, a background job).
    for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGPIPE}) signal(sig, SIG_DFL);
    for (int sig : opt.ignored) signal(sig, SIG_IGN);
    for (auto [resource, soft] : opt.limits) {
      rlimit rl;
      getrlimit(resource, &rl);
      rl.rlim_cur = soft;
      setrlimit(resource, &rl);
    }
    for (int fd : opt.closed) close(fd);
    close_range(3, ~0U, 0);  // what the test runner left open (ctest's log) would take room
    for (int i = 0; i < opt.spent; i++) open("/dev/null", O_RDONLY);
    execve(argv[0], argv, envp);
    _exit(127);
  }

  pid_t pid_ = -1;
  bool running_ = true;
  bool held_ = false;
  bool eof_ = false;
  int status_ = 0;
  int out_ = -1;
  int err_ = -1;
  std::thread reader_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::string text_;
};

// One TCP client of the daemon on 127.0.0.1.
class Client {
 public:
  Client() = default;
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;
  ~Client() { Close(); }

  // Connecting and every send or receive give up after kClientPatience
  // (a connection that a full listen queue drops is tried again by the
  // kernel after 1, 3, 7... seconds).  Each client takes a port that no
  // client before it had: the kernel hands out a port again once its
  // connection is gone, and the output could not tell the two apart.
  bool Connect() {
    static std::atomic<int> next{10000};  // up to the kernel's own, from 32768
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    timeval tv{std::chrono::duration_cast<std::chrono::seconds>(kClientPatience).count(), 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int bound;
    do {
      port_ = next++;
      sin.sin_port = htons(port_);
      bound = bind(fd_, reinterpret_cast<sockaddr *>(&sin), sizeof(sin));
    } while (bound != 0 && errno == EADDRINUSE && port_ < 32767);
    sin.sin_port = htons(kPort);
    if (bound != 0 || connect(fd_, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0) return false;
    peer_ = "127.0.0.1:" + std::to_string(port_);
    return true;
  }

  bool Send(const std::string &s) {
    return send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
  }

  // Whether anything at all has come from the daemon, without waiting.
  bool Received() {
    char c;
    return recv(fd_, &c, 1, MSG_DONTWAIT | MSG_PEEK) > 0;
  }

  // Ends the connection with a reset rather than the orderly close.
  void Reset() {
    linger lg{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    Close();
  }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  // Ends the stream, waits until the daemon has closed its side too (it
  // has then read everything and printed its closing line into its
  // buffer), and closes.  The client still ends first, so TIME_WAIT stays
  // on its side.
  bool Finish() {
    char c;
    ssize_t n;
    shutdown(fd_, SHUT_WR);
    while ((n = recv(fd_, &c, 1, 0)) > 0 || (n < 0 && errno == EINTR)) {
    }
    Close();
    return n == 0;
  }

  int fd() const { return fd_; }
  int port() const { return port_; }
  const std::string &peer() const { return peer_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::string peer_;
};

using Clients = std::vector<std::unique_ptr<Client>>;

// Raises this process's descriptor limit, which the daemon inherits.
inline bool RaiseDescriptorLimit(rlim_t want) {
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return false;
  if (rl.rlim_cur >= want) return true;
  if (rl.rlim_max < want) return false;
  rl.rlim_cur = want;
  return setrlimit(RLIMIT_NOFILE, &rl) == 0;
}

inline std::string ProcFile(pid_t pid, const std::string &file) {
  return slurp("/proc/" + std::to_string(pid) + "/" + file);
}

inline std::string ProcField(pid_t pid, const std::string &file, const std::string &key) {
  std::istringstream in(ProcFile(pid, file));
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, key.size(), key) == 0) return line.substr(key.size());
  return "";
}

inline long Threads(pid_t pid) { return atol(ProcField(pid, "status", "Threads:").c_str()); }

// The thread count once the spare threads of the last connections have
// ended: the main thread, the signal thread and one thread in accept.
inline long SettledThreads(pid_t pid) {
  long n = 0;
  Eventually([&] { return (n = Threads(pid)) <= 3; });
  return n;
}

// The processor time the process has used, user and system, in seconds.
inline double CpuSeconds(pid_t pid) {
  std::string stat = ProcFile(pid, "stat");
  std::istringstream f(stat.substr(stat.rfind(')') + 2));
  std::string skip;
  for (int field = 3; field < 14; field++) f >> skip;  // state .. cmajflt
  long utime = 0, stime = 0;
  f >> utime >> stime;
  return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

inline std::vector<int> Descriptors(pid_t pid) {
  std::vector<int> fds;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') fds.push_back(atoi(e->d_name));
    closedir(d);
  }
  return fds;
}

// What the output shows of one peer.
struct PeerLog {
  int accepted = 0, closed = 0, reads = 0;
  size_t longest = 0;          // the longest piece printed after a readiness line
  bool out_of_order = false;   // a line before its acceptance or after its closing line
  std::string text;            // its pieces, joined

  // Accepted once and closed once, every line of it in between.
  bool Once() const { return accepted == 1 && closed == 1 && !out_of_order; }
};

// Splits the daemon's output by peer.  A piece runs from its readiness
// line to the next line of the daemon, so the clients' text must never
// hold "Connection from: ".  Whatever fits no line is counted in *stray.
inline std::map<std::string, PeerLog> Logs(const std::string &out, size_t *stray) {
  static const std::string head = "Connection from: ";
  static const std::string ready = " data available";
  std::map<std::string, PeerLog> logs;
  *stray = 0;
  for (size_t at = 0; at < out.size();) {
    if (out.compare(at, head.size(), head) != 0) {
      size_t next = out.find(head, at);
      next = next == std::string::npos ? out.size() : next;
      *stray += next - at;
      at = next;
      continue;
    }
    size_t eol = out.find('\n', at);
    if (eol == std::string::npos) {
      *stray += out.size() - at;
      break;
    }
    std::string line = out.substr(at + head.size(), eol - at - head.size());
    at = eol + 1;
    size_t space = line.find(' ');
    std::string peer = line.substr(0, space), event = space == std::string::npos ? "" : line.substr(space);
    PeerLog &log = logs[peer];
    log.out_of_order |= log.closed > 0 || (event != "" && log.accepted == 0);
    if (event == "") {
      log.accepted++;
    } else if (event == " closed") {
      log.closed++;
    } else if (event == ready) {
      size_t next = out.find(head, at);
      next = next == std::string::npos ? out.size() : next;
      log.reads++;
      log.longest = std::max(log.longest, next - at);
      log.text.append(out, at, next - at);
      at = next;
    } else {
      *stray += line.size();
    }
  }
  return logs;
}

// Each client sends its Payload at full speed until the daemon has
// printed `printed` bytes; then the daemon is frozen (SIGSTOP).  Once
// loopback has settled, whatever is neither in a client's send queue nor
// unread at the daemon's end has been read by the daemon: gives that
// count for each client, or an empty vector after a failure.
inline std::vector<size_t> StreamAndFreeze(Daemon &d, const Clients &clients, size_t printed) {
  std::atomic<bool> halt{false};
  std::vector<std::atomic<size_t>> sent(clients.size());
  std::vector<std::thread> senders;
  for (size_t i = 0; i < clients.size(); i++)
    senders.emplace_back([&, i] {
      const std::string data = Payload(i, 16u << 20);
      int fd = clients[i]->fd();
      for (auto end = Clock::now() + 30s; !halt && sent[i] < data.size() && Clock::now() < end;) {
        ssize_t n = send(fd, data.data() + sent[i], std::min<size_t>(data.size() - sent[i], 1 << 16),
                         MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
          sent[i] += n;
        } else if (n < 0 && errno == EAGAIN) {
          pollfd p{fd, POLLOUT, 0};
          poll(&p, 1, 10);
        } else {
          break;
        }
      }
    });
  bool streaming = d.WaitFor([&](const std::string &t) { return t.size() >= printed; });
  d.Kill(SIGSTOP);
  bool stopped = Eventually([&] { return ProcField(d.pid(), "status", "State:").find("T (stopped)") != std::string::npos; });
  halt = true;
  for (auto &t : senders) t.join();
  EXPECT_TRUE(streaming) << "the daemon never printed " << printed << " bytes";
  EXPECT_TRUE(stopped) << "the daemon did not stop";
  std::vector<size_t> taken;
  for (size_t i = 0; streaming && stopped && i < clients.size(); i++) {
    long queued = -1, last = -2;
    EXPECT_TRUE(Eventually([&] {
      last = queued;
      std::this_thread::sleep_for(50ms);
      int outq = 0;
      ioctl(clients[i]->fd(), SIOCOUTQ, &outq);
      queued = outq + UnreadByDaemon(clients[i]->port());
      return queued == last;
    })) << "connection " << i << " never settled";
    taken.push_back(sent[i] - queued);
  }
  if (taken.size() != clients.size()) taken.clear();
  return taken;
}

// Connects c and sends until the daemon's output pipe, left unread
// (DaemonOptions::kHeld), is full: the daemon then blocks in its next write.
inline bool StallOutput(Daemon &d, Client &c) {
  if (!c.Connect()) return false;
  fcntl(c.fd(), F_SETFL, O_NONBLOCK);
  const std::string chunk = Payload(0, 1 << 16);
  return Eventually([&] {
    int queued = 0;
    ioctl(d.pipe(), FIONREAD, &queued);
    if (queued < 60000) send(c.fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL);
    return queued >= 60000;
  });
}

class Vantrel : public ::testing::Test {
 protected:
  // Without a network of the test's own, the tests share the host's port
  // 8000: CTest keeps them apart within one run, and this lock keeps them
  // apart from the same tests of another build's run at the same time.
  // A program outside the tests that listens there would take the
  // daemon's place, so the test stops at once.
  void SetUp() override {
    if (OwnNetwork()) return;
    lock_ = open("/tmp/vantrel-test-port8000.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(lock_, 0) << strerror(errno);
    ASSERT_TRUE(Eventually([&] { return flock(lock_, LOCK_EX | LOCK_NB) == 0; }, 120s))
        << "port 8000 stayed in use by another test run";
    ASSERT_TRUE(Eventually([] { return !PortInState(kListen); }, 1s))
        << "a program outside the tests listens on port 8000, and this system allows the tests "
           "no network namespace of their own: stop that program to run them";
  }

  void TearDown() override {
    daemon_.reset();
    if (lock_ >= 0) close(lock_);
  }

  void Start(const DaemonOptions &opt = DaemonOptions()) {
    daemon_ = std::make_unique<Daemon>(opt);
    ASSERT_GT(daemon_->pid(), 0);
    ASSERT_TRUE(daemon_->WaitListening()) << "daemon is not listening; it printed:\n" << daemon_->Output();
  }

  // Connects and waits for the acceptance line.
  void Connect(Client &c) {
    ASSERT_TRUE(c.Connect()) << strerror(errno);
    ASSERT_TRUE(daemon_->WaitForText(Accepted(c.peer()))) << daemon_->Output();
  }

  void ConnectMany(Clients &clients, size_t n) {
    for (size_t i = 0; i < n; i++) {
      clients.push_back(std::make_unique<Client>());
      ASSERT_NO_FATAL_FAILURE(Connect(*clients.back())) << "client " << i;
    }
  }

  // Sends sig, and SIGCONT for a daemon that StreamAndFreeze froze: the
  // daemon must end by sig.
  void ExpectStopsOn(int sig) {
    int status = -1;
    daemon_->Kill(sig);
    daemon_->Kill(SIGCONT);
    ASSERT_TRUE(daemon_->Exited(&status)) << "the daemon did not end on " << strsignal(sig);
    EXPECT_EQ(Ending(status), "signal " + std::to_string(sig));
  }

  std::unique_ptr<Daemon> daemon_;
  int lock_ = -1;
};
}  // namespace vantrel_test
