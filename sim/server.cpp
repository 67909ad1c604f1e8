#include "sim/server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

#include <httplib.h>
#include <openssl/ssl.h>

#include "sim/connections.h"
#include "sim/content_host.h"
#include "sim/service.h"
#include "sim/tokens.h"

namespace sharelink::sim {
namespace {

constexpr std::size_t kServingThreads = 32;  // room for held requests besides busy clients
constexpr std::size_t kStreamPiece = 64 * 1024;

// Counts a request of a client of the service, and its connection with the first.
void count_request(SimState& state) {
  state.count_request(first_request_on_connection());
}

// cpp-httplib offers no way to drop a connection unanswered, so the socket is
// found among the process's descriptors by its two ends and shut down; the
// server then fails to write and closes it.
void drop_connection(const httplib::Request& req) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  const auto port_of = [](const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
      return static_cast<int>(ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port));
    }
    if (address.ss_family == AF_INET6) {
      return static_cast<int>(ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port));
    }
    return -1;
  };
  while (const dirent* item = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(item->d_name, &end, 10);
    if (end == item->d_name || *end != '\0' || fd == dirfd(dir)) continue;
    sockaddr_storage local{}, peer{};
    socklen_t local_size = sizeof local, peer_size = sizeof peer;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &local_size) != 0 ||
        getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) {
      continue;
    }
    if (port_of(local) == req.local_port && port_of(peer) == req.remote_port) {
      shutdown(static_cast<int>(fd), SHUT_RDWR);
    }
  }
  closedir(dir);
}

Incoming incoming_of(const httplib::Request& req, int port, bool tls) {
  Incoming in;
  in.method = req.method;
  in.scheme = tls ? "https" : "http";
  const auto question = req.target.find('?');
  in.path = req.target.substr(0, question);
  in.query = question == std::string::npos ? "" : req.target.substr(question + 1);
  in.body = req.body;
  in.host = req.get_header_value("Host");
  if (in.host.empty()) in.host = "127.0.0.1:" + std::to_string(port);
  const auto joined = [&req](const char* name, const char* separator) {
    std::string value;
    for (std::size_t i = 0; i < req.get_header_value_count(name); ++i) {
      value += (i > 0 ? separator : "") + req.get_header_value(name, i);
    }
    return value;
  };
  in.cookie = joined("Cookie", "; ");
  in.referer = joined("Referer", ", ");
  in.content_type = joined("Content-Type", ", ");  // two lines fail the form check
  in.user_agent = joined("User-Agent", ", ");
  return in;
}

// Streams length bytes of source, breaking the connection at cut.
void stream(httplib::Response& res, std::uint64_t length, std::uint64_t cut,
            std::function<std::string(std::uint64_t, std::size_t)> source,
            const std::string& content_type) {
  res.set_content_provider(
      length, content_type,
      [cut, source = std::move(source)](std::size_t offset, std::size_t want,
                                        httplib::DataSink& sink) {
        if (offset >= cut) return false;
        const std::size_t n = std::min<std::uint64_t>({want, kStreamPiece, cut - offset});
        const std::string piece = source(offset, n);
        return sink.write(piece.data(), piece.size());
      });
}

// A request's place among those under way, given up however its answer ends.
class Place {
 public:
  Place(Service& service, Arrival arrival) : service_(service), arrival_(arrival) {}
  ~Place() { service_.depart(arrival_); }
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;
  const Arrival& arrival() const { return arrival_; }

 private:
  Service& service_;
  Arrival arrival_;
};

void move_errno_last(nlohmann::ordered_json& json) {
  nlohmann::ordered_json moved;
  for (const auto& item : json.items()) {
    if (item.key() != "errno") moved[item.key()] = item.value();
  }
  moved["errno"] = json["errno"];
  json = std::move(moved);
}

}  // namespace

// cpp-httplib comes as a shared library built without TSan. Its function-local
// statics (the set of known methods, for one) are set up behind a guard whose
// fast path TSan cannot see, so the library's own memcmp and memcpy calls on
// them look like races between serving threads. Those calls say nothing about
// this code; everything the handlers touch is still checked. Weak, so that a
// program with suppressions of its own keeps them.
extern "C" __attribute__((weak)) const char* __tsan_default_suppressions() {  // NOLINT
  return "called_from_lib:libcpp-httplib.so\n";
}

struct Simulator::Impl {
  explicit Impl(Fixture fixture) : service(std::move(fixture)) {}

