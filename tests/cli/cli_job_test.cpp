// sharelink-cli driven through pipes against the demo shares: the exact log on
// stdout, prompts answered on stdin, end of input as giving up, exit statuses.

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "cli/captcha_file.h"
#include "cli/cli_process.h"
#include "e2e/sim_harness.h"
#include "scratch_path.h"
#include "text/local_text.h"

namespace sharelink::testing {
namespace {

// Replaces what follows each prefix and consists of chars with mask, when it is
// length bytes long (0: any length).
std::string mask_after(std::string text, const std::string& prefix, const char* chars,
                       const std::string& mask, std::size_t length = 0) {
  for (std::size_t at = text.find(prefix); at != std::string::npos;
       at = text.find(prefix, at + prefix.size())) {
    const std::size_t start = at + prefix.size();
    const std::size_t end = std::min(text.find_first_not_of(chars, start), text.size());
    if (length == 0 || end - start == length) text.replace(start, end - start, mask);
  }
  return text;
}

// The log with its time stamps and the per-run parts of the links masked, and
// CR LF turned into LF; a bare LF in the log stays visible as "<LF>".
std::string masked(std::string log, const std::string& origin) {
  log = replace_all(log, "\r\n", "\x01");
  log = replace_all(log, "\n", "<LF>");
  log = replace_all(log, "\x01", "\n");
  log = replace_all(log, origin, "ORIGIN");
  log = mask_after(log, "[", "0123456789-: ", "T", std::string("2016-11-27 09:05:03").size());
  log = mask_after(log, "/file/", "0123456789abcdef", "H");
  log = mask_after(log, "time=", "0123456789", "N");
  return mask_after(log, "sign=", "0123456789abcdef", "S");
}

const std::string kSeparator = std::string(88, '-');

const char* const kPublicShareLog =
    u8R"log([T] 解析URL: ORIGIN/s/1PubDemoXq7Ra
[T] 解析状态: 正在解析,请稍后...
[T] 解析状态: 成功

[T] 文件总数: 10

[T] 文件编号: 1
[T] 文件类型: 文件
[T] 文件名称: 说明 readme.txt
[T] 文件大小: 1834
[T] 网盘路径: /我的分享/演示/说明 readme.txt
[T] 下载地址: ORIGIN/file/H?bkt=sim&fid=1102000001-250528-300000000000001&sh=4201000001&time=N&rt=sh&sign=S&expires=8h&fn=%E8%AF%B4%E6%98%8E%20readme.txt

[T] 文件编号: 2
[T] 文件类型: 目录
[T] [照片 & 视频 #1] 目录下的文件列表

[T] 文件编号: 3
[T] 文件类型: 文件
[T] 文件名称: big 64bit id.bin
[T] 文件大小: 4294967296
[T] 网盘路径: /我的分享/演示/big 64bit id.bin
[T] 下载地址: ORIGIN/file/H?bkt=sim&fid=1102000001-250528-9007199254740993&sh=4201000001&time=N&rt=sh&sign=S&expires=8h&fn=big%2064bit%20id.bin

[T] 文件编号: 4
[T] 文件类型: 文件
[T] 文件名称: 工具 tool.exe
[T] 文件大小: 52428800
[T] 网盘路径: /我的分享/演示/工具 tool.exe
[T] 下载地址: ORIGIN/file/H?bkt=sim&fid=1102000001-778750-300000000000010&sh=4201000001&time=N&rt=sh&sign=S&expires=8h&fn=%E5%B7%A5%E5%85%B7%20tool.exe

[T] 文件编号: 5
[T] 文件类型: 目录
[T] [深层 目录] 目录下的文件列表

[T] 文件编号: 6
[T] 文件类型: 文件
[T] 文件名称: 空文件.txt
[T] 文件大小: 0
[T] 网盘路径: /我的分享/演示/照片 & 视频 #1/深层 目录/空文件.txt
[T] 下载地址: ORIGIN/file/H?bkt=sim&fid=1102000001-250528-300000000000008&sh=4201000001&time=N&rt=sh&sign=S&expires=8h&fn=%E7%A9%BA%E6%96%87%E4%BB%B6.txt

[T] 文件编号: 7
[T] 文件类型: 文件
[T] 文件名称: 最后的文件.pdf
[T] 文件大小: 1048576
[T] 网盘路径: /我的分享/演示/照片 & 视频 #1/深层 目录/最后的文件.pdf
[T] 下载地址: ORIGIN/file/H?bkt=sim&fid=1102000001-250528-300000000000007&sh=4201000001&time=N&rt=sh&sign=S&expires=8h&fn=%E6%9C%80%E5%90%8E%E7%9A%84%E6%96%87%E4%BB%B6.pdf

[T] 文件编号: 8
[T] 文件类型: 文件
[T] 文件名称: 海边 🌊 2023.jpg
[T] 文件大小: 2457600
[T] 网盘路径: /我的分享/演示/照片 & 视频 #1/海边 🌊 2023.jpg
[T] 下载地址: ORIGIN/file/H?bkt=sim&fid=1102000001-250528-300000000000003&sh=4201000001&time=N&rt=sh&sign=S&expires=8h&fn=%E6%B5%B7%E8%BE%B9%20%F0%9F%8C%8A%202023.jpg

[T] 文件编号: 9
[T] 文件类型: 文件
[T] 文件名称: plus+sign 100%.txt
[T] 文件大小: 400
[T] 网盘路径: /我的分享/演示/照片 & 视频 #1/plus+sign 100%.txt
[T] 下载地址: ORIGIN/file/H?bkt=sim&fid=1102000001-250528-300000000000005&sh=4201000001&time=N&rt=sh&sign=S&expires=8h&fn=plus%2Bsign%20100%25.txt

[T] 文件编号: 10
[T] 文件类型: 文件
[T] 文件名称: a);b.txt
[T] 文件大小: 12
[T] 网盘路径: /我的分享/演示/照片 & 视频 #1/a);b.txt
[T] 下载地址: ORIGIN/file/H?bkt=sim&fid=1102000001-250528-300000000000004&sh=4201000001&time=N&rt=sh&sign=S&expires=8h&fn=a%29%3Bb.txt


----------------------------------------------------------------------------------------

)log";

class CliJob : public ::testing::Test {
 protected:
  CliJob() : sim_(SimHarness::demo_fixture()) {}

