#include "host/web/web_server.h"

#include <httplib.h>
#include <sys/random.h>

#include <algorithm>
#include <chrono>
#include <deque>

#include "host/text/text_codec.h"
#include "host/web/web_assets.h"
#include "host/web/web_commands.h"

namespace vask::host {

namespace {

// A page's connection that has shown nothing for this long gets a comment
// line, so that a proxy or the browser does not take it for dead.
constexpr auto kKeepAlive = std::chrono::seconds(15);
// HTTP's answer to a request it refuses (not a host number).
constexpr int kHttpBadRequest = 400;
// Commands are small; a message is at most the plug-in's limit of 100000
// bytes, and its JSON escapes may double that.
constexpr size_t kMaxRequest = 256 * 1024;  // bytes, not a host number

constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";
// The help document carries its own style sheet.
constexpr const char* kDocumentPolicy =
    "default-src 'none'; style-src 'unsafe-inline'; img-src 'self'; frame-ancestors 'none'";

std::string RandomToken() {
  unsigned char bytes[16] = {};
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n > 0) got += static_cast<size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

std::string CookieName(int port) { return "vask-" + std::to_string(port); }

void Refuse(httplib::Response& res, int status, const char* text) {
  res.status = status;
  res.set_content(std::string(text) + "\n", "text/plain; charset=utf-8");
}

void JsonReply(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  "application/json; charset=utf-8");
}

}  // namespace

bool WebHostAllowed(const std::string& host, int port) {
  const std::string suffix = ":" + std::to_string(port);
  const std::string h = Lower(host);
  return h == "127.0.0.1" + suffix || h == "localhost" + suffix;
}

bool WebOriginAllowed(const std::string& origin, int port) {
  return WebHostAllowed(origin.rfind("http://", 0) == 0 ? origin.substr(7) : std::string(), port);
}

bool WebTokenMatches(const std::string& given, const std::string& token) {
  if (token.empty() || given.size() != token.size()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < token.size(); ++i) {
    differ |= static_cast<unsigned char>(given[i] ^ token[i]);
  }
  return differ == 0;
}

std::string WebCookie(const std::string& header, const std::string& name) {
  size_t at = 0;
  while (at < header.size()) {
    size_t end = header.find(';', at);
    if (end == std::string::npos) end = header.size();
    std::string pair = header.substr(at, end - at);
    const size_t first = pair.find_first_not_of(' ');
    pair = first == std::string::npos ? std::string() : pair.substr(first);
    const size_t eq = pair.find('=');
    if (eq != std::string::npos && pair.compare(0, eq, name) == 0 && eq == name.size()) {
      return pair.substr(eq + 1);
    }
    at = end + 1;
  }
  return std::string();
}

// One page's event stream: what waits to be written to it.
// Its lock is taken after the server's (mutex_) when both are held.
struct WebServer::Stream {
  vask::Mutex mutex;
  vask::CondVar changed;  // a chunk was queued, or the stream closed
  std::deque<std::string> chunks GUARDED_BY(mutex);
  size_t bytes GUARDED_BY(mutex) = 0;
  bool closed GUARDED_BY(mutex) = false;
};

WebServer::WebServer(Submit submit) : submit_(std::move(submit)), token_(RandomToken()) {}

WebServer::~WebServer() { Stop(); }

std::string WebServer::url() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/?token=" + token_;
}

