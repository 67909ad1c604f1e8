#pragma once

// The values the service derives from a secret of its own: the page's sign and
// bdstoken, the BDCLND cookie of an unlocked share, file checksums and download
// link signatures. Pure functions of the secret and their inputs, so any thread
// may call them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/fixture.h"

namespace sharelink::sim {

class Tokens {
 public:
  explicit Tokens(std::uint64_t secret) : secret_(secret) {}

  // 40 hex digits. Generation 0 is the sign every page of that second carries;
  // others tell apart pages of one second that must not share a sign.
  std::string sign(const Share& share, std::uint64_t timestamp, std::uint64_t generation = 0) const;
  std::string bdstoken(const Share& share) const;  // 32 hex digits
  // The decoded cookie value: Base64 text that always holds "+", "/" and "=",
  // so that the cookie itself carries %2B, %2F and %3D.
  std::string sekey(const Share& share) const;
  std::string cookie_value(const Share& share) const;
  std::string md5(std::uint64_t fs_id) const;  // 32 hex digits
  // A download link holds to the User-Agent of the request that got it, as
  // content servers do: the sign is made for that one.
  std::string link_sign(std::uint64_t shareid, std::uint64_t fs_id, std::uint64_t time,
                        const std::string& user_agent) const;

 private:
  std::string digest(const std::string& text, std::size_t length) const;
  std::uint64_t secret_;
};

}  // namespace sharelink::sim