  std::string link(const std::string& surl) { return sim_.link(surl); }
  std::string origin() { return sim_.sim().origin(); }

  // The answer to the captcha picture fetched last.
  std::string last_captcha_answer() {
    const auto images = sim_.requests("image");
    if (images.empty()) return {};
    return sim_.sim().captcha_answer(images.back().query).value_or("");
  }

  SimHarness sim_;
};

TEST_F(CliJob, PublicShareLogIsTheExactLogBoxText) {
  CliProcess cli({link("1PubDemoXq7Ra")});
  ASSERT_TRUE(cli.started());
  EXPECT_EQ(cli.finish(), 0);
  EXPECT_EQ(masked(cli.out(), origin()), kPublicShareLog);
  EXPECT_NE(cli.out().find("\r\n" + kSeparator + "\r\n\r\n"), std::string::npos);
  EXPECT_EQ(cli.out().size() - cli.out().rfind("\r\n" + kSeparator), 94u);
  EXPECT_EQ(cli.err(), "");
  EXPECT_EQ(sim_.violations(), "");
}

TEST_F(CliJob, ExtractionCodeTypedAfterAnEmptyLine) {
  CliProcess cli({link("1LockDemoK3vP")});
  ASSERT_TRUE(cli.wait_for_stderr(u8"请输入提取密码: "));
  cli.send("\n");
  ASSERT_TRUE(cli.wait_for_stderr(u8"请输入提取密码!\n请输入提取密码: "));
  // Spaces, ASCII or full-width, are not part of the code.
  cli.send(u8" 8k\u30002p\r\n");
  EXPECT_EQ(cli.finish(), 0);
  const std::string log = masked(cli.out(), origin());
  EXPECT_NE(log.find(u8"[T] 解析状态: 访问密码错误\n[T] 解析状态: 正在解析,请稍后...\n"
                     u8"[T] 解析状态: 成功\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(u8"[T] 文件总数: 5\n"), std::string::npos);
  EXPECT_EQ(log.find(u8"解析失败"), std::string::npos);
  const auto verifies = sim_.requests("verify");
  ASSERT_FALSE(verifies.empty());
  EXPECT_EQ(verifies.back().body.find("pwd=8k2p&"), 0u) << verifies.back().body;
}

TEST_F(CliJob, WrongCodeOptionThenEndOfInputGivesUp) {
  CliProcess cli({"--code", "zzzz", link("1LockDemoK3vP")});
  // --code answered the first demand; the second one is asked on stderr.
  ASSERT_TRUE(cli.wait_for_stderr(u8"请输入提取密码: "));
  EXPECT_EQ(cli.finish(), 2);
  EXPECT_EQ(cli.unseen_err(), "\n");
  const std::string log = masked(cli.out(), origin());
  EXPECT_NE(log.find(u8"[T] 解析状态: 用户主动放弃,输入提取密码\n\n" + kSeparator + "\n\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find(u8"文件总数"), std::string::npos);
  EXPECT_EQ(sim_.requests("verify").size(), 2u);
}

TEST_F(CliJob, CodeFromAPastedMessageOrAPwdParameter) {
  const std::string message = u8"链接: " + link("1LockDemoK3vP") + u8" 提取码: 8k2p 复制这段内容";
  CliProcess pasted({message});
  EXPECT_EQ(pasted.finish(), 0);
  EXPECT_EQ(pasted.err(), "");
  EXPECT_EQ(masked(pasted.out(), origin()).find(u8"[T] 解析URL: ORIGIN/s/1LockDemoK3vP\n"), 0u);

  CliProcess pwd({link("1LockDemoK3vP") + "?pwd=8k2p"});
  EXPECT_EQ(pwd.finish(), 0);
  EXPECT_EQ(pwd.err(), "");

  // --code wins over the code in the message.
  const std::string stale = u8"链接: " + link("1LockDemoK3vP") + u8" 提取码: aaaa";
  CliProcess preferred({"--code", "8k2p", stale});
  EXPECT_EQ(preferred.finish(), 0);
  EXPECT_EQ(preferred.err(), "");
}

TEST_F(CliJob, DownloadCaptchasAnsweredFromThePictureFile) {
  const ScratchPath picture_file("cli_captcha_picture");
  const std::string& picture = picture_file.path();
  CliProcess cli({"--captcha-file", picture, "--links", link("1CapDemoW9zT")});
  int answered = 0;
  while (cli.wait_for_stderr(u8"请输入验证码: ")) {
    EXPECT_NE(cli.err().find(u8"验证码图片: " + picture + "\n"), std::string::npos);
    std::string bytes;
    FILE* file = std::fopen(picture.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char head[8] = {};
    bytes.assign(head, std::fread(head, 1, sizeof head, file));
    std::fclose(file);
    EXPECT_EQ(picture_type(bytes), "png");
    if (answered == 0) {
      // An empty answer asks again without a new picture.
      const std::size_t pictures = sim_.requests("image").size();
      cli.send("\n");
      ASSERT_TRUE(cli.wait_for_stderr(u8"请输入验证码!\n请输入验证码: "));
      EXPECT_EQ(sim_.requests("image").size(), pictures);
    }
    cli.send(last_captcha_answer() + "\n");
    ++answered;
  }
  EXPECT_EQ(cli.finish(), 0);
  EXPECT_GE(answered, 1);
  const std::string log = masked(cli.out(), origin());
  EXPECT_NE(log.find(u8"[T] 解析状态: 第[ 2 ]编号文件,下载验证码错误\n"), std::string::npos) << log;
  EXPECT_EQ(log.find(u8"解析失败"), std::string::npos);
  // The three links follow the log.
  const std::string end = "\r\n" + kSeparator + "\r\n\r\n";
  const std::string links = cli.out().substr(cli.out().rfind(end) + end.size());
  EXPECT_EQ(split_text(links, "\n").size(), 3u) << links;
  EXPECT_EQ(links.find(origin() + "/file/"), 0u) << links;
}

TEST_F(CliJob, TempCaptchaPictureIsNamedByItsTypeAndRemoved) {
  const ScratchPath folder_made("cli_tmpdir");
  const std::string& folder = folder_made.path();
  mkdir(folder.c_str(), 0700);
  CliProcess cli({link("1CapDemoW9zT")}, {"TMPDIR=" + folder});
  ASSERT_TRUE(cli.wait_for_stderr(u8"请输入验证码: "));
  const std::string label = u8"验证码图片: ";
  const std::size_t start = cli.err().find(label) + label.size();
  const std::string path = cli.err().substr(start, cli.err().find('\n', start) - start);
  EXPECT_EQ(path.rfind(folder + "/sharelink-captcha-", 0), 0u) << path;
  EXPECT_EQ(path.substr(path.size() - 4), ".png");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 077, 0u);  // not for other users to read
  EXPECT_EQ(cli.finish(), 2);
  EXPECT_NE(cli.out().find(u8"解析状态: 用户主动放弃,输入验证码\r\n"), std::string::npos);
  EXPECT_NE(stat(path.c_str(), &info), 0);
}

TEST_F(CliJob, FailedCaptchaFetchIsRetriedOnAnEmptyLine) {
  std::string error;
  const auto fault = sim::parse_fault("captcha:http500@1", error);
  ASSERT_TRUE(fault.has_value()) << error;
  sim_.sim().add_fault(*fault);
  CliProcess cli({link("1CapDemoW9zT")});
  ASSERT_TRUE(cli.wait_for_stderr(u8"验证码获取失败: "));
  ASSERT_TRUE(cli.wait_for_stderr(u8"请输入验证码: "));
  EXPECT_EQ(cli.err().find(u8"验证码图片: "), std::string::npos);
  cli.send("\n");
  ASSERT_TRUE(cli.wait_for_stderr(u8"请输入验证码!\n验证码图片: "));
  while (cli.wait_for_stderr(u8"请输入验证码: "))
    cli.send(last_captcha_answer() + "\n");
  EXPECT_EQ(cli.finish(), 0);
  EXPECT_NE(cli.out().find(u8"第[ 2 ]编号文件"), std::string::npos);
  EXPECT_EQ(cli.out().find(u8"解析失败"), std::string::npos);
}

TEST_F(CliJob, UnknownShareIsAFailure) {
  CliProcess cli({link("1NoSuchShare")});
  EXPECT_EQ(cli.finish(), 1);
  const std::string log = masked(cli.out(), origin());
  EXPECT_EQ(log.find(u8"[T] 解析URL: ORIGIN/s/1NoSuchShare\n[T] 解析状态: 正在解析,请稍后...\n"
                     u8"[T] 解析状态: "),
            0u)
      << log;
  EXPECT_EQ(log.substr(log.find('\n', log.rfind(u8"解析状态")) + 1), "\n" + kSeparator + "\n\n");
}

// Eight at a time gives the log of one at a time, also on a network that
// drops a connection now and then and has a server answer 500.
TEST(CliParallel, SameLogWhateverKAndTheFlakesOfTheNetwork) {
  sim::Fixture fixture = SimHarness::demo_fixture();
  std::string error;
  for (const char* fault : {"download:close@every50", "download:http500@every70"})
    fixture.knobs.faults.push_back(*sim::parse_fault(fault, error));
  SimHarness sim(std::move(fixture));
  std::string logs[3];
  const char* const ks[] = {"1", "8", "3"};
  for (int i = 0; i < 3; ++i) {
    CliProcess cli({"--parallel", ks[i], sim.link("1DeepDemoM4nB")});
    ASSERT_EQ(cli.finish(), 0) << ks[i];
    // The lines of the retries come where they happen to.
    std::string kept;
    for (const std::string& line : split_text(masked(cli.out(), sim.sim().origin()), "\n")) {
      if (line.find(u8"秒后重试") == std::string::npos) kept += line + "\n";
    }
    logs[i] = kept;
  }
  EXPECT_TRUE(logs[0] == logs[1]);
  EXPECT_TRUE(logs[0] == logs[2]);
  EXPECT_NE(logs[0].find(u8"文件总数: 275"), std::string::npos) << logs[0].substr(0, 400);
}

// Ctrl-C stops the job, which writes its report and exits 130: while it
// lists, while it asks for links, and at a prompt once its line is in.
TEST(CliStop, FirstInterruptStopsTheJobASecondEndsTheProgram) {
  struct Row {
    const char* surl;
    const char* wait_for;  // on stderr, with --verbose
    int waits;
  };
  const Row rows[] = {
      {"1DeepDemoM4nB", "/share/list", 1},
      {"1DeepDemoM4nB", "/api/sharedownload", 6},
      {"1LockDemoK3vP", u8"请输入提取密码", 1},
  };
  sim::Fixture fixture = SimHarness::demo_fixture();
  fixture.knobs.latency_ms = 40;
  SimHarness sim(std::move(fixture));
  for (const Row& row : rows) {
    CliProcess cli({"--verbose", sim.link(row.surl)});
    for (int i = 0; i < row.waits; ++i)
      ASSERT_TRUE(cli.wait_for_stderr(row.wait_for)) << row.wait_for << cli.err();
    cli.interrupt();
    EXPECT_EQ(cli.finish(), 130) << row.wait_for;
    const std::string& out = cli.out();
    EXPECT_NE(out.find(u8"] 解析状态: 用户主动停止\r\n"), std::string::npos) << out;
    EXPECT_EQ(out.rfind(kSeparator) + kSeparator.size() + 4, out.size());
  }
  // Far from all 270 links were asked for.
  EXPECT_LT(sim.requests("download").size(), 100u);
}

// A Ctrl-C while the captcha picture loads ends the job there: no prompt
// opens, and the slow picture is not waited for.
TEST(CliStop, InterruptWhileTheCaptchaPictureLoadsOpensNoPrompt) {
  sim::Fixture fixture = SimHarness::demo_fixture();
  fixture.knobs.endpoint_latency_ms[static_cast<std::size_t>(sim::Endpoint::image)] = 8000;
  SimHarness sim(std::move(fixture));
  CliProcess cli({"--verbose", sim.link("1CapDemoW9zT")});
  ASSERT_TRUE(cli.wait_for_stderr("/api/getcaptcha?")) << cli.err();
  const auto interrupted = std::chrono::steady_clock::now();
  cli.interrupt();
  EXPECT_EQ(cli.finish(), 130);
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(5));
  EXPECT_EQ(cli.err().find(u8"请输入验证码"), std::string::npos) << cli.err();
  EXPECT_NE(cli.out().find(u8"] 解析状态: 用户主动停止\r\n"), std::string::npos) << cli.out();
}

}  // namespace
}  // namespace sharelink::testing
