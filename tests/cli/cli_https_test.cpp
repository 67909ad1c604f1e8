// sharelink-cli against the simulator over https: the program trusts the CA
// that SSL_CERT_FILE or SSL_CERT_DIR names (an empty one counts as unset),
// resolves the demo shares there as it does over http, and without a trusted
// CA fails on the first request, naming libcurl's reason, having sent nothing.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_process.h"
#include "e2e/sim_harness.h"
#include "http/tls_server.h"

namespace sharelink::testing {
namespace {

std::size_t count_of(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos;
       at = text.find(piece, at + piece.size())) {
    ++count;
  }
  return count;
}

enum class Trust { ca_file, ca_folder, none };

struct HttpsRun {
  const char* name;
  std::vector<std::string> options;  // before the link
  const char* surl;
  Trust trust;
  int status;
  std::string summary;  // a line of the log
  std::size_t links;    // download links in the log, all at the simulator's https origin
  std::string err;      // what stderr holds; empty: nothing
};

TEST(CliHttps, DemoSharesOverHttpsTrustOnlyTheCaTheEnvironmentNames) {
  SimHarness sim(SimHarness::demo_fixture(), sim::TlsIdentity{});
  const std::string origin = sim.sim().origin();
  ASSERT_EQ(origin.rfind("https://127.0.0.1:", 0), 0u) << origin;
  test::CaFolder cas(sim.sim().ca_certificate_pem());
  ASSERT_TRUE(cas.ok()) << cas.error();

  const HttpsRun runs[] = {
      {"public share, CA file", {}, "1PubDemoXq7Ra", Trust::ca_file, 0, u8"解析状态: 成功", 8, ""},
      // The redirect to /share/init, the verification POST and its cookie, all
      // over https.
      {"protected share, CA folder",
       {"--code", "8k2p"},
       "1LockDemoK3vP",
       Trust::ca_folder,
       0,
       u8"文件总数: 5",
       4,
       ""},
      {"no trusted CA",
       {"-v"},
       "1PubDemoXq7Ra",
       Trust::none,
       1,
       u8"解析状态: 自定义错误代码,网络请求失败",
       0,
       u8" -> failure 711 (发送请求失败!): SSL certificate problem: unable to get local issuer "
       u8"certificate\n"},
  };
  for (const HttpsRun& run : runs) {
    SCOPED_TRACE(run.name);
    std::vector<std::string> args = run.options;
    args.push_back(sim.link(run.surl));
    // The empty one stands for unset: it must not hide the other.
    const std::vector<std::string> env = {
        "SSL_CERT_FILE=" + (run.trust == Trust::ca_file ? cas.file() : ""),
        "SSL_CERT_DIR=" + (run.trust == Trust::ca_folder ? cas.folder() : "")};
    const std::uint64_t requests_before = sim.sim().requests_seen();
    CliProcess cli(args, env);
    ASSERT_TRUE(cli.started());
    EXPECT_EQ(cli.finish(), run.status);
    EXPECT_NE(cli.out().find(run.summary), std::string::npos) << cli.out();
    EXPECT_EQ(count_of(cli.out(), u8"下载地址: "), run.links) << cli.out();
    EXPECT_EQ(count_of(cli.out(), u8"下载地址: " + origin + "/file/"), run.links) << cli.out();
    if (run.err.empty()) {
      EXPECT_EQ(cli.err(), "");
    } else {
      EXPECT_NE(cli.err().find(run.err), std::string::npos) << cli.err();
    }
    if (run.status != 0) {
      EXPECT_EQ(sim.sim().requests_seen(), requests_before);
    }
  }
}

}  // namespace
}  // namespace sharelink::testing
