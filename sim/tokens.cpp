#include "sim/tokens.h"

#include "sim/wire_format.h"

namespace sharelink::sim {
namespace {

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t fnv1a(const std::string& text, std::uint64_t seed) {
  std::uint64_t hash = 0xCBF29CE484222325ull ^ seed;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ull;
  }
  return mix(hash);
}

}  // namespace

std::string Tokens::digest(const std::string& text, std::size_t length) const {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::uint64_t round = 0; out.size() < length; ++round) {
    std::uint64_t value = fnv1a(text, mix(secret_ + round));
    for (int i = 0; i < 16 && out.size() < length; ++i, value >>= 4)
      out += kHex[value & 15];
  }
  return out;
}

std::string Tokens::sign(const Share& share, std::uint64_t timestamp,
                         std::uint64_t generation) const {
  std::string text = "sign:" + std::to_string(share.shareid) + ":" + std::to_string(timestamp);
  if (generation > 0) text += ":" + std::to_string(generation);
  return digest(text, 40);
}

std::string Tokens::bdstoken(const Share& share) const {
  return digest("bdstoken:" + std::to_string(share.shareid), 32);
}

std::string Tokens::sekey(const Share& share) const {
  const std::string hex = digest("sekey:" + std::to_string(share.shareid), 46);
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  std::string text = base64_encode(bytes);  // 23 bytes: 32 characters ending in one "="
  text[3] = '+';
  text[9] = '/';
  return text;
}

std::string Tokens::cookie_value(const Share& share) const {
  return percent_encode(sekey(share));
}

std::string Tokens::md5(std::uint64_t fs_id) const {
  return digest("md5:" + std::to_string(fs_id), 32);
}

std::string Tokens::link_sign(std::uint64_t shareid, std::uint64_t fs_id, std::uint64_t time,
                              const std::string& user_agent) const {
  return digest("link:" + std::to_string(shareid) + ":" + std::to_string(fs_id) + ":" +
                    std::to_string(time) + ":" + user_agent,
                28);
}

}  // namespace sharelink::sim
