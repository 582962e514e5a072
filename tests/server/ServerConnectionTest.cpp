#include "server/ServerConnection.h"

#include "TestKit.h"
#include "server/TcpSocket.h"

namespace kestrix {
namespace {

using Recorder = test::StatusRecorder;

TEST(ServerConnectionTest, TransportFailuresAreReportedAndDisconnect) {
    platform::TcpListener server;
    ASSERT_EQ(server.Listen("127.0.0.1", 0), 0);
    Recorder r;
    ServerConnection conn(&r);
    ASSERT_TRUE(conn.Connect(std::string("127.0.0.1"), server.Port()));
    server.Accept(5000, nullptr).Close();

    // The peer closing is a read of 0 bytes, not an error.
    uint8_t buf[16];
    size_t got = 99;
    EXPECT_TRUE(conn.Read(buf, sizeof buf, got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(conn.IsOpen());

    // Writing into the closed connection fails once the peer's reset arrives.
    const uint8_t data[1024] = {};
    size_t written = 0;
    int attempts = 0;
    while (conn.IsOpen() && attempts++ < 1000) conn.Write(data, sizeof data, written);
    EXPECT_FALSE(conn.IsOpen());
    const auto events = r.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], "started 0");
    EXPECT_EQ(events[1].rfind("message Write failed, error:", 0), 0u) << events[1];
    EXPECT_EQ(events[2], "stopped 0");
    EXPECT_FALSE(conn.Write(data, 1, written)) << "not connected any more";
    EXPECT_FALSE(conn.Read(buf, 1, got));
    EXPECT_EQ(r.Events().size(), 3u) << "nothing more is reported";
}

}  // namespace
}  // namespace kestrix
