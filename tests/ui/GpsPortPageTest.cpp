#include "ui/GpsPortPage.h"

#include "platform/Controls.h"
#include "resources/Dialogs.h"
#include "platform/SerialDevice.h"
#include "ui/UiFixture.h"

namespace kestrix::test {
namespace {

using namespace platform;
using namespace ui;

using GpsPortPageTest = UiTest;

std::string Shown(const ControlInfo& list) { return list.selected < 0 ? "(none)" : list.items.at(list.selected); }

TEST_F(GpsPortPageTest, ShowsTheSettingsAndStoresOnlyWhatTheListsShow) {
    struct Case {
        const char* port;
        uint32_t baud;
        int stopBitsChoice;  // -1: left as shown
        std::vector<std::string> shown;  // port, baud, data bits, parity, stop bits
        const char* storedPort;
        uint32_t storedBaud, storedStopBits;
    };
    const std::vector<Case> cases = {
        {"COM4:", 9600, -1, {"COM4:", "9600", "DATABITS_8", "No parity", "1"}, "COM4:", 9600, 0},
        {"/dev/ttyUSB0", 4800, 2, {"/dev/ttyUSB0", "4800", "DATABITS_8", "No parity", "1"}, "/dev/ttyUSB0", 4800, 2},
        {"/dev/pts/7", 4000, -1, {"/dev/pts/7", "(none)", "DATABITS_8", "No parity", "1"}, "/dev/pts/7", 4000, 0},
        {"GPD0:", 115200, -1, {"(none)", "115200", "DATABITS_8", "No parity", "1"}, "", 115200, 0},
    };
    // The port map kestrix resolves COM names through, instead of this machine's devices.
    auto key = RegKey::Open(kPortMapKey, true);
    key->SetString("COM1:", "/dev/ttyACM0");
    key->SetString("COM2:", "/dev/ttyUSB0");
    ASSERT_EQ(key->Close(), kErrorSuccess);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        Settings().SetGpsPort(std::string(c.port));
        Settings().SetBaudRate(c.baud);
        Settings().SetStopBits(0);
        ASSERT_TRUE(RunSheet(kPageGps, [&](WindowHandle sheet) {
            std::vector<std::string> shown;
            for (int id : {kIdcComPort, kIdcBaudRate, kIdcDataBits, kIdcParity, kIdcStopBits}) {
                shown.push_back(Shown(Control(sheet, id)));
            }
            EXPECT_EQ(shown, c.shown);
            const auto ports = Control(sheet, kIdcComPort).items;
            ASSERT_GE(ports.size(), 12u);
            EXPECT_EQ(ports[0], "COM0:");
            EXPECT_EQ(ports[9], "COM9:");
            EXPECT_EQ(std::vector<std::string>(ports.begin() + 10, ports.begin() + 12),
                      (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0"}));
            if (c.stopBitsChoice >= 0) SelectListItem(sheet, kIdcStopBits, c.stopBitsChoice);
            PressDone(sheet);
        }));
        EXPECT_EQ(Settings().GetGpsPort(), c.storedPort);
        EXPECT_EQ(Settings().GetBaudRate(), c.storedBaud);
        EXPECT_EQ(Settings().GetStopBits(), c.storedStopBits);
        EXPECT_EQ(Settings().GetParity(), 0u);
        EXPECT_EQ(Settings().GetDataBits(), 8u);
    }
}

}  // namespace
}  // namespace kestrix::test
