// Integration tests of the text listener daemon: each starts the real
// program with its standard output on a pipe, talks to it over loopback on
// port 8000 and reads what it prints.  Clients always end their side first,
// so no TIME_WAIT is left on the daemon's port for the next test.

#include "harness.h"

namespace {

using namespace vantrel_test;

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
