// The simulator over https: the same service and the same connection
// behaviour as over http, with its own throwaway CA or a given certificate.

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "sim/test_certs.h"
#include "sim_test_support.h"

namespace sharelink::sim::testing {
namespace {

// A folder of this process's own with the CA in it, removed at the end.
class CaFiles {
 public:
  explicit CaFiles(const std::string& ca_pem)
      : folder_(::testing::TempDir() + "sim-tls-test-" + std::to_string(getpid())) {
    std::string error;
    EXPECT_TRUE(write_ca_folder(folder_, ca_pem, file_, error)) << error;
  }
  ~CaFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  Call trusting() const {
    Call call;
    call.ca_file = file_;
    return call;
  }

 private:
  std::string folder_;
  std::string file_;
};

TEST(Tls, KeptConnectionsFaultsAndAddressesAsOverHttp) {
  Simulator sim(demo_fixture(), TlsIdentity{});
  ASSERT_TRUE(sim.start());
  EXPECT_TRUE(sim.uses_tls());
  const std::string origin = sim.origin();
  ASSERT_EQ(origin, "https://127.0.0.1:" + std::to_string(sim.port()));
  ASSERT_FALSE(sim.ca_certificate_pem().empty());
  CaFiles cas(sim.ca_certificate_pem());

  // Without the CA the handshake fails: no request, no connection counted.
  EXPECT_EQ(fetch(sim.share_url("1PubDemoXq7Ra")).code, CURLE_PEER_FAILED_VERIFICATION);
  // Nor is the service there in the clear.
  EXPECT_NE(fetch("http://127.0.0.1:" + std::to_string(sim.port()) + "/s/1PubDemoXq7Ra").status,
            200);

  CURL* kept = curl_easy_init();
  Call call = cas.trusting();
  call.reuse = kept;
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(fetch(sim.share_url("1PubDemoXq7Ra"), call).status, 200) << i;
  // The addresses the service writes are https ones.
  const Exchange redirect = fetch(sim.share_url("1LockDemoK3vP"), call);
  EXPECT_EQ(redirect.status, 302);
  EXPECT_EQ(redirect.header("Location").rfind(origin + "/share/init?", 0), 0u)
      << redirect.header("Location");
  curl_easy_cleanup(kept);
  EXPECT_EQ(sim.connections_seen(), 1u);
  EXPECT_EQ(sim.requests_seen(), 5u);

  std::string error;
  const auto fault = parse_fault("page:close", error);
  ASSERT_TRUE(fault) << error;
  sim.add_fault(*fault);
  const Exchange dropped = fetch(sim.share_url("1PubDemoXq7Ra"), cas.trusting());
  EXPECT_NE(dropped.code, CURLE_OK);
  EXPECT_EQ(dropped.status, 0);
}

TEST(Tls, GivenCertificateIsServedAndAnUnusableOneFailsTheStart) {
  TlsIdentity ca, leaf, expired;
  std::string error;
  ASSERT_TRUE(make_test_ca(ca, error) && make_test_leaf(ca, LeafKind::valid, leaf, error) &&
              make_test_leaf(ca, LeafKind::expired, expired, error))
      << error;
  const struct {
    const char* name;
    TlsIdentity identity;
    const char* error;  // "" when it serves
  } cases[] = {
      {"own certificate", leaf, ""},
      {"chain after the certificate",
       {leaf.certificate_pem + ca.certificate_pem, leaf.private_key_pem},
       ""},
      {"key of another certificate",
       {leaf.certificate_pem, expired.private_key_pem},
       "private key"},
      {"no certificate", {"not PEM", leaf.private_key_pem}, "certificate"},
      {"no key", {leaf.certificate_pem, ""}, "private key"},
  };
  CaFiles cas(ca.certificate_pem);
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Simulator sim(demo_fixture(), row.identity);
    std::string start_error;
    const bool started = sim.start("127.0.0.1", 0, start_error);
    EXPECT_EQ(sim.ca_certificate_pem(), "");
    if (*row.error == '\0') {
      ASSERT_TRUE(started) << start_error;
      EXPECT_EQ(fetch(sim.share_url("1PubDemoXq7Ra"), cas.trusting()).status, 200);
    } else {
      EXPECT_FALSE(started);
      EXPECT_NE(start_error.find(row.error), std::string::npos) << start_error;
    }
  }
}

}  // namespace
}  // namespace sharelink::sim::testing
