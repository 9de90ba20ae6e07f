// SPDX-License-Identifier: ISC
// Load and fault tests of the text listener daemon: many clients, many
// connections, clients that misbehave, and a stop in the middle of
// traffic, against the real program on 127.0.0.1:8000.  Every loop is
// bounded in count and time.  Each test prints its figures on lines that
// start with "figure:" (ctest -V shows them).  They take a few seconds,
// under the sanitizers too.

#include "harness.h"

#include <iostream>
#include <random>

namespace {

using namespace vantrel_test;

constexpr auto kLoadPatience = 120s;  // bound of a wait for the output of a whole run

void Figure(const std::string &what) { std::cout << "figure: " << what << std::endl; }

class VantrelLoad : public Vantrel {
 protected:
  // A new client is served exactly as ever: its acceptance
  // line, its text after a readiness line, the end's readiness line and
  // its closing line, nothing missing and nothing else of it.
  void ExpectServesANewClient(const std::string &when) {
    SCOPED_TRACE("a new client " + when);
    Client c;
    ASSERT_TRUE(c.Connect()) << strerror(errno);
    const std::string text = "still served " + when + "\n";
    ASSERT_TRUE(c.Send(text));
    ASSERT_TRUE(c.Finish());
    ASSERT_TRUE(daemon_->WaitForText(Closed(c.peer()))) << "no closing line";
    size_t stray;
    PeerLog log = Logs(daemon_->Output(), &stray)[c.peer()];
    EXPECT_TRUE(log.Once());
    EXPECT_EQ(log.reads, 2);
    EXPECT_EQ(log.text, text);
  }

  // Clients that connect and send a line of their own at once, whether
  // or not the daemon takes them yet.
  void ConnectAndSend(Clients &clients, size_t n) {
    for (size_t i = 0; i < n; i++) {
      clients.push_back(std::make_unique<Client>());
      ASSERT_TRUE(clients.back()->Connect() && clients.back()->Send(Payload(i, 64))) << "client " << i;
    }
  }

  // The clients of ConnectAndSend leave; each is then served once, its
  // text whole, once `closings` connections in all have been closed.
  // Lines of `noise` among the pieces are left out.
  void ExpectEachServedOnce(Clients &clients, size_t closings, const std::string &noise = "") {
    for (auto &c : clients) c->Close();
    EXPECT_TRUE(daemon_->WaitForText(" closed\n", closings, kLoadPatience)) << "not every client was served";
    std::string out = daemon_->Output();
    for (size_t at; !noise.empty() && (at = out.find(noise)) != std::string::npos;) out.erase(at, noise.size());
    size_t stray;
    auto logs = Logs(out, &stray);
    for (size_t i = 0; i < clients.size(); i++) {
      const PeerLog &log = logs[clients[i]->peer()];
      EXPECT_TRUE(log.Once()) << "client " << i;
      EXPECT_EQ(log.text, Payload(i, 64)) << "client " << i;
    }
  }

  static constexpr int kResets = 40, kIdle = 50, kMany = FD_SETSIZE + 76;
  bool many_ = false;  // whether the descriptor limit allows kMany connections

  // The kinds of bad client: public, so that a test can name them in a table.
 public:

  // Reset at once, or after sending: the closing line follows, and no
  // failure line appears.
  void Resets() {
    std::vector<std::string> peers;
    for (int i = 0; i < kResets; i++) {
      Client c;
      ASSERT_NO_FATAL_FAILURE(Connect(c));
      if (i % 2) {
        ASSERT_TRUE(c.Send(Payload(i, 1000)));
      }
      peers.push_back(c.peer());
      c.Reset();
    }
    for (const std::string &p : peers) ASSERT_TRUE(daemon_->WaitForText(Closed(p))) << p;
    EXPECT_EQ(Count(daemon_->Output(), "Failed"), 0u);
  }

