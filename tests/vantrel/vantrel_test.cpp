// Integration tests of the text listener daemon: each starts the real
// program with its standard output on a pipe, talks to it over loopback on
// port 8000 and reads what it prints.  Clients always end their side first,
// so no TIME_WAIT is left on the daemon's port for the next test.

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
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 8000;
constexpr auto kPatience = 10s;  // bound of every wait for expected output

std::string Accepted(const std::string &peer) { return "Connection from: " + peer + "\n"; }
std::string Ready(const std::string &peer) { return "Connection from: " + peer + " data available\n"; }
std::string Closed(const std::string &peer) { return "Connection from: " + peer + " closed\n"; }

size_t Count(const std::string &s, const std::string &what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) n++;
  return n;
}

// The pieces printed after each readiness line of one peer, in order.
std::vector<std::string> Pieces(const std::string &text, const std::string &peer) {
  std::vector<std::string> pieces;
  const std::string ready = Ready(peer);
  for (size_t at = text.find(ready); at != std::string::npos; at = text.find(ready, at + 1)) {
    size_t from = at + ready.size();
    size_t to = text.find("Connection from: ", from);
    pieces.push_back(text.substr(from, to == std::string::npos ? std::string::npos : to - from));
  }
  return pieces;
}

// Bytes of a stream that never repeats in a short period and holds no
// upper-case letter, so it can never look like one of the daemon's lines.
char StreamByte(size_t i) { return static_cast<char>('a' + (i * 2654435761u >> 13) % 26); }

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool KilledBy(int status, int sig) { return WIFSIGNALED(status) && WTERMSIG(status) == sig; }

std::string Describe(int status) {
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
    char port[16];
    snprintf(port, sizeof(port), ":%04X ", kPort);
    for (auto end = Clock::now() + kPatience; Clock::now() < end;) {
      std::istringstream tcp(ReadFile("/proc/net/tcp"));
      for (std::string line; std::getline(tcp, line);) {
        std::istringstream f(line);
        std::string slot, local, remote, state;
        f >> slot >> local >> remote >> state;
        if (state == "0A" && (local + " ").find(port) != std::string::npos) return true;
      }
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

  bool Connect() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
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

  int fd() const { return fd_; }
  const std::string &peer() const { return peer_; }

 private:
  int fd_ = -1;
  std::string peer_;
};

// Raises this process's descriptor limit, which the daemon inherits.
bool RaiseDescriptorLimit(rlim_t want) {
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return false;
  if (rl.rlim_cur >= want) return true;
  if (rl.rlim_max < want) return false;
  rl.rlim_cur = want;
  return setrlimit(RLIMIT_NOFILE, &rl) == 0;
}

std::string ProcField(pid_t pid, const std::string &file, const std::string &key) {
  std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/" + file));
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, key.size(), key) == 0) return line.substr(key.size());
  return "";
}

