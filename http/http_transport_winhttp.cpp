#include "http/http_transport.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "http/http_exchange.h"
#include "http/http_message.h"
#include "http/web_address.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

// How WinHTTP's results become failure numbers:
//
//   700  WinHttpCheckPlatform says WinHTTP cannot be used
//   701  the address cannot be parsed or is not http or https
//   702  WinHttpOpen gave no session (the call's own, or the pool's)
//   703  WinHttpConnect gave no connection handle
//   704  WinHttpOpenRequest gave no request handle, or the body is too long
//   705  WinHttpSetTimeouts or the response timeout was rejected
//   707  WinHttpSetCredentials rejected the server's or the proxy's credentials
//   708  turning off WinHTTP's own cookie store was rejected
//   709  turning off WinHTTP's own redirect following was rejected
//   710  a header line is malformed, holds bytes this WinHTTP would send
//        altered, or WinHTTP rejected one
//   711  WinHttpSendRequest failed: unknown host, refused or timed-out connect,
//        TLS failure (a certificate the system does not trust, expired or for
//        another host among them), failed proxy tunnel; also a redirect to an
//        address that cannot be parsed or is not http or https
//   712  WinHttpReceiveResponse failed, or the header block could not be read
//        or passed kHeaderBlockLimit; also too many redirects
//   713  WinHttpReadData failed, or the body passed kBodyLimit or went too
//        slowly; the headers and the bytes so far are kept
//   714  the request's cancel token was cancelled (see http_exchange: a
//        failure after that is reported as 714 too)
//
// The reason of a failure is the system's message for WinHTTP's error, taken
// from winhttp.dll, or ours for the limits we keep.
//
// Time limits, from the request's timeout T: every phase WinHTTP times (name
// resolution, connect, send, each receive) gets T, and the wait for the whole
// response header block gets T too, all cut to what is left of the call's
// deadline of 10 T. A server that sends header lines just faster than T would
// keep WinHTTP's wait for the block going for ever, and a cancelled call must
// end at once, so the blocking calls (the send with the wait for the header
// block, then the reading of the body) are made on a worker thread while the
// call waits for them, for the deadline and, every kCancelCheck, for the
// cancel: past the deadline the call fails with 712 (711 before the request
// went out, 713 in the body), cancelled with 714, and it leaves the request to
// the worker. Closing its handle is no safe way to end a blocking call, and a
// closed handle's value may name the next request, so the request's handles,
// and the session they were opened on, close only once the worker is past its
// last call on them: on Windows when its timeouts end the wait, under Wine
// (whose WinHTTP goes on reading) when the server stops. The low-speed floor
// cannot see the header bytes WinHTTP reads, so there the deadline and the
// per-receive timeout bound the wait. The body comes chunk by chunk, so the
// floor (T bytes in any period of T) is checked between reads, on the worker;
// the call keeps the bytes that came before the deadline.
//
// Redirects, cookies and credentials: WinHTTP neither follows redirects nor
// keeps cookies of its own here; the chain of http_exchange does both, one
// request handle per leg. Addresses are parsed by web_address, which reads them
// as libcurl does, and the host, port and target it gives are what WinHTTP is
// handed, so that the origin compared is the one requested.
//
// Certificates are checked by WinHTTP against the system's store, always;
// SSL_CERT_FILE and SSL_CERT_DIR play no part here.
//
// A connection pool is one WinHTTP session without a proxy: WinHTTP keeps its
// connections alive and hands them to later requests of the same session, on
// any thread; requests on several threads at once each get a connection (the
// session's limit per server, WINHTTP_OPTION_MAX_CONNS_PER_SERVER, is
// unlimited by default) and leave it in the session. A call with a proxy, or
// without a pool, opens a session of its own and closes it, with its
// connections, at its end, or after it when a worker still holds a request
// given up at the deadline or cancelled. (Wine keeps one cache of connections
// for the whole process instead, so there calls without a pool reuse
// connections too.) A kept connection the server closed as the request arrived
// fails with no reply at all; as libcurl does, such a request is sent once
// more, on a new connection, when it went out on a kept one (WinHTTP reports
// every new connection it makes).
//
// A send_once request is never sent again: it goes on a session of its own
// with keep-alive off, so that Windows opens a connection for it and closes
// it after, and a failure is its answer. Wine still hands it a kept
// connection of its process-wide cache when one is open (it checks that the
// connection is alive first); if that one dies under the request, the call
// fails rather than send it twice.

