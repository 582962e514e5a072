#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "platform/LastError.h"
#include "platform/LogCapture.h"
#include "support/TestSupport.h"

namespace kestrix::platform {
namespace {

constexpr const char* kKey = "SOFTWARE\\Geomira\\GmrLogger";

class RegistryTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ConfigureRegistry(file_)); }
    std::vector<std::string> FilesInDir() const {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(dir_.Path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    test::TempDir dir_;
    std::string file_ = dir_.File("registry.reg");
};

TEST_F(RegistryTest, EveryValueTypeSurvivesACloseAndReopen) {
    std::vector<uint8_t> longBinary;
    for (int i = 0; i < 40; ++i) longBinary.push_back(static_cast<uint8_t>(i * 7));
    {
        auto key = RegKey::Open(kKey, true);
        ASSERT_TRUE(key);
        key->SetDword("BaudRate", 9600);
        key->SetString("Login", "a\\b\"c");
        key->SetString("Empty", "");
        key->SetBinary("LastTrkPt", {0x00, 0x80, 0x3e, 0xd5, 0xde, 0xb1, 0x9d, 0x01});
        key->SetBinary("Long", longBinary);
        key->SetBinary("None", {});
        EXPECT_EQ(key->Close(), kErrorSuccess);
    }
    std::string text = test::ReadFile(file_);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Geomira\\GmrLogger]\n", 0), 0u)
        << text;
    EXPECT_NE(text.find("\"BaudRate\"=dword:00002580\n"), std::string::npos);
    EXPECT_NE(text.find("\"Login\"=\"a\\\\b\\\"c\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"LastTrkPt\"=hex:00,80,3e,d5,de,b1,9d,01\n"), std::string::npos);
    EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "a long value is continued on the next line";
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 80u);

    auto key = RegKey::Open(kKey, false);
    ASSERT_TRUE(key);
    uint32_t baud = 0;
    std::string login, empty = "x";
    std::vector<uint8_t> point, longBack, none{1};
    ASSERT_TRUE(key->QueryDword("BaudRate", baud) && key->QueryString("Login", login) &&
                key->QueryString("Empty", empty) && key->QueryBinary("LastTrkPt", point) &&
                key->QueryBinary("Long", longBack) && key->QueryBinary("None", none));
    EXPECT_EQ(std::tie(baud, login, empty), std::make_tuple(9600u, std::string("a\\b\"c"), std::string()));
    EXPECT_EQ(point, (std::vector<uint8_t>{0x00, 0x80, 0x3e, 0xd5, 0xde, 0xb1, 0x9d, 0x01}));
    EXPECT_EQ(longBack, longBinary);
    EXPECT_TRUE(none.empty());
    // A query of the wrong type fails rather than giving a default.
    EXPECT_FALSE(key->QueryDword("Login", baud));
    EXPECT_EQ(GetLastError(), kErrorInvalidData);
    EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

// Names are found whatever their case and keep their first spelling. A save changes only
// the lines of the values that changed: a file written by hand (a byte-order mark, CRLF, a
// comment, a short dword, short hex bytes and another key's value of nearly 1 MiB written
// compactly, which formatted afresh would pass the limit) can always be saved back.
TEST_F(RegistryTest, ASaveChangesOnlyTheLinesOfChangedValues) {
    const std::string head =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; kept\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Geomira\\GmrLogger]\r\n\"BaudRate\"=dword:1200\r\n\"Bin\"=hex:1,2,\\\r\n  3\r\n"
        "\"Old\"=\"x\"\r\n\r\n[HKEY_LOCAL_MACHINE\\Other]\r\n\"Big\"=hex:ab";
    // Four bytes short of the limit: the changed dword below takes four more.
    const size_t room = kMaxRegistryFileBytes - 4 - head.size() - 2;
    const std::string before = head + std::string(room % 3, ' ') + [&] {
        std::string bytes;
        for (size_t i = 0; i < room / 3; ++i) bytes += ",cd";
        return bytes;
    }() + "\r\n";
    ASSERT_EQ(before.size(), kMaxRegistryFileBytes - 4);
    test::WriteFile(file_, before);
    ASSERT_TRUE(ConfigureRegistry(file_));
    {
        auto key = RegKey::Open("SOFTWARE\\GEOMIRA\\gmrlogger\\", false);
        key->SetBinary("BIN", {1, 2, 3});  // what it holds: kept as written
        key->SetDword("BAUDRATE", 4800);
        key->DeleteValue("Old");
        key->SetString("New", "y");
        EXPECT_EQ(key->Values()[0].first, "BaudRate");
        EXPECT_EQ(key->Close(), kErrorSuccess);
    }
    std::string after = before;
    after.replace(after.find("dword:1200"), 10, "dword:000012c0");
    after.replace(after.find("\"Old\"=\"x\""), 9, "\"New\"=\"y\"");
    const std::string written = test::ReadFile(file_);
    EXPECT_EQ(written.size(), kMaxRegistryFileBytes);
    EXPECT_TRUE(written == after) << written.substr(0, 200);
}

