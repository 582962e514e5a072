#include "gps/SerialPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "GpsTestSupport.h"
#include "platform/Event.h"
#include "platform/GpsMultiplexer.h"
#include "platform/LastError.h"
#include "platform/SerialDevice.h"

namespace kestrix {
namespace {

using platform::LineSettings;

using SerialPortTest = test::PtyTest;

// bits: data bits on the line when accepted
struct LineCase { const char* what; uint32_t baud, dataBitsFlag, parity, stopBits; bool accepted; int bits; };

TEST_F(SerialPortTest, LineSettingsAreMappedOrRefused) {
    const LineCase cases[] = {
        {"default 9600 8N1", 9600, 8, 0, 0, true, 8},
        {"flag 4 is seven bits, even parity", 4800, 4, 2, 0, true, 7},
        {"flag 1 is five bits, odd parity, two stop bits", 38400, 1, 1, 2, true, 5},
        {"flag 2 is six bits, mark parity", 9600, 2, 3, 0, true, 6},
        {"space parity", 115200, 8, 4, 0, true, 8},
        {"one and a half stop bits", 9600, 8, 0, 1, false, 0},
        {"DATABITS 16 has no line equivalent", 9600, 16, 0, 0, false, 0},
        {"a count of bits is not a flag", 9600, 7, 0, 0, false, 0},
        {"rate that is not a standard one", 9601, 8, 0, 0, false, 0},
        {"parity beyond space", 9600, 8, 5, 0, false, 0},
        {"stop bits beyond two", 9600, 8, 0, 3, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        settings_.SetBaudRate(c.baud);
        settings_.SetDataBits(c.dataBitsFlag);
        settings_.SetParity(c.parity);
        settings_.SetStopBits(c.stopBits);

        LineSettings line;
        EXPECT_EQ(SerialPort::LineFromSettings(settings_, line), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(line.dataBits, c.bits);
        }

        SerialPort port;
        ASSERT_TRUE(port.SetPortName(pty_.SlavePath()));
        EXPECT_EQ(port.Open(&settings_), c.accepted);
        EXPECT_EQ(port.IsOpen(), c.accepted);
        EXPECT_EQ(settings_.GetDataBits(), c.dataBitsFlag);  // the stored value stays the flag
        if (!c.accepted) {
            EXPECT_EQ(platform::GetLastError(), EINVAL);
            continue;
        }
        // A pseudo-terminal keeps the rate and the stop bits; its driver forces 8 data
        // bits and no parity, so those are checked through the mapping above.
        LineSettings got;
        ASSERT_TRUE(port.QueryLine(got));
        EXPECT_EQ(got.baudRate, c.baud);
        EXPECT_EQ(got.stopBits, static_cast<int>(c.stopBits));
    }
}

TEST_F(SerialPortTest, ComNamesResolveThroughTheRegistryMap) {
    MapPort("COM3:", pty_.SlavePath());
    MapPort("COM5:", dir_.File("missing-tty"));
    struct {
        const char* name;
        bool opens;
        int error;
    } cases[] = {
        {"COM3:", true, 0}, {"com3:", true, 0}, {"COM03:", true, 0},
        {"COM4:", false, ENOENT},  // not in the map: the registry map is the whole map
        {"COM5:", false, ENOENT},  // in the map, device missing
        {"COM3", false, ENOENT},   {"COMX:", false, ENOENT}, {"relative/path", false, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::SerialDevice device;
        EXPECT_EQ(device.Open(c.name), c.opens);
        if (c.opens) {
            EXPECT_EQ(device.DevicePath(), pty_.SlavePath());
            EXPECT_EQ(device.Kind(), platform::SerialKind::Tty);
        } else {
            EXPECT_EQ(platform::GetLastError(), c.error);
        }
    }
}

TEST_F(SerialPortTest, DefaultMapNumbersSerialDevicesByKindThenNumber) {
    const std::string dev = dir_.File("dev");
    std::filesystem::create_directory(dev);
    for (const char* n : {"ttyS10", "ttyS2", "ttyUSB0", "ttyACM1", "ttyACM0", "ttyS0", "tty0", "ttySX", "ttyUSB",
                          "console", "ttyACM10"}) {
        test::WriteFile(dev + "/" + n, "");
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"COM1:", dev + "/ttyACM0"}, {"COM2:", dev + "/ttyACM1"}, {"COM3:", dev + "/ttyACM10"},
        {"COM4:", dev + "/ttyUSB0"}, {"COM5:", dev + "/ttyS0"},   {"COM6:", dev + "/ttyS2"},
        {"COM7:", dev + "/ttyS10"},
    };
    EXPECT_EQ(platform::DefaultPortMap(dev), expected);
    EXPECT_TRUE(platform::DefaultPortMap(dir_.File("none")).empty());
}

TEST_F(SerialPortTest, ReadsDeliverExactBytesAndStopAtPauses) {
    platform::Event stop(true);
    SerialPort port(&stop);
    ASSERT_TRUE(port.SetPortName(pty_.SlavePath()));
    ASSERT_TRUE(port.Open(&settings_));

    // More than asked: the read returns exactly the requested count, the rest stays.
    ASSERT_TRUE(pty_.Write("$GPGGA,1*00\r\n\x01\xff"));
    char buf[12] = {};
    ASSERT_EQ(port.Read(buf, 10), 10);
    EXPECT_EQ(std::string(buf, 10), "$GPGGA,1*0");
    ASSERT_EQ(port.Read(buf, 10), 5);  // a pause after the last byte ends the read
    EXPECT_EQ(std::string(buf, 5), std::string("0\r\n\x01\xff", 5));

    // Nothing arrives: 0 after the total time-out.
    EXPECT_EQ(port.Read(buf, 10), 0);
    EXPECT_TRUE(port.IsOpen());

    // The stop event ends a read at once, and keeps ending them while set.
    stop.Set();
    EXPECT_EQ(port.Read(buf, 10), 0);
    EXPECT_TRUE(port.IsOpen());

    EXPECT_EQ(port.Read(nullptr, 10), 0);
    EXPECT_EQ(port.Read(buf, 0), 0);
    port.Close();
    port.Close();
    EXPECT_EQ(port.Read(buf, 4), 0) << "closed";
    EXPECT_FALSE(port.Configure(&settings_));
}

}  // namespace
}  // namespace kestrix