int HighestDescriptor(pid_t pid) {
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
long UnreadByDaemon(int client_port) {
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

bool Stopped(pid_t pid) {
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

  void ExpectStopsOnSigterm() {
    int status = daemon_->Stop(SIGTERM);
    EXPECT_TRUE(KilledBy(status, SIGTERM)) << Describe(status);
  }

  std::unique_ptr<Daemon> daemon_;
  int lock_ = -1;
};

struct Conversation {
  const char *what;
  std::vector<std::string> pieces;  // sent one at a time, each after the last is printed
  bool reset;                       // end with a reset rather than a close
};

TEST_F(Vantrel, PrintsEveryConversationLineForLine) {
  const Conversation table[] = {
      {"connect and close", {}, false},
      {"one short line", {"hello, world\n"}, false},
      {"two lines one at a time", {"first\n", "second\n"}, false},
      {"a zero byte ends what is printed of a piece", {std::string("abc\0def\n", 8), "ghi\n"}, false},
      {"percent signs as sent", {"100% %s %d %n %%\n"}, false},
      {"text without a line feed runs into the next line", {"no line feed", "more"}, false},
      {"a reset after a line", {"bye\n"}, true},
      {"a reset at once", {}, true},
  };
  ASSERT_NO_FATAL_FAILURE(Start());
  for (const Conversation &conv : table) {
    SCOPED_TRACE(conv.what);
    size_t start = daemon_->Output().size();
    Client c;
    ASSERT_NO_FATAL_FAILURE(Connect(c));
    std::string want = Accepted(c.peer());
    auto printed = [&](const std::string &t) { return t.size() >= start + want.size(); };
    for (const std::string &piece : conv.pieces) {
      ASSERT_TRUE(c.Send(piece));
      want += Ready(c.peer()) + piece.substr(0, piece.find('\0'));
      daemon_->WaitFor(printed);
      ASSERT_EQ(daemon_->Output().substr(start), want);
    }
    conv.reset ? c.Reset() : c.Close();
    want += Ready(c.peer()) + Closed(c.peer());
    daemon_->WaitFor(printed);
    EXPECT_EQ(daemon_->Output().substr(start), want);
  }
  ExpectStopsOnSigterm();
}

TEST_F(Vantrel, PrintsALargeMessageInPiecesOfAtMost255BytesEachAfterItsReadinessLine) {
  ASSERT_NO_FATAL_FAILURE(Start());
  std::string message;
  for (size_t i = 0; i < 600; i++) message += StreamByte(i);
  Client c;
  ASSERT_NO_FATAL_FAILURE(Connect(c));
  ASSERT_TRUE(c.Send(message));
  c.Close();
  ASSERT_TRUE(daemon_->WaitForText(Closed(c.peer()))) << daemon_->Output();

  std::vector<std::string> pieces = Pieces(daemon_->Output(), c.peer());
  ASSERT_FALSE(pieces.empty());
  EXPECT_EQ(pieces.back(), "") << "the end of the stream is announced with no text";
  std::string joined, rebuilt = Accepted(c.peer());
  for (const std::string &p : pieces) {
    EXPECT_LE(p.size(), 255u);
    joined += p;
    rebuilt += Ready(c.peer()) + p;
  }
  EXPECT_GE(pieces.size(), 4u) << "600 bytes take at least three reads, then the end";
  EXPECT_EQ(joined, message);
  EXPECT_EQ(daemon_->Output(), rebuilt + Closed(c.peer()));
  ExpectStopsOnSigterm();
}

TEST_F(Vantrel, PrintsNothingForAClientThatStaysSilent) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Client c;
  ASSERT_NO_FATAL_FAILURE(Connect(c));
  // Absence can only be watched for a while: two and a half wait periods.
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(daemon_->Output(), Accepted(c.peer()));
  c.Close();
  ASSERT_TRUE(daemon_->WaitForText(Closed(c.peer())));
  EXPECT_EQ(daemon_->Output(), Accepted(c.peer()) + Ready(c.peer()) + Closed(c.peer()));
  ExpectStopsOnSigterm();
}

TEST_F(Vantrel, ServesTwoClientsAtOnceEachWithItsOwnLines) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Client a, b;
  ASSERT_NO_FATAL_FAILURE(Connect(a));
  ASSERT_NO_FATAL_FAILURE(Connect(b));
  std::string want = Accepted(a.peer()) + Accepted(b.peer());
  // Each step is printed before the next, so the order is fixed.
  const struct {
    Client *c;
    const char *text;
  } steps[] = {{&a, "from a\n"}, {&b, "from b\n"}, {&a, "again a\n"}, {&b, nullptr}, {&a, nullptr}};
  for (const auto &s : steps) {
    if (s.text != nullptr) {
      ASSERT_TRUE(s.c->Send(s.text));
      want += Ready(s.c->peer()) + s.text;
    } else {
      s.c->Close();
      want += Ready(s.c->peer()) + Closed(s.c->peer());
    }
    daemon_->WaitFor([&](const std::string &t) { return t.size() >= want.size(); });
    ASSERT_EQ(daemon_->Output(), want);
  }
  ExpectStopsOnSigterm();
}

TEST_F(Vantrel, IgnoresItsArguments) {
  DaemonOptions opt;
  opt.args = {"-p", "9000", "--help", "%n%s"};
  ASSERT_NO_FATAL_FAILURE(Start(opt));
  Client c;
  ASSERT_NO_FATAL_FAILURE(Connect(c));
  c.Close();
  ASSERT_TRUE(daemon_->WaitForText(Closed(c.peer())));
  EXPECT_EQ(daemon_->Output(), Accepted(c.peer()) + Ready(c.peer()) + Closed(c.peer()));
  ExpectStopsOnSigterm();
}

TEST_F(Vantrel, PrintsOnlyTheBindFailureAndEndsWithStatus1WhenThePortIsTaken) {
  int taken = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(taken, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(kPort);
  sin.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)), 0) << strerror(errno);
  ASSERT_EQ(listen(taken, 1), 0);

  Daemon d;
  int status = -1;
  ASSERT_TRUE(d.Exited(&status));
  close(taken);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << Describe(status);
  EXPECT_EQ(d.Output(), "bind: Failed: -1\n");
}

