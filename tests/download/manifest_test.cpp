#include "download/manifest.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include "scratch_path.h"

namespace sharelink {
namespace {

// A row's name as ctest shows it: its words joined by "_".
std::string case_name(const char* name) {
  std::string out = name;
  for (char& c : out) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return out;
}

TEST(Manifest, WrittenRecordReadsBackWhole) {
  testing::ScratchPath scratch("sharelink_manifest");
  std::string problem;
  EXPECT_TRUE(read_manifest(scratch.path(), problem).files.empty());
  EXPECT_EQ(problem, "");  // no record yet is no problem
  ASSERT_FALSE(make_folders(scratch.path()));
  Manifest written;
  written.files.push_back({"1",
                           "http://127.0.0.1/s/1a",
                           std::uint64_t{1} << 40,
                           u8"照片/\U0001f600 (1).jpg",
                           false,
                           {{0, 4 << 20, 4 << 20}, {std::uint64_t{1} << 39, 256 << 10, 7}}});
  written.files.push_back({"2", "http://127.0.0.1/s/1a", 0, "empty", true, {}});
  ASSERT_FALSE(write_manifest(scratch.path(), written));
  const Manifest read = read_manifest(scratch.path(), problem);
  EXPECT_EQ(problem, "");
  ASSERT_EQ(manifest_text(read), manifest_text(written));
  ASSERT_EQ(read.files.size(), 2u);
  EXPECT_EQ(read.files[0].local_name, written.files[0].local_name);
  EXPECT_EQ(read.files[0].pieces[1].offset, std::uint64_t{1} << 39);
  EXPECT_EQ(read.files[0].pieces[1].done, 7u);
  EXPECT_TRUE(read.files[1].finished);
}

struct HostileCase {
  const char* name;
  std::string files;  // the text of "files"
  std::string version = "1";
};

void PrintTo(const HostileCase& row, std::ostream* out) {
  *out << row.name;
}

std::string file_text(const std::string& name, const std::string& size, const std::string& pieces) {
  return R"({"id":"1","share":"s","size":)" + size + R"(,"name":")" + name +
         R"(","finished":false,"pieces":[)" + pieces + "]}";
}

class HostileRecord : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileRecord, IsRefusedWithAReason) {
  const std::string text =
      R"({"version":)" + GetParam().version + R"(,"files":[)" + GetParam().files + "]}";
  Manifest manifest;
  manifest.files.push_back({"keep", "s", 1, "keep", true, {}});
  std::string problem;
  EXPECT_FALSE(parse_manifest(text, manifest, problem));
  EXPECT_NE(problem, "");
  ASSERT_EQ(manifest.files.size(), 1u);  // what the caller had is left alone
  EXPECT_EQ(manifest.files[0].id, "keep");
}

// The first row is a sound record with another version; each other row breaks
// one rule of a sound file.
INSTANTIATE_TEST_SUITE_P(
    Manifest, HostileRecord,
    ::testing::Values(
        HostileCase{"another version", file_text("a", "10", "[0,10,0]"), "2"},
        HostileCase{"version as text", file_text("a", "10", "[0,10,0]"), "\"1\""},
        HostileCase{"piece past the size", file_text("a", "10", "[8,4,0]")},
        HostileCase{"piece starting past the size", file_text("a", "10", "[10,1,0]")},
        HostileCase{"done past the piece", file_text("a", "10", "[0,4,5]")},
        HostileCase{"empty piece", file_text("a", "10", "[0,0,0]")},
        HostileCase{"overlapping pieces", file_text("a", "10", "[4,4,0],[0,5,0]")},
        HostileCase{"offset and length that wrap",
                    file_text("a", "10", "[18446744073709551615,11,0]")},
        HostileCase{"huge size", file_text("a", "18446744073709551615", "")},
        HostileCase{"size past 64 bits", file_text("a", "99999999999999999999999", "")},
        HostileCase{"negative number", file_text("a", "10", "[-1,4,0]")},
        HostileCase{"fraction", file_text("a", "10.5", "")},
        HostileCase{"climbs out", file_text("../a", "10", "")},
        HostileCase{"climbs out below", file_text("d/../../a", "10", "")},
        HostileCase{"absolute", file_text("/etc/a", "10", "")},
        HostileCase{"drive", file_text("C:/a", "10", "")},
        HostileCase{"backslash", file_text("d\\\\..\\\\a", "10", "")},
        HostileCase{"device", file_text("con.txt", "10", "")},
        HostileCase{"empty component", file_text("d//a", "10", "")},
        HostileCase{"the record itself", file_text(".sharelink-download.json", "10", "")},
        HostileCase{"one name twice", file_text("a", "1", "") + "," + file_text("a", "2", "")},
        HostileCase{"missing field", R"({"id":"1","share":"s","size":1,"name":"a"})"},
        HostileCase{"nested deep", std::string(100000, '[') + std::string(100000, ']')},
        HostileCase{"not an object", "7"}),
    [](const auto& info) { return case_name(info.param.name); });

}  // namespace
}  // namespace sharelink
