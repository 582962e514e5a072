#include "shell/HttpServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "core/ControllerServices.h"
#include "platform/Dialog.h"
#include "platform/Power.h"
#include "platform/Registry.h"
#include "support/TestSupport.h"
#include "today/PluginEntry.h"

// The page, its assets and the routes it drives (commands, the bubble, message boxes,
// dialogs, the item row, the satellite view) are tried end to end by the browser tests;
// these cases are what the page never shows: the refusals (another host, a missing token,
// malformed or oversized bodies, input a control cannot take), the listen address, and
// the event streams' limit.
namespace kestrix::shell {

namespace {

using platform::Notification;

const char* const kClsid = "{881AB316-7C25-4963-B383-FF47D02D035E}";

// A UI thread with its loop, the shell host, a sink window that records its commands, and
// the server on an ephemeral loopback port.
class ShellUnderTest {
public:
    ShellUnderTest() {
        std::promise<void> ready;
        ui_ = std::thread([this, &ready] {
            platform::MessageLoop loop;
            ShellHostImpl host(loop);
            loop.RegisterClass("TestSink", [this](platform::WindowHandle, uint32_t msg, platform::WParam w,
                                                  platform::LParam) -> platform::LResult {
                if (msg == platform::WM_COMMAND) {
                    std::lock_guard lock(mutex_);
                    commands_.push_back(platform::LoWord(w));
                }
                return 0;
            });
            sink_ = loop.CreateWindow("TestSink", "sink");
            loop_ = &loop;
            host_ = &host;
            ready.set_value();
            loop.Run();
            loop.DestroyWindow(sink_);
        });
        ready.get_future().wait();
        server_ = std::make_unique<HttpServer>(*loop_, *host_, MakeRandomToken());
        std::string error;
        if (!server_->Start("127.0.0.1", 0, error)) ADD_FAILURE() << error;
    }

    ~ShellUnderTest() {
        server_->Stop();
        loop_->PostTask([this] { loop_->Quit(0); });
        ui_.join();
    }

