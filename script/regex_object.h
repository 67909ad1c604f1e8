#pragma once

// One regular expression run over one subject text, with ECMAScript meaning,
// handing out matches and capture groups as local text with byte positions.

#include <memory>
#include <string>

namespace sharelink {

class RegexObject {
 public:
  RegexObject();
  ~RegexObject();
  RegexObject(const RegexObject& other);
  RegexObject& operator=(const RegexObject& other);

  // Compiles pattern and collects the matches in subject. True when the
  // expression ran (also when nothing matched); false for an invalid pattern or a
  // match that hit the engine's limits, which leaves no matches.
  bool execute(const std::string& pattern, const std::string& subject, bool case_sensitive = false,
               bool multiline = true, bool global = true, bool quote_token = false);

  // The pattern of the last execute (after placeholder replacement), or "".
  std::string pattern() const;

  // subject with the first (global: every) match replaced by replacement, in
  // which $& is the match, $1..$99 a group, $$ a dollar sign.
  std::string replace(const std::string& replacement) const;

  int match_count() const;

  // match_no and group_no are 1-based. position gets the 0-based byte offset of
  // the returned text in the subject (-2 when not found) only when want_position.
  std::string match_text(int match_no, int& position, bool want_position) const;
  std::string match_text(int match_no) const;
  std::string submatch_text(int match_no, int group_no, int& position, bool want_position) const;
  std::string submatch_text(int match_no, int group_no) const;

  // Number of groups of the first match.
  int submatch_count() const;

 private:
  struct State;
  std::string span_text(int match_no, int group_no, int& position, bool want_position) const;

  std::shared_ptr<State> state_;
};

}  // namespace sharelink
