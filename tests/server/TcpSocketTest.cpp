#include "server/TcpSocket.h"

#include <gtest/gtest.h>

#include <thread>

#include "FullListener.h"
#include "platform/LastError.h"
#include "platform/Socket.h"
#include "server/Packet.h"
#include "support/TestSupport.h"

namespace kestrix {
namespace {

using test::FullListener;

TEST(TcpSocketTest, ConnectEndsAtOnceOnStop) {
    FullListener full;
    if (!full.Fill()) GTEST_SKIP() << "this system does not let the accept queue fill";
    platform::Event stop(true, false);
    TcpSocket socket;
    socket.SetStopEvent(&stop);
    socket.SetTimeouts(600000, 600000);  // only the stop can end this connect
    std::thread stopper([&] { stop.Set(); });
    int error = 0;
    EXPECT_FALSE(socket.Connect("127.0.0.1", full.listener.Port(), error));
    stopper.join();
    EXPECT_EQ(error, platform::kSocketCancelled);
    EXPECT_FALSE(socket.IsOpen());
}

TEST(TcpSocketTest, ConnectHasATimeLimit) {
    FullListener full;
    if (!full.Fill()) GTEST_SKIP() << "this system does not let the accept queue fill";
    TcpSocket socket;
    socket.SetTimeouts(200, 1000);
    int error = 0;
    EXPECT_FALSE(socket.Connect("127.0.0.1", full.listener.Port(), error));
    EXPECT_EQ(error, platform::kSocketTimedOut);
}

TEST(TcpSocketTest, ReadAndWriteOnAClosedSocketFail) {
    TcpSocket socket;
    uint8_t b[4] = {};
    size_t n = 7;
    EXPECT_FALSE(socket.Read(b, 4, n));
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(socket.Write(b, 4, n));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(socket.PeerClosed());
}

TEST(TcpSocketTest, PacketRoundTripAndPeek) {
    platform::TcpListener server;
    ASSERT_EQ(server.Listen("127.0.0.1", 0), 0);
    TcpSocket client;
    int error = -1;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.Port(), error));
    EXPECT_EQ(error, 0);
    platform::Socket peer = server.Accept(5000, nullptr);
    ASSERT_TRUE(peer.IsOpen());
    const uint8_t answer[] = {45, 0, 6, 0, 0x34, 0x12};
    ASSERT_TRUE(peer.SendAll(answer, sizeof answer, 1000, nullptr));
    uint8_t first[2] = {};
    size_t n = 0;
    ASSERT_TRUE(test::WaitFor([&] { return client.Peek(first, 2, n) && n == 2; }));
    EXPECT_EQ(first[0], 45) << "peeking leaves the bytes in place";
    Packet p;
    ASSERT_TRUE(p.Receive(client));
    EXPECT_EQ(p.Type(), 45u);
    uint16_t v = 0;
    ASSERT_TRUE(p.ReadU16(v));
    EXPECT_EQ(v, 0x1234);
}

}  // namespace
}  // namespace kestrix
