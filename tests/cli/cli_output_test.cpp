// What sharelink-cli hands to other programs besides the log: the link list, the
// aria2 input file, exit statuses of bad command lines.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/cli_process.h"
#include "cli/link_export.h"
#include "e2e/sim_harness.h"
#include "file_text.h"
#include "http/http_message.h"
#include "scratch_path.h"
#include "text/local_text.h"

namespace sharelink::testing {
namespace {

const std::string kLogEnd = "\r\n" + std::string(88, '-') + "\r\n\r\n";
// The line after each link of an aria2 file: the User-Agent the link was requested with.
const std::string kAgentLine = "  user-agent=" + default_user_agent() + "\n";

// The links of the report's address lines, in report order.
std::vector<std::string> logged_links(const std::string& log, const std::string& origin) {
  std::vector<std::string> links;
  const std::string label = u8"下载地址: " + origin;
  for (std::size_t at = log.find(label); at != std::string::npos; at = log.find(label, at + 1)) {
    const std::size_t start = at + label.size() - origin.size();
    links.push_back(log.substr(start, log.find("\r\n", start) - start));
  }
  return links;
}

class CliOutput : public ::testing::Test {
 protected:
  CliOutput() : sim_(SimHarness::demo_fixture()) {}
  SimHarness sim_;
};

TEST_F(CliOutput, LinksAndAria2FileOfAPublicShare) {
  const ScratchPath aria2_file("cli_public.aria2");
  const std::string& aria2 = aria2_file.path();
  CliProcess cli({"--links", "--aria2", aria2, sim_.link("1PubDemoXq7Ra")});
  ASSERT_EQ(cli.finish(), 0);
  const std::string origin = sim_.sim().origin();
  const std::vector<std::string> links = logged_links(cli.out(), origin);
  ASSERT_EQ(links.size(), 8u);

  std::string list;
  for (const std::string& link : links)
    list += link + "\n";
  EXPECT_EQ(cli.out().substr(cli.out().rfind(kLogEnd) + kLogEnd.size()), list);

  // The blocks in list order; listing order within a folder is the service's.
  const char* const blocks[][3] = {
      {"0", u8"说明 readme.txt", nullptr},
      {"1", u8"big 64bit id.bin", nullptr},
      {"2", u8"工具 tool.exe", nullptr},
      {"3", u8"空文件.txt", u8"照片 & 视频 #1/深层 目录"},
      {"4", u8"最后的文件.pdf", u8"照片 & 视频 #1/深层 目录"},
      {"5", u8"海边 🌊 2023.jpg", u8"照片 & 视频 #1"},
      {"6", u8"plus+sign 100%.txt", u8"照片 & 视频 #1"},
      {"7", u8"a);b.txt", u8"照片 & 视频 #1"},
  };
  std::string expected;
  for (const auto& block : blocks) {
    expected += links[static_cast<std::size_t>(block[0][0] - '0')] +
                "\n  out=" + (block[2] != nullptr ? std::string(block[2]) + "/" : "") + block[1] +
                "\n" + kAgentLine;
  }
  EXPECT_EQ(file_text(aria2), expected);
}

TEST_F(CliOutput, Aria2PutsEveryFileBelowItsDownloadFolder) {
  const std::string aria2c = "/usr/bin/aria2c";
  if (access(aria2c.c_str(), X_OK) != 0) GTEST_SKIP() << "aria2c is not installed";
  const ScratchPath input_file("cli_aria2_run.aria2");
  const ScratchPath folder_made("cli_aria2_downloads");
  const std::string& input = input_file.path();
  const std::string& folder = folder_made.path();
  // The files' names matter here, not their bytes: none larger than 1 MiB.
  sim::Fixture fixture = SimHarness::demo_fixture();
  for (sim::Share& share : fixture.shares) {
    for (sim::Entry& entry : share.entries)
      entry.size = std::min<std::uint64_t>(entry.size, 1 << 20);
  }
  SimHarness small(std::move(fixture));
  CliProcess cli({"--aria2", input, small.link("1PubDemoXq7Ra")});
  ASSERT_EQ(cli.finish(), 0);
  CliProcess download({"--no-conf", "--quiet", "--allow-overwrite=true", "--max-tries=1",
                       "--connect-timeout=10", "--timeout=30", "-i", input, "-d", folder},
                      {}, aria2c);
  ASSERT_EQ(download.finish(), 0) << download.err();
  for (const char* path : {u8"说明 readme.txt", u8"照片 & 视频 #1/深层 目录/最后的文件.pdf",
                           u8"照片 & 视频 #1/深层 目录/空文件.txt", u8"照片 & 视频 #1/a);b.txt"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/" + path)) << path;
  }
  std::size_t files = 0;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder))
    files += item.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 8u);
}

