#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "integration/Daemon.h"
#include "platform/Registry.h"
#include "shell/DaemonRecord.h"
#include "support/TestSupport.h"

namespace kestrix::test {
namespace {

class ConfigCommandTest : public ::testing::Test {
protected:
    Finished Config(std::vector<std::string> args) {
        args.insert(args.begin(), {"config", "--data-dir", data_.Path() + "/data"});
        return RunKestrix(args, out_.Path());
    }
    std::string Get(const std::string& name) { return Config({"get", name}).out; }
    std::string Data() const { return data_.Path() + "/data"; }
    std::string Record() const { return shell::DaemonRecordFileIn(Data()); }

    TempDir data_;
    TempDir out_;
};

TEST_F(ConfigCommandTest, SetThenGetReadsBackWhatLoadSees) {
    struct Case { const char* name; const char* value; const char* shown; };
    const Case cases[] = {
        {"Login", "anna", "anna\n"},
        {"LOG", "\\My Documents\\track.log", "\\My Documents\\anna.log\n"},  // the log is named after the account
        {"Password", "demo", "fe01ce2a7fbac8fafaed7c982a04e229\n"},
        {"Port", "65535", "65535\n"},
        {"AutoTrkTimeout", "60", "60\n"},   // the largest allowed
        {"AutoTrkPointCount", "500", "500\n"},
        {"LastTrkPt", "128809083090000000", "128809083090000000\n"},
        {"Tls", "1", "1\n"},
        {"TlsCa", "/etc/kestrix/ca.pem", "/etc/kestrix/ca.pem\n"},
        {"TlsCa", "", "\n"},  // the system's certificates again
    };
    for (const Case& c : cases) {
        Finished set = Config({"set", c.name, c.value});
        EXPECT_EQ(set.exitCode, 0) << c.name << ": " << set.err;
        EXPECT_EQ(Get(c.name), c.shown) << c.name;
    }
    // The registry holds the digest, never the password itself.
    std::string reg = ReadFile(data_.Path() + "/data/registry.reg");
    EXPECT_NE(reg.find("\"Password\"=\"fe01ce2a7fbac8fafaed7c982a04e229\""), std::string::npos) << reg;
    EXPECT_EQ(reg.find("\"demo\""), std::string::npos);
    platform::RegistryData parsed;
    std::string error;
    EXPECT_TRUE(platform::ParseRegistryText(reg, parsed, error)) << error;
}

TEST_F(ConfigCommandTest, RefusedValuesLeaveTheSettingAndExitWithTwo) {
    ASSERT_EQ(Config({"set", "AutoTrkTimeout", "30"}).exitCode, 0);
    ASSERT_EQ(Config({"set", "Port", "1201"}).exitCode, 0);
    struct Case { const char* name; std::string value; const char* message; };
    const Case cases[] = {
        {"AutoTrkTimeout", "61", "AutoTrkTimeout cannot be \"61\""},
        {"AutoTrkPointCount", "501", "AutoTrkPointCount cannot be \"501\""},
        {"Tls", "2", "Tls cannot be \"2\""},
        {"AutoTrkTimeout", "ten", "AutoTrkTimeout takes a whole number, not \"ten\""},
        {"AutoTrkTimeout", "5x", "takes a whole number"},
        {"Port", "65536", "takes a whole number"},
        {"BaudRate", "4294967296", "takes a whole number"},
        {"Host", std::string(64, 'h'), "Host cannot be longer than 63 bytes"},
        {"COM", "x\n/dev/ttyS0", "COM cannot hold control characters or bytes that are not UTF-8 (0x0a at byte 1)"},
        {"Bogus", "1", "unknown setting \"Bogus\""},
        {"login", "anna", "unknown setting \"login\""},
    };
    for (const Case& c : cases) {
        Finished f = Config({"set", c.name, c.value});
        EXPECT_EQ(f.exitCode, 2) << c.name << " " << c.value;
        EXPECT_NE(f.err.find(c.message), std::string::npos) << c.name << " " << c.value << ": " << f.err;
    }
    EXPECT_EQ(Get("Host"), "\n");
    EXPECT_EQ(Get("AutoTrkTimeout"), "30\n");
    EXPECT_EQ(Get("Port"), "1201\n");
    EXPECT_EQ(Config({"get", "Bogus"}).exitCode, 2);
}

// A registry that does not parse stops the config commands and the daemon's start-up,
// naming its line, and is kept as it was.
TEST_F(ConfigCommandTest, MalformedRegistryIsReportedWithItsLineAndKept) {
    std::filesystem::create_directories(Data());
    const std::string head = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Geomira]\n";
    const std::vector<std::vector<std::string>> commands = {{"config", "--data-dir", Data(), "get", "Login"},
                                                            {"config", "--data-dir", Data(), "set", "Login", "bob"},
                                                            {"config", "--data-dir", Data(), "list"},
                                                            {"run", "--data-dir", Data(), "--http", "127.0.0.1:0"}};
    for (const std::string& broken : {head + "nonsense\n", head + "\"Port\"=dword:xyz\n"}) {
        WriteFile(Data() + "/registry.reg", broken);
        for (const auto& args : commands) {
            Finished f = RunKestrix(args, out_.Path());
            EXPECT_EQ(f.exitCode, 1) << args[0] << " " << args[3];
            EXPECT_NE(f.err.find("registry.reg: line 4"), std::string::npos) << f.err;
        }
        EXPECT_EQ(ReadFile(Data() + "/registry.reg"), broken);
    }
}

TEST_F(ConfigCommandTest, ReadingNeverWritesTheFile) {
    for (auto args : {std::vector<std::string>{"list"}, {"get", "Login"}}) EXPECT_EQ(Config(args).exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(Data())) << "no folder made";
    std::filesystem::create_directories(Data());
    WriteFile(Data() + "/registry.reg", "");
    for (auto args : {std::vector<std::string>{"list"}, {"get", "Login"}}) EXPECT_EQ(Config(args).exitCode, 0);
    EXPECT_EQ(ReadFile(Data() + "/registry.reg"), "");
}

// A record nobody holds was left by a daemon that died, whatever process has its pid now;
// one that is held belongs to a running daemon, which must answer or nothing is written.
TEST_F(ConfigCommandTest, RecordsOfDaemonsThatDiedOrDoNotAnswer) {
    ASSERT_EQ(Config({"set", "Login", "anna"}).exitCode, 0);
    WriteFile(Record(), "pid=" + std::to_string(getpid()) + "\nhttp=127.0.0.1:1\ntoken=" + std::string(32, '0') + "\n");
    EXPECT_EQ(Config({"set", "Login", "bob"}).exitCode, 0);
    EXPECT_EQ(Get("Login"), "bob\n");

    shell::DaemonRecordOwner silent;  // held by this process, and nothing listens on port 1
    std::string error;
    ASSERT_TRUE(silent.Write(Record(), "127.0.0.1", 1, std::string(32, '0'), error)) << error;
    const std::string before = ReadFile(Data() + "/registry.reg");
    for (auto args : {std::vector<std::string>{"set", "Login", "carl"}, {"get", "Login"}}) {
        Finished f = Config(args);
        EXPECT_EQ(f.exitCode, 1) << args[0];
        EXPECT_NE(f.err.find("does not answer"), std::string::npos) << f.err;
    }
    EXPECT_EQ(ReadFile(Data() + "/registry.reg"), before);
}

TEST_F(ConfigCommandTest, SetWhileTheDaemonRunsTakesEffectAndIsKept) {
    TempDir power;
    WritePowerSupply(power.Path(), true);
    for (auto [name, value] : {std::pair{"Login", "anna"}, {"Password", "demo"}, {"COM", "/dev/null"}, {"ModeP", "2"}}) {
        ASSERT_EQ(Config({"set", name, value}).exitCode, 0) << name;
    }
    WriteFile(Record(), "pid=1\nhttp=127.0.0.1:1\ntoken=" + std::string(32, '0') + "\n");  // left by a crash
    Daemon d(Data(), power.Path(), out_.Path());
    ASSERT_TRUE(d.Up()) << d.Process().Err();
    ASSERT_TRUE(d.WaitForPage("Mode: Logger")) << d.NotificationHtml();
    struct stat st {};
    ASSERT_EQ(stat(Record().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Finished set = Config({"set", "ModeP", "0"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    // The services restarted before the answer: the logger is off.
    EXPECT_NE(d.Get("/api/state").body.find("\"state\":0,"), std::string::npos) << d.Get("/api/state").body;
    EXPECT_EQ(Get("ModeP"), "0\n");
    EXPECT_NE(Config({"list"}).out.find("\nPassword=fe01ce2a7fbac8fafaed7c982a04e229\n"), std::string::npos);
    // The daemon refuses a value with the message and status the file's check gives.
    Finished refused = Config({"set", "AutoTrkTimeout", "61"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "kestrix config: AutoTrkTimeout cannot be \"61\"\n");
    refused = Config({"set", "Login", "anna\tx"});
    EXPECT_EQ(refused.err, "kestrix config: Login cannot hold control characters or bytes that are not UTF-8 (0x09 at byte 4)\n");
    // A log path is taken as the next start will read it: the log is named after the account.
    ASSERT_EQ(Config({"set", "LOG", "\\other.log"}).exitCode, 0);
    EXPECT_EQ(Get("LOG"), "\\anna.log\n");

    d.StopWith(SIGTERM);
    EXPECT_FALSE(std::filesystem::exists(Record()));
    EXPECT_EQ(Get("ModeP"), "0\n") << "the daemon saved the change, not its old copy";
    EXPECT_EQ(Get("LOG"), "\\anna.log\n");
}

}  // namespace
}  // namespace kestrix::test