  // Connected and silent: nothing printed but the acceptance lines, and
  // others are served meanwhile.
  void StaySilent() {
    Clients idle;
    ASSERT_NO_FATAL_FAILURE(ConnectMany(idle, kIdle));
    ASSERT_NO_FATAL_FAILURE(ExpectServesANewClient("while " + std::to_string(kIdle) + " clients stay silent"));
    size_t stray;
    auto logs = Logs(daemon_->Output(), &stray);
    for (auto &c : idle) EXPECT_EQ(logs[c->peer()].reads, 0) << c->peer();
    for (auto &c : idle) c->Close();
    for (auto &c : idle) ASSERT_TRUE(daemon_->WaitForText(Closed(c->peer())));
  }

  // Every byte value, zeros among them, sent one piece at a time: each
  // piece is printed up to its first zero byte and no further.
  void SendBinary() {
    std::mt19937 rng(8000);
    std::vector<std::string> pieces;
    std::string all;
    for (int b = 1; b < 256; b++) all += static_cast<char>(b);
    pieces.push_back(all);
    pieces.push_back(std::string("\0\0\0", 3));
    pieces.push_back(std::string("\0after a leading zero", 21));
    pieces.push_back(std::string("before\0after\0", 13));
    pieces.push_back("\xff\xfe\x80\x7f\r\n\t%s%n%%\\");
    for (int n : {1, 17, 254, 255}) {
      std::string p(n, '\0');
      for (char &ch : p) ch = static_cast<char>(rng() % 256);
      pieces.push_back(p);
    }
    Client c;
    ASSERT_NO_FATAL_FAILURE(Connect(c));
    std::string want;
    for (const std::string &p : pieces) {
      // A piece holding "Connection from: " could not be told from a line.
      ASSERT_EQ(p.find("Connection from: "), std::string::npos);
      ASSERT_TRUE(c.Send(p));
      want += Ready(c.peer()) + p.substr(0, p.find('\0'));
      ASSERT_TRUE(daemon_->WaitForText(Ready(c.peer()), Count(want, Ready(c.peer()))));
      // What follows the readiness line is in the same flush, so the
      // whole piece is there once its readiness line is.
      std::string out = daemon_->Output();
      size_t at = out.find(Accepted(c.peer()));
      ASSERT_NE(at, std::string::npos);
      ASSERT_EQ(out.substr(at + Accepted(c.peer()).size()), want);
    }
    ASSERT_TRUE(c.Finish());
    ASSERT_TRUE(daemon_->WaitForText(Closed(c.peer())));
  }