namespace sharelink {
namespace {

struct InternetCloser {
  void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetCloser>;
// A session outlives the call that opened it, or the pool, while a worker
// still holds a request made on it. Made from a null Internet, it is empty.
using SharedInternet = std::shared_ptr<void>;

// Local text as UTF-16 for the wide API.
std::wstring wide_of(const std::string& text) {
  Bytes units = gbk_to_utf16(text, true);
  std::wstring wide(units.size() / 2, L'\0');
  std::memcpy(wide.data(), units.data(), wide.size() * 2);
  return wide;
}

// Header text is bytes (local text, or whatever a server sent), and WinHTTP
// would turn them into text. Where winhttp.dll has the byte-string calls
// (Windows 10 build 20348 on) header names and values pass as bytes both
// ways. Elsewhere the wide text must be the one WinHTTP turns back into
// exactly our bytes, and that differs:
// - Windows converts header text with the ANSI code page both ways: it is the
//   code page WinHttpQueryHeadersEx's documentation names as the default of
//   that conversion. Code page 1252 maps every byte to a character of its
//   own; 936 holds GBK, not the four-byte GB18030 sequences or lone lead
//   bytes. Whether a line survives is checked by converting it back.
// - Wine 8's WinHTTP writes request header text as UTF-8 whatever the ANSI
//   code page: sending U+0080-U+00FF, CJK and a surrogate pair to a loopback
//   server under code pages 1252 and 936 brought their UTF-8 bytes every
//   time. So no wide text makes it send bytes that are not UTF-8, GBK among
//   them. It reads response headers through the ANSI code page, as Windows.
// A line no wide text can carry is refused (710), never sent altered.

// WINHTTP_EXTENDED_HEADER and WINHTTP_HEADER_NAME, which mingw-w64's
// winhttp.h lacks: each member is a wide or a narrow string.
union HeaderString {
  const wchar_t* wide;
  const char* narrow;
};
struct ExtendedHeader {
  HeaderString name;
  HeaderString value;
};
using AddHeadersEx = DWORD(WINAPI*)(HINTERNET, DWORD, ULONGLONG, ULONGLONG, DWORD, ExtendedHeader*);
using QueryHeadersEx = DWORD(WINAPI*)(HINTERNET, DWORD, ULONGLONG, UINT, DWORD*, HeaderString*,
                                      void*, DWORD*, ExtendedHeader**, DWORD*);
constexpr DWORD kQueryAllHeaders = 21;            // WINHTTP_QUERY_EX_ALL_HEADERS
constexpr DWORD kQueryWireEncoding = 0x01000000;  // WINHTTP_QUERY_FLAG_WIRE_ENCODING

struct ByteHeaderCalls {
  AddHeadersEx add = nullptr;
  QueryHeadersEx query = nullptr;
  bool wine = false;
};

template <typename Function>
Function function_in(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const ByteHeaderCalls& byte_header_calls() {
  static const ByteHeaderCalls calls = [] {
    ByteHeaderCalls found;
    HMODULE winhttp = GetModuleHandleW(L"winhttp.dll");
    found.add = function_in<AddHeadersEx>(winhttp, "WinHttpAddRequestHeadersEx");
    found.query = function_in<QueryHeadersEx>(winhttp, "WinHttpQueryHeadersEx");
    found.wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return found;
  }();
  return calls;
}

std::string header_bytes_of(const std::wstring& wide, UINT page) {
  if (wide.empty()) return std::string();
  int size = static_cast<int>(wide.size());
  int length = WideCharToMultiByte(page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(std::max(length, 0)), '\0');
  if (length > 0) {
    WideCharToMultiByte(page, 0, wide.data(), size, bytes.data(), length, nullptr, nullptr);
  }
  return bytes;
}

// The wide text that page turns back into exactly bytes; none when no text does.
std::optional<std::wstring> wide_exactly(const std::string& bytes, UINT page) {
  if (bytes.empty()) return std::wstring();
  int size = static_cast<int>(bytes.size());
  int length = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), length);
  if (header_bytes_of(wide, page) != bytes) return std::nullopt;
  return wide;
}

// Our words for the errors met most, where the system has none (Wine's
// winhttp.dll carries no messages).
const char* own_words(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return "timed out";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "could not resolve the host name";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return "could not connect to the server";
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return "the connection was reset or closed";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return "the reply is empty or not valid HTTP";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return "the secure channel could not be set up (TLS handshake or certificate)";
    case ERROR_WINHTTP_SECURE_FAILURE:
      return "the TLS handshake or the server's certificate failed the check";
    case ERROR_WINHTTP_SECURE_INVALID_CA:
      return "the server's certificate is from an authority the system does not trust";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      return "the server's certificate has expired or is not yet valid";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      return "the server's certificate is for another host";
    default:
      return nullptr;
  }
}

// What kind of failure error is.
HttpCause cause_of(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return HttpCause::name_lookup;
    // WinHTTP reports every failed connect but a timed-out one so.
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return HttpCause::refused;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return HttpCause::timed_out;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
    // Mostly an empty reply: the connection closed before a byte came back.
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return HttpCause::broken;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return HttpCause::tls;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return HttpCause::certificate;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return HttpCause::out_of_memory;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return HttpCause::bad_address;
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
      return HttpCause::too_big;
    default:
      return HttpCause::other;
  }
}

// The system's words for error, as local text.
std::string system_message(DWORD error) {
  wchar_t* text = nullptr;
  DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE module = nullptr;
  if (error >= WINHTTP_ERROR_BASE && error <= WINHTTP_ERROR_BASE + 999) {
    module = GetModuleHandleW(L"winhttp.dll");
    if (module != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  }
  DWORD length =
      FormatMessageW(flags, module, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  std::string number = "WinHTTP error " + std::to_string(error);
  if (message.empty()) {
    const char* words = own_words(error);
    return words != nullptr ? words + (" (" + number + ")") : number;
  }
  Bytes units(reinterpret_cast<const char*>(message.data()), message.size() * 2);
  return utf16_to_gbk(units) + " (" + number + ")";
}

// A parsed address: web_address's parts are what WinHTTP is handed.
class WinAddress final : public LegAddress {
 public:
  explicit WinAddress(WebAddress parts)
      : LegAddress(Origin{parts.scheme, parts.host, std::to_string(parts.port)}),
        parts_(std::move(parts)) {}
  const WebAddress& parts() const { return parts_; }
  std::string text() const override { return parts_.text(); }

 private:
  WebAddress parts_;
};

std::unique_ptr<WinAddress> split_address(const std::string& url) {
  std::optional<WebAddress> parts = parse_web_address(escape_address(url));
  if (!parts) return nullptr;
  // An address without a path requests "/" and drops its query.
  if (has_empty_path(url)) parts->target = "/";
  return std::make_unique<WinAddress>(std::move(*parts));
}

Internet open_session(const std::string& proxy) {
  if (proxy.empty()) {
    return Internet(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0));
  }
  // One name for every scheme: https goes through the proxy's tunnel.
  return Internet(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NAMED_PROXY, wide_of(proxy).c_str(),
                              WINHTTP_NO_PROXY_BYPASS, 0));
}

bool set_number(HINTERNET handle, DWORD option, DWORD value) {
  return WinHttpSetOption(handle, option, &value, sizeof value) != FALSE;
}