    void ShowBubble(const std::string& html) {
        loop_->SendTask([&] {
            Notification n;
            n.id = 137;
            n.clsid = kClsid;
            n.iconId = 110;
            n.title = "Kestrix";
            n.html = html;
            n.sink = sink_;
            host_->NotificationAdd(n);
        });
    }
    std::vector<uint16_t> Commands() {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    httplib::Client Client() const {
        httplib::Client c("127.0.0.1", server_->Port());
        c.set_read_timeout(30, 0);
        return c;
    }
    httplib::Headers WithToken() const { return {{"X-Kestrix-Token", server_->Token()}}; }
    // A POST with the page's token: its status and body (-1 when nothing answered).
    std::pair<int, std::string> Post(const std::string& path, const std::string& body) {
        auto res = Client().Post(path, WithToken(), body, "application/json");
        return res ? std::make_pair(res->status, res->body) : std::make_pair(-1, std::string());
    }

    HttpServer& Server() { return *server_; }
    ShellHostImpl& Host() { return *host_; }
    platform::MessageLoop& Loop() { return *loop_; }

private:
    std::thread ui_;
    platform::MessageLoop* loop_ = nullptr;
    ShellHostImpl* host_ = nullptr;
    platform::WindowHandle sink_ = platform::kNoWindow;
    std::unique_ptr<HttpServer> server_;
    std::mutex mutex_;
    std::vector<uint16_t> commands_;
};

// Refused addresses leave the output alone.
TEST(HttpServerTest, ListenAddressParsing) {
    const std::pair<const char*, const char*> cases[] = {  // text, what it gives ("" refused)
        {"127.0.0.1:8787", "127.0.0.1:8787"}, {"localhost:0", "127.0.0.1:0"}, {"0.0.0.0:80", "0.0.0.0:80"},
        {"127.0.0.1:65535", "127.0.0.1:65535"}, {"127.0.0.1:65536", ""}, {"127.0.0.1:80x", ""},
        {"127.0.0.1", ""}, {":8787", ""}, {"example.org:80", ""},
    };
    for (const auto& [text, gives] : cases) {
        std::string address = "unchanged", error;
        uint16_t port = 1;
        EXPECT_EQ(ParseListenAddress(text, address, port, error), *gives != 0) << text;
        EXPECT_EQ(*gives ? address + ":" + std::to_string(port) : address + (error.empty() ? "" : " refused"),
                  *gives ? gives : "unchanged refused")
            << text;
    }
    for (auto [address, loopback] : {std::pair{"127.0.0.1", true}, {"127.1.2.3", true}, {"0.0.0.0", false},
                                     {"192.168.1.10", false}, {"localhost", false}}) {
        EXPECT_EQ(IsLoopbackAddress(address), loopback) << address;
    }
}

TEST(HttpServerTest, OtherHostsAreRefusedThePageLimitsItsScriptsAndAPortIsTakenOnce) {
    ShellUnderTest shell;
    auto cli = shell.Client();
    auto page = cli.Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("script-src 'self'"), std::string::npos);
    auto other = cli.Get("/api/notification", {{"Host", "attacker.example:" + std::to_string(shell.Server().Port())}});
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 403) << "a request naming another host";
    HttpServer second(shell.Loop(), shell.Host(), MakeRandomToken());
    std::string error;
    EXPECT_FALSE(second.Start("127.0.0.1", shell.Server().Port(), error)) << "a second server on a taken port";
}

// With no bubble shown: a body that does not parse, a member of the wrong type or range,
// one too large, and a request for what is not there each get their status and message.
TEST(HttpServerTest, BadRequestsGetAClearErrorAndChangeNothing) {
    ShellUnderTest shell;
    struct Case { const char* path; std::string body; int status; const char* message; };
    const Case cases[] = {
        {"/api/command", "{", 400, "the request body is not valid JSON"},
        {"/api/command", "[40001]", 400, "the request body must be a JSON object"},
        {"/api/command", R"({"id": "40001"})", 400, "\\\"id\\\" must be an integer"},
        {"/api/command", R"({"id": 0})", 400, "\\\"id\\\" is out of range"},
        {"/api/command", R"({"id": 18446744073709551615})", 400, "\\\"id\\\" is out of range"},
        {"/api/command", R"({"id": -40001})", 400, "\\\"id\\\" is out of range"},
        {"/api/command", R"({"id": 40001})", 409, "no notification is shown"},
        {"/api/command", R"({"id": 40001, "pad": ")" + std::string(64 * 1024, 'x') + "\"}", 413, ""},
        {"/api/notification/dismiss", "{}", 409, "no notification is shown"},
        {"/api/messagebox/answer", R"({"id": 1})", 400, "\\\"button\\\" must be an integer"},
        {"/api/messagebox/answer", R"({"id": 1, "button": 9})", 400, "\\\"button\\\" is out of range"},
        {"/api/messagebox/answer", R"({"id": 1, "button": 1})", 404, "no open message box"},
    };
    auto cli = shell.Client();
    for (const Case& c : cases) {
        const std::string what = c.body.substr(0, 40);
        auto res = cli.Post(c.path, shell.WithToken(), c.body, "application/json");
        ASSERT_TRUE(res) << what;
        EXPECT_EQ(res->status, c.status) << what;
        if (*c.message) {
            EXPECT_EQ(res->get_header_value("Content-Type"), "application/json") << what;
            EXPECT_NE(res->body.find(c.message), std::string::npos) << what << " -> " << res->body;
        }
    }
    EXPECT_TRUE(shell.Commands().empty());
}