TEST_F(Vantrel, ServesConnectionsWhoseDescriptorsAreBeyondTheSelectLimit) {
  constexpr int kClients = FD_SETSIZE + 76;
  if (!RaiseDescriptorLimit(4096)) GTEST_SKIP() << "the descriptor limit cannot be raised to 4096";
  ASSERT_NO_FATAL_FAILURE(Start());
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kClients; i++) {
    clients.push_back(std::make_unique<Client>());
    ASSERT_NO_FATAL_FAILURE(Connect(*clients.back())) << "client " << i;
  }
  ASSERT_GE(HighestDescriptor(daemon_->pid()), FD_SETSIZE) << "the daemon never got past the limit";

  for (int i : {0, FD_SETSIZE / 2, FD_SETSIZE - 8, FD_SETSIZE + 20, kClients - 1}) {
    Client &c = *clients[i];
    std::string text = "hello from " + std::to_string(i) + "\n";
    ASSERT_TRUE(c.Send(text));
    EXPECT_TRUE(daemon_->WaitForText(Ready(c.peer()) + text)) << "client " << i;
  }
  for (auto &c : clients) c->Close();
  EXPECT_TRUE(daemon_->WaitFor([&](const std::string &t) { return Count(t, " closed\n") >= kClients; }, 60s));

  std::string out = daemon_->Output();
  EXPECT_EQ(Count(out, "Failed"), 0u);
  for (auto &c : clients) {
    EXPECT_EQ(Count(out, Accepted(c->peer())), 1u) << c->peer();
    EXPECT_EQ(Count(out, Closed(c->peer())), 1u) << c->peer();
  }
  ExpectStopsOnSigterm();
}

TEST_F(Vantrel, ShowsWhatArrivesAtOnceEvenIntoAPipe) {
  ASSERT_NO_FATAL_FAILURE(Start());
  Client c;
  ASSERT_TRUE(c.Connect());
  // A held-back stream would show nothing at all until the daemon ends.
  ASSERT_TRUE(daemon_->WaitForText(Accepted(c.peer()), 2s)) << daemon_->Output();
  ASSERT_TRUE(c.Send("still connected\n"));
  EXPECT_TRUE(daemon_->WaitForText(Ready(c.peer()) + "still connected\n", 2s)) << daemon_->Output();
  c.Close();
  EXPECT_TRUE(daemon_->WaitForText(Closed(c.peer()), 2s)) << daemon_->Output();
  ExpectStopsOnSigterm();
}

// The daemon is frozen in the middle of a fast stream; what it has taken
// from its socket by then must all be printed when a stop signal ends it.
TEST_F(Vantrel, LosesNothingItHasReadWhenStoppedBySigintOrSigterm) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(sig));
    ASSERT_NO_FATAL_FAILURE(Start());
    Client c;
    ASSERT_NO_FATAL_FAILURE(Connect(c));

    std::atomic<bool> halt{false};
    std::atomic<size_t> sent{0};
    std::thread sender([&] {
      std::vector<char> chunk(1 << 16);
      for (auto end = Clock::now() + 30s; !halt && sent < (64u << 20) && Clock::now() < end;) {
        for (size_t i = 0; i < chunk.size(); i++) chunk[i] = StreamByte(sent + i);
        ssize_t n = send(c.fd(), chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
          sent += n;
        else if (n < 0 && errno == EAGAIN) {
          pollfd p{c.fd(), POLLOUT, 0};
          poll(&p, 1, 10);
        } else
          break;
      }
    });
    bool streaming = daemon_->WaitFor([](const std::string &t) { return t.size() >= (256u << 10); });
    kill(daemon_->pid(), SIGSTOP);
    bool stopped = false;
    for (auto end = Clock::now() + kPatience; !stopped && Clock::now() < end; std::this_thread::sleep_for(5ms))
      stopped = Stopped(daemon_->pid());
    halt = true;
    sender.join();
    ASSERT_TRUE(streaming);
    ASSERT_TRUE(stopped);

    // Once loopback has settled, whatever is neither in the client's send
    // queue nor unread at the daemon's end has been read by the daemon.
    int port = atoi(c.peer().substr(c.peer().find(':') + 1).c_str());
    long queued = -1, last = -2;
    for (auto end = Clock::now() + kPatience; queued != last && Clock::now() < end;) {
      last = queued;
      std::this_thread::sleep_for(50ms);
      int outq = 0;
      ioctl(c.fd(), SIOCOUTQ, &outq);
      queued = outq + UnreadByDaemon(port);
    }
    ASSERT_EQ(queued, last) << "the connection never settled";
    size_t taken = sent - queued;

    c.Reset();
    kill(daemon_->pid(), sig);
    kill(daemon_->pid(), SIGCONT);
    int status = -1;
    ASSERT_TRUE(daemon_->Exited(&status));
    EXPECT_TRUE(KilledBy(status, sig)) << Describe(status);

    std::string out = daemon_->Output(), printed;
    for (const std::string &p : Pieces(out, c.peer())) printed += p;
    EXPECT_GE(printed.size(), taken) << "sent " << sent << ", still queued " << queued;
    size_t bad = 0;
    while (bad < printed.size() && printed[bad] == StreamByte(bad)) bad++;
    EXPECT_EQ(bad, printed.size()) << "the printed stream departs from what was sent";
    EXPECT_EQ(Count(out, "Failed"), 0u);
  }
}

