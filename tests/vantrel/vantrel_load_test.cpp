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

// The bytes client i sends: lower-case letters in an order of its own,
// so that each client's text can be told from every other's.
std::string Payload(size_t client, size_t bytes) {
  std::string s(bytes, '\0');
  for (size_t k = 0; k < bytes; k++) s[k] = static_cast<char>('a' + ((k * 2654435761u + client * 40503u) >> 13) % 26);
  return s;
}

void Figure(const std::string &what) { std::cout << "figure: " << what << std::endl; }

long Threads(pid_t pid) { return atol(ProcField(pid, "status", "Threads:").c_str()); }

// The thread count once the spare threads of the last connections have
// ended: the main thread, the signal thread and one thread in accept.
long SettledThreads(pid_t pid) {
  long n = 0;
  for (auto end = Clock::now() + kPatience; Clock::now() < end; std::this_thread::sleep_for(10ms))
    if ((n = Threads(pid)) <= 3) break;
  return n;
}

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
    EXPECT_EQ(log.accepted, 1);
    EXPECT_EQ(log.closed, 1);
    EXPECT_EQ(log.reads, 2);
    EXPECT_EQ(log.text, text);
    EXPECT_FALSE(log.out_of_order);
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
  EXPECT_TRUE(daemon_->WaitFor(Occurs(" closed\n", kClients), kLoadPatience)) << "not every client was closed";
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  std::string out = daemon_->Output();
  size_t stray, text = 0;
  std::map<std::string, PeerLog> logs = Logs(out, &stray);
  EXPECT_EQ(stray, 0u) << "output that is no line of the daemon's and no piece";
  EXPECT_EQ(logs.size(), static_cast<size_t>(kClients));
  for (int i = 0; i < kClients; i++) {
    const PeerLog &log = logs[peers[i]];
    SCOPED_TRACE("client " + std::to_string(i) + " " + peers[i]);
    EXPECT_EQ(log.accepted, 1);
    EXPECT_EQ(log.closed, 1);
    EXPECT_FALSE(log.out_of_order);
    EXPECT_LE(log.longest, 255u);
    EXPECT_TRUE(log.text == Payload(i, kBytes)) << "its text differs from what it sent";
    text += log.text.size();
  }
  EXPECT_EQ(text, kClients * kBytes);
  Figure(std::to_string(kClients) + " clients, " + std::to_string(kAtOnce) + " at a time, " +
         std::to_string(kBytes) + " bytes each: " + std::to_string(text) + " bytes of text in " +
         std::to_string(out.size()) + " bytes of output, " + std::to_string(Count(out, " closed\n")) +
         " closing lines, " + std::to_string(seconds) + " s");
  ExpectStopsOnSigterm();
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
  int fds_before = DescriptorCount(pid);
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
  int fds_after = DescriptorCount(pid);
  EXPECT_LE(threads_after, 3);
  EXPECT_EQ(fds_after, fds_before);
  EXPECT_TRUE(daemon_->WaitFor(Occurs(" closed\n", kWarmup + kCycles), kLoadPatience));
  std::string out = daemon_->Output();
  EXPECT_EQ(Count(out, "Failed"), 0u);
  Figure(std::to_string(kCycles) + " connect-and-close cycles: descriptors " + std::to_string(fds_before) + " before, " +
         std::to_string(fds_after) + " after; threads " + std::to_string(threads_before) + " before, " +
         std::to_string(threads_after) + " after, at most " + std::to_string(busiest) + " seen between cycles");
  ExpectStopsOnSigterm();
}

