// Redirects a hostile service answers with: loops, schemes other than http,
// and hops to another port, where the session's cookies and the form body of
// a POST must never arrive, and from where no cookie may come back into the
// session; and a cookie value that tries to add a form parameter.

#include <string>

#include <gtest/gtest.h>

#include "faults/faults_harness.h"

namespace sharelink::faults {
namespace {

Reply redirect(const std::string& status, const std::string& location) {
  Reply reply;
  reply.status = status;
  reply.headers = "Location: " + location +
                  "\r\nSet-Cookie: HOP=redirect-secret; Path=/\r\nContent-Type: text/html\r\n";
  reply.body = "<html><body>moved</body></html>";
  return reply;
}

// Every request to path is answered with a redirect to where(request).
template <typename Where>
void redirect_path(FakeService& service, const std::string& path, const std::string& status,
                   Where where) {
  service.tamper = [path, status, where](const Request& request, Reply& reply) {
    if (request.path() == path) reply = redirect(status, where(request));
  };
}

// The other port saw neither a cookie of the session nor a form body.
void nothing_leaked(const Scene& scene, const CliRun&) {
  for (const Request& request : scene.elsewhere.requests()) {
    EXPECT_FALSE(request.header("Cookie").has_value())
        << request.method << " " << request.target << "\n"
        << request.head;
    EXPECT_EQ(request.body, "") << request.method << " " << request.target;
    EXPECT_EQ(request.head.find("secret"), std::string::npos) << request.head;
  }
}

void page_with_a_folder(Scene& scene) {
  scene.service.list = "[" + entry_json("11", "a.txt") + "," + entry_json("20", "dir", true) + "]";
  const auto listing = [](const std::string&, int page) {
    return page == 1 ? R"({"errno":0,"list":)" + files_json(1, 21, "in", "/top/dir") + "}"
                     : std::string(R"({"errno":0,"list":[]})");
  };
  scene.service.folder = listing;
  scene.elsewhere.folder = listing;
}

// Every download request carried what the check wants of its Cookie line and
// of its body's extra value, and nothing planted; the other port saw nothing.
FaultCase::Check downloads_carry(std::string cookie, std::string extra) {
  return [cookie, extra](const Scene& s, const CliRun& run) {
    nothing_leaked(s, run);
    const std::vector<Request> downloads = s.service.requests_to("/api/sharedownload");
    EXPECT_FALSE(downloads.empty());
    for (const Request& request : downloads) {
      EXPECT_NE(request.header("Cookie").value_or("").find(cookie), std::string::npos)
          << request.head;
      EXPECT_EQ(form_value(request.body, "extra"), extra) << request.body;
      EXPECT_EQ((request.head + request.body).find("planted"), std::string::npos);
      EXPECT_EQ(form_value(request.body, "x"), "") << request.body;
    }
  };
}

// A folder whose pages hold 99 names longer than any file system takes and
// one file that is fine.
void folder_of_long_names(Scene& s) {
  page_with_a_folder(s);
  s.service.folder = [](const std::string&, int page) {
    if (page > 10) return std::string(R"({"errno":0,"list":[]})");
    std::string list =
        entry_json(std::to_string(5000 + page), "short" + std::to_string(page), false, "/top/dir");
    for (int i = 0; i < 99; ++i) {
      list += "," + entry_json(std::to_string(1000 + page * 100 + i),
                               std::string(8192, 'n') + std::to_string(i), false, "/top/dir");
    }
    return R"({"errno":0,"list":[)" + list + "]}";
  };
}

class HostileRedirect : public ::testing::TestWithParam<FaultCase> {};

TEST_P(HostileRedirect, IsNotFollowedBlindly) {
  run_fault_case(GetParam());
}

// Every download request answered by a redirect of this status to the other
// server, with the same target.
void download_redirected_elsewhere(Scene& s, const char* status) {
  const std::string elsewhere = s.elsewhere.origin();
  redirect_path(s.service, "/api/sharedownload", status,
                [elsewhere](const Request& request) { return elsewhere + request.target; });
}

const FaultCase kRedirectCases[] = {
    {"page_redirect_loop",
     [](Scene& s) {
       const std::string page = "/s/" + s.service.surl;
       redirect_path(s.service, page, "302 Found", [page](const Request&) { return page; });
     },
     {{1, u8"自定义错误代码,网络请求失败", 0}},
     0,
     20,
     [](const Scene& s, const CliRun&) {
       EXPECT_LE(s.service.requests_to("/s/" + s.service.surl).size(), 64u);
     }},
    {"page_redirect_to_file_scheme",
     [](Scene& s) {
       redirect_path(s.service, "/s/" + s.service.surl, "302 Found",
                     [](const Request&) { return std::string("file:///etc/passwd"); });
     },
     {{1, nullptr, 0}},
     0,
     20,
     [](const Scene&, const CliRun& run) { EXPECT_EQ(run.out.find("root:"), std::string::npos); }},
    {"page_redirect_to_ftp_scheme",
     [](Scene& s) {
       const std::string target =
           "ftp://127.0.0.1:" + std::to_string(s.elsewhere.port()) + "/s/" + s.service.surl;
       redirect_path(s.service, "/s/" + s.service.surl, "302 Found",
                     [target](const Request&) { return target; });
     },
     {{1, nullptr, 0}},
     0,
     20,
     [](const Scene& s, const CliRun&) { EXPECT_EQ(s.elsewhere.connections_accepted(), 0); }},
    // A GET may be followed to another port, without the session's cookies.
    {"list_redirect_to_another_port",
     [](Scene& s) {
       page_with_a_folder(s);
       const std::string elsewhere = s.elsewhere.origin();
       redirect_path(s.service, "/share/list", "302 Found",
                     [elsewhere](const Request& request) { return elsewhere + request.target; });
     },
     {{0, u8"成功", 2}, {1, nullptr, 0}},
     0,
     20,
     [](const Scene& s, const CliRun& run) {
       nothing_leaked(s, run);
       if (run.status == 0) {
         EXPECT_FALSE(s.elsewhere.requests().empty());
       }
     }},
    // The same server under another name is another host to cookies.
    {"list_redirect_to_another_host_name",
     [](Scene& s) {
       page_with_a_folder(s);
       const std::string other_name = "http://localhost:" + std::to_string(s.service.port());
       s.service.tamper = [other_name](const Request& request, Reply& reply) {
         const bool by_address = request.header("Host").value_or("").rfind("127.", 0) == 0;
         if (request.path() == "/share/list" && by_address) {
           reply = redirect("302 Found", other_name + request.target);
         }
       };
     },
     {{0, u8"成功", 2}, {1, nullptr, 0}},
     0,
     20,
     [](const Scene& s, const CliRun& run) {
       int by_name = 0;
       for (const Request& request : s.service.requests()) {
         if (request.header("Host").value_or("").rfind("localhost", 0) != 0) continue;
         ++by_name;
         EXPECT_FALSE(request.header("Cookie").has_value()) << request.head;
       }
       if (run.status == 0) {
         EXPECT_GT(by_name, 0);
       }
     }},
    // The form body names the share and the file: it stays on the service.
    {"download_307_to_another_port",
     [](Scene& s) { download_redirected_elsewhere(s, "307 Temporary Redirect"); },
     {{1, nullptr, 0}},
     0,
     20,
     nothing_leaked},
    {"download_308_to_another_port",
     [](Scene& s) { download_redirected_elsewhere(s, "308 Permanent Redirect"); },
     {{1, nullptr, 0}},
     0,
     20,
     nothing_leaked},
    {"download_302_to_another_port",
     [](Scene& s) { download_redirected_elsewhere(s, "302 Found"); },
     {{1, nullptr, 0}},
     0,
     20,
     nothing_leaked},
    // The page moves to another origin, which tries to plant the cookie that
    // becomes the sekey; the redirect's own cookie is the session's.
    {"page_moved_elsewhere_plants_a_cookie",
     [](Scene& s) {
       const std::string moved_to = s.elsewhere.link();
       redirect_path(s.service, "/s/" + s.service.surl, "302 Found",
                     [moved_to](const Request&) { return moved_to; });
       s.elsewhere.tamper = [](const Request&, Reply& reply) {
         reply.headers += "Set-Cookie: BDCLND=planted; path=/\r\n";
       };
     },
     {{0, u8"成功", 2}},
     0,
     20,
     downloads_carry("HOP=redirect-secret", "")},
    {"sekey_cannot_add_a_parameter",
     [](Scene& s) {
       s.service.tamper = [](const Request& request, Reply& reply) {
         if (request.path().rfind("/s/", 0) == 0) {
           reply.headers += "Set-Cookie: BDCLND=ab%2F&x=1=\"; path=/\r\n";
         }
       };
     },
     {{0, u8"成功", 2}},
     0,
     20,
     downloads_carry("BDCLND=ab%2F&x=1=\"", R"({"sekey":"ab/&x=1=""})")},
    // The code check's probe names another origin: the page is fetched there
    // without the session's cookies, the fresh BDCLND among them.
    {"protected_share_probe_moves_elsewhere",
     [](Scene& s) {
       s.service.unlock_at = s.elsewhere.origin();
       s.elsewhere.unlock_at = s.elsewhere.origin();
     },
     {{1, nullptr, 0}},
     0,
     20,
     [](const Scene& s, const CliRun& run) {
       nothing_leaked(s, run);
       EXPECT_EQ(s.service.requests_to("/share/verify").size(), 1u);
       EXPECT_FALSE(s.elsewhere.requests_to("/share/init").empty());
     }},
    {"pages_of_names_no_file_system_takes", folder_of_long_names, {{0, u8"成功", 11}}, 300, 30},
};

INSTANTIATE_TEST_SUITE_P(Faults, HostileRedirect, ::testing::ValuesIn(kRedirectCases), case_name);

}  // namespace
}  // namespace sharelink::faults