// Nothing can be flushed into a pipe that nobody reads; the first stop
// signal waits for the flush, the second must end the daemon anyway.
TEST_F(Vantrel, EndsOnASecondStopSignalWhenItsOutputIsStuck) {
  DaemonOptions opt;
  opt.hold_output = true;
  ASSERT_NO_FATAL_FAILURE(Start(opt));
  Client c;
  ASSERT_TRUE(c.Connect());
  fcntl(c.fd(), F_SETFL, O_NONBLOCK);
  std::string chunk(1 << 16, 'x');
  auto full = [&] {
    int queued = 0;
    ioctl(daemon_->pipe(), FIONREAD, &queued);
    return queued >= 60000;
  };
  for (auto end = Clock::now() + kPatience; !full() && Clock::now() < end;)
    if (send(c.fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(full()) << "the output pipe never filled";
  c.Reset();

  // The first signal must have been taken before the second is sent, or
  // the two would merge into one.
  kill(daemon_->pid(), SIGTERM);
  for (auto end = Clock::now() + kPatience; Clock::now() < end; std::this_thread::sleep_for(5ms))
    if (ProcField(daemon_->pid(), "status", "ShdPnd:").find_first_not_of("\t0") == std::string::npos) break;
  kill(daemon_->pid(), SIGTERM);
  int status = -1;
  ASSERT_TRUE(daemon_->Exited(&status)) << "the daemon did not end";
  EXPECT_TRUE(KilledBy(status, SIGTERM)) << Describe(status);
}

TEST_F(Vantrel, KeepsRunningOnASigintItWasStartedToIgnore) {
  DaemonOptions opt;
  opt.ignore_sigint = true;
  ASSERT_NO_FATAL_FAILURE(Start(opt));
  kill(daemon_->pid(), SIGINT);
  Client c;
  ASSERT_NO_FATAL_FAILURE(Connect(c));
  c.Close();
  ASSERT_TRUE(daemon_->WaitForText(Closed(c.peer())));
  EXPECT_EQ(daemon_->Output(), Accepted(c.peer()) + Ready(c.peer()) + Closed(c.peer()));
  ExpectStopsOnSigterm();
}

// Neither ended connection threads nor the spare threads that one client
// may cause stay behind: the address space (8 MiB of stack per thread that
// is never joined) and the thread count stay flat over many connections.
TEST_F(Vantrel, LeavesNoThreadsBehindFromEndedConnections) {
  constexpr int kWarmup = 20, kCycles = 300;
  ASSERT_NO_FATAL_FAILURE(Start());
  auto cycle = [&] {
    Client c;
    ASSERT_NO_FATAL_FAILURE(Connect(c));
    c.Close();
    ASSERT_TRUE(daemon_->WaitForText(Closed(c.peer())));
  };
  auto field = [&](const char *key) { return atol(ProcField(daemon_->pid(), "status", key).c_str()); };
  // What is left once the spares of the last client have ended: the main
  // thread, the signal thread and one thread waiting in accept.
  auto settled = [&] {
    long threads = 0;
    for (auto end = Clock::now() + kPatience; Clock::now() < end; std::this_thread::sleep_for(10ms))
      if ((threads = field("Threads:")) <= 3) break;
    return threads;
  };
  for (int i = 0; i < kWarmup; i++) ASSERT_NO_FATAL_FAILURE(cycle());
  ASSERT_LE(settled(), 3);
  long before = field("VmSize:");
  for (int i = 0; i < kCycles; i++) ASSERT_NO_FATAL_FAILURE(cycle());
  EXPECT_LE(settled(), 3);
  EXPECT_LT(field("VmSize:") - before, kCycles * 1024L) << "kB grown over " << kCycles << " connections";
  EXPECT_EQ(Count(daemon_->Output(), "Failed"), 0u);
  ExpectStopsOnSigterm();
}

TEST_F(Vantrel, ListensWithProtocolZeroWhenTheProtocolDatabaseHasNoTcp) {
  DaemonOptions opt;
  opt.preload = NOPROTO_PATH;
  ASSERT_NO_FATAL_FAILURE(Start(opt));
  Client c;
  ASSERT_NO_FATAL_FAILURE(Connect(c));
  ASSERT_TRUE(c.Send("over protocol 0\n"));
  c.Close();
  ASSERT_TRUE(daemon_->WaitForText(Closed(c.peer())));
  EXPECT_EQ(daemon_->Output(), Accepted(c.peer()) + Ready(c.peer()) + "over protocol 0\n" + Ready(c.peer()) +
                                   Closed(c.peer()));
  ExpectStopsOnSigterm();
}

}  // namespace