// The lines as WinHTTP takes them. A "Name:" line without a value asks
// libcurl to leave out a line of its own; WinHTTP adds none of those. "Name;"
// is a line sent with an empty value. Host goes first, as libcurl sends it,
// unless the caller's lines bring one (WinHTTP then leaves out its own).
std::string header_text(const WebAddress& address, const std::vector<std::string>& lines) {
  std::string text;
  bool own_host = false;
  for (const std::string& line : lines) {
    own_host = own_host || ascii_upper(line.substr(0, line.find_first_of(":;"))) == "HOST";
  }
  if (!own_host) {
    bool default_port = address.port == (address.scheme == "https" ? 443 : 80);
    text = "Host: " + address.host +
           (default_port ? std::string() : ":" + std::to_string(address.port)) + "\r\n";
  }
  for (const std::string& line : lines) {
    if (!line.empty() && line.back() == ':') continue;
    if (!line.empty() && line.back() == ';' && line.find(':') == std::string::npos) {
      text += line.substr(0, line.size() - 1) + ":\r\n";
    } else {
      text += line + "\r\n";
    }
  }
  return text;
}

// Adds the lines of text (each ended by CR LF) so that their bytes go out as
// they are: 0, or 710 with why (empty: GetLastError says why).
int add_header_lines(HINTERNET handle, const std::string& text, std::string& why) {
  const ByteHeaderCalls& calls = byte_header_calls();
  std::vector<std::string> lines = split_text(text, "\r\n");
  lines.erase(std::remove(lines.begin(), lines.end(), std::string()), lines.end());
  if (lines.empty()) return 0;
  if (calls.add != nullptr) {
    std::vector<std::pair<std::string, std::string>> fields;
    for (const std::string& line : lines) {
      std::size_t colon = line.find(':');
      if (colon == std::string::npos) {
        why = "a request header line has no colon";
        return 710;
      }
      std::size_t value = line.find_first_not_of(" \t", colon + 1);
      fields.emplace_back(line.substr(0, colon),
                          value == std::string::npos ? std::string() : line.substr(value));
    }
    std::vector<ExtendedHeader> headers(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      headers[i].name.narrow = fields[i].first.c_str();
      headers[i].value.narrow = fields[i].second.c_str();
    }
    // No WINHTTP_EXTENDED_HEADER_FLAG_UNICODE: the strings are the bytes to send.
    DWORD error = calls.add(handle, WINHTTP_ADDREQ_FLAG_ADD, 0, 0,
                            static_cast<DWORD>(headers.size()), headers.data());
    if (error == ERROR_SUCCESS) return 0;
    SetLastError(error);
    return 710;
  }
  UINT page = calls.wine ? CP_UTF8 : CP_ACP;
  std::wstring wide;
  for (const std::string& line : lines) {
    std::optional<std::wstring> carried = wide_exactly(line, page);
    if (!carried) {
      why = "the " + line.substr(0, line.find(':')) +
            " line holds bytes WinHTTP cannot send unaltered here: " +
            (calls.wine ? std::string("they are not UTF-8, the only bytes Wine's WinHTTP sends")
                        : "they are not text of the ANSI code page " + std::to_string(GetACP()) +
                              ", through which WinHTTP sends header lines");
      return 710;
    }
    wide += *carried + L"\r\n";
  }
  if (!WinHttpAddRequestHeaders(handle, wide.c_str(), static_cast<DWORD>(wide.size()),
                                WINHTTP_ADDREQ_FLAG_ADD)) {
    return 710;
  }
  return 0;
}

constexpr std::size_t kReadChunk = std::size_t{64} << 10;
// A streamed body is read in larger pieces, and the worker reads ahead of the
// receiver by at most a window: a slow receiver holds the body up, it never
// piles up in memory.
constexpr std::size_t kStreamChunk = std::size_t{256} << 10;
constexpr std::size_t kStreamWindow = std::size_t{1} << 20;

// A stream's body has no deadline; a year stands for none, since waits take
// only a time they can add to the clock's.
ExchangeClock::time_point no_deadline() {
  return ExchangeClock::now() + std::chrono::hours(24 * 365);
}

// What WinHTTP reports of a request as it goes out. Its notifications point
// here, so it lives until the request handle closed.
struct RequestEvents {
  std::atomic<bool> connected{false};  // WinHTTP opened a new connection for it
  std::atomic<bool> sent{false};       // the request went out
};

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  auto* events = reinterpret_cast<RequestEvents*>(context);
  if (events == nullptr) return;
  if (status == WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER) events->connected = true;
  if (status == WINHTTP_CALLBACK_STATUS_REQUEST_SENT) events->sent = true;
}

// One request's handles, held by the call and by the worker making its
// blocking calls: whichever lets go last closes them, so that none closes under
// a call of the other thread's. They close in the reverse of this order.
struct RequestHandles {
  explicit RequestHandles(SharedInternet on) : session(std::move(on)) {}
  SharedInternet session;
  std::shared_ptr<RequestEvents> events = std::make_shared<RequestEvents>();
  std::string body;  // a copy: the call's request may be gone before WinHTTP is done
  Internet connection;
  Internet request;
};

// One blocking step on a request (sending it and awaiting its header block,
// or reading its body), shared by the call waiting for it and the worker
// making the WinHTTP calls: either may be the last to let go of it, since the
// call stops waiting at its deadline or when the request is cancelled.
struct BlockingStep {
  std::mutex mutex;
  std::condition_variable finished;
  bool abandoned = false;  // guarded by mutex: the call stopped waiting
  bool done = false;       // guarded by mutex
  // Written by the worker before done, read by the call once it is.
  int failure = 0;  // the failure number of the step, when it failed
  DWORD error = 0;
  const char* reason = nullptr;  // one of our own limits, else error says why
};

