// The web face's server: who it lets in (the token, the Host header, the
// origin), where it listens, what the page's requests become, and its
// event streams.
#include "host/web/web_server.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "abi/host_ids.h"
#include "abi/host_records.h"
#include "gtest/gtest.h"
#include "host/web/web_assets.h"
#include "host/web/web_commands.h"

namespace vask::host {
namespace {

using Clock = std::chrono::steady_clock;

// A connected socket; `receiveBuffer` > 0 keeps its receive buffer that
// small (set before connecting, so the window stays small too).
int Connect(const char* address, int port, int receiveBuffer = 0) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receiveBuffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address, &to.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads until `until` appears or the peer closes; a deadline bounds it.
std::string ReadFrom(int fd, const std::string& until = "") {
  std::string got;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (!until.empty() && got.find(until) != std::string::npos) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

// One request on its own connection; the whole answer.
std::string Request(int port, const std::string& text) {
  int fd = Connect("127.0.0.1", port);
  if (fd < 0) return "";
  (void)!write(fd, text.data(), text.size());
  std::string answer = ReadFrom(fd);
  close(fd);
  return answer;
}

std::string Get(int port, const std::string& path, const std::string& headers,
                const std::string& host = "") {
  return Request(port, "GET " + path + " HTTP/1.1\r\nHost: " +
                           (host.empty() ? "127.0.0.1:" + std::to_string(port) : host) +
                           "\r\nConnection: close\r\n" + headers + "\r\n");
}

std::string Post(int port, const std::string& body, const std::string& headers) {
  return Request(port, "POST /api/command HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                           "\r\nConnection: close\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body);
}

int Status(const std::string& answer) {
  return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server_.Start(0, &error)) << error;
    port_ = server_.port();
    token_ = "X-Vask-Token: " + server_.token() + "\r\n";
  }
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

  std::mutex mutex_;
  std::vector<std::string> lines_;
  WebServer server_{[this](std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }};
  int port_ = 0;
  std::string token_;
};

TEST_F(WebServerTest, WithoutTheTokenNothingIsServed) {
  const std::string json = "Content-Type: application/json\r\n";
  for (std::string path : {"/", "/index.html", "/app/app.js", "/res/101.ico", "/events",
                           "/doc/Vask.html", "/nothing"}) {
    const std::string none = Get(port_, path, "");
    EXPECT_EQ(Status(none), 403) << path;
    EXPECT_EQ(none.find("<html"), std::string::npos) << path;
    EXPECT_EQ(Status(Get(port_, path, "X-Vask-Token: 0123456789abcdef0123456789abcdef\r\n")), 403)
        << path;
    EXPECT_EQ(Status(Get(port_, path + "?token=" + server_.token().substr(1), "")), 403) << path;
    EXPECT_EQ(Status(Get(port_, path, "Cookie: vask-" + std::to_string(port_) + "=wrong\r\n")), 403)
        << path;
  }
  EXPECT_EQ(Status(Post(port_, R"({"command":"add","computer":"BOB"})", json)), 403);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(WebServerTest, TheTokenOpensThePageAndSetsACookieOfThisPort) {
  const std::string first = Get(port_, "/?token=" + server_.token(), "");
  EXPECT_EQ(Status(first), 303);
  const std::string cookie = "vask-" + std::to_string(port_) + "=" + server_.token();
  EXPECT_NE(first.find("Set-Cookie: " + cookie + "; Path=/; HttpOnly; SameSite=Strict"),
            std::string::npos)
      << first;
  const std::string page = Get(port_, "/", "Cookie: other=1; " + cookie + "\r\n");
  EXPECT_EQ(Status(page), 200);
  EXPECT_NE(page.find("<html lang=\"pl\">"), std::string::npos);
  // No CORS: nothing invites another origin to read.
  EXPECT_EQ(page.find("Access-Control-"), std::string::npos);
  const std::string icon = Get(port_, "/res/101.ico", token_);
  EXPECT_EQ(Status(icon), 200);
  EXPECT_NE(icon.find("Content-Type: image/x-icon"), std::string::npos);
  EXPECT_EQ(Status(Get(port_, "/res/999.ico", token_)), 404);
}

TEST_F(WebServerTest, AForeignHostHeaderIsRefusedEvenWithTheToken) {
  const std::string port = std::to_string(port_);
  for (const std::string& host : std::vector<std::string>{
           "evil.example:" + port, "evil.example", "127.0.0.1", "127.0.0.1:1" + port,
           "localhost.evil.example:" + port, "[::1]:" + port, "0.0.0.0:" + port}) {
    EXPECT_EQ(Status(Get(port_, "/", token_, host)), 403) << host;
  }
  EXPECT_EQ(Status(Get(port_, "/", token_, "localhost:" + port)), 200);
  EXPECT_EQ(Status(Get(port_, "/", token_, "LOCALHOST:" + port)), 200);
  // No Host header at all.
  EXPECT_EQ(Status(Request(port_, "GET / HTTP/1.0\r\n" + token_ + "\r\n")), 403);
}

TEST_F(WebServerTest, ListensOnLoopbackOnly) {
  // The kernel's table of listening sockets: this port, on 127.0.0.1 only.
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port_);
  auto listeners = [&wanted](const char* file) {
    std::vector<std::string> addresses;
    std::ifstream table(file);
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      const size_t colon = local.rfind(':');
      if (colon != std::string::npos && local.substr(colon) == wanted && state == "0A") {
        addresses.push_back(local.substr(0, colon));
      }
    }
    return addresses;
  };
  EXPECT_EQ(listeners("/proc/net/tcp"), std::vector<std::string>{"0100007F"});
  EXPECT_TRUE(listeners("/proc/net/tcp6").empty());
  // And no other address of this machine answers on it.
  ifaddrs* addresses = nullptr;
  ASSERT_EQ(getifaddrs(&addresses), 0);
  for (ifaddrs* a = addresses; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
    if (std::string(text).rfind("127.", 0) == 0) continue;
    int fd = Connect(text, port_);
    EXPECT_LT(fd, 0) << text;
    if (fd >= 0) close(fd);
  }
  freeifaddrs(addresses);
}