// Each kind of bad client, one after another against the same daemon;
// after each the daemon must still serve a new client exactly right.
TEST_F(VantrelLoad, KeepsServingNewClientsAfterClientsThatMisbehave) {
  const int kResets = 40, kIdle = 50, kMany = FD_SETSIZE + 76;
  const bool many = RaiseDescriptorLimit(4096);
  ASSERT_NO_FATAL_FAILURE(Start());

  // Reset at once, or after sending: the closing line follows, and no
  // failure line appears.
  auto resets = [&] {
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
  };

  // Connected and silent: nothing printed but the acceptance lines, and
  // others are served meanwhile.
  auto idle = [&] {
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < kIdle; i++) {
      idle.push_back(std::make_unique<Client>());
      ASSERT_TRUE(idle.back()->Connect());
      ASSERT_TRUE(daemon_->WaitForText(Accepted(idle.back()->peer())));
    }
    ASSERT_NO_FATAL_FAILURE(ExpectServesANewClient("while " + std::to_string(kIdle) + " clients stay silent"));
    size_t stray;
    auto logs = Logs(daemon_->Output(), &stray);
    for (auto &c : idle) EXPECT_EQ(logs[c->peer()].reads, 0) << c->peer();
    for (auto &c : idle) c->Close();
    for (auto &c : idle) ASSERT_TRUE(daemon_->WaitForText(Closed(c->peer())));
  };

  // Every byte value, zeros among them, sent one piece at a time: each
  // piece is printed up to its first zero byte and no further.
  auto binary = [&] {
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
    ASSERT_TRUE(c.Connect());
    ASSERT_TRUE(daemon_->WaitForText(Accepted(c.peer())));
    std::string want;
    for (const std::string &p : pieces) {
      // A piece holding "Connection from: " could not be told from a line.
      ASSERT_EQ(p.find("Connection from: "), std::string::npos);
      ASSERT_TRUE(c.Send(p));
      want += Ready(c.peer()) + p.substr(0, p.find('\0'));
      ASSERT_TRUE(daemon_->WaitFor(Occurs(Ready(c.peer()), Count(want, Ready(c.peer())))));
      // what follows the readiness line is in the same flush, so the
      // whole piece is there once its readiness line is
      std::string out = daemon_->Output();
      size_t at = out.find(Accepted(c.peer()));
      ASSERT_NE(at, std::string::npos);
      ASSERT_EQ(out.substr(at + Accepted(c.peer()).size()), want);
    }
    ASSERT_TRUE(c.Finish());
    ASSERT_TRUE(daemon_->WaitForText(Closed(c.peer())));
  };

  // More connections at once than select(2) can watch.
  auto lots = [&] {
    if (!many) {
      Figure("skipped: the descriptor limit cannot be raised to 4096 for " + std::to_string(kMany) + " connections");
      return;
    }
    std::vector<std::unique_ptr<Client>> open;
    for (int i = 0; i < kMany; i++) {
      open.push_back(std::make_unique<Client>());
      ASSERT_TRUE(open.back()->Connect()) << "client " << i;
      ASSERT_TRUE(daemon_->WaitForText(Accepted(open.back()->peer()))) << "client " << i;
    }
    EXPECT_GE(HighestDescriptor(daemon_->pid()), FD_SETSIZE);
    Figure(std::to_string(kMany) + " connections open at once: the daemon has " +
           std::to_string(DescriptorCount(daemon_->pid())) + " descriptors and " +
           std::to_string(Threads(daemon_->pid())) + " threads");
    ASSERT_NO_FATAL_FAILURE(ExpectServesANewClient("while " + std::to_string(kMany) + " connections are open"));
    for (size_t i = 0; i < open.size(); i += open.size() / 4) {
      ASSERT_TRUE(open[i]->Send("late word\n"));
      EXPECT_TRUE(daemon_->WaitForText(Ready(open[i]->peer()) + "late word\n"));
    }
    size_t closed = Count(daemon_->Output(), " closed\n");
    for (auto &c : open) c->Close();
    EXPECT_TRUE(daemon_->WaitFor(Occurs(" closed\n", closed + kMany), kLoadPatience));
  };

  const struct {
    const char *what;
    std::function<void()> run;
  } table[] = {
      {"clients that reset", resets},
      {"clients that connect and never send", idle},
      {"a client sending binary bytes with zeros", binary},
      {"more than 1,024 connections at once", lots},
  };
  for (const auto &row : table) {
    SCOPED_TRACE(row.what);
    ASSERT_NO_FATAL_FAILURE(row.run());
    ASSERT_NO_FATAL_FAILURE(ExpectServesANewClient(std::string("after ") + row.what));
  }
  std::string out = daemon_->Output();
  size_t stray;
  auto logs = Logs(out, &stray);
  EXPECT_EQ(Count(out, "Failed"), 0u);
  for (const auto &[peer, log] : logs) {
    EXPECT_EQ(log.accepted, 1) << peer;
    EXPECT_EQ(log.closed, 1) << peer;
    EXPECT_FALSE(log.out_of_order) << peer;
  }
  Figure("bad clients: " + std::to_string(kResets) + " resets (half after 1000 bytes), " + std::to_string(kIdle) +
         " silent, 1 binary (every byte value, zeros, random pieces), " + (many ? std::to_string(kMany) : "0") +
         " open at once; " + std::to_string(logs.size()) + " connections served in all");
  ExpectStopsOnSigterm();
}