TEST_F(CliOutput, StatusLineOnlyOnATerminalAndWipedBeforeOtherOutput) {
  const std::string link = sim_.link("1PubDemoXq7Ra");
  CliProcess piped({link});
  ASSERT_EQ(piped.finish(), 0);
  EXPECT_EQ(piped.err().find(u8"解析中"), std::string::npos) << piped.err();

  CliProcess shown({link}, {}, SHARELINK_CLI_EXE, true);
  ASSERT_EQ(shown.finish(), 0);
  const std::string& err = shown.err();
  // The first comes as the job starts, before anything was found.
  EXPECT_EQ(err.find(u8"\r解析中: 目录 0, 条目 0, 链接 0/0, 用时 "), 0u) << err;
  const std::size_t last = err.rfind(u8"\r解析中: ");
  EXPECT_EQ(err.find("\r\x1b[K", last), err.size() - 4) << err;
  EXPECT_EQ(shown.out().find('\x1b'), std::string::npos);
  EXPECT_NE(shown.out().find(u8"解析状态: 成功\r\n"), std::string::npos);
}

TEST_F(CliOutput, GivingUpStillExportsTheLinksObtained) {
  const ScratchPath aria2_file("cli_partial.aria2");
  const std::string& aria2 = aria2_file.path();
  CliProcess cli({"--links", "--aria2", aria2, sim_.link("1CapDemoW9zT")});
  EXPECT_EQ(cli.finish(), 2);
  const std::vector<std::string> links = logged_links(cli.out(), sim_.sim().origin());
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(cli.out().substr(cli.out().rfind(kLogEnd) + kLogEnd.size()), links[0] + "\n");
  EXPECT_EQ(file_text(aria2), links[0] + u8"\n  out=第一集.mp4\n" + kAgentLine);
}

// Found before the first request, with the system's reason, and no file left.
TEST_F(CliOutput, UnwritableAria2FileIsFoundBeforeAnyRequest) {
  const std::string aria2 = ::testing::TempDir() + "no/such/folder/x.aria2";
  CliProcess cli({"--aria2", aria2, sim_.link("1PubDemoXq7Ra")});
  EXPECT_EQ(cli.finish(), 1);
  EXPECT_EQ(cli.out(), "");
  EXPECT_EQ(sim_.requests().size(), 0u);
  const std::string head = u8"无法写入文件: " + aria2 + " (";
  EXPECT_EQ(cli.err().find(head), 0u) << cli.err();
  EXPECT_GT(cli.err().size(), head.size() + 3) << cli.err();  // a reason in the brackets
  EXPECT_EQ(cli.err().substr(cli.err().size() - 2), ")\n") << cli.err();
}

struct ChoiceCase {
  std::vector<std::string> args;  // before the link
  int status;
  std::vector<std::string> files;  // the reported files' names, in report order
  std::size_t link_requests;
  const char* tail;  // what follows the log
};

