#pragma once

// Path expressions over a JSON value, read and written the way JavaScript member
// access would treat them: member names after ".", decimal indexes in "[...]",
// and "length" of an array or a string. Nothing here recurses, so a long path
// costs no stack.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "script/json_tape.h"
#include "script/json_value.h"

namespace sharelink {

// How a caller's path is joined to the document before it is read:
// member            "doc." + path (an empty path or a leading "[" is invalid)
// element_or_member "doc" + path when it starts with "[", else "doc." + path
// root_or_member    the document itself for an empty path, else "doc." + path
// root_or_element   the document itself for an empty path, else element_or_member
enum class JoinRule { member, element_or_member, root_or_member, root_or_element };

struct PathStep {
  bool is_index = false;
  std::string name;       // UTF-8 member name; for an index its decimal text
  std::size_t index = 0;  // for an index; saturates for absurdly long digit runs
};
using Path = std::vector<PathStep>;

// nullopt when the joined text is not a member-access expression.
std::optional<Path> join_path(JoinRule rule, const std::string& local_path);

enum class PathOutcome {
  found,
  absent,   // the last step named nothing: JavaScript's undefined
  failed,   // a step before the last met null or nothing: a TypeError in JavaScript
  ignored,  // a write into a number, string or boolean, which JavaScript drops silently
  too_large,
};

// What a read found, in a document (Ref is JsonRef) or a tape (TapeRef).
template <typename Ref>
struct PathValue {
  PathOutcome outcome = PathOutcome::failed;
  Ref value{};             // when found; empty for a computed length
  std::size_t length = 0;  // a computed "length"

  bool is_length() const { return outcome == PathOutcome::found && !value; }
};

template <typename Ref>
PathValue<Ref> read_path(Ref root, const Path& path);

// The value one step on from current (found, or failed through null or nothing).
template <typename Ref>
PathValue<Ref> read_step(const PathValue<Ref>& current, const PathStep& step);

// Joins and reads in one pass over the path's text, with no steps built: what
// read_path(root, *join_path(rule, local_path)) gives, nullopt where join_path
// does. Every read of a reply field comes here.
template <typename Ref>
std::optional<PathValue<Ref>> read_joined_path(Ref root, JoinRule rule,
                                               const std::string& local_path);

// Defined for both forms in json_path.cpp.
extern template PathValue<JsonRef> read_path(JsonRef, const Path&);
extern template PathValue<TapeRef> read_path(TapeRef, const Path&);
extern template PathValue<JsonRef> read_step(const PathValue<JsonRef>&, const PathStep&);
extern template PathValue<TapeRef> read_step(const PathValue<TapeRef>&, const PathStep&);
extern template std::optional<PathValue<JsonRef>> read_joined_path(JsonRef, JoinRule,
                                                                   const std::string&);
extern template std::optional<PathValue<TapeRef>> read_joined_path(TapeRef, JoinRule,
                                                                   const std::string&);

// Stores value at path (not empty), creating the member or growing the array as
// JavaScript assignment would. Growing an array by more than kMaxArrayGrowth
// elements at once is refused (too_large): holes are stored as nulls here.
constexpr std::size_t kMaxArrayGrowth = 1'000'000;
PathOutcome write_path(Json& root, const Path& path, Json value);

// Stores value at index of an array (growing it) or at the member named by the
// index's decimal text of an object.
PathOutcome write_element(Json& container, const PathStep& step, Json value);

// The value at path for changing in place; nullptr with outcome set otherwise.
Json* find_path(Json& root, const Path& path, PathOutcome& outcome);

// Steps as an index into a container.
PathStep index_step(long long index);

}  // namespace sharelink
