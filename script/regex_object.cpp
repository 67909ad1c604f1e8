#include "script/regex_object.h"

#define PCRE2_CODE_UNIT_WIDTH 16

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <pcre2.h>

#include "script/last_error.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

// ECMAScript flavour: \uXXXX and \xXX escapes, [] and [^], an unset back
// reference matching the empty text, $ only at the very end and ^ also after a
// final line break in multiline mode. CR and LF are the line breaks, so "."
// never crosses one.
constexpr uint32_t kCompileOptions = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                                     PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY |
                                     PCRE2_ALT_CIRCUMFLEX;

// Each search starts with a small match limit and is rerun with the next tier
// when it hits it. Every attempt that hit its limit is charged to a budget for
// the whole run; as the tiers grow about tenfold, the attempt that finally
// succeeds costs at most ten times what was charged before it. So neither one
// pathological search nor many moderately expensive ones can run for long.
constexpr uint32_t kMatchTiers[] = {1'000, 10'000, 100'000, 1'000'000, 10'000'000, 20'000'000};
constexpr uint64_t kMatchBudget = 50'000'000;
constexpr uint32_t kDepthLimit = 250'000;
constexpr uint32_t kHeapLimitKib = 64 * 1024;
// Offsets kept over all matches; beyond this a global run over a huge subject
// with many groups is refused instead of exhausting memory.
constexpr std::size_t kMaxStoredSpans = std::size_t{1} << 22;

constexpr std::size_t kUnset = static_cast<std::size_t>(-1);
const char kQuoteToken[] = "#引号";

struct Span {
  std::size_t begin = kUnset;
  std::size_t end = kUnset;
};

struct CodeDeleter {
  void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};

std::u16string to_units(const std::string& local) {
  Bytes wide = gbk_to_utf16(local, true);
  std::u16string units(wide.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(wide[2 * i]) |
                                     (static_cast<unsigned char>(wide[2 * i + 1]) << 8));
  }
  return units;
}

std::string to_local(const std::u16string& units, std::size_t begin, std::size_t end) {
  Bytes wide;
  wide.reserve((end - begin) * 2);
  for (std::size_t i = begin; i < end; ++i) {
    wide += static_cast<char>(units[i] & 0xFF);
    wide += static_cast<char>(units[i] >> 8);
  }
  return utf16_to_gbk(wide);
}

bool is_lead_surrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

using Match = std::vector<Span>;  // [0] the whole match, [1..] the groups

// Runs one pcre2_match with the match limit raised tier by tier. Returns the
// pcre2 result; budget_used accumulates the cost of the attempts that hit a limit.
int match_once(const pcre2_code* code, const std::u16string& subject, std::size_t start,
               pcre2_match_data* data, pcre2_match_context* context, uint64_t& budget_used) {
  int rc = PCRE2_ERROR_MATCHLIMIT;
  for (uint32_t limit : kMatchTiers) {
    pcre2_set_match_limit(context, limit);
    rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), start, 0,
                     data, context);
    if (rc != PCRE2_ERROR_MATCHLIMIT) return rc;
    budget_used += limit;
    if (budget_used > kMatchBudget) break;
  }
  return rc;
}

