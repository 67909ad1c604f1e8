// JsonDocument::parse and the path queries on what it parsed. Input: the JSON
// text, then after a zero byte any number of paths separated by zero bytes (the
// paths the client reads are queried too).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "script/json_document.h"

namespace sharelink {
namespace {

const std::vector<std::string> kClientPaths = {
    "errno", "list", "list[0].fs_id", "file_list.list.length", "file_list.list[1].server_filename",
    "[0]",   "[1]",  "length"};
const std::vector<std::string> kItemFields = {"fs_id", "server_filename", "isdir", "size", "path"};

void query(const JsonDocument& doc, const std::string& path) {
  const int type = doc.type_of(path);
  doc.get_text(path);
  doc.get_text(path, true);
  doc.get_number(path);
  doc.has_member(path);
  doc.get_element_text(0, path);
  doc.get_texts(path, kItemFields, true);

  // Counting and listing walk the value separately; they must agree (count
  // alone also takes a leading "[").
  std::vector<std::string> names;
  const int listed = doc.member_names(names, path);
  FUZZ_CHECK(listed == static_cast<int>(names.size()));
  const int counted = doc.count(path);
  if (path.empty() || path[0] != '[') FUZZ_CHECK(counted == listed);

  // A copy of a value serialises as the value read in place.
  const std::string json = doc.get_json(path);
  const JsonDocument copy = doc.get_document(path);
  if (type != JsonDocument::kTypeNull && !json.empty()) FUZZ_CHECK(copy.to_json() == json);
}

}  // namespace
}  // namespace sharelink

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sharelink;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = input.find('\0');
  const std::string text = input.substr(0, zero);

  JsonDocument doc;
  if (!doc.parse(text)) {
    // A failed parse leaves null, never a part of the text or the old value.
    FUZZ_CHECK(doc.to_json() == "null");
    FUZZ_CHECK(doc.type_of() == JsonDocument::kTypeNull);
    return 0;
  }
  // What a document writes, it reads back as the same document.
  const std::string json = doc.to_json();
  JsonDocument again;
  FUZZ_CHECK(again.parse(json));
  FUZZ_CHECK(again.to_json() == json);

  for (const std::string& path : kClientPaths)
    query(doc, path);
  if (zero != std::string::npos) {
    for (const std::string& path : fuzz::split_input(data + zero + 1, size - zero - 1, 16))
      query(doc, path);
  }
  query(doc, "");
  return 0;
}
