// SPDX-License-Identifier: ISC
// Load client for the Vantrel benchmark: it drives any server on
// 127.0.0.1:8000 that copies what it receives to its output, and checks
// afterwards what the daemon printed.
//
//	vantrel-client stream CLIENTS BYTES [PORTS]	CLIENTS connect, then all
//		send BYTES each at once; prints the seconds from the first byte
//		sent until the server has closed the last connection
//	vantrel-client connect COUNT BYTES [PORTS]	COUNT connections one after
//		another: connect, send BYTES, close; prints the seconds for all
//	vantrel-client verify OUTPUT PORTS	checks a daemon's output against
//		what the clients listed in PORTS sent
//	vantrel-client count OUTPUT PORTS	checks that a plain copy holds
//		exactly the bytes the clients sent, in any order
//	vantrel-client threads COUNT	starts and ends COUNT detached threads
//		one after another, as the daemon starts one per connection, and
//		prints the wall and CPU microseconds of each
//
// Each client ends its stream with shutdown() and then waits for the
// server to close, so the clock stops only when the server has read
// everything, and the TIME_WAIT stays on the client's side.  PORTS
// receives one line per client: its port, its number and its byte count.
// Client i sends Byte(i, 0), Byte(i, 1), ...: lower-case letters only, so
// the text can never be taken for one of the daemon's own lines.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "payload.h"

namespace {

using Clock = std::chrono::steady_clock;

char Byte(size_t client, size_t k) { return PayloadByte(client, k); }

struct Peer {
  int port = 0;
  size_t client = 0, bytes = 0;
};

[[noreturn]] void Die(const std::string &what) {
  fprintf(stderr, "vantrel-client: %s: %s\n", what.c_str(), strerror(errno));
  exit(2);
}

int Connect(Peer *p) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(8000);
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) Die("socket");
  if (connect(fd, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0) Die("connect");
  socklen_t len = sizeof(sin);
  getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len);
  p->port = ntohs(sin.sin_port);
  return fd;
}

void SendAll(int fd, const char *s, size_t n) {
  while (n > 0) {
    ssize_t w = send(fd, s, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) Die("send");
    s += w;
    n -= static_cast<size_t>(w);
  }
}

// Ends the stream and waits until the server has closed its side.
void Finish(int fd) {
  char c;
  shutdown(fd, SHUT_WR);
  while (recv(fd, &c, 1, 0) > 0) {
  }
  close(fd);
}

std::string Payload(size_t client, size_t bytes) {
  std::string s(bytes, '\0');
  for (size_t k = 0; k < bytes; k++) s[k] = Byte(client, k);
  return s;
}

void WritePorts(const char *path, const std::vector<Peer> &peers) {
  if (path == nullptr) return;
  std::ofstream out(path);
  for (const Peer &p : peers) out << p.port << ' ' << p.client << ' ' << p.bytes << '\n';
}

std::vector<Peer> ReadPorts(const char *path) {
  std::vector<Peer> peers;
  std::ifstream in(path);
  for (Peer p; in >> p.port >> p.client >> p.bytes;) peers.push_back(p);
  return peers;
}

double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// All clients connect first and are then let go together: the figure is
// throughput, not how fast a burst of connections is taken.
int Stream(size_t clients, size_t bytes, const char *ports) {
  std::vector<Peer> peers(clients);
  std::vector<std::string> data(clients);
  std::vector<int> fds(clients);
  for (size_t i = 0; i < clients; i++) {
    data[i] = Payload(i, bytes);
    peers[i].client = i;
    peers[i].bytes = bytes;
    fds[i] = Connect(&peers[i]);
  }
  auto t0 = Clock::now();
  std::vector<std::thread> senders;
  for (size_t i = 0; i < clients; i++)
    senders.emplace_back([&, i] {
      SendAll(fds[i], data[i].data(), bytes);
      Finish(fds[i]);
    });
  for (auto &t : senders) t.join();
  printf("%.6f\n", Since(t0));
  WritePorts(ports, peers);
  return 0;
}

int Connections(size_t count, size_t bytes, const char *ports) {
  std::vector<Peer> peers(count);
  std::vector<std::string> data(count);
  for (size_t i = 0; i < count; i++) data[i] = Payload(i, bytes);
  auto t0 = Clock::now();
  for (size_t i = 0; i < count; i++) {
    peers[i].client = i;
    peers[i].bytes = bytes;
    int fd = Connect(&peers[i]);
    SendAll(fd, data[i].data(), bytes);
    Finish(fd);
  }
  printf("%.6f\n", Since(t0));
  WritePorts(ports, peers);
  return 0;
}