// Collects the matches the way an ECMAScript global exec loop does: the next
// search starts where the last match ended, one character further after an
// empty match. Returns false when a limit was hit.
bool collect_matches(const pcre2_code* code, const std::u16string& subject, bool global,
                     std::size_t group_count, std::vector<Match>& matches) {
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
      pcre2_match_data_create_from_pattern(code, nullptr));
  std::unique_ptr<pcre2_match_context, MatchContextDeleter> context(
      pcre2_match_context_create(nullptr));
  if (!data || !context) return false;
  pcre2_set_depth_limit(context.get(), kDepthLimit);
  pcre2_set_heap_limit(context.get(), kHeapLimitKib);

  std::size_t start = 0;
  std::size_t spans = 0;
  uint64_t budget_used = 0;
  while (start <= subject.size()) {
    int rc = match_once(code, subject, start, data.get(), context.get(), budget_used);
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc <= 0) {
      set_last_script_error(ScriptError::match_limit, "pcre2_match " + std::to_string(rc));
      return false;
    }
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    Match match(group_count + 1);
    for (std::size_t g = 0; g < match.size() && g < static_cast<std::size_t>(rc); ++g) {
      if (ovector[2 * g] != PCRE2_UNSET) match[g] = Span{ovector[2 * g], ovector[2 * g + 1]};
    }
    spans += match.size();
    if (spans > kMaxStoredSpans) {
      set_last_script_error(ScriptError::match_limit, "too many matches");
      return false;
    }
    std::size_t begin = match[0].begin;
    std::size_t end = match[0].end;
    matches.push_back(std::move(match));
    if (!global) break;
    start = end;
    if (end == begin) {
      if (start >= subject.size()) break;
      start += (is_lead_surrogate(subject[start]) && start + 1 < subject.size()) ? 2 : 1;
    }
  }
  return true;
}

// JavaScript's replacement patterns: $$, $&, $`, $', $n and $nn.
std::u16string expand_replacement(const std::u16string& replacement, const std::u16string& subject,
                                  const Match& match) {
  std::u16string out;
  auto group_text = [&](std::size_t g) {
    const Span& s = match[g];
    return s.begin == kUnset ? std::u16string() : subject.substr(s.begin, s.end - s.begin);
  };
  auto digit = [](char16_t c) { return c >= u'0' && c <= u'9' ? c - u'0' : -1; };
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    char16_t c = replacement[i];
    if (c != u'$' || i + 1 == replacement.size()) {
      out += c;
      continue;
    }
    char16_t next = replacement[i + 1];
    if (next == u'$') {
      out += u'$';
    } else if (next == u'&') {
      out += group_text(0);
    } else if (next == u'`') {
      out += subject.substr(0, match[0].begin);
    } else if (next == u'\'') {
      out += subject.substr(match[0].end);
    } else if (digit(next) >= 0) {
      int one = digit(next);
      int two = i + 2 < replacement.size() && digit(replacement[i + 2]) >= 0
                    ? one * 10 + digit(replacement[i + 2])
                    : -1;
      if (two > 0 && static_cast<std::size_t>(two) < match.size()) {
        out += group_text(two);
        ++i;
      } else if (one > 0 && static_cast<std::size_t>(one) < match.size()) {
        out += group_text(one);
      } else {
        out += u'$';
        continue;
      }
    } else {
      out += u'$';
      continue;
    }
    ++i;
  }
  return out;
}

}  // namespace

struct RegexObject::State {
  std::string pattern;  // after the placeholder was replaced
  std::u16string subject;
  std::string subject_local;  // the subject as local text, for byte positions
  bool ignore_case = false;
  bool global = true;
  bool ran = false;
  std::size_t group_count = 0;
  std::vector<Match> matches;
};

RegexObject::RegexObject() = default;
RegexObject::~RegexObject() = default;
RegexObject::RegexObject(const RegexObject& other) = default;
RegexObject& RegexObject::operator=(const RegexObject& other) = default;

