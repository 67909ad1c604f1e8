#pragma once

// Generated trees: many files for benchmarks, or a folder's worth of
// "generated_files" in a hand-written fixture.

#include <cstddef>
#include <optional>
#include <string>

#include "sim/fixture.h"

namespace sharelink::sim {

// Adds shape.files files and a complete folder tree below parent (none: the top
// level). Refuses shapes of more than ten million entries.
bool add_generated_tree(Share& share, std::optional<std::size_t> parent, const TreeShape& shape,
                        std::string& error);

}  // namespace sharelink::sim
