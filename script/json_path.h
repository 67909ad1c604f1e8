#pragma once

// Path expressions over a JSON value, read and written the way JavaScript member
// access would treat them: member names after ".", decimal indexes in "[...]",
// and "length" of an array or a string. Nothing here recurses, so a long path
// costs no stack.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sharelink {

using Json = nlohmann::ordered_json;

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

struct PathValue {
  PathOutcome outcome = PathOutcome::failed;
  const Json* value = nullptr;  // when found; null for a computed length
  Json computed;                // a "length"

  const Json& get() const { return value != nullptr ? *value : computed; }
};

PathValue read_path(const Json& root, const Path& path);

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
