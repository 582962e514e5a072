// The web pages in-process on an ephemeral loopback port and a temporary database: requests
// from other sites are turned away. Then the real kestrix-server as a process: who may see
// what, sign-in and its slow-down, hostile account names, and points sent over the
// tracking protocol read back through the API in every format.
#include "WebFrontEnd.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <map>
#include <memory>
#include <regex>

#include "ServerCommand.h"
#include "SqliteStore.h"
#include "TestClient.h"
#include "WebPages.h"
#include "platform/Time.h"
#include "support/Process.h"
#include "support/TestCertificates.h"
#include "support/TestSupport.h"

namespace kestrix::refserver {
namespace {

// A browser of the pages: keeps the cookies the server sets and sends them back.
class Browser {
public:
    explicit Browser(uint16_t port) : port_(port) {}

    httplib::Result Get(const std::string& path, httplib::Headers headers = {}) {
        auto res = Client().Get(path, WithCookies(std::move(headers)));
        Keep(res);
        return res;
    }
    httplib::Result Post(const std::string& path, const httplib::Params& form, httplib::Headers headers = {}) {
        if (headers.empty()) headers = {{"Origin", "http://127.0.0.1:" + std::to_string(port_)}};
        auto res = Client().Post(path, WithCookies(std::move(headers)), form);
        Keep(res);
        return res;
    }
    // The token of the forms of the page at path.
    std::string Token(const std::string& path = "/login") {
        auto res = Get(path);
        std::smatch m;
        if (!res || !std::regex_search(res->body, m, std::regex("name=\"token\" value=\"([0-9a-f]{64})\"")))
            return {};
        return m[1];
    }
    // Signs in through the form; the status of the answer.
    int SignIn(const std::string& login, const std::string& password) {
        auto res = Post("/login", {{"token", Token()}, {"login", login}, {"password", password}});
        return res ? res->status : 0;
    }
    std::map<std::string, std::string>& Cookies() { return cookies_; }

private:
    httplib::Client Client() {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(10, 0);
        return c;
    }
    httplib::Headers WithCookies(httplib::Headers headers) {
        std::string jar;
        for (const auto& [name, value] : cookies_) jar += (jar.empty() ? "" : "; ") + name + "=" + value;
        if (!jar.empty()) headers.emplace("Cookie", jar);
        return headers;
    }
    void Keep(const httplib::Result& res) {
        if (!res) return;
        for (size_t i = 0, n = res->get_header_value_count("Set-Cookie"); i < n; ++i) {
            const std::string c = res->get_header_value("Set-Cookie", i);
            const size_t eq = c.find('='), end = c.find(';');
            const std::string value = c.substr(eq + 1, end - eq - 1);
            if (value.empty())
                cookies_.erase(c.substr(0, eq));
            else
                cookies_[c.substr(0, eq)] = value;
        }
    }
    uint16_t port_;
    std::map<std::string, std::string> cookies_;
};

class WebFrontEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = dir_.File("server.sqlite");
        ASSERT_TRUE(store_.Open(db_)) << store_.Error();
        ASSERT_TRUE(store_.AddUser("alice", PasswordDigest("secret"), aliceId_));
        web_ = std::make_unique<WebFrontEnd>(WebOptions{"127.0.0.1:0", db_, "127.0.0.1:1201", nullptr});
        ASSERT_TRUE(web_->Start()) << web_->Error();
        self_ = "127.0.0.1:" + std::to_string(web_->Port());
        browser_ = std::make_unique<Browser>(web_->Port());
    }

    void TearDown() override {
        if (web_) web_->Stop();
    }

    httplib::Client Client() {
        httplib::Client c("127.0.0.1", web_->Port());
        c.set_read_timeout(10, 0);
        return c;
    }

    // The token of the form as the registration page shows it to browser_.
    std::string Token() { return browser_->Token("/mobile/register"); }

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
    std::unique_ptr<Browser> browser_;
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
        {"wrong token", "POST", {}, "token=" + std::string(64, '0') + "&login=mallory&password=pw&again=pw", kForm,
         403},
        {"not a web form", "POST", {}, "{\"login\":\"mallory\"}", "application/json", 415},
        {"too large", "POST", {}, form + "&pad=" + std::string(20000, 'a'), kForm, 413},
    };
    const std::string cookie = "kestrix_visit=" + browser_->Cookies()["kestrix_visit"];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        httplib::Headers headers = c.headers;
        headers.emplace("Cookie", cookie);
        auto res = std::string(c.method) == "GET" ? Client().Get("/", headers)
                                                  : Client().Post("/mobile/register", headers, c.body, c.type);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status);
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
    }
    EXPECT_EQ(Users(), 1u);
}

