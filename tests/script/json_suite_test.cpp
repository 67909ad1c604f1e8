// Runs parse over the parsing cases of the public JSONTestSuite: y_ files must
// parse (the lone null gives false, as every null text does), n_ files must be
// rejected, i_ files may go either way but must not crash.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "http/text_encoding.h"
#include "script/json_document.h"

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

}  // namespace
}  // namespace sharelink
