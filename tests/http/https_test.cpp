// https through the HTTP layer: the server's certificate is checked against
// the trusted CAs and its names against the address on every call; a refused
// certificate is failure 711 with libcurl's reason in the trace and no request
// sent, over TLS or in the clear; and a redirect from https to plain http
// takes no cookies along, not even to the same host and port.

#include <atomic>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "sim/test_certs.h"
#include "tls_server.h"
#include "trace_capture.h"

namespace sharelink {
namespace {

using test::CaFolder;
using test::DualSchemeServer;
using test::response_text;

// Made once per process: key generation is the slow part.
struct Certificates {
  sim::TlsIdentity ca;
  sim::TlsIdentity valid;
  sim::TlsIdentity expired;
  sim::TlsIdentity wrong_host;
  sim::TlsIdentity foreign;  // valid, but signed by another CA
  std::string error;
};

const Certificates& certificates() {
  static const Certificates made = [] {
    Certificates c;
    sim::TlsIdentity other_ca;
    static_cast<void>(sim::make_test_ca(c.ca, c.error) && sim::make_test_ca(other_ca, c.error) &&
                      sim::make_test_leaf(c.ca, sim::LeafKind::valid, c.valid, c.error) &&
                      sim::make_test_leaf(c.ca, sim::LeafKind::expired, c.expired, c.error) &&
                      sim::make_test_leaf(c.ca, sim::LeafKind::wrong_host, c.wrong_host, c.error) &&
                      sim::make_test_leaf(other_ca, sim::LeafKind::valid, c.foreign, c.error));
    return c;
  }();
  return made;
}

// The CA locations for one test; what was in force comes back after it.
class TrustedCas {
 public:
  explicit TrustedCas(HttpCaLocations locations) : saved_(http_ca_locations()) {
    set_http_ca_locations(std::move(locations));
  }
  ~TrustedCas() { set_http_ca_locations(saved_); }

 private:
  HttpCaLocations saved_;
};

using test::TraceCapture;

std::string lowered(std::string text) {
  for (char& c : text)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

enum class Trust { system_only, ca_file, ca_folder };

struct CertificateCase {
  const char* name;
  sim::TlsIdentity Certificates::*served;
  Trust trust;
  const char* host;  // of the address
  int failure;
  const char* reason;  // what the trace record's reason holds ("" on success)
};

void PrintTo(const CertificateCase& row, std::ostream* out) {
  *out << row.name;
}

class CertificateCheck : public ::testing::TestWithParam<CertificateCase> {};

TEST_P(CertificateCheck, RefusedCertificateIsASendFailureAndNothingGoesOut) {
  const CertificateCase& row = GetParam();
  const Certificates& made = certificates();
  ASSERT_EQ(made.error, "");
  CaFolder cas(made.ca.certificate_pem);
  ASSERT_TRUE(cas.ok()) << cas.error();
  DualSchemeServer server(made.*row.served, [](const std::string&, bool tls) {
    return response_text("200 OK", "", tls ? "secure" : "plain");
  });
  ASSERT_TRUE(server.ready());
  TrustedCas trusted({row.trust == Trust::ca_file ? cas.file() : "",
                      row.trust == Trust::ca_folder ? cas.folder() : ""});
  TraceCapture trace;

  HttpRequest request;
  request.url = server.url("https", "/page", row.host);
  request.cookies = "SID=secret";
  request.timeout_seconds = 5;
  const HttpResponse response = http_request(request);

  EXPECT_EQ(response.failure, row.failure);
  const std::vector<HttpTraceRecord> records = trace.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].failure, row.failure);
  if (row.failure == 0) {
    EXPECT_EQ(response.text, "secure");
    EXPECT_EQ(records[0].reason, "");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(server.requests()[0].tls);
  } else {
    EXPECT_EQ(response.text, "");
    EXPECT_EQ(records[0].failure_text, "711 发送请求失败!");
    EXPECT_NE(records[0].reason.find(row.reason), std::string::npos) << records[0].reason;
    EXPECT_EQ(response.reason, records[0].reason);
    // No retry makes the certificate trusted.
    EXPECT_EQ(response.cause, HttpCause::certificate);
    EXPECT_FALSE(response.transient);
    // No request at all: none over the refused connection, and no second try
    // of the address in the clear.
    EXPECT_TRUE(server.requests().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Https, CertificateCheck,
    ::testing::Values(
        CertificateCase{"TrustedThroughTheCaFile", &Certificates::valid, Trust::ca_file,
                        "127.0.0.1", 0, ""},
        CertificateCase{"TrustedThroughTheHashedFolderByName", &Certificates::valid,
                        Trust::ca_folder, "localhost", 0, ""},
        CertificateCase{"UntrustedCa", &Certificates::valid, Trust::system_only, "127.0.0.1", 711,
                        "SSL certificate problem: unable to get local issuer certificate"},
        CertificateCase{"SignedByAnotherCaOfTheSameName", &Certificates::foreign, Trust::ca_file,
                        "127.0.0.1", 711,
                        "SSL certificate problem: unable to get local issuer certificate"},
        CertificateCase{"Expired", &Certificates::expired, Trust::ca_file, "127.0.0.1", 711,
                        "SSL certificate problem: certificate has expired"},
        CertificateCase{"WrongHostName", &Certificates::wrong_host, Trust::ca_folder, "127.0.0.1",
                        711,
                        "no alternative certificate subject name matches target host name "
                        "'127.0.0.1'"}),
    [](const ::testing::TestParamInfo<CertificateCase>& info) {
      return std::string(info.param.name);
    });

TEST(Https, RedirectToPlainHttpOnTheSameHostAndPortTakesNoCookies) {
  const Certificates& made = certificates();
  ASSERT_EQ(made.error, "");
  CaFolder cas(made.ca.certificate_pem);
  ASSERT_TRUE(cas.ok()) << cas.error();
  std::atomic<int> port{0};
  DualSchemeServer server(made.valid, [&port](const std::string&, bool tls) {
    if (!tls) return response_text("200 OK", "Set-Cookie: BDCLND=planted\r\n", "plain");
    return response_text("302 Found",
                         "Set-Cookie: SET=fromtls\r\nLocation: http://127.0.0.1:" +
                             std::to_string(port.load()) + "/plain\r\n",
                         "");
  });
  port = server.port();
  TrustedCas trusted({cas.file(), ""});

  HttpRequest request;
  request.url = server.url("https", "/start");
  request.cookies = "SID=secret";
  request.timeout_seconds = 5;
  const HttpResponse response = http_request(request);

  EXPECT_EQ(response.failure, 0);
  EXPECT_EQ(response.text, "plain");
  // Anyone on the way can answer in the clear: what the plain answer set is
  // not the secure origin's, what the secure origin set on its redirect is.
  EXPECT_EQ(response.cookies, "SET=fromtls; SID=secret");
  const std::vector<DualSchemeServer::Seen> seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0].tls);
  EXPECT_NE(seen[0].request.find("\r\nCookie: SID=secret\r\n"), std::string::npos)
      << seen[0].request;
  EXPECT_FALSE(seen[1].tls);
  EXPECT_EQ(seen[1].request.find("GET /plain "), 0u) << seen[1].request;
  for (const char* secret : {"\r\ncookie:", "secret", "fromtls"}) {
    EXPECT_EQ(lowered(seen[1].request).find(secret), std::string::npos) << seen[1].request;
  }
}

}  // namespace
}  // namespace sharelink