// Reading the body: the limits are checked between reads on the worker, so
// that the call waits only for the end, the deadline or the cancel.
struct BodyStep : BlockingStep {
  TransferPace pace;
  ExchangeClock::time_point deadline;
  // Held here too: the worker may read on after the call returned.
  std::shared_ptr<const HttpCancel> cancel;
  Bytes body;  // guarded by mutex: what the call keeps when it gives up
  // A streamed body goes to the call in pieces instead (guarded by mutex),
  // the worker waiting on room while a window's worth waits.
  bool streaming = false;
  std::deque<std::string> pieces;
  std::size_t waiting = 0;
  std::condition_variable room;
};

// Runs on a worker. A call that stopped waiting before the worker began gets
// none of the step's WinHTTP calls made.
void run_step(std::shared_ptr<RequestHandles> handles, std::shared_ptr<BlockingStep> step,
              const std::function<void(RequestHandles&)>& work) {
  {
    std::lock_guard<std::mutex> lock(step->mutex);
    if (step->abandoned) return;
  }
  work(*handles);
  std::lock_guard<std::mutex> lock(step->mutex);
  step->done = true;
  step->finished.notify_all();
  // A call still waiting holds the handles too and goes on with them: letting
  // go before it can see done leaves their close to the call. A call that gave
  // up has let go of them: they close as this returns.
  if (!step->abandoned) handles.reset();
}

void send_and_await_head(RequestHandles& handles, BlockingStep& step) {
  HINTERNET handle = handles.request.get();
  auto size = static_cast<DWORD>(handles.body.size());
  void* bytes = size > 0 ? handles.body.data() : WINHTTP_NO_REQUEST_DATA;
  if (!WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, bytes, size, size,
                          reinterpret_cast<DWORD_PTR>(handles.events.get()))) {
    step.failure = 711;
  } else if (!WinHttpReceiveResponse(handle, nullptr)) {
    step.failure = 712;
  }
  step.error = step.failure != 0 ? GetLastError() : 0;
}

// What is left of the deadline for one phase, in milliseconds: at most limit.
DWORD phase_limit(std::chrono::seconds limit, ExchangeClock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - ExchangeClock::now());
  auto most = std::chrono::duration_cast<std::chrono::milliseconds>(limit);
  return static_cast<DWORD>(std::max<long long>(1, std::min(left, most).count()));
}

// Queues a piece read for the call; false when the call gave up meanwhile.
bool hand_over(BodyStep& step, std::unique_lock<std::mutex>& lock, std::string& chunk, DWORD read) {
  bool waited = false;
  while (step.waiting >= kStreamWindow && !step.abandoned) {
    step.room.wait_for(lock, kCancelCheck);
    waited = true;
  }
  if (step.abandoned) return false;
  chunk.resize(read);
  step.waiting += read;
  step.pieces.push_back(std::move(chunk));
  chunk = std::string();
  step.finished.notify_all();
  // The time the receiver took is none of the server's.
  if (waited) step.pace.moved(0);
  return true;
}

void read_body_chunks(RequestHandles& handles, BodyStep& step) {
  HINTERNET handle = handles.request.get();
  std::string chunk;
  for (;;) {
    if (ExchangeClock::now() >= step.deadline) {
      step.failure = kHttpFailureBodyRead;
      step.reason = kReasonDeadline;
      return;
    }
    if (step.cancel && step.cancel->cancelled()) {
      step.failure = kHttpFailureCancelled;
      step.reason = kReasonCancelled;
      return;
    }
    // Not every WinHTTP applies a new receive timeout mid-response; the
    // deadline holds either way.
    set_number(handle, WINHTTP_OPTION_RECEIVE_TIMEOUT,
               phase_limit(step.pace.limit(), step.deadline));
    // Reading only what has arrived keeps a read from waiting for more, and
    // the bytes before a stall are kept. At the end a read of nothing still
    // goes in: it is what lets WinHTTP hand the connection to the next request.
    DWORD available = 0;
    DWORD read = 0;
    bool ok = WinHttpQueryDataAvailable(handle, &available) != FALSE;
    if (ok) {
      chunk.resize(
          std::clamp<std::size_t>(available, 1, step.streaming ? kStreamChunk : kReadChunk));
      ok = WinHttpReadData(handle, chunk.data(), static_cast<DWORD>(chunk.size()), &read) != FALSE;
    }
    if (!ok) {
      step.failure = kHttpFailureBodyRead;
      step.error = GetLastError();
      return;
    }
    if (read == 0) return;
    step.pace.moved(read);
    std::unique_lock<std::mutex> lock(step.mutex);
    // Nobody wants the rest: the connection closes with the handles.
    if (step.abandoned) return;
    if (step.streaming) {
      if (!hand_over(step, lock, chunk, read)) return;
    } else if (!append_within_limit(step.body, chunk.data(), read)) {
      step.failure = kHttpFailureBodyRead;
      step.reason = kReasonBodyLimit;
      return;
    }
    if (const char* why = step.pace.check(true)) {
      step.failure = kHttpFailureBodyRead;
      step.reason = why;
      return;
    }
  }
}

// On a worker thread, where an exception would end the program: a body that
// does not fit in memory fails the read, and what came of it goes at once.
void read_body_of(RequestHandles& handles, BodyStep& step) {
  try {
    read_body_chunks(handles, step);
  } catch (...) {
    std::lock_guard<std::mutex> lock(step.mutex);
    Bytes().swap(step.body);
    step.failure = kHttpFailureBodyRead;
    step.reason = kReasonNoMemory;
  }
}

// The threads that make the blocking calls. A worker lives on after its step
// and takes the next one; a new thread starts only when every worker is busy,
// which is when calls on several threads wait at once, or a call has given up
// on a request WinHTTP still works on. Under Wine 8 a thread started for each
// request now and then never began to run, and at times neither did those
// started after it, so the requests never went out and their calls failed at
// the deadline. A process now starts a handful of threads, not one per request.
// The workers are never ended nor freed: the process may end while one is in a
// WinHTTP call.
class SendWorkers {
 public:
  // Runs job on a worker; false when none was idle and no thread could start.
  bool run(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    if (idle_ >= jobs_.size()) {
      wake_.notify_one();
      return true;
    }
    try {
      std::thread([this] { work(); }).detach();
    } catch (...) {
      jobs_.pop_back();
      return false;
    }
    return true;
  }

