// sharelink-sim: the local stand-in for the cloud-disk service.

#include <pthread.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/fixture.h"
#include "sim/knobs.h"
#include "sim/server.h"
#include "sim/test_certs.h"

namespace {

using namespace sharelink::sim;

constexpr const char* kHelp = R"(Usage: sharelink-sim [OPTION]... [FIXTURE.json]...
Serves the shares of the fixture files (none given: the demo fixture) over HTTP
(HTTPS with --tls) on a loopback port, the way the cloud-disk service answers a
share client: share pages, extraction-code verification, captchas, folder
listing, download links and the files behind them. A download link answers
302 with an address on a second port, the content host (another origin),
which serves the file's bytes (made from its fs_id) for GET and HEAD, whole
or one range "bytes=A-B" or "bytes=A-" (206; 416 past the end), to the
User-Agent the link was requested with only (403 otherwise).
Prints the port as the first line on stdout, then one line per share, then
"content: http://HOST:PORT"; runs until SIGINT or SIGTERM, then prints on
stderr "connections: N, requests: M, content: C connections, B bytes": the
TCP connections that carried a request and the requests, the test hooks left
out, and the connections and body bytes of the content host.

Options (they override the fixtures' options):
  --host ADDR                 listen address (default 127.0.0.1)
  --port N                    port; 0 (default) picks a free one
  --tls                       serve https, with a certificate for 127.0.0.1
                              and localhost signed by a test CA made for this
                              run. Before the port is printed, the CA
                              certificate is written into the --tls-dir folder
                              as ca.pem and under its hashed name, and a line
                              on stderr names it: SSL_CERT_FILE=DIR/ca.pem or
                              SSL_CERT_DIR=DIR makes a client trust it
  --tls-dir DIR               that folder (default: sharelink-sim-tls in the
                              current directory; made when missing)
  --generate SURL:N,D,F       add a public share of N files over a folder tree
                              D levels deep with F sub-folders each
  --latency MS                delay every request by MS milliseconds
  --latency ENDPOINT=MS       delay one endpoint's requests
  --connect-latency MS        delay every new connection's first request by MS
                              milliseconds (the handshakes of a real network);
                              a connection stays open for any number of
                              requests while its client is not idle a second
  --fault ENDPOINT:KIND[@N|@everyK]
                              inject a fault into every request of the
                              endpoint, only its N-th, or every K-th
  --sign-expires-after N      on every share: each page fetch issues a new
                              sign, the only valid one from then on, and it
                              serves N download-link requests; later ones
                              and those with a replaced sign get errno 112
                              (0: a sign serves until it is eight hours old)
  --max-download-in-flight C  on every share: a download-link request coming
                              while C of the share are under way (in their
                              latency, say) gets errno -20, the captcha
                              demand; one with a right answer is served
                              (0: no limit)
  --raw-utf8                  JSON with raw UTF-8 instead of \uXXXX escapes
  --hex-amp                   "&" written as \u0026 in JSON
  --captcha-format png|jpeg   captcha picture format (default png)
Content host (sizes take a K, M or G suffix: 2M = 2 MiB):
  --rate BYTES                each response paced to BYTES per second from its
                              first body byte (0, the default: unthrottled)
  --connections-per-file C    a request for a file while C responses of it
                              are under way gets 503 (0: no limit)
  --link-lifetime S           a link (and its content address) S seconds old
                              gets 403 (default 28800, eight hours)
  --drop-after BYTES          every body's connection closed after BYTES of it
                              (0: never)
  --ignore-range              ranged requests get 200 and the whole file
  --short-by BYTES            files hold BYTES fewer than listed; ranges and
                              totals say so
  --hang-ms MS                how long a "hang" fault holds a request
  --huge-bytes N              size of a "huge" reply (default 100 MiB)
  --seed N                    fixed secrets and captcha answers (0: random)
  --quiet                     no violation lines and no counts on stderr
  --help                      this text

Endpoints: page (/s/SURL, /share/init), verify (/share/verify), captcha
(/api/getcaptcha), image (the captcha picture), list (/share/list), download
(/api/sharedownload), file (a download link).
Fault kinds: close, hang, http500, truncate, malformed, errno_last and
bare_success (JSON endpoints), huge, self_loop and first_page (list),
corrupt_captcha (image).

Wrong codes, download requests (for the captcha policies) and the first page
fetch count per share since the start or the last POST /__sim/reset. Extraction
codes and captcha answers are compared without regard to letter case.

A request that breaks the service's rules (parameter names, order and forms,
fixed values, Referer and Content-Type of the POSTs, signatures, tokens) is
answered {"errno":2,...} and named in one line on stderr and in the log. A
sign the service gave that is no longer valid (older than eight hours, or see
--sign-expires-after) is no fault: {"errno":112,...} asks for the page again.
There are no sessions: the last page fetched and the requests under way count
per share, whoever sent them.

Fixture file (JSON; all members optional unless marked):
  {"options": {"raw_utf8": false, "hex_amp": false, "captcha_format": "png",
               "latency_ms": 0, "connect_latency_ms": 0,
               "endpoint_latency_ms": {"list": 50},
               "faults": ["list:http500@3"], "hang_ms": 120000,
               "huge_bytes": 104857600, "seed": 0, "quiet": false,
               "content": {"rate": "2M", "connections_per_file": 0,
                           "link_lifetime_seconds": 28800, "drop_after": 0,
                           "ignore_range": false, "short_by": 0}},
   "shares": [{"surl": "1AbC", "shareid": 101, "uk": 202,       (required)
               "code": "ab12",                   (absent: a public share)
               "wrong_code_errno": -9, "empty_code_errno": -12,
               "verify_captcha": "always" | "after:N",  (N wrong codes)
               "download_captcha": "from:K" | "every:K", (K-th request)
               "page_missing_first_fetch": false,
               "sign_expires_after": 0,      (as --sign-expires-after)
               "max_download_in_flight": 0,  (as --max-download-in-flight)
               "root": "/",            (the sharer's folder of the top level)
               "title": "...",         (default: the first entry's path)
               "page_data": {...},     (replaces members of the data object)
               "tree": [ENTRY, ...],
               "generate": {"files": N, "depth": D, "fanout": F}}]}
  ENTRY: {"name": "a.txt", "size": 12, "fs_id": 7, "app_id": "250528",
          "mtime": 1600000000, "wire": {...}}; a folder has "children":
          [ENTRY, ...] and/or "generated_files": N instead of "size". "wire"
          replaces members of the entry as pages and listings send it; a
          null member in "wire" or "page_data" is removed.

Test hooks: GET /__sim/requests (the request log as JSON),
GET /__sim/captcha?vcode_str=ID (a captcha's answer), POST /__sim/reset,
GET /__sim/stats ({"connections":N,"requests":M}, as printed at the end;
counted since the start, a reset leaves them). Each logged request has
start_us and end_us: microseconds since the start when it came in (before its
latency) and when its reply was handed over; end_us is 0 while it is held.
)";

struct Arguments {
  std::string host = "127.0.0.1";
  int port = 0;
  bool tls = false;
  std::string tls_dir;
  std::vector<std::string> fixtures;
  std::vector<std::string> generate;
  std::vector<std::pair<std::string, std::string>> overrides;  // applied after the fixtures
};

bool fail(const std::string& message) {
  std::fprintf(stderr, "sharelink-sim: %s\n", message.c_str());
  return false;
}

bool apply(const std::string& option, const std::string& value, Fixture& fixture) {
  std::string error;
  std::uint64_t number = 0;
  const bool numeric = parse_uint(value, number);
  if (option == "--latency") return parse_latency(value, fixture.knobs, error) || fail(error);
  if (option == "--fault") {
    const auto rule = parse_fault(value, error);
    if (rule) fixture.knobs.faults.push_back(*rule);
    return rule || fail(error);
  }
  if (apply_content_option(option, value, fixture.knobs.content, error)) return true;
  if (!error.empty()) return fail(error);
  if (option == "--raw-utf8" || option == "--hex-amp" || option == "--quiet") {
    (option == "--raw-utf8" ? fixture.style.raw_utf8
                            : (option == "--hex-amp" ? fixture.style.hex_amp : fixture.quiet)) =
        true;
    return true;
  }
  if (option == "--captcha-format" && (value == "png" || value == "jpeg")) {
    fixture.captcha_format = value == "png" ? ImageFormat::png : ImageFormat::jpeg;
    return true;
  }
  if (!numeric) return fail(option + " needs a number, not '" + value + "'");
  if (option == "--connect-latency") {
    if (number > kLongestDelayMs) return fail("--connect-latency is at most an hour, not " + value);
    fixture.knobs.connect_latency_ms = static_cast<std::uint32_t>(number);
  }
  // As in a fixture: an hour at most, where a 32-bit cut could have made it 0.
  if (option == "--hang-ms") {
    fixture.knobs.hang_ms = static_cast<std::uint32_t>(std::min(number, kLongestDelayMs));
  }
  if (option == "--huge-bytes") fixture.knobs.huge_bytes = number;
  if (option == "--seed") fixture.seed = number;
  for (Share& share : fixture.shares) {
    if (option == "--sign-expires-after") share.sign_expires_after = number;
    if (option == "--max-download-in-flight") share.max_download_in_flight = number;
  }
  return true;
}

// An exit status when the program is done (help shown, bad arguments).
std::optional<int> parse_arguments(int argc, char** argv, Arguments& args) {
  static const char* const kWithValue[] = {"--host",
                                           "--port",
                                           "--generate",
                                           "--latency",
                                           "--connect-latency",
                                           "--fault",
                                           "--captcha-format",
                                           "--hang-ms",
                                           "--huge-bytes",
                                           "--seed",
                                           "--tls-dir",
                                           "--rate",
                                           "--connections-per-file",
                                           "--link-lifetime",
                                           "--drop-after",
                                           "--short-by"};
  // Each sets a member of every share.
  static const char* const kShareValue[] = {"--sign-expires-after", "--max-download-in-flight"};
  static const char* const kFlags[] = {"--raw-utf8", "--hex-amp", "--quiet", "--ignore-range"};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--tls") {
      args.tls = true;
      continue;
    }
    bool known = false;
    for (const char* flag : kFlags)
      known = known || arg == flag;
    if (known) {
      args.overrides.emplace_back(arg, "");
      continue;
    }
    for (const char* option : kWithValue)
      known = known || arg == option;
    for (const char* option : kShareValue)
      known = known || arg == option;
    if (!known && arg.rfind("--", 0) == 0) {
      fail("unknown option " + arg);
      return 2;
    }
    if (!known) {
      args.fixtures.push_back(arg);
      continue;
    }
    if (i + 1 >= argc) {
      fail(arg + " needs a value");
      return 2;
    }
    const std::string value = argv[++i];
    std::uint64_t port = 0;
    if (arg == "--host") {
      args.host = value;
    } else if (arg == "--port") {
      if (!parse_uint(value, port) || port > 65535) {
        fail("bad port " + value);
        return 2;
      }
      args.port = static_cast<int>(port);
    } else if (arg == "--generate") {
      args.generate.push_back(value);
    } else if (arg == "--tls-dir") {
      args.tls_dir = value;
    } else {
      args.overrides.emplace_back(arg, value);
    }
  }
  if (!args.tls_dir.empty() && !args.tls) {
    fail("--tls-dir needs --tls");
    return 2;
  }
  if (args.tls && args.tls_dir.empty()) args.tls_dir = "sharelink-sim-tls";
  return std::nullopt;
}

bool build_fixture(const Arguments& args, Fixture& fixture) {
  std::string error;
  std::vector<std::string> files = args.fixtures;
  if (files.empty() && args.generate.empty()) {
    files.push_back(std::string(SHARELINK_SIM_FIXTURE_DIR) + "/demo.json");
  }
  for (const std::string& file : files) {
    if (!load_fixture_file(file, fixture, error)) return fail(error);
  }
  for (const std::string& written : args.generate) {
    std::string surl;
    TreeShape shape;
    if (!parse_generate_option(written, surl, shape, error) ||
        !add_generated_share(fixture, surl, shape, error)) {
      return fail(error);
    }
  }
  for (const auto& [option, value] : args.overrides) {
    if (!apply(option, value, fixture)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked from the start, before any thread exists, so that a stop request
  // during a long fixture generation waits for sigwait instead of killing.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  Arguments args;
  if (const auto status = parse_arguments(argc, argv, args)) return *status;
  Fixture fixture;
  if (!build_fixture(args, fixture)) return 2;

  std::vector<std::pair<std::string, std::string>> shares;
  for (const Share& share : fixture.shares)
    shares.emplace_back(share.surl, share.code.value_or(""));
  const bool quiet = fixture.quiet;
  auto simulator = args.tls ? std::make_unique<Simulator>(std::move(fixture), TlsIdentity{})
                            : std::make_unique<Simulator>(std::move(fixture));
  std::string error;
  if (!simulator->start(args.host, args.port, error)) {
    fail(error);
    return 1;
  }
  if (args.tls) {
    std::string ca_file;
    if (!write_ca_folder(args.tls_dir, simulator->ca_certificate_pem(), ca_file, error)) {
      fail(error);
      return 1;
    }
    std::fprintf(stderr, "sharelink-sim: test CA certificate in %s\n", ca_file.c_str());
  }
  std::printf("%d\n", simulator->port());
  for (const auto& [surl, code] : shares) {
    std::printf("%s%s%s\n", simulator->share_url(surl).c_str(), code.empty() ? "" : " code ",
                code.c_str());
  }
  // Last, so that readers of the port and the share links find them where they were.
  std::printf("content: %s\n", simulator->content_origin().c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  simulator->stop();
  if (!quiet) {
    std::fprintf(stderr,
                 "connections: %llu, requests: %llu, content: %llu connections, %llu bytes\n",
                 static_cast<unsigned long long>(simulator->connections_seen()),
                 static_cast<unsigned long long>(simulator->requests_seen()),
                 static_cast<unsigned long long>(simulator->content_connections_seen()),
                 static_cast<unsigned long long>(simulator->content_bytes_served()));
  }
  return 0;
}