bool WebServer::Start(int port, std::string* error) {
  if (server_) {
    *error = "the web face runs already";
    return false;
  }
  server_ = std::make_unique<httplib::Server>();
  // A thread for each open event stream, and some for the requests.
  server_->new_task_queue = [] { return new httplib::ThreadPool(kMaxStreams + 4); };
  server_->set_payload_max_length(kMaxRequest);
  // A response goes out in two writes (head, body); with Nagle's delay the
  // second waited for the browser's delayed acknowledgement, ~40 ms a command.
  server_->set_tcp_nodelay(true);
  Routes();
  // Only the loopback address: nobody else on the network reaches the page.
  if (port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
  } else {
    port_ = server_->bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (port_ <= 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port);
    server_.reset();
    port_ = 0;
    return false;
  }
  thread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
  // The library's stop() does nothing until its listener runs, and a
  // listener that starts after it then accepts for ever: Stop() would never
  // return. Started means listening. (listen_after_bind sets it at once; the
  // bound only guards against a library that never does.)
  for (int waited = 0; !server_->is_running() && waited < 5000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void WebServer::Stop() {
  {
    vask::MutexLock lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    for (const auto& stream : streams_) {
      vask::MutexLock streamLock(stream->mutex);
      stream->closed = true;
      stream->changed.NotifyAll();
    }
  }
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

void WebServer::Publish(const EventJson& event) {
  std::string chunk = "data: " + EventLine(event) + "\n\n";
  vask::MutexLock lock(mutex_);
  // A page that connects later learns whose host it is from this event.
  if (TextOf(event, "event") == "started") started_ = chunk;
  for (const auto& stream : streams_) {
    vask::MutexLock streamLock(stream->mutex);
    if (stream->closed) continue;
    if (stream->chunks.size() >= kMaxQueuedEvents ||
        stream->bytes + chunk.size() > kMaxQueuedBytes) {
      // Too far behind: its stream ends, and the page starts afresh.
      stream->closed = true;
    } else {
      stream->bytes += chunk.size();
      stream->chunks.push_back(chunk);
    }
    stream->changed.NotifyAll();
  }
}

std::shared_ptr<WebServer::Stream> WebServer::OpenStream() {
  vask::MutexLock lock(mutex_);
  if (stopping_ || streams_.size() >= kMaxStreams) return nullptr;
  auto stream = std::make_shared<Stream>();
  {
    vask::MutexLock streamLock(stream->mutex);
    // The browser retries a lost stream after two seconds.
    stream->chunks.push_back("retry: 2000\n\n");
    if (!started_.empty()) stream->chunks.push_back(started_);
  }
  streams_.push_back(stream);
  return stream;
}

void WebServer::CloseStream(const std::shared_ptr<Stream>& stream) {
  vask::MutexLock lock(mutex_);
  streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

void WebServer::Routes() {
  httplib::Server& s = *server_;
  s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
    res.set_header("Content-Security-Policy", kPagePolicy);
    // A name that resolves to 127.0.0.1 (DNS rebinding) still carries its
    // own name here.
    if (!WebHostAllowed(req.get_header_value("Host"), port_)) {
      Refuse(res, 403, "Nieznany nagłówek Host.");
      return httplib::Server::HandlerResponse::Handled;
    }
    const std::string given = req.has_header("X-Vask-Token") ? req.get_header_value("X-Vask-Token")
                              : req.has_param("token")
                                  ? req.get_param_value("token")
                                  : WebCookie(req.get_header_value("Cookie"), CookieName(port_));
    if (!WebTokenMatches(given, token_)) {
      Refuse(res, 403, "Brak klucza dostępu: otwórz adres, który wypisał vask-host.");
      return httplib::Server::HandlerResponse::Handled;
    }
    // Another site's page may not drive this one.
    if (req.has_header("Origin") && !WebOriginAllowed(req.get_header_value("Origin"), port_)) {
      Refuse(res, 403, "Obce pochodzenie żądania.");
      return httplib::Server::HandlerResponse::Handled;
    }
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    if (site == "cross-site" || site == "same-site") {
      Refuse(res, 403, "Obce pochodzenie żądania.");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  s.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
    if (req.has_param("token")) {
      // The page's own files and its requests carry the token as a cookie
      // of this port (cookies do not tell ports apart, their names do);
      // the address bar loses it.
      res.set_header("Set-Cookie",
                     CookieName(port_) + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict");
      res.set_redirect("/", 303);
      return;
    }
    const WebAsset* page = FindWebAsset("/index.html");
    if (!page) return Refuse(res, 404, "Nie ma strony.");
    res.set_content(std::string(page->body), std::string(page->type));
  });

  s.Get(R"(/(app/[A-Za-z0-9_.-]+|res/[0-9]+\.ico|doc/Vask\.html))",
        [](const httplib::Request& req, httplib::Response& res) {
          const WebAsset* asset = FindWebAsset(req.path);
          if (!asset) return Refuse(res, 404, "Nie ma takiego pliku.");
          if (req.path.rfind("/doc/", 0) == 0) {
            res.set_header("Content-Security-Policy", kDocumentPolicy);
          }
          res.set_content(std::string(asset->body), std::string(asset->type));
        });

  s.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
    auto stream = OpenStream();
    if (!stream) return Refuse(res, 503, "Za dużo otwartych stron.");
    res.set_chunked_content_provider(
        "text/event-stream",
        [stream](size_t, httplib::DataSink& sink) {
          std::string out;
          {
            vask::MutexLock lock(stream->mutex);
            const auto deadline = std::chrono::steady_clock::now() + kKeepAlive;
            while (!stream->closed && stream->chunks.empty()) {
              if (!stream->changed.WaitUntil(stream->mutex, deadline)) break;
            }
            if (stream->closed) return false;
            if (stream->chunks.empty()) out = ":\n\n";
            while (!stream->chunks.empty()) {
              out += stream->chunks.front();
              stream->chunks.pop_front();
            }
            stream->bytes = 0;
          }
          return sink.write(out.data(), out.size());
        },
        [this, stream](bool) {
          {
            vask::MutexLock lock(stream->mutex);
            stream->closed = true;
          }
          CloseStream(stream);
        });
  });

  s.Post("/api/command", [this](const httplib::Request& req, httplib::Response& res) {
    // A form of another site cannot send this type without asking first,
    // and it is never answered the CORS question.
    if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
      return JsonReply(res, 415, {{"error", "oczekiwano application/json"}});
    }
    nlohmann::json request = nlohmann::json::parse(req.body, nullptr, false);
    if (request.is_discarded())
      return JsonReply(res, kHttpBadRequest, {{"error", "to nie jest JSON"}});
    std::string line, error;
    if (!WebCommandLine(request, &line, &error))
      return JsonReply(res, kHttpBadRequest, {{"error", error}});
    submit_(std::move(line));
    JsonReply(res, 202, {{"ok", true}});
  });
}

}  // namespace vask::host