 private:
  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ++idle_;
      wake_.wait(lock, [this] { return !jobs_.empty(); });
      --idle_;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      // The steps catch what they throw; should one not, its call ends at its
      // deadline, and the worker lives on.
      try {
        job();
      } catch (...) {
      }
      job = nullptr;
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;  // guarded by mutex_
  std::size_t idle_ = 0;                    // guarded by mutex_: workers waiting for a job
};

SendWorkers& send_workers() {
  static SendWorkers* workers = new SendWorkers;
  return *workers;
}

// The body length the response's Content-Length names (past 2^60: 2^60),
// 0 when it names none, is chunked or has no body.
std::uint64_t declared_length(const std::string& block, long status, bool head) {
  if (head || status < 200 || status == 204 || status == 304) return 0;
  std::uint64_t length = 0;
  for (const std::string& line : split_text(block, "\r\n")) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = ascii_upper(trim_spaces(line.substr(0, colon)));
    if (name == "TRANSFER-ENCODING") return 0;
    if (name != "CONTENT-LENGTH") continue;
    std::string value = trim_spaces(line.substr(colon + 1));
    length = 0;
    for (char c : value) {
      if (c < '0' || c > '9') return 0;
      length = std::min<std::uint64_t>(length * 10 + static_cast<std::uint64_t>(c - '0'),
                                       std::uint64_t{1} << 60);
    }
  }
  return length;
}

const wchar_t* verb_of(int method) {
  switch (method) {
    case kHttpPost:
      return L"POST";
    case kHttpHead:
      return L"HEAD";
    case kHttpPut:
      return L"PUT";
    default:
      return L"GET";
  }
}

