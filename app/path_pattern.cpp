#include "app/path_pattern.h"

#include "text/local_text.h"

namespace sharelink {

namespace {

constexpr std::uint32_t kSlash = '/';
constexpr std::uint32_t kAny = '*';
constexpr std::uint32_t kOne = '?';

struct Character {
  std::uint32_t code;  // its bytes as one number, an ASCII letter lower-cased
  std::size_t length;
};

// A byte of a double-byte character never compares with a letter, a "/" or a
// wildcard: the code of a character of two or four bytes is above 0xFF.
Character character_at(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  std::size_t length = 1;
  if (is_lead_byte(text[at]) && at + 1 < text.size()) {
    const bool four = byte(at + 1) >= '0' && byte(at + 1) <= '9' && at + 3 < text.size();
    length = four ? 4 : 2;
  }
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < length; ++i)
    code = code << 8 | byte(at + i);
  if (code >= 'A' && code <= 'Z') code += 'a' - 'A';
  return {code, length};
}

// One name against one step: "*" any characters, "?" one. A "*" of the
// pattern is a wildcard even where the name holds a "*"; after a mismatch the
// last "*" takes one more character, which finds a match whenever there is one.
bool name_matches(const std::vector<std::uint32_t>& step, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t star = std::string::npos, star_n = 0;
  while (n < name.size()) {
    const Character c = character_at(name, n);
    if (p < step.size() && step[p] == kAny) {
      star = p++;
      star_n = n;
    } else if (p < step.size() && (step[p] == kOne || step[p] == c.code)) {
      ++p;
      n += c.length;
    } else if (star != std::string::npos) {
      p = star + 1;
      star_n += character_at(name, star_n).length;
      n = star_n;
    } else {
      return false;
    }
  }
  while (p < step.size() && step[p] == kAny)
    ++p;
  return p == step.size();
}

}  // namespace

PathPattern::PathPattern(const std::string& pattern) {
  steps_.emplace_back();
  for (std::size_t at = 0; at < pattern.size();) {
    Character c = character_at(pattern, at);
    if (c.code == '\\') c.code = kSlash;
    if (at == 0) from_root_ = c.code == kSlash;
    at += c.length;
    if (c.code != kSlash) {
      steps_.back().push_back(c.code);
    } else if (!steps_.back().empty()) {
      steps_.emplace_back();
    }
  }
  if (steps_.back().empty()) steps_.pop_back();
}

bool PathPattern::any_folders(std::size_t step) const {
  return step < steps_.size() && steps_[step].size() == 2 && steps_[step][0] == kAny &&
         steps_[step][1] == kAny;
}

PathPattern::Progress PathPattern::start() const {
  Progress progress(steps_.size() + 1, 0);
  progress[0] = 1;
  skip_any_folders(progress);
  return progress;
}

bool PathPattern::read(Progress& progress, std::string_view text, bool* passed) const {
  std::size_t begin = 0;
  bool first = true;
  for (std::size_t at = 0; at <= text.size();) {
    const bool end = at == text.size();
    const Character c = end ? Character{kSlash, 1} : character_at(text, at);
    if (c.code == kSlash) {
      if (at > begin) {
        if (passed != nullptr && !first && matched(progress)) *passed = true;
        read_name(progress, text.substr(begin, at - begin));
        first = false;
      }
      begin = at + 1;
    }
    at += c.length;
  }
  for (const char reached : progress) {
    if (reached != 0) return true;
  }
  return false;
}

bool PathPattern::matched(const Progress& progress) const {
  return !steps_.empty() && progress[steps_.size()] != 0;
}

void PathPattern::read_name(Progress& progress, std::string_view name) const {
  // From the last step down, so that each flag is read before it is written.
  for (std::size_t j = steps_.size() + 1; j-- > 0;) {
    const bool stays = progress[j] != 0 && any_folders(j);
    const bool moves =
        j > 0 && progress[j - 1] != 0 && !any_folders(j - 1) && name_matches(steps_[j - 1], name);
    progress[j] = stays || moves ? 1 : 0;
  }
  skip_any_folders(progress);
}

void PathPattern::skip_any_folders(Progress& progress) const {
  for (std::size_t j = 0; j < steps_.size(); ++j) {
    if (progress[j] != 0 && any_folders(j)) progress[j + 1] = 1;
  }
}

bool path_matches(const std::string& pattern, const std::string& path) {
  const PathPattern compiled(pattern);
  PathPattern::Progress progress = compiled.start();
  return compiled.read(progress, path) && compiled.matched(progress);
}

}  // namespace sharelink