// --list and --select: only what the patterns choose costs a request, and the
// report, the links and the listing hold just that, numbered alike.
TEST_F(CliOutput, ListAndSelectRequestOnlyTheChosenFiles) {
  const std::string kTree =
      u8" 1  文件            1834  说明 readme.txt\n"
      u8" 2  目录         3506588  照片 & 视频 #1\n";
  const ChoiceCase rows[] = {
      {{"--list"}, 0, {}, 0, nullptr},
      {{"--select", "BIG*", "--select", u8"照片 & 视频 #1/深层 目录"},
       0,
       {u8"big 64bit id.bin", u8"空文件.txt", u8"最后的文件.pdf"},
       3,
       ""},
      {{"--select", "**/*.PDF", "--select", u8"工具 tool.???", "--links"},
       0,
       {u8"工具 tool.exe", u8"最后的文件.pdf"},
       2,
       nullptr},
      {{"--list", "--select", u8"*/深层*/*.pdf"},
       0,
       {},
       0,
       u8"1  目录         1048576  照片 & 视频 #1\n2  目录         1048576  照片 & 视频 #1/深层 "
       u8"目录\n"
       u8"3  文件         1048576  照片 & 视频 #1/深层 目录/最后的文件.pdf\n"},
      {{"--select", "*.pdf", "--select", u8"照片"}, 1, {}, 0, ""},
  };
  for (const ChoiceCase& row : rows) {
    const std::size_t before = sim_.requests("download").size();
    std::vector<std::string> args = row.args;
    args.push_back(sim_.link("1PubDemoXq7Ra"));
    CliProcess cli(args);
    const std::string& out = cli.out();
    ASSERT_EQ(cli.finish(), row.status) << args[0] << cli.err();
    EXPECT_EQ(sim_.requests("download").size() - before, row.link_requests) << args[1];
    std::vector<std::string> names;
    const std::string label = u8"文件名称: ";
    for (std::size_t at = out.find(label); at != std::string::npos; at = out.find(label, at + 1))
      names.push_back(out.substr(at + label.size(), out.find("\r\n", at) - at - label.size()));
    EXPECT_EQ(names, row.files) << args[1];
    EXPECT_EQ(logged_links(out, sim_.sim().origin()).size(), row.link_requests);
    const std::string tail = out.substr(out.rfind(kLogEnd) + kLogEnd.size());
    if (row.tail != nullptr) {
      EXPECT_EQ(tail, row.tail) << args[1];
    }
    if (row.status == 1) {
      EXPECT_NE(out.find(u8"解析状态: 自定义错误代码,没有选中任何文件"), std::string::npos);
    }
  }
  CliProcess listed({"--list", sim_.link("1PubDemoXq7Ra")});
  ASSERT_EQ(listed.finish(), 0);
  const std::string tail = listed.out().substr(listed.out().rfind(kLogEnd) + kLogEnd.size());
  EXPECT_EQ(tail.substr(0, kTree.size()), kTree);
  EXPECT_EQ(std::count(tail.begin(), tail.end(), '\n'), 10);
  EXPECT_EQ(listed.out().find(u8"文件总数"), std::string::npos);
  // A success, not worded as an error code.
  EXPECT_NE(listed.out().find(u8"] 解析状态: 只列出文件,未请求下载地址\r\n"), std::string::npos);
}

TEST(CliCommandLine, UsageErrorsHelpAndVersion) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"http://a/s/1", "http://b/s/2"},
      {"--bogus", "http://a/s/1"},
      {"http://a/s/1", "--code"},
      {"--code=", "http://a/s/1"},
      {"--aria2", "", "http://a/s/1"},
  };
  for (const auto& args : wrong) {
    CliProcess cli(args);
    EXPECT_EQ(cli.finish(), 64) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(cli.out(), "");
    EXPECT_NE(cli.err().find("--help"), std::string::npos);
  }
  CliProcess help({"--links", "--help"});
  EXPECT_EQ(help.finish(), 0);
  EXPECT_EQ(help.out(), cli_help_text());
  CliProcess version({"--version"});
  EXPECT_EQ(version.finish(), 0);
  EXPECT_EQ(version.out(), cli_version_text() + "\n");
}