// With registration closed, visitors are told so and the form is gone.
TEST_F(WebFrontEndTest, ClosedRegistration) {
    web_->Stop();
    WebOptions options("127.0.0.1:0", db_, "127.0.0.1:1201", nullptr);
    options.registration = false;
    web_ = std::make_unique<WebFrontEnd>(options);
    ASSERT_TRUE(web_->Start()) << web_->Error();
    Browser visitor(web_->Port());
    auto home = visitor.Get("/");
    ASSERT_TRUE(home);
    EXPECT_NE(home->body.find("This server makes no new accounts."), std::string::npos);
    EXPECT_EQ(home->body.find("/mobile/register"), std::string::npos);
    EXPECT_EQ(visitor.Get("/mobile/register")->status, 404);
    const std::string token = visitor.Token();
    auto made = visitor.Post("/mobile/register", {{"token", token}, {"login", "eve"}, {"password", "pw"}, {"again", "pw"}});
    EXPECT_EQ(made->status, 403);
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
    ASSERT_TRUE(std::regex_search(page->body, token, std::regex("name=\"token\" value=\"([0-9a-f]{64})\"")));
    const std::string cookie = page->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("; HttpOnly; SameSite=Strict; Secure"), std::string::npos) << cookie;
    auto made = secure.Post("/mobile/register",
                            {{"Origin", "https://localhost:" + std::to_string(web_->Port())},
                             {"Cookie", cookie.substr(0, cookie.find(';'))}},
                            httplib::Params{{"token", token[1]}, {"login", "bob"}, {"password", "pw"}, {"again", "pw"}});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->status, 200);
    EXPECT_EQ(Users(), 2u);
    EXPECT_FALSE(Client().Get("/")) << "plain HTTP is closed at its first byte";
}


// kestrix-server as a process on a database with a user, another user and an administrator.
// (The browser scenario signs in with an account whose name is markup.)
class ServerPages : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = dir_.File("server.sqlite");
        SqliteStore store;
        ASSERT_TRUE(store.Open(db_));
        const std::pair<const char*, bool> accounts[] = {{"alice", false}, {"bob", false}, {"root", true}};
        for (const auto& [name, admin] : accounts) {
            uint32_t id = 0;
            ASSERT_TRUE(store.AddUser(name, PasswordDigest(std::string(name) + "-pw"), id, admin)) << store.Error();
        }
        ASSERT_TRUE(server_.Start({test::ServerBinary(), "--listen", "127.0.0.1:0", "--db", db_, "--web", "127.0.0.1:0",
                                   "--tiles", "off"},
                                  dir_.File("server.out"), dir_.File("server.err")));
        const auto port = server_.WaitForLine("listening on 127.0.0.1:", std::chrono::seconds(20));
        const auto web = server_.WaitForLine("web pages on http://127.0.0.1:", std::chrono::seconds(20));
        ASSERT_TRUE(port && web) << server_.Out() << server_.Err();
        trackingPort_ = static_cast<uint16_t>(std::stoi(*port));
        webPort_ = static_cast<uint16_t>(std::stoi(*web));
    }

    Browser SignedIn(const std::string& login) {
        Browser b(webPort_);
        EXPECT_EQ(b.SignIn(login, login + "-pw"), 303) << login;
        return b;
    }

    test::TempDir dir_;
    std::string db_;
    test::Process server_;
    uint16_t trackingPort_ = 0;
    uint16_t webPort_ = 0;
};