// Several clients stream at full speed; the daemon is frozen in the
// middle, and what it has taken from each socket by then must all be on
// its output when SIGTERM ends it.
TEST_F(VantrelLoad, LosesNothingReadFromAnyOfManyStreamingClientsWhenStopped) {
  const int kClients = 8;
  ASSERT_NO_FATAL_FAILURE(Start());
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kClients; i++) {
    clients.push_back(std::make_unique<Client>());
    ASSERT_NO_FATAL_FAILURE(Connect(*clients.back()));
  }
  std::atomic<bool> halt{false};
  std::vector<std::atomic<size_t>> sent(kClients);
  std::vector<std::thread> senders;
  for (int i = 0; i < kClients; i++)
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
  bool streaming = daemon_->WaitFor([](const std::string &t) { return t.size() >= (1u << 20); });
  kill(daemon_->pid(), SIGSTOP);
  bool stopped = false;
  for (auto end = Clock::now() + kPatience; !stopped && Clock::now() < end; std::this_thread::sleep_for(5ms))
    stopped = Stopped(daemon_->pid());
  halt = true;
  for (auto &t : senders) t.join();
  ASSERT_TRUE(streaming);
  ASSERT_TRUE(stopped);

  // Once loopback has settled, what is neither in a client's send queue
  // nor unread at the daemon's end of its connection has been read.
  std::vector<long> queued(kClients, -1);
  for (int i = 0; i < kClients; i++) {
    int port = atoi(clients[i]->peer().substr(clients[i]->peer().find(':') + 1).c_str());
    long last = -2;
    for (auto end = Clock::now() + kPatience; queued[i] != last && Clock::now() < end;) {
      last = queued[i];
      std::this_thread::sleep_for(50ms);
      int outq = 0;
      ioctl(clients[i]->fd(), SIOCOUTQ, &outq);
      queued[i] = outq + UnreadByDaemon(port);
    }
    ASSERT_EQ(queued[i], last) << "connection " << i << " never settled";
  }
  for (auto &c : clients) c->Reset();
  kill(daemon_->pid(), SIGTERM);
  kill(daemon_->pid(), SIGCONT);
  int status = -1;
  ASSERT_TRUE(daemon_->Exited(&status));
  EXPECT_TRUE(KilledBy(status, SIGTERM)) << Describe(status);

  std::string out = daemon_->Output();
  size_t stray, taken = 0, printed = 0;
  auto logs = Logs(out, &stray);
  EXPECT_EQ(stray, 0u);
  for (int i = 0; i < kClients; i++) {
    const PeerLog &log = logs[clients[i]->peer()];
    SCOPED_TRACE("client " + std::to_string(i));
    size_t read = sent[i] - static_cast<size_t>(queued[i]);
    EXPECT_GE(log.text.size(), read) << "sent " << sent[i] << ", still queued " << queued[i];
    EXPECT_TRUE(log.text == Payload(i, log.text.size())) << "the printed stream departs from what was sent";
    EXPECT_LE(log.longest, 255u);
    taken += read;
    printed += log.text.size();
  }
  Figure(std::to_string(kClients) + " clients streaming when stopped: " + std::to_string(taken) +
         " bytes read by the daemon, " + std::to_string(printed) + " printed");
}

}  // namespace
