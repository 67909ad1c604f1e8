// How fast replies are parsed and read field by field, the way the share client
// reads folder listings and the share page's data object.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "script/json_document.h"

namespace {

using sharelink::JsonDocument;

// A folder-listing reply of count items, as the service writes it.
std::string listing_reply(int count) {
  std::string reply = "{\"errno\":0,\"list\":[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) reply += ",";
    reply += "{\"fs_id\":" + std::to_string(900719925474099 + i) +
             ",\"isdir\":0,\"path\":\"\\/a\\/\\u6587\\u4ef6 " + std::to_string(i) +
             ".txt\",\"server_filename\":\"\\u6587\\u4ef6 " + std::to_string(i) +
             ".txt\",\"size\":" + std::to_string(1000 + i) + ",\"md5\":\"0123456789abcdef\"}";
  }
  return reply + "],\"request_id\":1}";
}

void BM_ReadListingPage(benchmark::State& state) {
  const std::string reply = listing_reply(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    JsonDocument doc;
    doc.parse(reply);
    const int count = doc.count("list");
    for (int i = 0; i < count; ++i) {
      const std::string base = "list[" + std::to_string(i) + "]";
      benchmark::DoNotOptimize(doc.get_texts(base, {"size", "path", "isdir", "server_filename"}));
      benchmark::DoNotOptimize(doc.get_text(base + ".fs_id", true));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reply.size()));
}
BENCHMARK(BM_ReadListingPage)->Arg(100)->Arg(1000);

// Chinese text of an entry either as the service escapes it or, as some replies
// carry it, as characters (local text once the body is decoded).
std::string chinese(const char* escaped, const char* local, bool raw) {
  return raw ? local : escaped;
}

std::string hex_digits(std::uint64_t seed, int count) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < count; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    out += kHex[(seed >> 59) & 15];
  }
  return out;
}

// The share page's data object (what yunData.setData receives) with enough
// entries to reach about target_bytes. Folder ids run up to 2^63, past the
// largest signed 64-bit integer.
std::string share_data_object(std::size_t target_bytes, bool raw) {
  const std::string folder = chinese("\\u6211\\u7684\\u8d44\\u6e90", "我的资源", raw);
  std::string data =
      "{\"loginstatus\":0,\"photo\":\"https:\\/\\/ss0.example.com\\/avatar\\/item\\/"
      "0123abcd.jpg\",\"uk\":1099511627776123,\"shareid\":30000000123,\"sign\":\"" +
      hex_digits(1, 40) + "\",\"timestamp\":1700000000,\"bdstoken\":\"" + hex_digits(2, 32) +
      "\",\"sharetype\":0,\"public\":1,\"share_uk\":\"1099511627776123\",\"ctime\":1600000000,"
      "\"expiredType\":0,\"linkusername\":\"" +
      chinese("\\u5206\\u4eab\\u8005", "分享者", raw) + "\",\"title\":\"\\/" + folder +
      "\",\"file_list\":{\"errno\":0,\"list\":[";
  const std::string parent = "%2F%E6%88%91%E7%9A%84%E8%B5%84%E6%BA%90";
  for (std::uint64_t i = 0; data.size() < target_bytes; ++i) {
    if (i > 0) data += ',';
    const std::string name =
        chinese("\\u6587\\u4ef6\\u540d ", "文件名 ", raw) + std::to_string(i) + ".mp4";
    const std::uint64_t fs_id = (1ULL << 63) - i * 7919ULL * 104729ULL;
    const std::string time = std::to_string(1600000000 + i * 17);
    data += "{\"app_id\":\"250528\",\"category\":1,\"fs_id\":" + std::to_string(fs_id) +
            ",\"isdir\":" + (i % 50 == 7 ? "1" : "0") + ",\"local_ctime\":" + time +
            ",\"local_mtime\":" + time + ",\"md5\":\"" + hex_digits(i + 3, 32) +
            "\",\"path\":\"\\/" + folder + "\\/" + name + "\",\"server_ctime\":" + time +
            ",\"server_filename\":\"" + name + "\",\"server_mtime\":" + time +
            ",\"size\":" + std::to_string(1000000 + i * 4099) + ",\"parent_path\":\"" + parent +
            "\",\"thumbs\":{\"url1\":\"https:\\/\\/thumb.example.com\\/" + hex_digits(i, 24) +
            "?size=c140_u90\"},\"delete_type\":0,\"owner_type\":0}";
  }
  return data + "]},\"self\":0}";
}

constexpr std::size_t kShareDataBytes = 5 * 1024 * 1024;

void BM_ParseShareData(benchmark::State& state) {
  const std::string data = share_data_object(kShareDataBytes, state.range(0) != 0);
  for (auto _ : state) {
    JsonDocument doc;
    benchmark::DoNotOptimize(doc.parse(data));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}

// Parse, the page values, then every entry read the way the file list is built.
void BM_ReadShareData(benchmark::State& state) {
  const std::string data = share_data_object(kShareDataBytes, state.range(0) != 0);
  std::int64_t entries = 0;
  for (auto _ : state) {
    JsonDocument doc;
    doc.parse(data);
    for (const char* name : {"sign", "timestamp", "uk", "shareid"})
      benchmark::DoNotOptimize(doc.get_text(name));
    const int count = std::stoi("0" + doc.get_text("file_list.list.length"));
    for (int i = 0; i < count; ++i) {
      const std::string base = "file_list.list[" + std::to_string(i) + "]";
      benchmark::DoNotOptimize(doc.get_texts(
          base, {"size", "path", "isdir", "app_id", "parent_path", "server_filename"}));
      benchmark::DoNotOptimize(doc.get_text(base + ".fs_id", true));
    }
    entries = count;
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}

// Arg 0: Chinese as \u escapes; 1: as local characters.
BENCHMARK(BM_ParseShareData)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadShareData)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