TEST_F(ServerPages, WhoMaySeeWhat) {
    std::map<std::string, Browser> as;
    as.emplace("visitor", Browser(webPort_));
    for (const char* who : {"alice", "bob", "root"}) as.emplace(who, SignedIn(who));
    struct Rule {
        std::string path;
        int visitor, user, other, admin;  // alice's account, seen by a visitor, alice, bob, root
    };
    const Rule rules[] = {
        {"/", 200, 303, 303, 303},
        {"/login", 200, 303, 303, 303},
        {"/mobile/register", 200, 200, 200, 200},
        {"/tracks", 303, 200, 200, 200},
        {"/tracks?user=alice", 303, 200, 403, 200},
        {"/tracks?user=nobody", 303, 403, 403, 404},
        {"/api/v1/points?user=alice", 401, 200, 403, 200},
        {"/api/v1/points?user=nobody", 401, 403, 403, 404},
        {"/api/v1/points?user=alice&kind=some", 401, 400, 403, 400},
        {"/api/v1/days?user=alice", 401, 200, 403, 200},
        {"/api/v1/users", 401, 403, 403, 200},
        {"/static/tracks.js", 200, 200, 200, 200},
        {"/static/../server.sqlite", 404, 404, 404, 404},
    };
    for (const Rule& r : rules) {
        const std::pair<const char*, int> expected[] = {
            {"visitor", r.visitor}, {"alice", r.user}, {"bob", r.other}, {"root", r.admin}};
        for (const auto& [who, status] : expected) {
            auto res = as.at(who).Get(r.path);
            ASSERT_TRUE(res) << r.path;
            EXPECT_EQ(res->status, status) << who << " " << r.path;
        }
    }
    // HTTP Basic instead of the cookie; a wrong password reads as a missing one.
    httplib::Client api("127.0.0.1", webPort_);
    api.set_basic_auth("alice", "alice-pw");
    EXPECT_EQ(api.Get("/api/v1/points?user=alice")->status, 200);
    api.set_basic_auth("alice", "wrong");
    auto refused = api.Get("/api/v1/points?user=alice");
    EXPECT_EQ(refused->status, 401);
    EXPECT_EQ(refused->body, "{\"error\":\"wrong login or password\"}\n");
    EXPECT_EQ(refused->get_header_value("WWW-Authenticate"), "Basic realm=\"kestrix-server\", charset=\"UTF-8\"");
    // A visitor's home page shows the forms and never the accounts.
    const std::string home = as.at("visitor").Get("/")->body;
    EXPECT_NE(home.find("action=\"/login\""), std::string::npos);
    EXPECT_NE(home.find("href=\"/mobile/register\""), std::string::npos);
    EXPECT_EQ(home.find("alice"), std::string::npos);
}

// Forms need their browser's token; sign-in failures read the same and slow down; the
// session cookie is the browser's only and ends at sign-out.
TEST_F(ServerPages, SignInOutAndItsSafeguards) {
    Browser visitor(webPort_), other(webPort_);
    const std::string token = visitor.Token();
    // The cross-site and token-less cases are the registration form's test; a token is also
    // bound to the browser that was given it.
    auto foreign = visitor.Post("/login", {{"token", other.Token()}, {"login", "alice"}, {"password", "alice-pw"}});
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->status, 403);
    EXPECT_EQ(foreign->get_header_value("Set-Cookie").find("kestrix_session"), std::string::npos);
    // A wrong password and an unknown login: the same answer.
    auto wrong = visitor.Post("/login", {{"token", token}, {"login", "alice"}, {"password", "nope"}});
    auto unknown = visitor.Post("/login", {{"token", token}, {"login", "zoe"}, {"password", "nope"}});
    ASSERT_TRUE(wrong && unknown);
    EXPECT_EQ(wrong->status, 401);
    EXPECT_EQ(unknown->status, 401);
    EXPECT_NE(wrong->body.find("Wrong login or password."), std::string::npos);
    EXPECT_EQ(std::regex_replace(wrong->body, std::regex("value=\"alice\""), "value=\"zoe\""), unknown->body);

    auto signedIn = visitor.Post("/login", {{"token", token}, {"login", "alice"}, {"password", "alice-pw"}});
    ASSERT_TRUE(signedIn);
    EXPECT_EQ(signedIn->status, 303);
    EXPECT_EQ(signedIn->get_header_value("Location"), "/tracks");
    EXPECT_TRUE(std::regex_match(signedIn->get_header_value("Set-Cookie"),
                                 std::regex("kestrix_session=[0-9a-f]{64}; Path=/; HttpOnly; SameSite=Strict; "
                                            "Max-Age=2592000")));
    auto page = visitor.Get("/tracks");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    std::smatch form;
    ASSERT_TRUE(std::regex_search(page->body, form, std::regex("name=\"token\" value=\"([0-9a-f]{64})\"")));
    EXPECT_EQ(visitor.Post("/logout", {})->status, 403) << "a sign-out form without the token";
    EXPECT_EQ(visitor.Get("/tracks")->status, 200);
    auto out = visitor.Post("/logout", {{"token", form[1]}});
    EXPECT_EQ(out->status, 303);
    EXPECT_EQ(visitor.Get("/tracks")->status, 303);

    // Three more failures make five within the minute: then even the right password waits.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(visitor.Post("/login", {{"token", token}, {"login", "bob"}, {"password", "x"}})->status, 401);
    auto slowed = visitor.Post("/login", {{"token", token}, {"login", "bob"}, {"password", "bob-pw"}});
    EXPECT_EQ(slowed->status, 429);
    EXPECT_NE(slowed->body.find("Too many failed sign-ins from this address."), std::string::npos);
    httplib::Client api("127.0.0.1", webPort_);
    api.set_basic_auth("bob", "bob-pw");
    EXPECT_EQ(api.Get("/api/v1/points")->status, 429);
}