// What WinHTTP holds of the response at level (the raw header block, or one
// of its items), turned back into bytes through the ANSI code page (see
// read_header_block); false, with error, when it has none or more than the
// header block's limit.
bool query_header_text(HINTERNET request, DWORD level, std::string& text, DWORD& error) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, level, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  error = GetLastError();
  if (error != ERROR_INSUFFICIENT_BUFFER) return false;
  if (size / sizeof(wchar_t) > kHeaderBlockLimit + 1) {
    error = ERROR_WINHTTP_HEADER_SIZE_OVERFLOW;
    return false;
  }
  std::wstring wide(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
  if (!WinHttpQueryHeaders(request, level, WINHTTP_HEADER_NAME_BY_INDEX, wide.data(), &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    error = GetLastError();
    return false;
  }
  wide.resize(std::min<std::size_t>(wide.size(), size / sizeof(wchar_t)));
  text = header_bytes_of(wide, CP_ACP);
  return true;
}

// One of the response's text items (version, status code, reason phrase),
// all ASCII where the server keeps to HTTP; empty when it has none.
std::string query_text(HINTERNET request, DWORD level) {
  std::string text;
  DWORD error = 0;
  query_header_text(request, level, text, error);
  return text;
}

// The header lines as they came, through the byte-string query; the status
// line, which it leaves out, is rebuilt so that the block keeps its form.
bool read_header_bytes(HINTERNET request, QueryHeadersEx query, std::string& block, DWORD& error) {
  const DWORD level = kQueryAllHeaders | kQueryWireEncoding;
  DWORD size = 0;
  DWORD count = 0;
  ExtendedHeader* headers = nullptr;
  error = query(request, level, 0, 0, nullptr, nullptr, nullptr, &size, &headers, &count);
  // The buffer holds a pointer pair per line besides the text: a block within
  // our limit needs a few times the limit at most.
  std::vector<std::uint64_t> buffer;
  if (error == ERROR_INSUFFICIENT_BUFFER) {
    if (size > 8 * (kHeaderBlockLimit + 1)) {
      error = ERROR_WINHTTP_HEADER_SIZE_OVERFLOW;
      return false;
    }
    // Words, not bytes: the pointers WinHTTP writes into it must be aligned.
    buffer.resize(size / sizeof(std::uint64_t) + 1);
    size = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    headers = nullptr;
    count = 0;
    error = query(request, level, 0, 0, nullptr, nullptr, buffer.data(), &size, &headers, &count);
  }
  if (error != ERROR_SUCCESS) return false;
  std::string status = query_text(request, WINHTTP_QUERY_VERSION) + " " +
                       query_text(request, WINHTTP_QUERY_STATUS_CODE);
  std::string phrase = query_text(request, WINHTTP_QUERY_STATUS_TEXT);
  block = status + (phrase.empty() ? "" : " " + phrase) + "\r\n";
  for (DWORD i = 0; headers != nullptr && i < count; ++i) {
    const char* name = headers[i].name.narrow;
    const char* value = headers[i].value.narrow;
    block +=
        std::string(name != nullptr ? name : "") + ": " + (value != nullptr ? value : "") + "\r\n";
  }
  block += "\r\n";
  // The strings lie in buffer, which goes with this scope: nothing else to free.
  if (block.size() > kHeaderBlockLimit + 1) {
    error = ERROR_WINHTTP_HEADER_SIZE_OVERFLOW;
    return false;
  }
  return true;
}

// The response header block, its bytes as they came where WinHTTP can give
// them; false when it cannot be read. Otherwise WinHTTP made the block text
// with the ANSI code page (Wine's too) and this turns it back: code page 1252
// gives back every byte; 936 every GBK sequence, but a four-byte GB18030
// sequence, a lone lead byte or a byte it has no character for came as "?"
// or another stand-in, and is lost without a sign.
bool read_header_block(HINTERNET request, std::string& block, DWORD& error) {
  if (QueryHeadersEx query = byte_header_calls().query) {
    return read_header_bytes(request, query, block, error);
  }
  return query_header_text(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, block, error);
}

// One request handle per leg, on the call's session.
class WinLegs final : public LegTransport {
 public:
  WinLegs(SharedInternet session, const HttpRequest& request)
      : session_(std::move(session)), request_(request) {
    pace_.set_limit(exchange_timeout(request));
  }

  LegResponse perform(const Leg& leg, bool on_origin, const std::vector<std::string>& lines,
                      ExchangeClock::time_point deadline) override;

  RedirectTarget redirect_target(const Leg& leg, const LegResponse& response) override {
    std::string location = location_value(response.block);
    if (location.empty()) return {};
    const WebAddress& base = static_cast<const WinAddress&>(*leg.address).parts();
    std::optional<WebAddress> target = resolve_location(base, location);
    return {true, target ? std::make_unique<WinAddress>(std::move(*target)) : nullptr};
  }

 private:
  int open_request(const WebAddress& address, const Leg& leg);
  int configure(const WebAddress& address, bool on_origin, const std::vector<std::string>& lines,
                ExchangeClock::time_point deadline);
  // Sends the request and waits for its header block, up to deadline; fills
  // response's failure when that fails. A stale kept connection is retried.
  void send_request(const Leg& leg, bool on_origin, const std::vector<std::string>& lines,
                    ExchangeClock::time_point deadline, LegResponse& response);
  // One try of send_request; sets stale when it failed on a kept connection
  // before any reply came.
  void try_send(bool body, ExchangeClock::time_point deadline, LegResponse& response, bool& stale);
  void read_body(const Leg& leg, LegResponse& response, ExchangeClock::time_point deadline);
  enum class Waited { kDone, kDeadline, kCancelled, kNoThread };
  // Has a worker do work on the leg's handles and waits for it until the
  // deadline or the request's cancel; giving up lets go of the handles, which
  // close once the worker is done with them.
  Waited await(std::function<void(RequestHandles&)> work, const std::shared_ptr<BlockingStep>& step,
               ExchangeClock::time_point deadline);
  Waited start(std::function<void(RequestHandles&)> work,
               const std::shared_ptr<BlockingStep>& step);
  // Waits, as await does, until woken holds (under the step's lock).
  Waited wait_on(BlockingStep& step, ExchangeClock::time_point deadline,
                 const std::function<bool()>& woken);
  // Hands the pieces the worker reads to the sink, on this thread, until the
  // body ends, the request's cancel, or the sink refuses one: then response
  // fails, and the request is given up, its connection with it.
  Waited stream_pieces(BodyStep& step, const HttpStreamSink& sink, LegResponse& response);
  // Closes the request with its body unread: its connection must not serve
  // another request, which would read the rest of this body as its answer.
  void drop_connection();
  // Ends response with number, the reason being the system's for error (a
  // timeout past the deadline being the deadline's).
  void fail(LegResponse& response, int number, DWORD error,
            ExchangeClock::time_point deadline) const;
  // Keeps WinHTTP's error of a failed set-up step.
  int failed_with(int number) {
    error_ = GetLastError();
    return number;
  }

  SharedInternet session_;
  const HttpRequest& request_;
  TransferPace pace_;
  // The leg's request and connection, null once given up at the deadline. A
  // new leg lets go of the last leg's before it opens its own.
  std::shared_ptr<RequestHandles> handles_;
  DWORD error_ = 0;
  std::string reason_;  // ours, for a set-up step refused before WinHTTP said anything
};

void WinLegs::fail(LegResponse& response, int number, DWORD error,
                   ExchangeClock::time_point deadline) const {
  response.failure = number;
  bool timed_out = error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT;
  if (timed_out && ExchangeClock::now() >= deadline) {
    response.reason = kReasonDeadline;
  } else if (timed_out && number == kHttpFailureBodyRead) {
    response.reason = kReasonStall;
  } else {
    response.reason = system_message(error);
    response.cause = cause_of(error);
  }
}

int WinLegs::open_request(const WebAddress& address, const Leg& leg) {
  handles_ = std::make_shared<RequestHandles>(session_);
  std::string host = address.host;
  if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
  Internet& connection = handles_->connection;
  connection.reset(WinHttpConnect(session_.get(), wide_of(host).c_str(),
                                  static_cast<INTERNET_PORT>(address.port), 0));
  if (!connection) return failed_with(703);
  // The target is escaped already: WinHTTP sends it as it is.
  DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
  if (address.scheme == "https") flags |= WINHTTP_FLAG_SECURE;
  handles_->request.reset(
      WinHttpOpenRequest(connection.get(), verb_of(leg.method), wide_of(address.target).c_str(),
                         nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  return handles_->request ? 0 : failed_with(704);
}

int WinLegs::configure(const WebAddress& address, bool on_origin,
                       const std::vector<std::string>& lines, ExchangeClock::time_point deadline) {
  HINTERNET handle = handles_->request.get();
  int phase = static_cast<int>(phase_limit(pace_.limit(), deadline));
  if (!WinHttpSetTimeouts(handle, phase, phase, phase, phase) ||
      !set_number(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, static_cast<DWORD>(phase))) {
    return failed_with(705);
  }
  // The caller's credentials go only to the address's origin; an address with
  // a user of its own brings that, as libcurl takes it.
  bool own = on_origin && !request_.user.empty() && !request_.password.empty();
  const std::string& user = own ? request_.user : address.user;
  const std::string& password = own ? request_.password : address.password;
  if ((own || !address.userinfo.empty()) &&
      !WinHttpSetCredentials(handle, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                             wide_of(user).c_str(), wide_of(password).c_str(), nullptr)) {
    return failed_with(707);
  }
  if (!request_.proxy.empty() && !request_.proxy_user.empty() && !request_.proxy_password.empty() &&
      !WinHttpSetCredentials(handle, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                             wide_of(request_.proxy_user).c_str(),
                             wide_of(request_.proxy_password).c_str(), nullptr)) {
    return failed_with(707);
  }
  // The header block may grow to our limit, not just to WinHTTP's 64 KiB; where
  // the option is refused, WinHTTP's own smaller limit holds.
  set_number(handle, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE,
             static_cast<DWORD>(kHeaderBlockLimit + 1));
  // One call for both: not every WinHTTP adds a second call's features to the first's.
  DWORD off = WINHTTP_DISABLE_COOKIES | (request_.send_once ? WINHTTP_DISABLE_KEEP_ALIVE : 0);
  if (!set_number(handle, WINHTTP_OPTION_DISABLE_FEATURE, off)) {
    return failed_with(708);
  }
  if (!set_number(handle, WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER)) {
    return failed_with(709);
  }
  if (add_header_lines(handle, header_text(address, lines), reason_) != 0) {
    return reason_.empty() ? failed_with(710) : 710;
  }
  return 0;
}

LegResponse WinLegs::perform(const Leg& leg, bool on_origin, const std::vector<std::string>& lines,
                             ExchangeClock::time_point deadline) {
  LegResponse response;
  bool body = carries_body(request_, leg);
  if (body && request_.post_data.size() > MAXDWORD) {
    response.failure = 704;
    response.reason = "the request body is longer than WinHTTP takes";
    return response;
  }
  pace_.restart();
  send_request(leg, on_origin, lines, deadline, response);
  if (response.failure != 0) return response;
  HINTERNET handle = handles_->request.get();
  auto size = body ? request_.post_data.size() : 0;
  DWORD status = 0;
  DWORD status_size = sizeof status;
  DWORD error = 0;
  if (!WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                           WINHTTP_NO_HEADER_INDEX) ||
      !read_header_block(handle, response.block, error)) {
    if (error == ERROR_WINHTTP_HEADER_SIZE_OVERFLOW) {
      response.failure = 712;
      response.reason = kReasonHeaderLimit;
    } else {
      fail(response, 712, error != 0 ? error : GetLastError(), deadline);
    }
    response.block.clear();
    return response;
  }
  response.status = static_cast<long>(status);
  pace_.moved(response.block.size() + size);
  if (streams_to_sink(request_, leg, response.status, response.block)) {
    response.streamed = true;
    if (!leg.sink->on_headers(response.status, response.block)) {
      drop_connection();  // the body unread, its connection is not kept
      response.failure = kHttpFailureBodyRead;
      response.reason = kReasonReceiverStopped;
      return response;
    }
  }
  read_body(leg, response, deadline);
  return response;
}

void WinLegs::send_request(const Leg& leg, bool on_origin, const std::vector<std::string>& lines,
                           ExchangeClock::time_point deadline, LegResponse& response) {
  const WebAddress& address = static_cast<const WinAddress&>(*leg.address).parts();
  bool body = carries_body(request_, leg);
  const int attempts = request_.send_once ? 1 : 2;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    error_ = 0;
    reason_.clear();
    response = LegResponse();
    response.failure = open_request(address, leg);
    if (response.failure == 0) response.failure = configure(address, on_origin, lines, deadline);
    if (response.failure != 0) {
      if (!reason_.empty()) {
        response.reason = reason_;
      } else if (error_ != 0) {
        response.reason = system_message(error_);
        response.cause = cause_of(error_);
      }
      return;
    }
    bool stale = false;
    try_send(body, deadline, response, stale);
    if (!stale || ExchangeClock::now() >= deadline) return;
  }
}

WinLegs::Waited WinLegs::await(std::function<void(RequestHandles&)> work,
                               const std::shared_ptr<BlockingStep>& step,
                               ExchangeClock::time_point deadline) {
  Waited started = start(std::move(work), step);
  if (started != Waited::kDone) return started;
  return wait_on(*step, deadline, [&] { return step->done; });
}

WinLegs::Waited WinLegs::start(std::function<void(RequestHandles&)> work,
                               const std::shared_ptr<BlockingStep>& step) {
  if (cancelled(request_)) return Waited::kCancelled;
  if (!send_workers().run([handles = handles_, step, work = std::move(work)]() mutable {
        run_step(std::move(handles), std::move(step), work);
      })) {
    return Waited::kNoThread;
  }
  return Waited::kDone;
}

WinLegs::Waited WinLegs::wait_on(BlockingStep& step, ExchangeClock::time_point deadline,
                                 const std::function<bool()>& woken) {
  std::unique_lock<std::mutex> lock(step.mutex);
  for (;;) {
    // With a cancel token the wait looks at it now and then.
    auto until =
        request_.cancel ? std::min(deadline, ExchangeClock::now() + kCancelCheck) : deadline;
    if (step.finished.wait_until(lock, until, woken)) return Waited::kDone;
    bool cancel = cancelled(request_);
    if (!cancel && ExchangeClock::now() < deadline) continue;
    step.abandoned = true;
    lock.unlock();
    // The worker may be in a call on the request, or about to begin one: the
    // handles close when it lets go of them.
    handles_.reset();
    return cancel ? Waited::kCancelled : Waited::kDeadline;
  }
}

void WinLegs::try_send(bool body, ExchangeClock::time_point deadline, LegResponse& response,
                       bool& stale) {
  HINTERNET handle = handles_->request.get();
  std::shared_ptr<RequestEvents> events = handles_->events;
  if (body) handles_->body = request_.post_data;
  WINHTTP_STATUS_CALLBACK callback = on_status;
  if (WinHttpSetStatusCallback(
          handle, callback,
          WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER | WINHTTP_CALLBACK_FLAG_SEND_REQUEST,
          0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    fail(response, 704, GetLastError(), deadline);
    return;
  }
  auto step = std::make_shared<BlockingStep>();
  switch (await([step](RequestHandles& handles) { send_and_await_head(handles, *step); }, step,
                deadline)) {
    case Waited::kDone:
      break;
    case Waited::kNoThread:
      response.failure = 711;
      response.reason = "no thread could be started for the request";
      return;
    case Waited::kCancelled:
      response.failure = kHttpFailureCancelled;
      response.reason = kReasonCancelled;
      return;
    case Waited::kDeadline:
      response.failure = events->sent ? 712 : 711;
      response.reason = kReasonDeadline;
      return;
  }
  if (step->failure == 0) return;
  DWORD error = step->error;
  stale = !events->connected && (error == ERROR_WINHTTP_CONNECTION_ERROR ||
                                 error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
  fail(response, step->failure, error, deadline);
  if (error == ERROR_WINHTTP_HEADER_SIZE_OVERFLOW) response.reason = kReasonHeaderLimit;
}

void WinLegs::drop_connection() {
  // Wine's WinHTTP would keep the connection otherwise; Windows may refuse
  // the option once the request went out, and closes such a connection anyway.
  if (handles_ && handles_->request) {
    DWORD off = WINHTTP_DISABLE_KEEP_ALIVE;
    WinHttpSetOption(handles_->request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &off, sizeof off);
  }
  handles_.reset();
}

WinLegs::Waited WinLegs::stream_pieces(BodyStep& step, const HttpStreamSink& sink,
                                       LegResponse& response) {
  for (;;) {
    Waited waited = wait_on(step, no_deadline(), [&] { return step.done || !step.pieces.empty(); });
    if (waited != Waited::kDone) return waited;
    std::deque<std::string> pieces;
    bool done = false;
    {
      std::lock_guard<std::mutex> lock(step.mutex);
      pieces.swap(step.pieces);
      step.waiting = 0;
      done = step.done;
    }
    step.room.notify_all();
    for (const std::string& piece : pieces) {
      if (!sink.on_body(piece.data(), piece.size())) {
        {
          std::lock_guard<std::mutex> lock(step.mutex);
          step.abandoned = true;
        }
        step.room.notify_all();
        drop_connection();
        response.failure = kHttpFailureBodyRead;
        response.reason = kReasonReceiverStopped;
        return Waited::kDone;
      }
      response.streamed_bytes += piece.size();
    }
    if (done) return Waited::kDone;
  }
}

void WinLegs::read_body(const Leg& leg, LegResponse& response, ExchangeClock::time_point deadline) {
  auto step = std::make_shared<BodyStep>();
  step->streaming = response.streamed;
  if (step->streaming) deadline = no_deadline();
  step->pace = pace_;
  step->deadline = deadline;
  step->cancel = request_.cancel;
  Waited waited = start([step](RequestHandles& handles) { read_body_of(handles, *step); }, step);
  if (waited == Waited::kDone) {
    waited = step->streaming ? stream_pieces(*step, *leg.sink, response)
                             : wait_on(*step, deadline, [&] { return step->done; });
  }
  switch (waited) {
    case Waited::kDone:
      if (response.failure != 0) return;  // the receiver stopped the stream
      break;
    case Waited::kNoThread:
      response.failure = kHttpFailureBodyRead;
      response.reason = "no thread could be started for the read";
      return;
    case Waited::kCancelled:
      response.failure = kHttpFailureCancelled;
      response.reason = kReasonCancelled;
      return;
    case Waited::kDeadline: {
      std::lock_guard<std::mutex> lock(step->mutex);
      response.body = std::move(step->body);
      response.failure = kHttpFailureBodyRead;
      response.reason = kReasonDeadline;
      return;
    }
  }
  response.body = std::move(step->body);
  if (step->failure != 0) {
    if (step->reason != nullptr) {
      response.failure = step->failure;
      response.reason = step->reason;
    } else {
      fail(response, step->failure, step->error, deadline);
    }
    return;
  }
  // Some WinHTTP reports a body cut short by the server as its end.
  std::uint64_t received = step->streaming ? response.streamed_bytes : response.body.size();
  if (received < declared_length(response.block, response.status, leg.method == kHttpHead)) {
    response.failure = kHttpFailureBodyRead;
    response.reason = kReasonShortBody;
    return;
  }
  response.complete = true;
}

// Our words for the failures that end a call before WinHTTP says anything.
std::string setup_reason(int number) {
  switch (number) {
    case 700:
      return "WinHTTP cannot be used on this system";
    case 701:
      return "the address cannot be parsed or is not http or https";
    case 710:
      return "a request header line is malformed";
    default:
      return "WinHTTP rejected an option of the request";
  }
}

}  // namespace

class HttpConnectionPool {
 public:
  HttpConnectionPool() : session_(open_session(std::string())) {}
  // Null when WinHTTP gave none: calls go with a session of their own.
  const SharedInternet& session() const { return session_; }

 private:
  SharedInternet session_;
};

std::shared_ptr<HttpConnectionPool> make_connection_pool() {
  return std::make_shared<HttpConnectionPool>();
}

Exchange perform_exchange(const HttpRequest& request, const std::string& header_block,
                          const HttpStreamSink* sink) {
  Exchange exchange;
  std::unique_ptr<WinAddress> address;
  const std::shared_ptr<HttpConnectionPool>& pool = request.connections;
  SharedInternet session;
  if (!WinHttpCheckPlatform()) {
    exchange.failure = 700;
  } else if (!(address = split_address(request.url))) {
    exchange.failure = 701;
  } else if (request.proxy.empty() && pool && pool->session() && !request.send_once) {
    session = pool->session();
  } else {
    session = open_session(request.proxy);
    if (!session) {
      exchange.failure = 702;
      exchange.reason = system_message(GetLastError());
    }
  }
  if (session) {
    WinLegs legs(session, request);
    exchange = follow_redirects(legs, request, std::move(address), header_block, sink);
  }
  if (exchange.failure != 0 && exchange.reason.empty()) {
    exchange.reason = setup_reason(exchange.failure);
  }
  return exchange;
}

bool http_global_init() {
  http_ca_locations();
  return WinHttpCheckPlatform() != FALSE;
}

}  // namespace sharelink