TEST_F(RegistryTest, TwoWritersDoNotLoseEachOthersChanges) {
    {
        auto setup = RegKey::Open(kKey, true);
        setup->SetString("Keep", "1");
        setup->SetString("Gone", "x");
    }
    auto first = RegKey::Open(kKey, false);
    auto second = RegKey::Open(kKey, false);
    ASSERT_TRUE(first && second);
    first->SetString("Login", "anna");
    second->SetDword("Port", 1201);
    second->DeleteValue("Gone");
    EXPECT_EQ(first->Close(), kErrorSuccess);
    EXPECT_EQ(second->Close(), kErrorSuccess);

    auto check = RegKey::Open(kKey, false);
    std::string login, keep;
    uint32_t port = 0;
    ASSERT_TRUE(check->QueryString("Login", login) && check->QueryDword("Port", port) && check->QueryString("Keep", keep));
    EXPECT_FALSE(check->Has("Gone"));
    EXPECT_EQ(std::tie(login, port, keep), std::make_tuple(std::string("anna"), 1201u, std::string("1")));
}

// A file over 1 MiB is refused, naming the limit, and never overwritten (one of exactly
// 1 MiB reads); a change that would make the file larger than that is not saved.
TEST_F(RegistryTest, FilesOverOneMebibyteAreRefusedAndNeverOverwritten) {
    const std::string head =
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Geomira\\GmrLogger]\n"
        "\"Login\"=\"anna\"\n\n";
    auto padded = [&](size_t size) { return head + ";" + std::string(size - head.size() - 2, 'x') + "\n"; };
    auto early = RegKey::Open(kKey, true);
    early->SetString("Login", "bob");
    test::WriteFile(file_, padded(kMaxRegistryFileBytes));
    EXPECT_TRUE(ConfigureRegistry(file_));

    const std::string big = padded(kMaxRegistryFileBytes + 1);
    test::WriteFile(file_, big);
    std::string error;
    EXPECT_FALSE(ConfigureRegistry(file_, &error));
    EXPECT_EQ(error, file_ + ": the file is 1048577 bytes; a registry file may hold at most 1048576 bytes (1 MiB)");
    int code = 0;
    EXPECT_EQ(RegKey::Open(kKey, false, &code), nullptr);
    EXPECT_EQ(code, kErrorInvalidData);
    EXPECT_EQ(early->Close(), kErrorInvalidData);
    EXPECT_EQ(test::ReadFile(file_), big);

    test::WriteFile(file_, head);
    ASSERT_TRUE(ConfigureRegistry(file_));
    auto key = RegKey::Open(kKey, false);
    ASSERT_TRUE(key);
    key->SetBinary("Huge", std::vector<uint8_t>(kMaxRegistryFileBytes / 3));
    EXPECT_EQ(key->Close(), kErrorFileTooLarge);
    EXPECT_EQ(test::ReadFile(file_), head);
    EXPECT_EQ(FilesInDir(), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

// A repeated name keeps the later value; a value of the wrong type is ignored when read.
// Both are logged with their lines.
TEST_F(RegistryTest, RepeatedNamesAndValuesOfTheWrongTypeAreLoggedWithTheirLines) {
    test::WriteFile(file_,
                    "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Geomira\\GmrLogger]\n"
                    "\"Port\"=dword:00000001\n"
                    "\"Login\"=\"anna\"\n"
                    "\"PORT\"=dword:00000002\n"
                    "\"Host\"=dword:00000001\n"
                    "\n"
                    "[HKEY_LOCAL_MACHINE\\software\\geomira\\gmrlogger]\n"
                    "\"port\"=dword:00000003\n");
    test::LogCapture log;
    ASSERT_TRUE(ConfigureRegistry(file_));
    auto key = RegKey::Open(kKey, false);
    uint32_t port = 0;
    ASSERT_TRUE(key && key->QueryDword("Port", port));
    EXPECT_EQ(port, 3u);
    std::string host;
    EXPECT_FALSE(key->QueryString("Host", host) || key->QueryDword("login", port));
    const std::string in = " in [HKEY_LOCAL_MACHINE\\SOFTWARE\\Geomira\\GmrLogger] ";
    EXPECT_EQ(
        log.lines,
        (std::vector<std::pair<LogLevel, std::string>>{
            {LogLevel::Warning, file_ + ": line 6: \"PORT\"" + in + "repeats line 4; the later value is used"},
            {LogLevel::Warning, file_ + ": line 10: \"port\"" + in + "repeats line 6; the later value is used"},
            {LogLevel::Warning, file_ + ": line 7: \"Host\"" + in + "is a dword where text is expected; it is ignored"},
            {LogLevel::Warning,
             file_ + ": line 5: \"Login\"" + in + "is text where a dword is expected; it is ignored"}}));
}

TEST(RegistryTextTest, ParsesWhatRegeditWrites) {
    const std::string text =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\A]\r\n"
        "\"Bin\"=hex:01,02,\\\r\n"
        "  03,ff\r\n"
        "@=\"default\"\r\n"
        "[HKEY_LOCAL_MACHINE\\a]\r\n"
        "\"N\"=dword:FFFFFFFF\r\n";
    RegistryData data;
    std::string error;
    ASSERT_TRUE(ParseRegistryText(text, data, error)) << error;
    ASSERT_EQ(data.keys.size(), 1u);  // "A" and "a" are the same key
    const auto& values = data.keys.at("A");
    EXPECT_EQ(values.at("Bin").binary, (std::vector<uint8_t>{1, 2, 3, 255}));
    EXPECT_EQ(values.at("").text, "default");
    EXPECT_EQ(values.at("N").dword, 0xFFFFFFFFu);

    RegistryData again;
    ASSERT_TRUE(ParseRegistryText(FormatRegistryText(data), again, error)) << error;
    EXPECT_EQ(FormatRegistryText(again), FormatRegistryText(data));
}

