// Runs parse over the parsing cases of the public JSONTestSuite: y_ files must
// parse (the lone null gives false, as every null text does), n_ files must be
// rejected, i_ files may go either way but must not crash.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "script/json_document.h"
#include "text/text_encoding.h"

namespace sharelink {
namespace {

namespace fs = std::filesystem;

const fs::path kSuiteDir = fs::path(SHARELINK_SHARED_DIR) / "testdata/JSONTestSuite/test_parsing";

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The files are UTF-8. They reach the parser the way a reply body does: decoded
// by its charset into local text. That decoding keeps zero bytes (the text is
// counted), so a case such as "123" followed by a zero byte stays invalid.
std::string as_reply_text(const std::string& utf8) {
  return recode_by_charset(utf8, "UTF-8").value_or(std::string());
}

TEST(JsonTestSuite, ParsingCases) {
  ASSERT_TRUE(fs::is_directory(kSuiteDir)) << kSuiteDir;
  int counts[3][2] = {};  // [y, n, i][rejected, accepted]
  for (const fs::directory_entry& entry : fs::directory_iterator(kSuiteDir)) {
    const std::string name = entry.path().filename().string();
    const char kind = name[0];
    if (name.size() < 2 || name[1] != '_' || (kind != 'y' && kind != 'n' && kind != 'i')) continue;
    JsonDocument doc;
    const bool accepted = doc.parse(as_reply_text(read_bytes(entry.path())));
    counts[kind == 'y' ? 0 : kind == 'n' ? 1 : 2][accepted ? 1 : 0]++;
    if (kind == 'y') {
      EXPECT_EQ(accepted, name != "y_structure_lonely_null.json") << name;
      // What the document prints is JSON again, and prints the same.
      JsonDocument again;
      const std::string printed = doc.to_json();
      EXPECT_EQ(again.parse(printed), accepted) << name << ": " << printed;
      if (accepted) {
        EXPECT_EQ(again.to_json(), printed) << name;
      }
    } else if (kind == 'n') {
      EXPECT_FALSE(accepted) << name;
    }
  }
  std::cout << "y_: " << counts[0][1] << " parsed, " << counts[0][0] << " rejected\n"
            << "n_: " << counts[1][0] << " rejected, " << counts[1][1] << " parsed\n"
            << "i_: " << counts[2][1] << " parsed, " << counts[2][0] << " rejected\n";
  EXPECT_GT(counts[0][1] + counts[1][0] + counts[2][0] + counts[2][1], 300);
}

// A parsed text is read from its flat form; a value written into a document is
// read from the same form made from an nlohmann document. Both must read alike.
TEST(JsonTestSuite, WrittenValuesReadAsParsedOnes) {
  ASSERT_TRUE(fs::is_directory(kSuiteDir)) << kSuiteDir;
  int compared = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(kSuiteDir)) {
    const std::string name = entry.path().filename().string();
    if (name[0] != 'y' && name[0] != 'i') continue;
    const std::string text = as_reply_text(read_bytes(entry.path()));
    JsonDocument parsed;
    if (!parsed.parse(text)) continue;
    JsonDocument written;
    ASSERT_TRUE(written.set_root(text, true)) << name;
    EXPECT_EQ(written.to_json(), parsed.to_json()) << name;
    EXPECT_EQ(written.type_of(), parsed.type_of()) << name;
    EXPECT_EQ(written.count(), parsed.count()) << name;
    std::vector<std::string> names;
    std::vector<std::string> written_names;
    EXPECT_EQ(written.member_names(written_names), parsed.member_names(names)) << name;
    EXPECT_EQ(written_names, names) << name;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const bool array = parsed.type_of() == JsonDocument::kTypeArray;
      const std::string path = array ? "[" + names[i] + "]" : names[i];
      for (bool as_json : {false, true}) {
        EXPECT_EQ(written.get_text(path, as_json), parsed.get_text(path, as_json))
            << name << " " << path;
      }
    }
    ++compared;
  }
  EXPECT_GT(compared, 100);
}

}  // namespace
}  // namespace sharelink
