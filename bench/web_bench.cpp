// The web face's command round trip, beside a raw loopback baseline
// measured in the same run:
//
//   web_bench [ROUND_TRIPS]
//
// A page sends each command as a POST /api/command on a kept-alive
// connection and waits for its answer before the next. Here a client does
// the same against the web face's server alone (its command handler only
// counts), writing each request at once with no delay of its own, as a
// browser does, and opening a new connection only when the server closes
// one. Baseline: the same request and a reply of the same size between two
// plain loopback sockets. Figures go to standard output as "name value unit"
// lines: the median and the 99th percentile of a round trip.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "host/web/web_server.h"

namespace {

using Clock = std::chrono::steady_clock;

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// Reads one HTTP answer (head and Content-Length bytes of body). False when
// the connection ended before it was whole.
bool ReadAnswer(int fd, std::string* answer) {
  answer->clear();
  size_t whole = std::string::npos;
  char buffer[4096];
  while (whole == std::string::npos || answer->size() < whole) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    answer->append(buffer, static_cast<size_t>(n));
    const size_t head = answer->find("\r\n\r\n");
    if (whole == std::string::npos && head != std::string::npos) {
      const size_t at = answer->find("Content-Length: ");
      const size_t length =
          at == std::string::npos ? 0 : std::strtoul(answer->c_str() + at + 16, nullptr, 10);
      whole = head + 4 + length;
    }
  }
  return true;
}

struct Figures {
  double median = 0;
  double p99 = 0;
};

Figures Summarize(std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  if (micros.empty()) return {};
  return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// Round trips of `request` to the port; a connection the server closed
// (it keeps one alive for a few requests) is opened again, and that round
// trip is not counted.
std::vector<double> RoundTrips(int port, const std::string& request, int count, int* reconnects) {
  std::vector<double> micros;
  int fd = Connect(port);
  std::string answer;
  while (fd >= 0 && static_cast<int>(micros.size()) < count) {
    const auto start = Clock::now();
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()) ||
        !ReadAnswer(fd, &answer)) {
      close(fd);
      fd = Connect(port);
      ++*reconnects;
      continue;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (answer.find("Connection: close") != std::string::npos) {
      close(fd);
      fd = Connect(port);
      ++*reconnects;
    }
  }
  if (fd >= 0) close(fd);
  return micros;
}

// A server that answers every read with `reply` in one write.
int StartEchoServer(const std::string& reply, std::thread* thread, std::atomic<bool>* stop) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
  socklen_t size = sizeof at;
  if (bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
    close(listener);
    return -1;
  }
  *thread = std::thread([listener, reply, stop] {
    while (!stop->load()) {
      pollfd p{listener, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      char buffer[4096];
      while (read(fd, buffer, sizeof buffer) > 0) {
        if (write(fd, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) break;
      }
      close(fd);
    }
    close(listener);
  });
  return ntohs(at.sin_port);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 400;
  std::atomic<int> commands{0};
  vask::host::WebServer server([&commands](std::string) { ++commands; });
  std::string error;
  if (!server.Start(0, &error)) {
    std::fprintf(stderr, "web_bench: %s\n", error.c_str());
    return 1;
  }
  const std::string body = R"({"command":"contacts"})";
  const std::string request =
      "POST /api/command HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
      "\r\nX-Vask-Token: " + server.token() +
      "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\n\r\n" + body;
  int reconnects = 0;
  RoundTrips(server.port(), request, 20, &reconnects);  // warm-up
  reconnects = 0;
  const Figures web = Summarize(RoundTrips(server.port(), request, count, &reconnects));
  server.Stop();

  // The baseline: an answer of the size the server gave, in one write.
  std::string answer;
  {
    vask::host::WebServer again([](std::string) {});
    if (!again.Start(0, &error)) return 1;
    const std::string one =
        "POST /api/command HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(again.port()) +
        "\r\nX-Vask-Token: " + again.token() +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    const int fd = Connect(again.port());
    if (fd < 0 || write(fd, one.data(), one.size()) != static_cast<ssize_t>(one.size()) ||
        !ReadAnswer(fd, &answer)) {
      std::fprintf(stderr, "web_bench: no answer to a command\n");
      return 1;
    }
    close(fd);
  }
  std::atomic<bool> stop{false};
  std::thread echo;
  const int echoPort = StartEchoServer(answer, &echo, &stop);
  if (echoPort <= 0) return 1;
  int ignored = 0;
  RoundTrips(echoPort, request, 20, &ignored);
  const Figures raw = Summarize(RoundTrips(echoPort, request, count, &ignored));
  stop = true;
  echo.join();

  std::printf("web_command_round_trip_median %.1f us\n", web.median);
  std::printf("web_command_round_trip_p99 %.1f us\n", web.p99);
  std::printf("web_command_reconnects %d of %d\n", reconnects, count);
  std::printf("web_commands_received %d\n", commands.load());
  std::printf("baseline_loopback_round_trip_median %.1f us\n", raw.median);
  std::printf("baseline_loopback_round_trip_p99 %.1f us\n", raw.p99);
  return 0;
}
