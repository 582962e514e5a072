#include "platform/TlsChannel.h"

#include <gtest/gtest.h>

#include "support/TestCertificates.h"
#include "support/TestSupport.h"

namespace kestrix::platform {
namespace {

using State = TlsChannel::State;

class TlsChannelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        certs_ = new test::TestCertificates(test::MakeTestCertificates(dir_->Path()));
    }
    static void TearDownTestSuite() {
        delete certs_;
        delete dir_;
    }
    // Carries the bytes each side has for the other until neither has any; what each
    // received in plain text goes to its string.
    static void Pump(TlsChannel& client, TlsChannel& server, std::string& atClient, std::string& atServer) {
        while (client.HasOutgoing() || server.HasOutgoing()) {
            std::string c = client.TakeOutgoing(), s = server.TakeOutgoing();
            server.Receive(c.data(), c.size(), atServer);
            client.Receive(s.data(), s.size(), atClient);
        }
    }
    static test::TempDir* dir_;
    static test::TestCertificates* certs_;
};

test::TempDir* TlsChannelTest::dir_;
test::TestCertificates* TlsChannelTest::certs_;

// What the client sends before the handshake waits for it and arrives whole, both ways;
// a server that the client cannot trust, or that is not the one it named, gets nothing.
TEST_F(TlsChannelTest, TheClientSendsOnlyToAServerItVerified) {
    ASSERT_TRUE(certs_->made);
    struct Case { const char* host; std::string cert, key; State client; const char* reason; };
    const Case cases[] = {
        {"localhost", certs_->cert, certs_->key, State::Open, ""},
        {"127.0.0.1", certs_->cert, certs_->key, State::Open, ""},
        {"::1", certs_->cert, certs_->key, State::Open, ""},
        {"localhost", certs_->strangerCert, certs_->strangerKey, State::Failed,
         "the server's certificate does not verify: unable to get local issuer certificate"},
        {"localhost", certs_->elsewhereCert, certs_->elsewhereKey, State::Failed,
         "the server's certificate does not verify: hostname mismatch"},
        {"127.0.0.2", certs_->cert, certs_->key, State::Failed,
         "the server's certificate does not verify: IP address mismatch"},
    };
    std::string error;
    auto trust = TlsContext::ForClient(certs_->ca, error);
    ASSERT_TRUE(trust) << error;
    const std::string login(300, '\x2c');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host + (" with " + c.cert));
        auto serving = TlsContext::ForServer(c.cert, c.key, error);
        ASSERT_TRUE(serving) << error;
        TlsChannel client(trust, c.host), server(serving);
        std::string atClient, atServer;
        client.Send(login.data(), login.size());
        Pump(client, server, atClient, atServer);
        server.Send("ok", 2);
        Pump(client, server, atClient, atServer);
        EXPECT_EQ(client.GetState(), c.client);
        EXPECT_EQ(client.Error(), c.reason);
        EXPECT_EQ(atServer, c.client == State::Open ? login : "");
        EXPECT_EQ(atClient, c.client == State::Open ? "ok" : "");
    }
}

TEST_F(TlsChannelTest, AServerRefusesPlainTextAndBadFilesAreNamed) {
    std::string error;
    auto serving = TlsContext::ForServer(certs_->cert, certs_->key, error);
    ASSERT_TRUE(serving) << error;
    TlsChannel server(serving);
    std::string plain;
    const std::string login = "\x2c\x00\x30\x00anna";
    EXPECT_EQ(server.Receive(login.data(), login.size(), plain), State::Failed);
    EXPECT_EQ(plain, "");
    EXPECT_EQ(server.Error(), "the client does not speak TLS");

    EXPECT_FALSE(TlsContext::ForClient(dir_->File("none.pem"), error));
    EXPECT_EQ(error.rfind("cannot load the certificates of " + dir_->File("none.pem") + ": ", 0), 0u) << error;
    EXPECT_FALSE(TlsContext::ForServer(certs_->cert, certs_->strangerKey, error));
    EXPECT_EQ(error, "cannot load the key " + certs_->strangerKey + ": key values mismatch");
}

}  // namespace
}  // namespace kestrix::platform