std::string ReadAll(const char *path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct Seen {
  int accepted = 0, closed = 0, pieces = 0;
  bool ended = false;  // the empty piece of the end of stream came last
  std::string text;
};

// Every byte of the output must belong to one of the daemon's lines or to
// a piece after a readiness line; every client must appear with exactly
// its own bytes, in order, in pieces of at most 255.
int Verify(const char *output, const char *ports) {
  const std::string out = ReadAll(output), head = "Connection from: 127.0.0.1:";
  std::map<int, Seen> seen;
  size_t bad = 0, at = 0;
  while (at < out.size()) {
    if (out.compare(at, head.size(), head) != 0) {
      bad++;
      at = out.find(head, at);
      if (at == std::string::npos) break;
      continue;
    }
    char *end;
    int port = static_cast<int>(strtol(out.c_str() + at + head.size(), &end, 10));
    size_t eol = out.find('\n', at);
    std::string rest = out.substr(end - out.c_str(), eol - (end - out.c_str()));
    Seen &s = seen[port];
    at = eol + 1;
    if (rest.empty()) {
      s.accepted++;
    } else if (rest == " closed") {
      s.closed++;
    } else if (rest == " data available") {
      size_t next = out.find(head, at);
      if (next == std::string::npos) next = out.size();
      if (s.ended || next - at > 255 || s.closed) bad++;
      s.ended = next == at;
      s.text.append(out, at, next - at);
      s.pieces++;
      at = next;
    } else {
      bad++;
    }
  }
  size_t bytes = 0, pieces = 0;
  std::vector<Peer> peers = ReadPorts(ports);
  for (const Peer &p : peers) {
    Seen &s = seen[p.port];
    bool ok = s.accepted == 1 && s.closed == 1 && s.ended && s.text == Payload(p.client, p.bytes);
    if (!ok) fprintf(stderr, "verify: client %zu (port %d) is not as sent\n", p.client, p.port);
    bad += !ok;
    bytes += s.text.size();
    pieces += static_cast<size_t>(s.pieces);
  }
  if (seen.size() != peers.size()) bad++;
  printf("%s: %zu clients, %zu bytes of text in %zu reads, %zu output bytes\n", bad ? "BAD" : "ok",
         peers.size(), bytes, pieces, out.size());
  return bad ? 1 : 0;
}

int Count(const char *output, const char *ports) {
  size_t want = 0, got = ReadAll(output).size();
  for (const Peer &p : ReadPorts(ports)) want += p.bytes;
  printf("%s: %zu bytes, %zu sent\n", got == want ? "ok" : "BAD", got, want);
  return got == want ? 0 : 1;
}

double CpuSeconds() {
  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

sem_t ended;

void *Ends(void *) {
  sem_post(&ended);
  return nullptr;
}

// The same attributes as the daemon's connection threads.
int Threads(size_t count) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  sem_init(&ended, 0, 0);
  double cpu = CpuSeconds();
  auto t0 = Clock::now();
  for (size_t i = 0; i < count; i++) {
    pthread_t t;
    if ((errno = pthread_create(&t, &attr, Ends, nullptr)) != 0) Die("pthread_create");
    while (sem_wait(&ended) != 0) {
    }
  }
  double wall = Since(t0);
  cpu = CpuSeconds() - cpu;
  printf("%.1f %.1f\n", wall * 1e6 / count, cpu * 1e6 / count);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "threads" && argc == 3) return Threads(strtoul(argv[2], nullptr, 10));
  if (argc < 4) {
    fprintf(stderr, "usage: vantrel-client stream|connect N BYTES [PORTS] | verify|count OUTPUT PORTS | threads N\n");
    return 2;
  }
  const char *ports = argc > 4 ? argv[4] : nullptr;
  if (mode == "stream") return Stream(strtoul(argv[2], nullptr, 10), strtoul(argv[3], nullptr, 10), ports);
  if (mode == "connect") return Connections(strtoul(argv[2], nullptr, 10), strtoul(argv[3], nullptr, 10), ports);
  if (mode == "verify") return Verify(argv[2], argv[3]);
  if (mode == "count") return Count(argv[2], argv[3]);
  fprintf(stderr, "vantrel-client: unknown mode %s\n", mode.c_str());
  return 2;
}
