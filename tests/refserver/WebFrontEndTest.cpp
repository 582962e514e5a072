// The web pages in-process on an ephemeral loopback port and a temporary database: requests
// from other sites are turned away. (An account made with the form logging in is the
// browser's test, the home page the program's.)
#include "WebFrontEnd.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <regex>

#include "ServerCommand.h"
#include "SqliteStore.h"
#include "WebPages.h"
#include "support/TestCertificates.h"
#include "support/TestSupport.h"

namespace kestrix::refserver {
namespace {

class WebFrontEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = dir_.File("server.sqlite");
        ASSERT_TRUE(store_.Open(db_)) << store_.Error();
        ASSERT_TRUE(store_.AddUser("alice", PasswordDigest("secret"), aliceId_));
        web_ = std::make_unique<WebFrontEnd>(WebOptions{"127.0.0.1:0", db_, "127.0.0.1:1201", nullptr});
        ASSERT_TRUE(web_->Start()) << web_->Error();
        self_ = "127.0.0.1:" + std::to_string(web_->Port());
    }

    void TearDown() override {
        if (web_) web_->Stop();
    }

    httplib::Client Client() {
        httplib::Client c("127.0.0.1", web_->Port());
        c.set_read_timeout(10, 0);
        return c;
    }

    // The token of the form as the registration page shows it.
    std::string Token() {
        auto res = Client().Get("/mobile/register");
        std::smatch m;
        if (!res || !std::regex_search(res->body, m, std::regex("name=\"token\" value=\"([0-9a-f]{32})\"")))
            return {};
        return m[1];
    }

    // Posts the form as a browser does from the registration page, headers overriding.
    httplib::Result Register(const std::string& login, const std::string& password, const std::string& again,
                             httplib::Headers headers = {}) {
        if (headers.empty()) headers = {{"Origin", "http://" + self_}};
        return Client().Post("/mobile/register", headers,
                             httplib::Params{{"token", Token()}, {"login", login}, {"password", password},
                                             {"again", again}});
    }

    size_t Users() {
        std::vector<UserSummary> users;
        EXPECT_TRUE(store_.ListUsers(users)) << store_.Error();
        return users.size();
    }

    test::TempDir dir_;
    std::string db_;
    SqliteStore store_;  // the test's own connection beside the pages' one
    uint32_t aliceId_ = 0;
    std::unique_ptr<WebFrontEnd> web_;
    std::string self_;
};

TEST_F(WebFrontEndTest, RequestsFromOtherSitesAreRefused) {
    const std::string form = "token=" + Token() + "&login=mallory&password=pw&again=pw";
    const char* const kForm = "application/x-www-form-urlencoded";
    struct Case {
        const char* what;
        const char* method;
        httplib::Headers headers;
        std::string body;
        const char* type;
        int status;
    };
    const Case cases[] = {
        {"rebound name, page", "GET", {{"Host", "evil.example:" + std::to_string(web_->Port())}}, "", "", 403},
        {"rebound name, form", "POST", {{"Host", "evil.example:" + std::to_string(web_->Port())}}, form, kForm, 403},
        {"another port", "GET", {{"Host", "127.0.0.1:1"}}, "", "", 403},
        {"cross-site form", "POST", {{"Origin", "http://evil.example"}}, form, kForm, 403},
        {"opaque origin", "POST", {{"Origin", "null"}}, form, kForm, 403},
        {"cross-site referer", "POST", {{"Referer", "http://evil.example/x"}}, form, kForm, 403},
        {"referer on a longer host", "POST", {{"Referer", "http://" + self_ + ".evil.example/"}}, form, kForm, 403},
        {"no token", "POST", {}, "login=mallory&password=pw&again=pw", kForm, 403},
        {"wrong token", "POST", {}, "token=" + std::string(32, '0') + "&login=mallory&password=pw&again=pw", kForm,
         403},
        {"not a web form", "POST", {}, "{\"login\":\"mallory\"}", "application/json", 415},
        {"too large", "POST", {}, form + "&pad=" + std::string(20000, 'a'), kForm, 413},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto res = std::string(c.method) == "GET" ? Client().Get("/", c.headers)
                                                  : Client().Post("/mobile/register", c.headers, c.body, c.type);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status);
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
    }
    EXPECT_EQ(Users(), 1u);
}

// With a certificate the pages are HTTPS only, and a form's origin is the https one.
TEST_F(WebFrontEndTest, WithACertificateThePagesAreServedOverHttps) {
    const test::TestCertificates certs = test::MakeTestCertificates(dir_.Path());
    ASSERT_TRUE(certs.made);
    std::string error;
    auto tls = platform::TlsContext::ForServer(certs.cert, certs.key, error);
    ASSERT_TRUE(tls) << error;
    web_->Stop();
    web_ = std::make_unique<WebFrontEnd>(WebOptions{"127.0.0.1:0", db_, "127.0.0.1:1201", tls});
    ASSERT_TRUE(web_->Start()) << web_->Error();
    httplib::SSLClient secure("localhost", web_->Port());
    secure.set_ca_cert_path(certs.ca.c_str());
    secure.enable_server_certificate_verification(true);
    auto page = secure.Get("/mobile/register");
    ASSERT_TRUE(page) << httplib::to_string(page.error());
    std::smatch token;
    ASSERT_TRUE(std::regex_search(page->body, token, std::regex("name=\"token\" value=\"([0-9a-f]{32})\"")));
    auto made = secure.Post("/mobile/register", {{"Origin", "https://localhost:" + std::to_string(web_->Port())}},
                            httplib::Params{{"token", token[1]}, {"login", "bob"}, {"password", "pw"}, {"again", "pw"}});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->status, 200);
    EXPECT_EQ(Users(), 2u);
    EXPECT_FALSE(Client().Get("/")) << "plain HTTP is closed at its first byte";
}

}  // namespace
}  // namespace kestrix::refserver
