// Calls given up at their deadline while WinHTTP still waits for the header
// block: no handle may close while a call on it, or on a handle made from it,
// is under way, and none may take a call once closed. The program's import
// slots of WinHTTP are pointed at a watch that checks both.
#ifdef _WIN32
#include <winsock2.h>

#include <windows.h>
#include <winhttp.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "test_server.h"

// Each call with the bytes of its arguments, which a 32-bit import slot's
// stdcall name ends in (__imp__WinHttpOpen@20; 64-bit: __imp_WinHttpOpen).
// clang-format off
#define WINHTTP_CALLS(X) X(WinHttpOpen, 20) X(WinHttpConnect, 16) X(WinHttpOpenRequest, 28) \
  X(WinHttpCloseHandle, 4) X(WinHttpSetTimeouts, 20) X(WinHttpSetOption, 16) \
  X(WinHttpSetCredentials, 24) X(WinHttpAddRequestHeaders, 16) X(WinHttpSetStatusCallback, 16) \
  X(WinHttpSendRequest, 28) X(WinHttpReceiveResponse, 8) X(WinHttpQueryHeaders, 24) \
  X(WinHttpQueryDataAvailable, 8) X(WinHttpReadData, 16)
// clang-format on
#ifdef __i386__
#define IMPORT_NAME(name, bytes) "__imp__" #name "@" #bytes
#else
#define IMPORT_NAME(name, bytes) "__imp_" #name
#endif
#define IMPORT_SLOT(name, bytes) \
  extern "C" decltype(&name) __imp_##name __asm__(IMPORT_NAME(name, bytes));
WINHTTP_CALLS(IMPORT_SLOT)

namespace sharelink {
namespace {

std::mutex mutex;
std::condition_variable closed;
// Each open handle: the one it was made from, and the calls under way on it
// or on a handle made from it.
std::map<HINTERNET, std::pair<HINTERNET, int>> open_handles;
int made = 0;
int misuses = 0;

template <auto& slot>
std::remove_reference_t<decltype(slot)> real;

void count(HINTERNET handle, int step) {
  for (auto it = open_handles.find(handle); it != open_handles.end();
       it = open_handles.find(it->second.first)) {
    it->second.second += step;
  }
}

template <auto& slot, typename R, typename H, typename... A>
R WINAPI watched(H first, A... rest) {
  constexpr bool closing = static_cast<void*>(&slot) == &__imp_WinHttpCloseHandle;
  HINTERNET on = nullptr;
  std::unique_lock<std::mutex> lock(mutex);
  if constexpr (std::is_same_v<H, HINTERNET>) {
    auto it = open_handles.find(on = first);
    misuses += it == open_handles.end() || (closing && it->second.second > 0);
    if (closing && it != open_handles.end()) open_handles.erase(it);
    closed.notify_all();
  }
  if (!closing) count(on, 1);
  lock.unlock();
  R result = real<slot>(first, rest...);
  DWORD error = GetLastError();
  lock.lock();
  if (!closing) count(on, -1);
  if constexpr (std::is_same_v<R, HINTERNET>) {
    if (result != nullptr) made += open_handles.insert({result, {on, 0}}).second;
  }
  SetLastError(error);
  return result;
}

template <auto& slot, typename R, typename... A>
void watch(R(WINAPI*)(A...)) {
  DWORD was = 0;
  VirtualProtect(&slot, sizeof slot, PAGE_READWRITE, &was);
  real<slot> = std::exchange(slot, &watched<slot, R, A...>);
  VirtualProtect(&slot, sizeof slot, was, &was);
}
#define WATCH(name, bytes) watch<__imp_##name>(__imp_##name);

TEST(AbandonedRequests, NoHandleClosesUnderACallNorTakesOneAfterItsClose) {
  WINHTTP_CALLS(WATCH)
  auto pool = make_connection_pool();
  std::deque<test::RawServer> servers;
  std::vector<std::thread> calls;
  int failures[2] = {0, 0};
  // A pooled GET and a POST on a session of its own, at once; header lines
  // faster than the timeout make each end at its deadline.
  for (int method : {kHttpGet, kHttpPost}) {
    servers.emplace_back([](test::RawConnection& connection) {
      connection.read_request();
      connection.send_text("HTTP/1.1 200 OK\r\n");
      while (connection.pause(std::chrono::milliseconds(250)) && connection.send_text("X: 1\r\n")) {
      }
    });
    HttpRequest request;
    request.url = servers.back().url("/");
    request.method = method;
    request.post_data = method == kHttpPost ? "body" : "";
    request.timeout_seconds = 1;
    if (method == kHttpGet) request.connections = pool;
    calls.emplace_back(
        [request, &failure = failures[calls.size()]] { failure = http_request(request).failure; });
  }
  for (std::thread& call : calls)
    call.join();
  EXPECT_EQ(failures[0], 712);
  EXPECT_EQ(failures[1], 712);
  // WinHTTP is still reading the header blocks; it stops with the servers.
  pool.reset();
  servers.clear();
  std::unique_lock<std::mutex> lock(mutex);
  EXPECT_TRUE(closed.wait_for(lock, std::chrono::seconds(5), [] { return open_handles.empty(); }));
  EXPECT_EQ(made, 1 + 2 + 3);  // the pool's session; connection and request; and a session
  EXPECT_EQ(misuses, 0);
}

}  // namespace
}  // namespace sharelink
#endif