TEST(RegistryTextTest, ErrorsNameTheLine) {
    const std::string head = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n";
    struct Case { std::string text; std::string error; };
    const Case cases[] = {
        {"REGEDIT4\n", "line 1: "},
        {"Windows Registry Editor Version 5.00\n\"A\"=\"x\"\n", "line 2: value before the first key"},
        {head + "\"A\"=dword:123456789\n", "line 4: dword"},
        {head + "\"A\"=hex:1,2g\n", "line 4: bad byte"},
        {head + "\"A\"=hex:01,\\\n", "line 4: hex value continues past the end"},
        {head + "\"A\"=\"open\n", "line 4: string without closing quote"},
        {head + "\"A\"=\"x\" y\n", "line 4: text after the closing quote"},
        {head + "\"A\" \"x\"\n", "line 4: expected '='"},
        {head + "\"A\"=hex(2):00\n", "line 4: unknown value type"},
        {head + "[HKEY_CURRENT_USER\\K]\n", "line 4: key outside HKEY_LOCAL_MACHINE"},
        {head + "[HKEY_LOCAL_MACHINE\\K\n", "line 4: key name without closing"},
        {head + "junk\n", "line 4: "},
    };
    for (const auto& c : cases) {
        RegistryData data;
        data.keys["Before"] = {};
        std::string error;
        EXPECT_FALSE(ParseRegistryText(c.text, data, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " gave " << error;
        EXPECT_EQ(data.keys.count("Before"), 1u) << "output untouched on failure";
    }
}

}  // namespace
}  // namespace kestrix::platform