TEST_F(WebServerTest, CommandsBecomeCommandLinesAndOthersAreRefused) {
  const std::string json = "Content-Type: application/json\r\n";
  EXPECT_EQ(
      Status(Post(port_, R"({"command":"send","to":"BOB","text":"Zażółć\ngęślą"})", token_ + json)),
      202);
  // Another site's page: refused whatever it carries.
  EXPECT_EQ(Status(Post(port_, R"({"command":"add","computer":"EVE"})",
                        token_ + json + "Origin: http://evil.example\r\n")),
            403);
  EXPECT_EQ(Status(Post(port_, R"({"command":"add","computer":"EVE"})",
                        token_ + json + "Sec-Fetch-Site: cross-site\r\n")),
            403);
  // A form's type, not JSON, and JSON that is no command.
  EXPECT_EQ(Status(Post(port_, "command=add&computer=EVE",
                        token_ + "Content-Type: application/x-www-form-urlencoded\r\n")),
            415);
  EXPECT_EQ(Status(Post(port_, "{not json", token_ + json)), 400);
  const std::string bad = Post(port_, R"({"command":"add","computer":"EVE quit"})", token_ + json);
  EXPECT_EQ(Status(bad), 400);
  EXPECT_NE(bad.find("niedozwolony znak"), std::string::npos);
  EXPECT_EQ(Status(Post(port_, R"({"command":"quit"})", token_ + json)), 400);
  EXPECT_EQ(
      Status(Post(port_, R"({"command":"add","computer":"ŻÓŁW"})",
                  token_ + json + "Origin: http://localhost:" + std::to_string(port_) + "\r\n")),
      202);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"send BOB Zażółć\ngęślą", "add ŻÓŁW"}));
}

// An event stream as the browser reads it.
class EventStream {
 public:
  EventStream(int port, const std::string& token, int receiveBuffer = 0)
      : fd_(Connect("127.0.0.1", port, receiveBuffer)) {
    const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nX-Vask-Token: " + token + "\r\n\r\n";
    (void)!write(fd_, request.data(), request.size());
  }
  ~EventStream() {
    if (fd_ >= 0) close(fd_);
  }
  std::string ReadUntil(const std::string& text) {
    got_ += ReadFrom(fd_, text);
    return got_;
  }
  // True once the server ended the stream (read gives end of file).
  bool Ended() {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[65536];
      ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return true;
    }
    return false;
  }

 private:
  int fd_;
  std::string got_;
};