TEST(CliCommandLine, OptionForms) {
  CliOptions options;
  std::string error;
  ASSERT_EQ(parse_cli_options({"--code=ab12", "--links", "--", "-odd"}, options, error),
            ParseOutcome::run);
  EXPECT_EQ(options.code, "ab12");
  EXPECT_TRUE(options.print_links);
  EXPECT_EQ(options.link, "-odd");
  CliOptions spaced;
  ASSERT_EQ(parse_cli_options({"L", "--captcha-file", "p.png", "--aria2", "a"}, spaced, error),
            ParseOutcome::run);
  EXPECT_EQ(spaced.link, "L");
  EXPECT_EQ(spaced.captcha_file, "p.png");
  EXPECT_EQ(spaced.aria2_file, "a");
  EXPECT_FALSE(spaced.print_links);
}

FileEntry file(const std::string& name, const std::string& path, const std::string& link,
               const std::string& top_folder = "") {
  FileEntry entry;
  entry.server_filename = name;
  entry.path = path;
  entry.isdir = "0";
  entry.dlink = link;
  entry.decoded_parent_path = top_folder;
  return entry;
}

TEST(Aria2Input, NamesFromTheServiceCannotInjectOptionsOrLeaveTheFolder) {
  FileEntry folder = file("..", "/root/..", "", "/root");
  folder.isdir = "1";
  const FileList files = {
      folder,
      file("a\n  dir=/etc", "/root/a\n  dir=/etc", "http://h/1\n  out=x", "/root"),
      file("../../.bashrc", "/root/../../x/../.bashrc", "http://h/2 3"),
      file("..", "/root/sub/./..", "http://h/4"),
      file("no link", "/root/sub/no link", ""),
      file("elsewhere", "/other/place/elsewhere", "http://h/5"),
      file("..\\..\\win.ini", "/root/sub\\..\\..\\..\\w\\x", "HTTPS://h/6"),
      file("script", "/root/script", "javascript:alert(1)"),
      file("local", "/root/local", "file:///etc/passwd"),
  };
  EXPECT_EQ(aria2_input(files, "UA"),
            "http://h/1%0A%20%20out=x\n  out=a_  dir=_etc\n  user-agent=UA\n"
            "http://h/2%203\n  out=x/.._.._.bashrc\n  user-agent=UA\n"
            "http://h/4\n  out=sub/_..\n  user-agent=UA\n"
            "http://h/5\n  out=other/place/elsewhere\n  user-agent=UA\n"
            "HTTPS://h/6\n  out=sub/w/.._.._win.ini\n  user-agent=UA\n");
  EXPECT_EQ(link_list(files),
            "http://h/1%0A%20%20out=x\nhttp://h/2%203\nhttp://h/4\nhttp://h/5\nHTTPS://h/6\n");
}

TEST(Aria2Input, ShareOfTheDiskRootAndLocalTextNames) {
  const FileList files = {
      file("第一集.mp4", "/第一集.mp4", "http://h/1", "/"),
      file("字幕.srt", "/合集/字幕.srt", "http://h/2"),
  };
  EXPECT_EQ(aria2_input(files, "U\nA"),
            u8"http://h/1\n  out=第一集.mp4\n  user-agent=U_A\n"
            u8"http://h/2\n  out=合集/字幕.srt\n  user-agent=U_A\n");
  EXPECT_EQ(link_list(files), "http://h/1\nhttp://h/2\n");
  EXPECT_EQ(link_list({file("x", "/x", "")}), "");
}

// A direction override would show "x\u202Efdp.exe" as "xexe.pdf"; a line
// separator starts a line where none shows. Local text: U+202E, U+2066, U+2028.
TEST(Aria2Input, DirectionControlsAndLineSeparatorsAreNoPartOfANameOrLink) {
  const FileList files = {
      file("x\x81\x36\xa7\x31"
           "fdp.exe",
           "/r\x81\x36\xac\x32/x", "http://h/1\x81\x36\xa6\x35x"),
  };
  EXPECT_EQ(aria2_input(files, "UA"),
            "http://h/1%E2%80%A8x\n  out=r_/x_fdp.exe\n  user-agent=UA\n");
  EXPECT_EQ(link_list(files), "http://h/1%E2%80%A8x\n");
}

}  // namespace
}  // namespace sharelink::testing