// The item row over HTTP (the browser's home-screen scenario taps it): a key, which no
// browser test presses, is answered with the procedure's result once handled and painted;
// bad members are refused.
TEST(HttpServerTest, ItemRowIsShownAndDriven) {
    ShellUnderTest shell;
    test::TempDir dir;
    auto cli = shell.Client();
    EXPECT_EQ(cli.Get("/api/today")->status, 404) << "no item yet";
    std::unique_ptr<TodayScreen> screen;
    shell.Loop().SendTask([&] {
        std::string error;
        ASSERT_TRUE(platform::ConfigureRegistry(dir.File("registry.reg"), &error)) << error;
        platform::SetPowerSourceFactory([] { return nullptr; });
        today::PluginLoad();
        SetControllerServices({});
        screen = std::make_unique<TodayScreen>(shell.Loop());
        ASSERT_TRUE(screen->LoadItem(1));
        shell.Server().SetTodayScreen(screen.get());
    });
    auto row = cli.Get("/api/today");
    ASSERT_EQ(row->status, 200) << row->body;
    EXPECT_NE(row->body.find(R"("height":24,"selected":0,"svg":"<svg )"), std::string::npos) << row->body;
    struct Case { const char* path; const char* body; int status; const char* answer; };
    const Case cases[] = {
        {"/api/today/key", R"({"message": "selection", "key": 37})", 200, R"({"ok":true,"result":1})"},
        {"/api/today/tap", R"({"x": 480})", 400, "must lie in the item row (0 to 479)"},
        {"/api/today/tap", R"({"y": 4})", 400, "x\\\" must be an integer"},
        {"/api/today/key", R"({"message": "selection"})", 400, "key\\\" must be an integer"},
        {"/api/today/key", R"({"message": "jump", "key": 40})", 400, "message\\\" must be \\\"navigation"},
        {"/api/today/key", R"({"message": "navigation", "key": 256})", 400, "key\\\" is out of range"},
    };
    for (const Case& c : cases) {
        const auto [status, body] = shell.Post(c.path, c.body);
        EXPECT_EQ(status, c.status) << c.body << " -> " << body;
        EXPECT_NE(body.find(c.answer), std::string::npos) << c.body << " -> " << body;
    }
    // The selection (5, from the left key) was painted, and the painting moved the version on.
    const uint64_t before = shell.Host().Version();
    shell.Post("/api/today/key", R"({"message": "navigation", "key": 38})");
    EXPECT_TRUE(test::WaitFor([&] { return shell.Host().Version() > before; }));
    EXPECT_NE(cli.Get("/api/today")->body.find(R"("selected":4)"), std::string::npos);

    shell.Loop().SendTask([&] {
        shell.Server().SetTodayScreen(nullptr);
        screen.reset();
        today::PluginUnload();
        SetControllerServices(DefaultControllerServices());
        platform::SetPowerSourceFactory(nullptr);
    });
}

// A dialog of every kind of control the page shows, run modally on the UI thread (the
// browser's first start types, picks, ticks, drags and clicks in one): input that does not
// fit is refused with its status, and input that opens a message box is answered while the
// box waits for its own answer.
TEST(HttpServerTest, DialogInputThatDoesNotFitIsRefusedAndABoxOpenedByInputWaitsForItsAnswer) {
    using namespace platform;
    using nlohmann::json;
    ShellUnderTest shell;
    DialogTemplate tmpl{900, "Test", WS_VISIBLE, 0, 0, 156, 110, {}};
    tmpl.items = {
        {kEditClass, 10, "", WS_VISIBLE | WS_TABSTOP, 50, 4, 100, 12},
        {kComboBoxClass, 13, "", WS_VISIBLE | CBS_DROPDOWNLIST, 4, 50, 80, 12},
        {kTrackbarClass, 14, "", WS_VISIBLE, 4, 66, 100, 16},
        {kButtonClass, 16, "Ask", WS_VISIBLE | BS_PUSHBUTTON, 60, 86, 40, 12},
        {kButtonClass, 17, "Off", WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON, 110, 86, 40, 12},
    };
    auto proc = [&](WindowHandle dialog, uint32_t msg, WParam w, LParam) -> LResult {
        if (msg == WM_INITDIALOG) {
            SHInitDialog({SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_CANCELBUTTON});
            ComboAddString(GetDlgItem(dialog, 13), "Battery");
            ComboAddString(GetDlgItem(dialog, 13), "Power");
            TrackbarSetRange(GetDlgItem(dialog, 14), 0, 100, false);
            return 1;
        }
        if (msg != WM_COMMAND) return 0;
        if (LoWord(w) == IDOK || LoWord(w) == IDCANCEL) return EndDialog(dialog, LoWord(w));
        if (LoWord(w) == 16) shell.Host().MessageBox(dialog, "Sure?", "Test", MB_OK);
        return 1;
    };
    std::promise<int> ended;
    shell.Loop().PostTask([&] { ended.set_value(DialogBoxIndirectParam(1, tmpl, kNoWindow, proc, 0)); });

    auto cli = shell.Client();
    const auto dialogs = [&] { return json::parse(cli.Get("/api/dialogs")->body); };
    ASSERT_TRUE(test::WaitFor([&] { return dialogs()["dialogs"].size() == 1; }));
    const json state = dialogs();
    const uint32_t id = state["dialogs"][0]["id"];
    EXPECT_EQ(state["dialogs"][0]["controls"][0]["rect"], (json{{"x", 100}, {"y", 8}, {"width", 200}, {"height", 24}}))
        << "dialog units are 2 pixels";
    EXPECT_EQ(dialogs()["version"], state["version"]) << "reading the dialogs changes nothing";
    const auto post = [&](const json& body) { return shell.Post("/api/dialog/input", body.dump()); };

    struct Refused { json body; int status; const char* error; };
    const Refused refused[] = {
        {{{"dialog", id + 1000}, {"event", "done"}}, 404, "no open dialog"},
        {{{"dialog", id}, {"control", 99}, {"event", "click"}}, 404, "no control with the id 99"},
        {{{"dialog", id}, {"control", 10}, {"event", "select"}, {"index", 0}}, 400, "(edit) does not take"},
        {{{"dialog", id}, {"control", 13}, {"event", "select"}, {"index", 2}}, 400, "the list has 2 items"},
        {{{"dialog", id}, {"control", 10}, {"event", "text"}}, 400, "must be a string"},
        {{{"dialog", id}, {"control", 14}, {"event", "scroll"}, {"pos", 1}, {"code", "up"}}, 400, "code (0 to 8)"},
        {{{"dialog", id}, {"event", "poke"}}, 400, "must be one of click, select"},
        {{{"dialog", id}, {"event", "page"}, {"index", 0}}, 400, "not one"},
        {{{"dialog", id}, {"control", 17}, {"event", "click"}}, 409, "is disabled"},
        {{{"dialog", id}, {"event", "key"}, {"key", 255}}, 400, "key\\\" is out of range"},
    };
    for (const Refused& r : refused) {
        auto [status, body] = post(r.body);
        EXPECT_EQ(status, r.status) << r.body << " -> " << body;
        EXPECT_NE(body.find(r.error), std::string::npos) << r.body << " -> " << body;
    }

    // "Ask" opens a box: the click is answered while the box waits, and the dialog takes
    // no input until the box is answered.
    EXPECT_EQ(post({{"dialog", id}, {"control", 16}, {"event", "click"}}).first, 200);
    ASSERT_EQ(shell.Host().MessageBoxes().size(), 1u);
    EXPECT_EQ(post({{"dialog", id}, {"event", "done"}}).first, 409);
    const std::string box = "{\"id\": " + std::to_string(shell.Host().MessageBoxes()[0].id) + ", \"button\": ";
    EXPECT_EQ(shell.Post("/api/messagebox/answer", box + "6}").first, 404) << "Yes is not on an OK box";
    EXPECT_EQ(shell.Post("/api/messagebox/answer", box + "1}").first, 200);
    EXPECT_EQ(post({{"dialog", id}, {"event", "key"}, {"key", 27}}).first, 200);
    EXPECT_EQ(post({{"dialog", id}, {"event", "done"}}).first, 200);
    EXPECT_EQ(ended.get_future().get(), IDOK);
    EXPECT_TRUE(dialogs()["dialogs"].empty());
}

// An event stream as a browser tab holds it open: a loopback connection that has sent its
// request and reads whatever arrives, without a thread of its own.
class RawStream {
public:
    explicit RawStream(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string request =
            "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nAccept: text/event-stream\r\n\r\n";
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
            ADD_FAILURE() << "cannot open an event stream";
        }
    }
    ~RawStream() { Close(); }
    // Closes as a killed tab does: the server's next write fails at once.
    void Close() {
        if (fd_ < 0) return;
        linger reset{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(fd_);
        fd_ = -1;
    }
    // The change events received so far (Ended once the server has closed the stream).
    size_t Changes() {
        char buf[4096];
        ssize_t n = 0;
        while (fd_ >= 0 && (n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT)) > 0) text_.append(buf, static_cast<size_t>(n));
        if (n == 0) ended_ = true;
        size_t count = 0;
        for (size_t at = 0; (at = text_.find("event: change\n", at)) != std::string::npos; ++at) ++count;
        return count;
    }
    bool Ended() {
        Changes();
        return ended_;
    }

private:
    int fd_ = -1;
    std::string text_;
    bool ended_ = false;
};

