// vask-host's web face: serves one page on 127.0.0.1 (never another
// interface) to a browser that carries the random token printed at start.
// Commands come in as small JSON requests (web_commands.h) and are handed
// to the main thread as command lines; events go out to every open page as
// server-sent events, the same objects the terminal renders.
//
// Every request must carry the token (query "token", header
// "X-Vask-Token", or the cookie set when the page is first loaded with it)
// and a Host header naming 127.0.0.1 or localhost with this port, so that a
// name rebound to 127.0.0.1 reaches nothing; no CORS header is sent, and a
// command from another origin is refused.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/events/host_event.h"
#include "mutex.h"

namespace httplib {
class Server;
}

namespace vask::host {

class WebServer {
 public:
  // Takes a checked command line; called on a server thread, so it must
  // only queue the line.
  using Submit = std::function<void(std::string line)>;

  explicit WebServer(Submit submit);
  ~WebServer();  // Stop()
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds 127.0.0.1:port (0: a free port the system picks) and serves on
  // threads of its own. False with the reason when the port cannot be had.
  bool Start(int port, std::string* error);
  // Ends every event stream and waits for the server's threads.
  void Stop();

  int port() const { return port_; }
  const std::string& token() const { return token_; }
  // The address to open, token included.
  std::string url() const;

  // Hands the event to every open page. Never blocks on a page: each has a
  // bounded queue, and a page that falls that far behind loses its stream
  // (the browser reconnects and asks for the state again). The last
  // "started" event is also the first of every stream opened later.
  void Publish(const EventJson& event) EXCLUDES(mutex_);

  // At most this many pages hold an event stream at once.
  static constexpr size_t kMaxStreams = 8;
  // A page's queue: events and bytes.
  static constexpr size_t kMaxQueuedEvents = 4000;
  static constexpr size_t kMaxQueuedBytes = 8u << 20;

 private:
  struct Stream;
  void Routes();
  std::shared_ptr<Stream> OpenStream() EXCLUDES(mutex_);
  void CloseStream(const std::shared_ptr<Stream>& stream) EXCLUDES(mutex_);

  // Owned by the thread that calls Start and Stop. The server's threads
  // only read port_, token_ and submit_, which Start sets before it starts
  // them.
  Submit submit_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  std::string token_;

  // Taken before any stream's own lock.
  vask::Mutex mutex_;
  std::vector<std::shared_ptr<Stream>> streams_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::string started_ GUARDED_BY(mutex_);  // the "started" event, each new stream's first
};

// The checks every request passes, apart so that they can be tested.
// Host: "127.0.0.1:<port>" or "localhost:<port>" (case ignored).
bool WebHostAllowed(const std::string& host, int port);
// Origin, when a request has one: this page's own.
bool WebOriginAllowed(const std::string& origin, int port);
// Compares in a time that does not depend on where the texts differ.
bool WebTokenMatches(const std::string& given, const std::string& token);
// The value of cookie `name` in a Cookie header, or "".
std::string WebCookie(const std::string& header, const std::string& name);

}  // namespace vask::host
