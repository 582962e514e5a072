#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>

#include "integration/Daemon.h"
#include "platform/Registry.h"
#include "support/TestSupport.h"

namespace kestrix::test {
namespace {

class RunCommandTest : public ::testing::Test {
protected:
    std::string Data() const { return dir_.Path() + "/data"; }
    std::string Power() const { return dir_.Path() + "/power"; }
    void Config(const std::string& name, const std::string& value) {
        Finished f = RunKestrix({"config", "--data-dir", Data(), "set", name, value}, dir_.Path());
        ASSERT_EQ(f.exitCode, 0) << f.err;
    }
    TempDir dir_;
};

// The logger on external power is the browser's to test, the registry saved on shutdown
// the config command's; here the log goes under --root and the registry stays in the data
// folder.
TEST_F(RunCommandTest, TheLogGoesUnderTheRootAndTheRegistryStaysInTheDataFolder) {
    WritePowerSupply(Power(), true);
    for (const auto& [name, value] :
         {std::pair{"Login", "anna"}, {"Password", "demo"}, {"COM", "/dev/null"}, {"ModeP", "2"}})
        Config(name, value);
    const std::string root = dir_.Path() + "/device";
    Daemon d(Data(), Power(), dir_.Path(), {"--root", root});
    ASSERT_TRUE(d.Up()) << d.Process().Err();
    ASSERT_TRUE(d.WaitForPage("Mode: Logger")) << d.NotificationHtml() << d.Process().Err();
    EXPECT_TRUE(std::filesystem::exists(root + "/anna.log"));
    EXPECT_FALSE(std::filesystem::exists(Data() + "/anna.log"));
    d.StopWith(SIGTERM);
    EXPECT_FALSE(std::filesystem::exists(root + "/registry.reg"));
    EXPECT_NE(ReadFile(Data() + "/registry.reg").find("\"ModeP\"=dword:00000002"), std::string::npos);
}

// Nobody answers: the settings sheet at the Account page, the port question and the sheet at
// the GPS page each give up after the unattended time-out, in that order; start-up finishes
// with nothing left open, and nothing was stored for the person.
TEST_F(RunCommandTest, StartupOnAnEmptyDataDirFinishesWhenNobodyAnswers) {
    WritePowerSupply(Power(), true);
    Daemon d(Data(), Power(), dir_.Path(), {"--message-box-timeout", "1"});
    ASSERT_TRUE(d.Up()) << d.Process().Err();
    const std::regex order(
        "nobody answered the dialog \"GMRT Settings\" within 1 s: cancelled[^]*"
        "message box \"Attention\" closed unanswered \\(nobody answered in time\\)[^]*"
        "nobody answered the dialog \"GMRT Settings\" within 1 s: cancelled");
    EXPECT_TRUE(WaitFor([&] { return std::regex_search(d.Process().Err(), order); }, std::chrono::seconds(60)))
        << d.Process().Err();
    const auto nothingOpen = [&] { return d.Get("/api/dialogs").body.find("\"dialogs\":[]") != std::string::npos; };
    EXPECT_TRUE(WaitFor(nothingOpen));
    EXPECT_NE(d.Get("/api/messageboxes").body.find("\"messageboxes\":[]"), std::string::npos);
    EXPECT_TRUE(d.WaitForPage("Mode: ")) << d.Process().Err();
    d.StopWith(SIGINT);
    platform::RegistryData reg;
    std::string error;
    ASSERT_TRUE(platform::ParseRegistryText(ReadFile(Data() + "/registry.reg"), reg, error)) << error;
    const auto& values = reg.keys["SOFTWARE\\Geomira\\GmrLogger"];
    EXPECT_EQ(values.count("Login"), 0u);
    EXPECT_EQ(values.count("COM"), 0u);
}

// Shutdown cancels what waits for a person: the sheet on an empty data folder, the port
// question once an account is set.
TEST_F(RunCommandTest, SigtermWhileAQuestionIsOpenStillShutsDownCleanly) {
    WritePowerSupply(Power(), true);
    {
        Daemon d(Data(), Power(), dir_.Path());
        ASSERT_TRUE(d.Up()) << d.Process().Err();
        ASSERT_NE(d.WaitForDialog("GMRT Settings"), "");
        d.StopWith(SIGTERM);
    }
    Config("Login", "anna");
    Config("Password", "demo");
    Daemon d(Data(), Power(), dir_.Path());
    ASSERT_TRUE(d.Up()) << d.Process().Err();
    const auto asked = [&] {
        return d.Get("/api/messageboxes").body.find("\"caption\":\"Attention\"") != std::string::npos;
    };
    ASSERT_TRUE(WaitFor(asked, std::chrono::seconds(60)));
    d.StopWith(SIGTERM);
}

// "Convert to GPX" of a large log (64 GiB, sparse) leaves the API answering while it runs
// and starts no second conversion when asked again; a shutdown stops it and keeps the log.
TEST_F(RunCommandTest, ConvertingALargeLogLeavesTheApiAnswering) {
    WritePowerSupply(Power(), true);
    for (const auto& [name, value] :
         {std::pair{"Login", "anna"}, {"Password", "demo"}, {"COM", "/dev/null"}, {"ModeP", "2"}})
        Config(name, value);
    const std::string log = Data() + "/anna.log";
    const uintmax_t size = uintmax_t{64} << 30;
    WriteFile(log, "");
    std::filesystem::resize_file(log, size);
    Daemon d(Data(), Power(), dir_.Path());
    ASSERT_TRUE(d.Up()) << d.Process().Err();
    ASSERT_TRUE(d.WaitForPage("Mode: Logger")) << d.NotificationHtml() << d.Process().Err();

    ASSERT_EQ(d.Post("/api/command", "{\"id\":40006}").status, 200);
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(Data() + "/anna.gpx"); }, std::chrono::seconds(60)));
    ASSERT_EQ(d.Post("/api/command", "{\"id\":40006}").status, 200);
    EXPECT_EQ(d.Get("/api/state").status, 200);
    EXPECT_NE(d.Get("/api/messageboxes").body.find("\"messageboxes\":[]"), std::string::npos)
        << "answered only once the conversion had ended";

    d.StopWith(SIGTERM);
    EXPECT_EQ(std::filesystem::file_size(log), size);
    EXPECT_FALSE(std::filesystem::exists(Data() + "/anna.gpx")) << "a stopped conversion leaves no GPX file";
    EXPECT_FALSE(std::filesystem::exists(Data() + "/anna_000.gpx"));
}

TEST_F(RunCommandTest, CommandLineMistakesGetTheUsageAndStatusTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"bogus"}, {"run", "--http", "nonsense"}, {"run", "--gpsd", "0"}, {"run", "--message-box-timeout", "soon"},
        {"run", "extra"}, {"config", "set", "Login"}, {"config", "list", "extra"},
        {"run", "--tiles", "ftp://tiles.example.org/{z}/{x}/{y}.png"}, {"run", "--tiles", "https://tiles.example.org/a.png"},
        {"run", "--tiles", "https://tiles.example.org/{z}/{x}/{y}.png\"><script>"},
    };
    for (const auto& args : cases) {
        Finished f = RunKestrix(args, dir_.Path());
        std::string shown = args.empty() ? "(nothing)" : args[0] + (args.size() > 1 ? " " + args[1] : "");
        EXPECT_EQ(f.exitCode, 2) << shown;
        EXPECT_NE(f.err.find("usage:"), std::string::npos) << shown << ": " << f.err;
        EXPECT_EQ(f.out, "") << shown;
    }
}

}  // namespace
}  // namespace kestrix::test