bool RegexObject::execute(const std::string& pattern, const std::string& subject,
                          bool case_sensitive, bool multiline, bool global, bool quote_token) {
  // Copies keep the matches they shared: a run always builds a fresh state.
  state_.reset();
  try {
    auto state = std::make_shared<State>();
    state->pattern = quote_token ? replace_all(pattern, kQuoteToken, "\"") : pattern;
    state->ignore_case = !case_sensitive;
    state->global = global;
    state_ = state;

    uint32_t options = kCompileOptions;
    if (!case_sensitive) options |= PCRE2_CASELESS;
    if (multiline) options |= PCRE2_MULTILINE;
    std::u16string units = to_units(state->pattern);
    pcre2_compile_context* compile_context = pcre2_compile_context_create(nullptr);
    if (compile_context == nullptr) return false;
    pcre2_set_newline(compile_context, PCRE2_NEWLINE_ANYCRLF);
    int error = 0;
    PCRE2_SIZE error_offset = 0;
    std::unique_ptr<pcre2_code, CodeDeleter> code(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(units.data()), units.size(), options, &error,
                      &error_offset, compile_context));
    pcre2_compile_context_free(compile_context);
    if (!code) {
      set_last_script_error(
          ScriptError::pattern_invalid,
          "pcre2 error " + std::to_string(error) + " at " + std::to_string(error_offset));
      return false;
    }
    uint32_t captures = 0;
    pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
    state->group_count = captures;
    state->subject = to_units(subject);
    state->subject_local = to_local(state->subject, 0, state->subject.size());
    if (!collect_matches(code.get(), state->subject, global, captures, state->matches)) {
      state->matches.clear();
      return false;
    }
    state->ran = true;
    return true;
  } catch (const std::exception& e) {
    if (state_) state_->matches.clear();
    set_last_script_error(ScriptError::internal, e.what());
    return false;
  }
}

std::string RegexObject::pattern() const {
  return state_ ? state_->pattern : std::string();
}

std::string RegexObject::replace(const std::string& replacement) const {
  if (!state_ || !state_->ran) return {};
  try {
    const std::u16string& subject = state_->subject;
    std::u16string with = to_units(replacement);
    std::u16string out;
    std::size_t copied = 0;
    for (const Match& match : state_->matches) {
      out.append(subject, copied, match[0].begin - copied);
      out += expand_replacement(with, subject, match);
      copied = match[0].end;
    }
    out.append(subject, copied, std::u16string::npos);
    return to_local(out, 0, out.size());
  } catch (const std::exception& e) {
    set_last_script_error(ScriptError::internal, e.what());
    return {};
  }
}

int RegexObject::match_count() const {
  return state_ ? static_cast<int>(state_->matches.size()) : 0;
}

int RegexObject::submatch_count() const {
  return state_ && !state_->matches.empty() ? static_cast<int>(state_->group_count) : 0;
}

std::string RegexObject::match_text(int match_no, int& position, bool want_position) const {
  return span_text(match_no, 0, position, want_position);
}

std::string RegexObject::match_text(int match_no) const {
  int unused = 0;
  return match_text(match_no, unused, false);
}

std::string RegexObject::submatch_text(int match_no, int group_no) const {
  int unused = 0;
  return submatch_text(match_no, group_no, unused, false);
}

std::string RegexObject::submatch_text(int match_no, int group_no, int& position,
                                       bool want_position) const {
  if (group_no < 1) {
    if (want_position) position = -2;
    return {};
  }
  return span_text(match_no, group_no, position, want_position);
}

// Group 0 is the whole match. The position is where the returned text first
// occurs in the local subject from the start of the whole match, so a group
// reports its first occurrence inside the match. The search starts at the
// match's own byte offset: starting from its UTF-16 index instead could land
// on an earlier equal text, or on the trail byte of a double-byte character
// and then step past the match.
std::string RegexObject::span_text(int match_no, int group_no, int& position,
                                   bool want_position) const {
  if (!state_ || match_no < 1 || group_no < 0 ||
      static_cast<std::size_t>(match_no) > state_->matches.size() ||
      static_cast<std::size_t>(group_no) > state_->group_count) {
    if (want_position) position = -2;
    return {};
  }
  try {
    const Match& match = state_->matches[static_cast<std::size_t>(match_no) - 1];
    const Span& span = match[static_cast<std::size_t>(group_no)];
    std::string text =
        span.begin == kUnset ? std::string() : to_local(state_->subject, span.begin, span.end);
    if (want_position) {
      std::size_t match_offset = to_local(state_->subject, 0, match[0].begin).size();
      std::size_t found =
          find_local(state_->subject_local, text, match_offset, state_->ignore_case);
      position = found == std::string::npos ? -2 : static_cast<int>(found);
    }
    return text;
  } catch (const std::exception& e) {
    set_last_script_error(ScriptError::internal, e.what());
    if (want_position) position = -2;
    return {};
  }
}

}  // namespace sharelink