// What the map asks when no tracker is loaded (the browser's map scenario asks with one),
// and the refusals of the track's parameters.
TEST(HttpServerTest, MapAnswersWithoutATrackerAndRefusesBadParameters) {
    ShellUnderTest shell;
    auto cli = shell.Client();
    const std::pair<const char*, const char*> answers[] = {
        {"/api/position", R"({"fix":false,"receiver":false})"},
        {"/api/track/days", R"({"days":[]})"},
        {"/api/track?points=1", R"({"error":"\"points\" must be a whole number from 2 to 50000"})"},
        {"/api/track?points=5x", R"({"error":"\"points\" must be a whole number from 2 to 50000"})"},
        {"/api/track?points=50001", R"({"error":"\"points\" must be a whole number from 2 to 50000"})"},
        {"/api/track?from=yesterday",
         R"({"error":"\"from\" must be a UTC time such as 2026-12-07 or 2026-12-07T14:05:00Z"})"},
    };
    for (const auto& [path, body] : answers) {
        auto res = cli.Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, body[2] == 'e' ? 400 : 200) << path;
        EXPECT_EQ(res->body, body) << path;
    }
    auto track = cli.Get("/api/track?to=2026-12-07&points=2");
    ASSERT_TRUE(track);
    EXPECT_EQ(track->get_header_value("Content-Type"), "application/geo+json");
    EXPECT_EQ(nlohmann::json::parse(track->body)["summary"]["records"], 0);
}

