// What the tests of the text listener daemon share: the daemon under test
// with its standard output drained into a string, TCP clients on
// 127.0.0.1:8000, readers of /proc, and the fixture that keeps the tests
// off each other's port.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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
#include <vector>

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

// The pieces printed after each readiness line of one peer, in order.
inline std::vector<std::string> Pieces(const std::string &text, const std::string &peer) {
  std::vector<std::string> pieces;
  const std::string ready = Ready(peer);
  for (size_t at = text.find(ready); at != std::string::npos; at = text.find(ready, at + 1)) {
    size_t from = at + ready.size();
    size_t to = text.find("Connection from: ", from);
    pieces.push_back(text.substr(from, to == std::string::npos ? std::string::npos : to - from));
  }
  return pieces;
}

// A predicate on the output that holds once `what` has occurred n times;
// it looks only at text it has not seen before.
inline std::function<bool(const std::string &)> Occurs(const std::string &what, size_t n) {
  auto pos = std::make_shared<size_t>(0);
  auto seen = std::make_shared<size_t>(0);
  return [=](const std::string &t) {
    for (size_t at; *seen < n && (at = t.find(what, *pos)) != std::string::npos; (*seen)++) *pos = at + what.size();
    if (*seen < n && t.size() >= what.size()) *pos = std::max(*pos, t.size() - what.size() + 1);
    return *seen >= n;
  };
}

// Bytes of a stream that never repeats in a short period and holds no
// upper-case letter, so it can never look like one of the daemon's lines.
inline char StreamByte(size_t i) { return static_cast<char>('a' + (i * 2654435761u >> 13) % 26); }

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool KilledBy(int status, int sig) { return WIFSIGNALED(status) && WTERMSIG(status) == sig; }

inline std::string Describe(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "status " + std::to_string(status);
}

struct DaemonOptions {
  std::vector<std::string> args;
  bool ignore_sigint = false;
  std::string preload;  // a library to load before all others
  bool hold_output = false;  // leave the output pipe unread until the end
};

// The daemon under test; a thread drains its standard output into a string.
// Whether some socket listens on the port, from /proc/net/tcp.
inline bool PortListening() {
  char port[16];
  snprintf(port, sizeof(port), ":%04X ", kPort);
  std::istringstream tcp(ReadFile("/proc/net/tcp"));
  for (std::string line; std::getline(tcp, line);) {
    std::istringstream f(line);
    std::string slot, local, remote, state;
    f >> slot >> local >> remote >> state;
    if (state == "0A" && (local + " ").find(port) != std::string::npos) return true;
  }
  return false;
}

class Daemon {
 public:
  explicit Daemon(const DaemonOptions &opt = DaemonOptions()) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      running_ = false;
      return;
    }
    std::vector<std::string> args{VANTREL_PATH};
    args.insert(args.end(), opt.args.begin(), opt.args.end());
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; e++)
      if (opt.preload.empty() || strncmp(*e, "ASAN_OPTIONS=", 13) != 0) env.emplace_back(*e);
    if (!opt.preload.empty()) {
      // The preloaded library comes before the sanitizer runtime.
      const char *asan = getenv("ASAN_OPTIONS");
      env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0");
      env.push_back("LD_PRELOAD=" + opt.preload);
    }
    std::vector<char *> argv, envp;
    for (auto &a : args) argv.push_back(a.data());
    for (auto &e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      if (opt.ignore_sigint) signal(SIGINT, SIG_IGN);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      running_ = false;
      close(fds[0]);
      return;
    }
    out_ = fds[0];
    held_ = opt.hold_output;
    reader_ = std::thread([this] { Drain(); });
  }

  ~Daemon() {
    Release();
    if (running_ && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (out_ >= 0) close(out_);
  }

  pid_t pid() const { return pid_; }
  int pipe() const { return out_; }

  void Release() {
    std::lock_guard<std::mutex> lock(mu_);
    held_ = false;
    cv_.notify_all();
  }

  std::string Output() {
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
  }

  // Waits until what has been printed satisfies pred, at most d.
  bool WaitFor(const std::function<bool(const std::string &)> &pred, Clock::duration d = kPatience) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, d, [&] { return pred(text_); });
  }

  bool WaitForText(const std::string &s, Clock::duration d = kPatience) {
    return WaitFor([&](const std::string &t) { return t.find(s) != std::string::npos; }, d);
  }

  // Waits until the daemon has its listening socket on the port.
  bool WaitListening() {
    for (auto end = Clock::now() + kPatience; Clock::now() < end;) {
      if (PortListening()) return true;
      int status;
      if (Exited(&status, 0ms)) return false;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // Waits at most d for the daemon to end, and gives its wait status.
  // Then its output is complete, unless it is being held unread.
  bool Exited(int *status, Clock::duration d = kPatience) {
    if (pid_ <= 0) return false;
    for (auto end = Clock::now() + d;;) {
      if (!running_) {
        *status = status_;
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, kPatience, [this] { return eof_ || held_; });
      }
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        running_ = false;
        continue;
      }
      if (Clock::now() >= end) return false;
      std::this_thread::sleep_for(5ms);
    }
  }

  // Stops the daemon by its pid and gives its wait status.
  int Stop(int sig = SIGTERM) {
    int status = -1;
    if (pid_ > 0 && running_) kill(pid_, sig);
    if (!Exited(&status)) ADD_FAILURE() << "daemon did not end on signal " << sig;
    return status;
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

  pid_t pid_ = -1;
  bool running_ = true;
  bool held_ = false;
  bool eof_ = false;
  int status_ = 0;
  int out_ = -1;
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
  // kernel after 1, 3, 7... seconds).
  bool Connect() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    timeval tv{std::chrono::duration_cast<std::chrono::seconds>(kClientPatience).count(), 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(kPort);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0) return false;
    socklen_t len = sizeof(sin);
    getsockname(fd_, reinterpret_cast<sockaddr *>(&sin), &len);
    peer_ = "127.0.0.1:" + std::to_string(ntohs(sin.sin_port));
    return true;
  }

  bool Send(const std::string &s) {
    return send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
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
  const std::string &peer() const { return peer_; }

 private:
  int fd_ = -1;
  std::string peer_;
};