// Points sent over the tracking protocol come back through the API in every format, oldest
// first, with their values exactly; the GPX is valid GPX 1.1. (A track message carries
// coordinates and altitude in 32-bit steps and no speed; a live position doubles.)
TEST_F(ServerPages, PointsSentByATrackerComeBackInEveryFormat) {
    test::TestClient tracker;
    ASSERT_TRUE(tracker.Connect(trackingPort_));
    LoginMessage answer;
    ASSERT_TRUE(tracker.Login("alice", PasswordDigest("alice-pw"), 1, answer));
    ASSERT_EQ(answer.UserId(), 1u);
    TrackMessage track(1);
    track.Add(TrackPoint::Make(45.0, -22.5, 500.0f, 0.0f, test::FileTimeOf(2026, 12, 6, 9, 0, 0)));
    track.Add(TrackPoint::Make(45.5, -22.25, 512.0f, 0.0f, test::FileTimeOf(2026, 12, 6, 9, 0, 30, 250)));
    ASSERT_TRUE(tracker.Send(track));
    PositionMessage live(*TrackPoint::Make(-33.75, 151.125, 12.0f, 4.5f, 0));
    ASSERT_TRUE(tracker.Send(live));
    ASSERT_TRUE(tracker.Login("alice", PasswordDigest("alice-pw"), 1, answer));  // answered once all is stored

    httplib::Client api("127.0.0.1", webPort_);
    api.set_basic_auth("alice", "alice-pw");
    auto get = [&](const std::string& query) {
        auto res = api.Get("/api/v1/points?" + query);
        EXPECT_TRUE(res && res->status == 200) << query << (res ? res->body : httplib::to_string(res.error())) << server_.Err();
        return res ? res->body : std::string();
    };
    // Receive times are the server's clock: one for the track message, one for the position.
    const std::string lines = get("");
    std::vector<std::string> received;
    const std::regex stamp("\"received\":\"([0-9T:.-]{23}Z)\"");
    for (auto it = std::sregex_iterator(lines.begin(), lines.end(), stamp); it != std::sregex_iterator(); ++it)
        received.push_back((*it)[1]);
    ASSERT_EQ(received.size(), 3u) << lines;
    const std::string now = received[0], later = received[2];
    EXPECT_EQ(lines,
              "{\"kind\":\"track\",\"received\":\"" + now + "\",\"time\":\"2026-12-06T09:00:00.000Z\",\"lat\":44.99999998952262,"
              "\"lon\":-22.500000047148205,\"alt\":499.99774,\"speed\":0}\n"
              "{\"kind\":\"track\",\"received\":\"" + now + "\",\"time\":\"2026-12-06T09:00:30.250Z\",\"lat\":45.499999959836714,"
              "\"lon\":-22.25000006199116,\"alt\":511.99597,\"speed\":0}\n"
              "{\"kind\":\"live\",\"received\":\"" + later + "\",\"time\":null,\"lat\":-33.75,\"lon\":151.125,"
              "\"alt\":12,\"speed\":4.5}\n");
    EXPECT_EQ(get("format=csv&from=2026-12-06T09:00:30Z"),
              "kind,received,time,lat,lon,alt,speed\n"
              "track," + now + ",2026-12-06T09:00:30.250Z,45.499999959836714,-22.25000006199116,511.99597,0\n"
              "live," + later + ",,-33.75,151.125,12,4.5\n");
    EXPECT_EQ(get("format=csv&to=2026-12-06T09:00:30.249Z&kind=track"),
              "kind,received,time,lat,lon,alt,speed\ntrack," + now + ",2026-12-06T09:00:00.000Z,44.99999998952262,-22.500000047148205,499.99774,0\n");
    const std::string gpx = get("user=alice&format=gpx");
    EXPECT_EQ(gpx,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<gpx version=\"1.1\" creator=\"kestrix-server\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
              "  <trk>\n    <name>alice track</name>\n    <trkseg>\n"
              "      <trkpt lat=\"44.99999998952262\" lon=\"-22.500000047148205\"><ele>499.99774</ele><time>2026-12-06T09:00:00.000Z</time></trkpt>\n"
              "      <trkpt lat=\"45.499999959836714\" lon=\"-22.25000006199116\"><ele>511.99597</ele><time>2026-12-06T09:00:30.250Z</time></trkpt>\n"
              "    </trkseg>\n  </trk>\n"
              "  <trk>\n    <name>alice live</name>\n    <trkseg>\n"
              "      <trkpt lat=\"-33.75\" lon=\"151.125\"><ele>12</ele><time>" + later + "</time></trkpt>\n"
              "    </trkseg>\n  </trk>\n"
              "</gpx>\n");
    const std::string xsd = std::string(KESTRIX_TEST_DATA_DIR) + "/gpx11.xsd";
    test::WriteFile(dir_.File("points.gpx"), gpx);
    const test::Finished lint =
        test::RunToEnd({"xmllint", "--noout", "--nonet", "--schema", xsd, dir_.File("points.gpx")}, dir_.Path());
    EXPECT_EQ(lint.exitCode, 0) << lint.out << lint.err;
    const std::string geojson = get("format=geojson&kind=track&simplify=2");
    EXPECT_NE(geojson.find("\"features\":[{\"type\":\"Feature\",\"properties\":{\"kind\":\"track\","
                           "\"times\":[\"2026-12-06T09:00:00.000Z\",\"2026-12-06T09:00:30.250Z\"],"
                           "\"speeds\":[0,0]},\"geometry\":{\"type\":\"LineString\",\"coordinates\":"
                           "[[-22.500000,45.000000,499.99774],[-22.250000,45.500000,511.99597]]}}]}"),
              std::string::npos)
        << geojson;
    // The day list and an administrator's list of accounts, from the same points.
    EXPECT_EQ(get("format=csv&kind=track&from=2026-12-06T09:00:00.001Z&to=2026-12-06"),
              "kind,received,time,lat,lon,alt,speed\ntrack," + now +
                  ",2026-12-06T09:00:30.250Z,45.499999959836714,-22.25000006199116,511.99597,0\n");
    auto days = api.Get("/api/v1/days");
    ASSERT_TRUE(days);
    EXPECT_EQ(days->body, "{\"days\":[{\"day\":\"" + later.substr(0, 10) +
                              "\",\"distance_m\":0.0,\"points\":1},{\"day\":\"2026-12-06\",\"distance_m\":58932.2,"
                              "\"points\":2}],\"user\":\"alice\"}\n");
    httplib::Client admin("127.0.0.1", webPort_);
    admin.set_basic_auth("root", "root-pw");
    auto users = admin.Get("/api/v1/users");
    ASSERT_TRUE(users);
    EXPECT_NE(users->body.find("{\"admin\":false,\"id\":1,\"last\":\"" + later + "\",\"live\":1,\"name\":\"alice\","
                               "\"position\":{\"alt\":12.0,\"kind\":\"live\",\"lat\":-33.75,\"lon\":151.125,"
                               "\"speed\":4.5,\"time\":\"" + later + "\"},\"track\":2}"),
              std::string::npos)
        << users->body;
    const std::pair<const char*, const char*> refused[] = {
        {"format=kml", "{\"error\":\"format is json, geojson, gpx or csv\"}\n"},
        {"from=yesterday", "{\"error\":\"from is not a time (YYYY-MM-DDTHH:MM:SS.mmmZ, YYYY-MM-DDTHH:MM:SSZ or "
                           "YYYY-MM-DD)\"}\n"},
        {"from=2026-12-07&to=2026-12-06", "{\"error\":\"to is before from\"}\n"},
        {"simplify=1&format=geojson", "{\"error\":\"simplify is a number of vertices from 2 to 1000000\"}\n"},
        {"simplify=10", "{\"error\":\"simplify goes with format=geojson\"}\n"},
    };
    for (const auto& [query, body] : refused) {
        auto res = api.Get(std::string("/api/v1/points?") + query);
        ASSERT_TRUE(res);
        EXPECT_EQ(std::tie(res->status, res->body), std::make_tuple(400, std::string(body))) << query;
    }
}

}  // namespace
}  // namespace kestrix::refserver
