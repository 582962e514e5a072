#include "gps/DetectGpsPort.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "GpsTestSupport.h"
#include "platform/GpsMultiplexer.h"
#include "platform/SerialDevice.h"

namespace kestrix {
namespace {

class DetectGpsPortTest : public test::PtyTest {
protected:
    void SetMultiplexer(const std::string& value) {
        auto key = platform::RegKey::Open(platform::kMultiplexerKey, true);
        ASSERT_TRUE(key);
        key->SetString(platform::kMultiplexerValue, value);
        ASSERT_EQ(key->Close(), platform::kErrorSuccess);
    }

    bool MultiplexerValue(std::string& value) {
        auto key = platform::RegKey::Open(platform::kMultiplexerKey, false);
        return key && key->QueryString(platform::kMultiplexerValue, value);
    }
};

TEST_F(DetectGpsPortTest, ReceiverIsRecognisedByItsFirstBytes) {
    const struct {
        const char* what;
        std::string output;
        bool found;
    } cases[] = {
        {"a GGA sentence first", "$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", true},
        {"a GSV sentence first", "$GPGSV,3,1,11,03,03,111,00*74\r\n", true},
        {"a SiRF text first", "$PSRFTXT,Version GSW3.2.4*35\r\n", true},
        {"an RMC sentence first", "$GPRMC,120000.00,A,4807.038,N,01131.000,E,0.0,0.0,230394,,*1C\r\n", false},
        {"a GN talker", "$GNGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*59\r\n", false},
        {"the middle of a sentence", "38,N,01131.000,E,1,08*47\r\n$GPGGA,", false},
        {"a silent port", "", false},
        {"a short burst", "$GPG", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::PseudoTerminal pty;
        ASSERT_TRUE(pty.Create());
        MapPort("COM3:", pty.SlavePath());
        ASSERT_TRUE(pty.Write(c.output));
        std::string name;
        EXPECT_EQ(DetectGpsPortName(kDetectMaxPort, name), c.found);
        if (c.found) {
            EXPECT_EQ(name, "COM3:");
        }
        EXPECT_TRUE(pty.Write("x"));  // the line is still there after the probe closed it
    }
}

TEST_F(DetectGpsPortTest, MultiplexerValueWinsOverComPortsWhenItFits) {
    MapPort("COM2:", pty_.SlavePath());
    const struct {
        const char* value;
        const char* expected;
    } cases[] = {
        {"GPD1:", "GPD1:"},
        {"GPD1234", "GPD1234"},     // 7 units and the terminator: 16 bytes
        {"GPD12345:", "COM2:"},     // too long for 16 bytes: the scan runs
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        SetMultiplexer(c.value);
        pty_.DiscardPending();
        ASSERT_TRUE(pty_.Write("$GPGSA,A,3*00\r\n"));
        // The kernel moves written bytes to the terminal's input queue a moment later.
        ASSERT_TRUE(test::WaitFor([&] { return pty_.Pending() == 15u; }));
        std::string name;
        ASSERT_TRUE(DetectGpsPortName(kDetectMaxPort, name));
        EXPECT_EQ(name, c.expected);
        if (name != "COM2:") {
            EXPECT_EQ(pty_.Pending(), 15u) << "no COM port was read";
        }
    }
}

// The scan covers COM0: to the maximum port inclusive; a found name that does not fit the
// caller's buffer ends the search.
TEST_F(DetectGpsPortTest, ScanCoversComZeroToMaxPortAndTheNameMustFit) {
    MapPort("COM10:", pty_.SlavePath());
    ASSERT_TRUE(pty_.Write("$GPGGA,1*00\r\n"));
    ASSERT_TRUE(test::WaitFor([&] { return pty_.Pending() == 13u; }));
    std::string name;
    EXPECT_FALSE(DetectGpsPortName(9, name));
    EXPECT_EQ(pty_.Pending(), 13u);  // COM10: was not touched
    ASSERT_TRUE(DetectGpsPortName(10, name));
    EXPECT_EQ(name, "COM10:");

    ASSERT_TRUE(pty_.Write("$GPGGA,1*00\r\n"));
    char16_t buffer[8] = {u'?', u'?', u'?', u'?', u'?', u'?', u'?', u'?'};
    EXPECT_FALSE(DetectGpsPort(10, buffer, 6));  // "COM10:" needs 7 units
    EXPECT_EQ(buffer[0], u'?');
    EXPECT_FALSE(DetectGpsPort(10, nullptr, 16));
    pty_.DiscardPending();
    ASSERT_TRUE(pty_.Write("$GPGGA,1*00\r\n"));
    ASSERT_TRUE(DetectGpsPort(10, buffer, 7));
    EXPECT_EQ(std::u16string(buffer), u"COM10:");
}

TEST_F(DetectGpsPortTest, ProbeLineIsNineThousandSixHundredEightNOne) {
    platform::SerialDevice device;
    EXPECT_FALSE(ConfigureProbe(device));
    ASSERT_TRUE(device.Open(pty_.SlavePath()));
    platform::LineSettings odd{4800, 7, 1, 2, true};
    ASSERT_TRUE(device.Configure(odd));
    ASSERT_TRUE(ConfigureProbe(device));
    platform::LineSettings got;
    ASSERT_TRUE(device.QueryLine(got));
    EXPECT_EQ(std::tie(got.baudRate, got.dataBits, got.parity, got.stopBits), std::make_tuple(9600u, 8, 0, 0));
}

TEST_F(DetectGpsPortTest, MultiplexerValueFollowsGpsd) {
    const std::string file = dir_.File("drive.nmea");
    test::WriteFile(file, test::TestDrive(30));

    // No gpsd on the port: a stale value is removed.
    platform::SetGpsdPort(static_cast<uint16_t>(test::FreeLoopbackPort()));
    SetMultiplexer("GPD0:");
    EXPECT_FALSE(platform::UpdateGpsMultiplexerRegistry());
    std::string value;
    EXPECT_FALSE(MultiplexerValue(value));

    test::FakeGpsd gpsd;
    std::string reason;
    ASSERT_TRUE(gpsd.Start(file, dir_.File("gpsfake.log"), reason)) << reason;
    // A loaded machine may keep gpsd's greeting past the start-up's half second.
    EXPECT_TRUE(platform::UpdateGpsMultiplexerRegistry(5000));
    ASSERT_TRUE(MultiplexerValue(value));
    EXPECT_EQ(value, "GPD0:");
    std::string name;
    ASSERT_TRUE(DetectGpsPortName(kDetectMaxPort, name));
    EXPECT_EQ(name, "GPD0:");

    gpsd.Stop();
    EXPECT_FALSE(platform::UpdateGpsMultiplexerRegistry());
    EXPECT_FALSE(MultiplexerValue(value));
}

}  // namespace
}  // namespace kestrix