size_t ThreadCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// Open streams never take the threads requests need: past the limit the oldest is closed,
// every open stream hears every change, and the threads they brought go with them.
TEST(HttpServerTest, ManyOpenStreamsLeaveTheApiAnswering) {
    ShellUnderTest shell;
    auto cli = shell.Client();
    cli.set_read_timeout(20, 0);
    ASSERT_TRUE(cli.Get("/api/state"));
    const size_t threadsBefore = ThreadCount();

    std::vector<std::unique_ptr<RawStream>> streams;
    for (size_t i = 0; i <= kMaxEventStreams; ++i) {
        streams.push_back(std::make_unique<RawStream>(shell.Server().Port()));
        // One at a time, so which stream is the oldest is known.
        ASSERT_TRUE(test::WaitFor([&] { return streams.back()->Changes() == 1; }, std::chrono::seconds(30))) << i;
    }
    EXPECT_TRUE(test::WaitFor([&] { return streams.front()->Ended(); }, std::chrono::seconds(30)))
        << "the oldest stream is closed past the limit";

    auto state = cli.Get("/api/state");
    ASSERT_TRUE(state) << "a GET with every stream open";
    EXPECT_EQ(state->status, 404);
    shell.ShowBubble("x");
    auto dismiss = cli.Post("/api/notification/dismiss", shell.WithToken(), "{}", "application/json");
    ASSERT_TRUE(dismiss) << "a POST with every stream open";
    EXPECT_EQ(dismiss->status, 200);
    // Added and dismissed: heard by every open stream (two changes may come as one event).
    EXPECT_TRUE(test::WaitFor(
        [&] { return std::all_of(streams.begin() + 1, streams.end(), [](auto& s) { return s->Changes() >= 2; }); },
        std::chrono::seconds(30)));

    for (auto& s : streams) s->Close();
    shell.ShowBubble("y");  // the next write to a closed stream fails
    EXPECT_TRUE(test::WaitFor([&] { return ThreadCount() == threadsBefore; }, std::chrono::seconds(60)))
        << ThreadCount() << " threads, " << threadsBefore << " before";
}

}  // namespace
}  // namespace kestrix::shell