TEST_F(WebServerTest, EventsReachEveryPageInOrderAndLatePagesLearnWhoseHostItIs) {
  server_.Publish(Event("started").Str("computer", "ŻÓŁW").json());
  EventStream first(port_, server_.token());
  EXPECT_NE(first.ReadUntil("ŻÓŁW").find("text/event-stream"), std::string::npos);
  EventStream second(port_, server_.token());
  second.ReadUntil("ŻÓŁW");
  for (int i = 1; i <= 3; ++i) server_.Publish(Event("message").Int("n", i).json());
  for (EventStream* stream : {&first, &second}) {
    const std::string got = stream->ReadUntil(R"("n":3})");
    const size_t one = got.find(R"(data: {"event":"message","n":1})");
    const size_t two = got.find(R"(data: {"event":"message","n":2})");
    const size_t three = got.find(R"(data: {"event":"message","n":3})");
    ASSERT_NE(three, std::string::npos) << got;
    EXPECT_LT(one, two);
    EXPECT_LT(two, three);
  }
}

TEST_F(WebServerTest, APageThatFallsBehindLosesItsStreamAndOthersKeepTheirs) {
  // The slow page's receive buffer is kept small: however large this
  // machine lets TCP buffers grow, the server's queue must be what fills.
  EventStream slow(port_, server_.token(), 4096);
  EventStream awake(port_, server_.token());
  slow.ReadUntil("retry");
  awake.ReadUntil("retry");
  // More than a page may have waiting, which the slow one never reads: three
  // times the queue's bound in bytes, so that it overflows however much the
  // kernel's buffers took in (reading the slow one afterwards to see it end
  // would drain a queue that had not overflowed yet).
  const std::string big(4096, 'x');
  int sent = 0;
  for (; sent < 6000; ++sent) {
    server_.Publish(Event("message").Int("n", sent).Str("body", big).json());
    if (sent % 100 == 0) awake.ReadUntil("\"n\":" + std::to_string(sent) + ",");
  }
  EXPECT_TRUE(slow.Ended());
  server_.Publish(Event("message").Str("body", "still here").json());
  EXPECT_NE(awake.ReadUntil("still here").find("still here"), std::string::npos);
}

// The page's numbers are the C++ code's: the module the build writes from
// abi/ holds each name with the value the host and the plug-in use, so the
// page cannot draw a status or a control the host does not mean.
TEST(WebAssetsTest, ThePagesHostNumbersAreTheHeadersOwn) {
  const WebAsset* module = FindWebAsset("/app/host_ids.js");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->type, "text/javascript; charset=utf-8");
  std::map<std::string, long long> exported;
  const std::string text(module->body);
  const std::regex line(R"(export const (\w+) = (-?)(0[xX][0-9A-Fa-f]+|[0-9]+);)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator();
       ++it) {
    const long long value = std::stoll((*it)[3].str(), nullptr, 0);
    exported[(*it)[1].str()] = (*it)[2].length() ? -value : value;
  }
  const std::pair<const char*, long long> kExpected[] = {{"kMsgErrorBox", kMsgErrorBox},
                                                         {"kIconPlugin", kIconPlugin},
                                                         {"kIconOffline", kIconOffline},
                                                         {"kStatusIconStep", kStatusIconStep},
                                                         {"kControlKindShift", kControlKindShift},
                                                         {"kControlKindMask", kControlKindMask},
                                                         {"kControlCheckBox", kControlCheckBox},
                                                         {"kControlField", kControlField},
                                                         {"kControlLabel", kControlLabel},
                                                         {"kColumnBirth", kColumnBirth},
                                                         {"kBirthYearShift", kBirthYearShift},
                                                         {"kColumnNet", kColumnNet},
                                                         {"kStatusOffline", kStatusOffline},
                                                         {"kStatusAway", kStatusAway},
                                                         {"kResourcePlugin", kResourcePlugin},
                                                         {"kGenderMale", kGenderMale},
                                                         {"kSearchQuery", kSearchQuery},
                                                         {"kReceiverAny", kReceiverAny},
                                                         {"NET_LAN", NET_LAN}};
  for (const auto& [name, value] : kExpected) {
    auto found = exported.find(name);
    ASSERT_NE(found, exported.end()) << name;
    EXPECT_EQ(found->second, value) << name;
  }
  EXPECT_NE(text.find(std::string("export const kPictureAddress = \"") + kPictureAddress + "\";"),
            std::string::npos);
}