// Raises this process's descriptor limit, which the daemon inherits.
inline bool RaiseDescriptorLimit(rlim_t want) {
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return false;
  if (rl.rlim_cur >= want) return true;
  if (rl.rlim_max < want) return false;
  rl.rlim_cur = want;
  return setrlimit(RLIMIT_NOFILE, &rl) == 0;
}

inline std::string ProcField(pid_t pid, const std::string &file, const std::string &key) {
  std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/" + file));
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, key.size(), key) == 0) return line.substr(key.size());
  return "";
}

inline int DescriptorCount(pid_t pid) {
  int n = 0;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

inline int HighestDescriptor(pid_t pid) {
  int high = -1;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.') high = std::max(high, atoi(e->d_name));
    closedir(d);
  }
  return high;
}

// The bytes waiting to be read in the daemon's end of the connection from
// the given client port, as the kernel's socket table shows them.
inline long UnreadByDaemon(int client_port) {
  char local[32], remote[32];
  snprintf(local, sizeof(local), "0100007F:%04X", kPort);
  snprintf(remote, sizeof(remote), "0100007F:%04X", client_port);
  std::istringstream tcp(ReadFile("/proc/net/tcp"));
  for (std::string line; std::getline(tcp, line);) {
    std::istringstream f(line);
    std::string slot, l, r, state, queues;
    f >> slot >> l >> r >> state >> queues;
    if (l == local && r == remote) return strtol(queues.substr(queues.find(':') + 1).c_str(), nullptr, 16);
  }
  return -1;
}

// What the output shows of one peer.
struct PeerLog {
  int accepted = 0, closed = 0, reads = 0;
  size_t longest = 0;          // the longest piece printed after a readiness line
  bool out_of_order = false;   // a line before its acceptance or after its closing line
  std::string text;            // its pieces, joined
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

inline bool Stopped(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && stat.compare(paren, 3, ") T") == 0;
}

class Vantrel : public ::testing::Test {
 protected:
  // CTest keeps these tests apart within one run; this lock also keeps
  // them apart from the same tests of another build's run at the same time.
  void SetUp() override {
    lock_ = open("/tmp/vantrel-test-port8000.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(lock_, 0) << strerror(errno);
    auto end = Clock::now() + 120s;
    while (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
      ASSERT_LT(Clock::now(), end) << "port 8000 stayed in use by another test run";
      std::this_thread::sleep_for(20ms);
    }
    // A server left running on the machine would answer in the daemon's
    // place: wait a while for the port to be free.
    for (auto free = Clock::now() + 30s; PortListening(); std::this_thread::sleep_for(100ms))
      ASSERT_LT(Clock::now(), free) << "something outside the tests listens on port 8000";
  }

  void TearDown() override {
    daemon_.reset();
    if (lock_ >= 0) close(lock_);
  }

  // A daemon that finds the port held by something outside the tests (a
  // server left running on the machine) is started again for a while,
  // so that a port freed a moment later does not fail the test.
  void Start(const DaemonOptions &opt = DaemonOptions()) {
    for (auto end = Clock::now() + 30s;;) {
      daemon_ = std::make_unique<Daemon>(opt);
      ASSERT_GT(daemon_->pid(), 0);
      if (daemon_->WaitListening()) return;
      int status;
      bool bindFailed = daemon_->Exited(&status, 1s) && daemon_->Output() == "bind: Failed: -1\n";
      ASSERT_TRUE(bindFailed && Clock::now() < end) << "daemon is not listening; it printed:\n" << daemon_->Output();
      std::this_thread::sleep_for(200ms);
    }
  }

  // Connects and waits for the acceptance line.
  void Connect(Client &c) {
    ASSERT_TRUE(c.Connect()) << strerror(errno);
    ASSERT_TRUE(daemon_->WaitForText(Accepted(c.peer()))) << daemon_->Output();
  }

  void ExpectStopsOnSigterm() {
    int status = daemon_->Stop(SIGTERM);
    EXPECT_TRUE(KilledBy(status, SIGTERM)) << Describe(status);
  }

  std::unique_ptr<Daemon> daemon_;
  int lock_ = -1;
};
}  // namespace vantrel_test