  void configure(const std::function<std::unique_ptr<httplib::Server>()>& make);
  void serve(const httplib::Request& req, httplib::Response& res);
  std::uint64_t report(const LogEntry& entry);  // the entry's seq
  void deliver(const httplib::Request& req, httplib::Response& res, Reply& reply,
               std::optional<FaultKind> fault);

  Service service;
  std::unique_ptr<BackgroundServer> server;  // over an httplib::SSLServer with TLS
  std::unique_ptr<ContentHost> content;      // the second origin, the same scheme
  bool tls = false;
  std::string tls_error;  // why TLS cannot be served; start() fails with it
  std::string ca_pem;     // the made CA
  bool started = false;
  std::string host;
  int port = 0;
};

void Simulator::Impl::serve(const httplib::Request& req, httplib::Response& res) {
  const Incoming in = incoming_of(req, port, tls);
  if (auto hook = service.handle_hook(in)) {
    res.status = hook->status;
    res.set_content(hook->body, hook->content_type.c_str());
    return;
  }
  SimState& state = service.state();
  LogEntry entry{0, in.method, in.path, in.query, in.body, in.cookie, in.referer, "", "", ""};
  entry.start_us = state.now_us();
  const auto endpoint = Service::classify(in.path);
  // Under way from before it is counted, so that whoever sees the count also
  // finds the request's place taken.
  const Place place(service, endpoint ? service.arrive(*endpoint, in) : Arrival{});
  count_request(state);
  if (!endpoint) {
    entry.violation = "no such address: " + in.method + " " + in.path;
    entry.end_us = state.now_us();
    report(entry);
    res.status = 404;
    res.set_content("not found", "text/plain; charset=utf-8");
    return;
  }
  const Admission admission = state.admit(*endpoint);
  if (admission.latency_ms > 0) state.wait_for_stop(admission.latency_ms);
  Reply reply = service.handle(*endpoint, in, admission.fault, place.arrival());
  entry.endpoint = endpoint_name(*endpoint);
  entry.violation = reply.violation;
  entry.fault = admission.fault ? fault_kind_name(*admission.fault) : "";
  // Logged before delivery: a held request is to be seen in the log while held.
  const std::uint64_t seq = report(entry);
  if (admission.fault == FaultKind::errno_last && reply.json) move_errno_last(*reply.json);
  service.finish(reply);
  deliver(req, res, reply, admission.fault);
  state.finish_log(seq, state.now_us());
}

std::uint64_t Simulator::Impl::report(const LogEntry& entry) {
  if (!entry.violation.empty() && !service.fixture().quiet) {
    const std::string line = "sharelink-sim: " + entry.violation + "\n";
    std::fputs(line.c_str(), stderr);
  }
  return service.state().log(entry);
}

void Simulator::Impl::deliver(const httplib::Request& req, httplib::Response& res, Reply& reply,
                              std::optional<FaultKind> fault) {
  if (fault == FaultKind::close) return drop_connection(req);
  if (fault == FaultKind::hang) {
    service.state().wait_for_stop(service.state().knobs().hang_ms);
    return drop_connection(req);
  }
  if (fault == FaultKind::http500) {
    res.status = 500;
    res.set_content("<html><body><h1>500 Internal Server Error</h1></body></html>",
                    "text/html; charset=utf-8");
    return;
  }
  if (fault == FaultKind::malformed && reply.json) reply.body.resize(reply.body.size() / 2);
  res.status = reply.status;
  for (const auto& [name, value] : reply.headers)
    res.set_header(name.c_str(), value);

  std::uint64_t length = reply.body.size();
  auto source = [body = std::make_shared<std::string>(std::move(reply.body))](std::uint64_t offset,
                                                                              std::size_t n) {
    std::string piece = offset < body->size() ? body->substr(offset, n) : "";
    piece.resize(n, ' ');  // the "huge" padding: blanks keep a JSON reply valid
    return piece;
  };
  if (fault == FaultKind::huge) length = service.state().knobs().huge_bytes;
  const std::uint64_t cut = fault == FaultKind::truncate ? length / 2 : length;
  if (length == 0) {
    res.set_content("", reply.content_type.c_str());
  } else {
    stream(res, length, cut, std::move(source), reply.content_type);
  }
}

// Both origins of one kind: plain, or TLS with the same identity.
void Simulator::Impl::configure(const std::function<std::unique_ptr<httplib::Server>()>& make) {
  server = std::make_unique<BackgroundServer>(make(), service.state(), kServingThreads);
  const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    serve(req, res);
  };
  server->server().Get(".*", handler);
  server->server().Post(".*", handler);
  content = std::make_unique<ContentHost>(service, make());
}