  // More connections at once than select(2) can watch.
  void OpenMoreThanSelectCanWatch() {
    if (!many_) {
      Figure("skipped: the descriptor limit cannot be raised to 4096 for " + std::to_string(kMany) + " connections");
      return;
    }
    Clients open;
    ASSERT_NO_FATAL_FAILURE(ConnectMany(open, kMany));
    std::vector<int> fds = Descriptors(daemon_->pid());
    EXPECT_GE(*std::max_element(fds.begin(), fds.end()), FD_SETSIZE);
    Figure(std::to_string(kMany) + " connections open at once: the daemon has " + std::to_string(fds.size()) +
           " descriptors and " + std::to_string(Threads(daemon_->pid())) + " threads");
    ASSERT_NO_FATAL_FAILURE(ExpectServesANewClient("while " + std::to_string(kMany) + " connections are open"));
    for (size_t i = 0; i < open.size(); i += open.size() / 4) {
      ASSERT_TRUE(open[i]->Send("late word\n"));
      EXPECT_TRUE(daemon_->WaitForText(Ready(open[i]->peer()) + "late word\n"));
    }
    size_t closed = Count(daemon_->Output(), " closed\n");
    for (auto &c : open) c->Close();
    EXPECT_TRUE(daemon_->WaitForText(" closed\n", closed + kMany, kLoadPatience));
  }
};

TEST_F(VantrelLoad, CopiesEveryByteOf200ClientsSending20KiBEachTwentyAtATime) {
  const int kClients = 200, kAtOnce = 20;
  const size_t kBytes = 20 << 10;
  ASSERT_NO_FATAL_FAILURE(Start());

  std::vector<std::string> peers(kClients);
  std::atomic<int> next{0}, failed{0};
  auto start = Clock::now();
  std::vector<std::thread> workers;
  for (int w = 0; w < kAtOnce; w++)
    workers.emplace_back([&] {
      for (int i; (i = next++) < kClients;) {
        Client c;
        if (!c.Connect() || !c.Send(Payload(i, kBytes))) {
          failed++;
          continue;
        }
        peers[i] = c.peer();
      }
    });
  for (auto &t : workers) t.join();
  ASSERT_EQ(failed, 0) << "clients that could not connect or send";
  EXPECT_TRUE(daemon_->WaitForText(" closed\n", kClients, kLoadPatience)) << "not every client was closed";
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  std::string out = daemon_->Output();
  size_t stray, text = 0;
  std::map<std::string, PeerLog> logs = Logs(out, &stray);
  EXPECT_EQ(stray, 0u) << "output that is no line of the daemon's and no piece";
  EXPECT_EQ(logs.size(), static_cast<size_t>(kClients));
  for (int i = 0; i < kClients; i++) {
    const PeerLog &log = logs[peers[i]];
    SCOPED_TRACE("client " + std::to_string(i) + " " + peers[i]);
    EXPECT_TRUE(log.Once());
    EXPECT_LE(log.longest, 255u);
    EXPECT_TRUE(log.text == Payload(i, kBytes)) << "its text differs from what it sent";
    text += log.text.size();
  }
  EXPECT_EQ(text, kClients * kBytes);
  Figure(std::to_string(kClients) + " clients, " + std::to_string(kAtOnce) + " at a time, " +
         std::to_string(kBytes) + " bytes each: " + std::to_string(text) + " bytes of text in " +
         std::to_string(out.size()) + " bytes of output, " + std::to_string(Count(out, " closed\n")) +
         " closing lines, " + std::to_string(seconds) + " s");
  ExpectStopsOn(SIGTERM);
}

TEST_F(VantrelLoad, ComesBackToItsDescriptorsAndAFewThreadsAfter2000ConnectAndCloseCycles) {
  const int kWarmup = 20, kCycles = 2000, kSample = 100;
  ASSERT_NO_FATAL_FAILURE(Start());
  const pid_t pid = daemon_->pid();
  // Each cycle ends only when the daemon has closed its side, so the
  // cycles follow each other as fast as the daemon serves them.
  auto cycles = [&](int n) {
    for (int i = 0; i < n; i++) {
      Client c;
      ASSERT_TRUE(c.Connect()) << strerror(errno);
      ASSERT_TRUE(c.Finish()) << "the daemon did not close the connection";
    }
  };
  ASSERT_NO_FATAL_FAILURE(cycles(kWarmup));
  long threads_before = SettledThreads(pid);
  size_t fds_before = Descriptors(pid).size();
  ASSERT_LE(threads_before, 3);

  long busiest = 0;
  for (int done = 0; done < kCycles; done += kSample) {
    ASSERT_NO_FATAL_FAILURE(cycles(kSample));
    busiest = std::max(busiest, Threads(pid));
    if (done + kSample == kCycles / 2) {
      EXPECT_LE(SettledThreads(pid), 3) << "after half the cycles";
    }
  }
  long threads_after = SettledThreads(pid);
  size_t fds_after = Descriptors(pid).size();
  EXPECT_LE(threads_after, 3);
  EXPECT_EQ(fds_after, fds_before);
  EXPECT_TRUE(daemon_->WaitForText(" closed\n", kWarmup + kCycles, kLoadPatience));
  std::string out = daemon_->Output();
  EXPECT_EQ(Count(out, "Failed"), 0u);
  Figure(std::to_string(kCycles) + " connect-and-close cycles: descriptors " + std::to_string(fds_before) + " before, " +
         std::to_string(fds_after) + " after; threads " + std::to_string(threads_before) + " before, " +
         std::to_string(threads_after) + " after, at most " + std::to_string(busiest) + " seen between cycles");
  ExpectStopsOn(SIGTERM);
}

// Each kind of bad client, one after another against the same daemon;
// after each the daemon must still serve a new client exactly right.
TEST_F(VantrelLoad, KeepsServingNewClientsAfterClientsThatMisbehave) {
  many_ = RaiseDescriptorLimit(4096);
  ASSERT_NO_FATAL_FAILURE(Start());
  const struct {
    const char *what;
    void (VantrelLoad::*run)();
  } table[] = {
      {"clients that reset", &VantrelLoad::Resets},
      {"clients that connect and never send", &VantrelLoad::StaySilent},
      {"a client sending binary bytes with zeros", &VantrelLoad::SendBinary},
      {"more than 1,024 connections at once", &VantrelLoad::OpenMoreThanSelectCanWatch},
  };
  for (const auto &row : table) {
    SCOPED_TRACE(row.what);
    ASSERT_NO_FATAL_FAILURE((this->*row.run)());
    ASSERT_NO_FATAL_FAILURE(ExpectServesANewClient(std::string("after ") + row.what));
  }
  std::string out = daemon_->Output();
  size_t stray;
  auto logs = Logs(out, &stray);
  EXPECT_EQ(Count(out, "Failed"), 0u);
  for (const auto &[peer, log] : logs) EXPECT_TRUE(log.Once()) << peer;
  Figure("bad clients: " + std::to_string(kResets) + " resets (half after 1000 bytes), " + std::to_string(kIdle) +
         " silent, 1 binary (every byte value, zeros, random pieces), " + (many_ ? std::to_string(kMany) : "0") +
         " open at once; " + std::to_string(logs.size()) + " connections served in all");
  ExpectStopsOn(SIGTERM);
}

// Several clients stream at full speed; the daemon is frozen in the
// middle, and what it has taken from each socket by then must all be on
// its output when SIGTERM ends it.
TEST_F(VantrelLoad, LosesNothingReadFromAnyOfManyStreamingClientsWhenStopped) {
  const size_t kClients = 8;
  ASSERT_NO_FATAL_FAILURE(Start());
  Clients clients;
  ASSERT_NO_FATAL_FAILURE(ConnectMany(clients, kClients));
  std::vector<size_t> taken = StreamAndFreeze(*daemon_, clients, 1u << 20);
  ASSERT_EQ(taken.size(), kClients);
  for (auto &c : clients) c->Reset();
  ASSERT_NO_FATAL_FAILURE(ExpectStopsOn(SIGTERM));

  size_t stray, read = 0, printed = 0;
  auto logs = Logs(daemon_->Output(), &stray);
  EXPECT_EQ(stray, 0u);
  for (size_t i = 0; i < kClients; i++) {
    const PeerLog &log = logs[clients[i]->peer()];
    SCOPED_TRACE("client " + std::to_string(i));
    EXPECT_GE(log.text.size(), taken[i]);
    EXPECT_TRUE(log.text == Payload(i, log.text.size())) << "the printed stream departs from what was sent";
    EXPECT_LE(log.longest, 255u);
    read += taken[i];
    printed += log.text.size();
  }
  Figure(std::to_string(kClients) + " clients streaming when stopped: " + std::to_string(read) +
         " bytes read by the daemon, " + std::to_string(printed) + " printed");
}

// When descriptors or threads run out, the daemon prints the failure and
// then waits for one of its connections to end, or a short while, before
// it looks at the listening socket again: few lines, next to no processor
// time, and every queued client served once the others have left.
TEST_F(VantrelLoad, BacksOffQuietlyWhenDescriptorsOrThreadsRunOutAndLosesNoClient) {
  constexpr size_t kClients = 40;
  constexpr auto kWatch = 3s;
  struct Row {
    const char *what;
    DaemonOptions opt;
    const char *failure;
    rlim_t room = 0;  // address space left beyond what the daemon uses once listening
  } table[] = {
      // 44 descriptors taken of 64: accept fails after 20 connections.
      {"descriptors", {}, "accept: Failed: -1\n"},
      {"descriptors, 5 taken of 6 (cap 2)", {}, "accept: Failed: -1\n"},
      {"descriptors, 9 taken of 20 (cap 12)", {}, "accept: Failed: -1\n"},
      {"threads", {}, "pthread_create: Failed: 11\n"},
#ifndef __SANITIZE_ADDRESS__  // whose shadow memory needs all the address space there is
      {"address space", {}, "pthread_create: Failed: 11\n", 20 * 300 << 10},
#endif
  };
  table[0].opt.limits = {{RLIMIT_NOFILE, 64}};
  table[0].opt.spent = 40;
  table[1].opt.limits = {{RLIMIT_NOFILE, 6}};
  table[1].opt.spent = 1;
  table[2].opt.limits = {{RLIMIT_NOFILE, 20}};
  table[2].opt.spent = 5;
  table[3].opt.thread_limit = 12;
  for (const Row &row : table) {
    SCOPED_TRACE(row.what);
    ASSERT_NO_FATAL_FAILURE(Start(row.opt));
    if (row.room > 0) {
      rlimit rl;
      ASSERT_EQ(prlimit(daemon_->pid(), RLIMIT_AS, nullptr, &rl), 0);
      rl.rlim_cur = atol(ProcField(daemon_->pid(), "status", "VmSize:").c_str()) * 1024 + row.room;
      ASSERT_EQ(prlimit(daemon_->pid(), RLIMIT_AS, &rl, nullptr), 0) << strerror(errno);
    }
    Clients clients;
    ASSERT_NO_FATAL_FAILURE(ConnectAndSend(clients, kClients));
    ASSERT_TRUE(daemon_->WaitForText(row.failure)) << "nothing ran out";
    size_t lines = Count(daemon_->Output(), row.failure);
    double cpu = CpuSeconds(daemon_->pid());
    std::this_thread::sleep_for(kWatch);
    lines = Count(daemon_->Output(), row.failure) - lines;
    cpu = CpuSeconds(daemon_->pid()) - cpu;
    EXPECT_LE(lines, 4u * kWatch.count()) << "failure lines in " << kWatch.count() << " s";
    EXPECT_LT(cpu, 0.5) << "processor seconds in " << kWatch.count() << " s";
    Figure(std::string(row.what) + " run out: " + std::to_string(lines) + " failure lines and " +
           std::to_string(cpu) + " s of processor time in " + std::to_string(kWatch.count()) + " s");
    ExpectEachServedOnce(clients, kClients, row.failure);
    ExpectStopsOn(SIGTERM);
  }
}

// With its output stalled, every connection thread blocks on its first
// line; the daemon then starts no thread beyond its cap (its descriptor
// limit less 16): the main thread, the signal thread, one spare and the
// capped connections.  The clients beyond the cap wait and are served
// once the output moves again.
TEST_F(VantrelLoad, StartsNoThreadsBeyondItsCapWhileItsOutputIsStalled) {
  constexpr rlim_t kFiles = 32;
  constexpr long kCap = kFiles - 16;
  constexpr size_t kClients = 3 * kCap;
  DaemonOptions opt;
  opt.output = DaemonOptions::kHeld;
  opt.limits = {{RLIMIT_NOFILE, kFiles}};
  ASSERT_NO_FATAL_FAILURE(Start(opt));
  Client staller;
  ASSERT_TRUE(StallOutput(*daemon_, staller));
  Clients clients;
  ASSERT_NO_FATAL_FAILURE(ConnectAndSend(clients, kClients));
  long busiest = 0;
  for (auto end = Clock::now() + 2s; Clock::now() < end; std::this_thread::sleep_for(10ms))
    busiest = std::max(busiest, Threads(daemon_->pid()));
  EXPECT_LE(busiest, kCap + 3);
  EXPECT_EQ(Descriptors(daemon_->pid()).size(), 4 + kCap) << "one for each connection beside its own four";
  Figure("output stalled, " + std::to_string(kClients) + " clients, cap " + std::to_string(kCap) + ": at most " +
         std::to_string(busiest) + " threads");

  daemon_->Release();
  staller.Reset();
  ExpectEachServedOnce(clients, kClients + 1);
  ExpectStopsOn(SIGTERM);
}

}  // namespace