TEST(WebCommandLineTest, EachCommandBecomesOneLineAndNoFieldAddsAWord) {
  auto line = [](const char* json) {
    std::string out, error;
    if (!WebCommandLine(nlohmann::json::parse(json), &out, &error)) return "refused: " + error;
    return out;
  };
  EXPECT_EQ(line(R"({"command":"status","status":64,"text":"przy biurku"})"),
            "status 64 przy biurku");
  EXPECT_EQ(line(R"({"command":"status","status":0})"), "status 0");
  EXPECT_EQ(line(R"({"command":"menu","item":2})"), "menu 2");
  EXPECT_EQ(line(R"({"command":"page-set","column":15001,"value":true})"), "page 15001 1");
  EXPECT_EQ(line(R"({"command":"page-set","column":15002,"value":"Kanał 2"})"),
            "page 15002 Kanał 2");
  EXPECT_EQ(line(R"({"command":"page-press","action":15002})"), "page press 15002");
  EXPECT_EQ(line(R"({"command":"action","action":15121,"computer":"BOB"})"), "action 15121 BOB");
  EXPECT_EQ(line(R"({"command":"details-close","computer":"BOB"})"), "details close BOB");
  EXPECT_EQ(line(R"({"command":"own","column":19,"value":"131072000"})"), "own 19 131072000");
  EXPECT_EQ(
      line(R"({"command":"search","status":1,"column6":"Ala Maria","gender":1,"lower":1990})"),
      "search status=1 column6=Ala Maria gender=1 lower=1990");
  EXPECT_EQ(line(R"({"command":"search","status":0,"uid":"@"})"), "search status=0 uid=@");
  EXPECT_EQ(line(R"({"command":"chat","text":"/vask cloak"})"), "chat /vask cloak");

  EXPECT_EQ(line(R"({"command":"add","computer":"BOB quit"})"),
            "refused: pole computer ma niedozwolony znak");
  EXPECT_EQ(line(R"({"command":"add","computer":"BOB\nquit"})"),
            "refused: pole computer ma niedozwolony znak");
  EXPECT_EQ(line(R"({"command":"status","status":64,"text":"a\nquit"})"),
            "refused: pole text ma niedozwolony znak");
  EXPECT_EQ(line(R"({"command":"search","column6":"x uid=BOB"})"),
            "refused: znak = nie może wystąpić w polu column6");
  EXPECT_EQ(line(R"({"command":"search","gender":-1})"), "refused: pole gender poza zakresem");
  EXPECT_EQ(line(R"({"command":"send","to":"BOB","text":"  \n "})"),
            "refused: wiadomość jest pusta");
  EXPECT_EQ(line(R"({"command":"page-set","column":15002,"value":" "})"),
            "refused: wartość jest pusta");
  EXPECT_EQ(line(R"({"command":"status","status":"64"})"), "refused: pole status ma być liczbą");
  EXPECT_EQ(line(R"({"command":"quit"})"), "refused: nieznane polecenie: quit");
  EXPECT_EQ(line(R"(["add","BOB"])"), "refused: żądanie ma być obiektem JSON");
}

// A text the network cannot carry is refused while the page still holds it
// (the request fails with the reason, so the page keeps the text), never
// taken and then dropped by the host; Polish letters pass.
TEST(WebCommandLineTest, ATextWindows1250CannotHoldIsRefusedWithThePolishReason) {
  auto line = [](const std::string& json) {
    std::string out, error;
    if (!WebCommandLine(nlohmann::json::parse(json), &out, &error)) return "refused: " + error;
    return out;
  };
  const std::string emoji = line(R"({"command":"send","to":"BOB","text":"Hej 😀 tu"})");
  EXPECT_EQ(emoji.rfind("refused: Nie wysłano: znaku „😀” nie da się przesłać", 0), 0u) << emoji;
  EXPECT_NE(emoji.find("Usuń go albo zastąp"), std::string::npos) << emoji;
  for (const char* json :
       {R"({"command":"status","status":64,"text":"☕ kawa"})",
        R"({"command":"add","computer":"Ω"})", R"({"command":"chat","text":"/vask 😀"})",
        R"({"command":"search","column6":"✓"})"}) {
    EXPECT_EQ(line(json).rfind("refused: Nie wysłano: znaku", 0), 0u) << json;
  }
  EXPECT_EQ(line(R"({"command":"send","to":"ŻÓŁW","text":"Zażółć gęślą jaźń – „tak” €"})"),
            "send ŻÓŁW Zażółć gęślą jaźń – „tak” €");
  // The page's idleness reaches the plug-in as the terminal's does.
  EXPECT_EQ(line(R"({"command":"away"})"), "away");
  EXPECT_EQ(line(R"({"command":"back"})"), "back");
}

}  // namespace
}  // namespace vask::host