Simulator::Simulator(Fixture fixture) : impl_(std::make_unique<Impl>(std::move(fixture))) {
  impl_->configure([] { return std::make_unique<httplib::Server>(); });
}

Simulator::Simulator(Fixture fixture, TlsIdentity identity)
    : impl_(std::make_unique<Impl>(std::move(fixture))) {
  Impl& impl = *impl_;
  impl.tls = true;
  if (identity.certificate_pem.empty() && identity.private_key_pem.empty()) {
    TlsIdentity ca;
    if (make_test_ca(ca, impl.tls_error) &&
        make_test_leaf(ca, LeafKind::valid, identity, impl.tls_error)) {
      impl.ca_pem = ca.certificate_pem;
    }
  }
  impl.configure([&impl, &identity]() -> std::unique_ptr<httplib::Server> {
    std::string error;
    auto server = std::make_unique<httplib::SSLServer>([&identity, &error](SSL_CTX& ctx) {
      return SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION) == 1 &&
             use_identity(&ctx, identity, error);
    });
    if (!server->is_valid() && impl.tls_error.empty()) {
      impl.tls_error = error.empty() ? "cannot set up TLS" : error;
    }
    return server;
  });
}

Simulator::~Simulator() {
  stop();
}

bool Simulator::start(const std::string& host, int port, std::string& error) {
  if (impl_->started) {
    error = "the simulator was started before";
    return false;
  }
  if (!impl_->tls_error.empty()) {
    error = impl_->tls_error;
    return false;
  }
  std::signal(SIGPIPE, SIG_IGN);  // a dropped connection must not end the process
  Impl& impl = *impl_;
  const std::string scheme = impl.tls ? "https://" : "http://";
  // The content origin first: the links the service hands out name it.
  if (!impl.content->start(host, error)) return false;
  impl.service.set_content_origin(scheme + host + ":" + std::to_string(impl.content->port()));
  const int bound = impl.server->bind(host, port, error);
  if (bound < 0) {
    impl.content->stop();
    return false;
  }
  impl.started = true;
  impl.host = host;
  impl.port = bound;
  impl.server->run();
  return true;
}

void Simulator::stop() {
  if (!impl_->server->running() && !impl_->content->running()) return;
  impl_->service.state().request_stop();
  impl_->server->stop();
  impl_->content->stop();
}

int Simulator::port() const {
  return impl_->port;
}

std::string Simulator::origin() const {
  return (impl_->tls ? "https://" : "http://") + impl_->host + ":" + std::to_string(impl_->port);
}

bool Simulator::uses_tls() const {
  return impl_->tls;
}

const std::string& Simulator::ca_certificate_pem() const {
  return impl_->ca_pem;
}

std::string Simulator::share_url(const std::string& surl) const {
  return origin() + "/s/" + surl;
}

std::vector<LogEntry> Simulator::requests() const {
  return impl_->service.state().log_entries();
}

std::uint64_t Simulator::connections_seen() const {
  return impl_->service.state().traffic().connections;
}

std::uint64_t Simulator::requests_seen() const {
  return impl_->service.state().traffic().requests;
}

std::optional<std::string> Simulator::captcha_answer(const std::string& vcode_str) const {
  const auto record = impl_->service.state().find_captcha(vcode_str);
  if (!record) return std::nullopt;
  return record->answer;
}

Knobs Simulator::knobs() const {
  return impl_->service.state().knobs();
}

void Simulator::set_knobs(const Knobs& knobs) {
  impl_->service.state().set_knobs(knobs);
}

void Simulator::add_fault(const FaultRule& rule) {
  Knobs knobs = impl_->service.state().knobs();
  knobs.faults.push_back(rule);
  impl_->service.state().set_knobs(knobs);
}

void Simulator::reset() {
  impl_->service.state().reset();
  impl_->content->reset_counters();
}

std::string Simulator::content_origin() const {
  return (impl_->tls ? "https://" : "http://") + impl_->host + ":" +
         std::to_string(impl_->content->port());
}

int Simulator::content_port() const {
  return impl_->content->port();
}

std::uint64_t Simulator::content_bytes_served() const {
  return impl_->content->bytes_served();
}

std::uint64_t Simulator::content_connections_seen() const {
  return impl_->content->connections_seen();
}

}  // namespace sharelink::sim
