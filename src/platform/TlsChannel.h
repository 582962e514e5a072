// TlsChannel: the TLS engine of one connection, with no socket in it. The bytes received
// from the peer go in through Receive and the plain text comes out; plain text to send
// goes in through Send, and the bytes to put on the wire are taken with TakeOutgoing. So
// one engine serves a blocking client (Socket), the HTTP service's connections and the
// tracking server's event loop alike. TLS 1.2 or later (OpenSSL).
//
// A client verifies the server's certificate against the system's store, or against the
// certificates of a PEM file of its own, and that the certificate names the host it asked
// for (a DNS name, or an IP address given as such); nothing it sends leaves before the
// handshake has verified the server. A server presents the certificate chain and key of
// its PEM files.
//
// Threads: a context may be shared by channels on several threads; a channel is used by
// one thread at a time. Errors: the state Failed with a reason (the verification's own
// words when that failed, else OpenSSL's), never an exception.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

// OpenSSL's types, declared as OpenSSL declares them.
struct ssl_st;
struct ssl_ctx_st;
struct bio_st;

namespace kestrix::platform {

class TlsContext {
public:
    // Trusts caFile's certificates (PEM), or the system's store when caFile is empty.
    static std::shared_ptr<TlsContext> ForClient(const std::string& caFile, std::string& error);
    // Presents certFile's chain (PEM, the server's certificate first) with keyFile's key.
    static std::shared_ptr<TlsContext> ForServer(const std::string& certFile, const std::string& keyFile,
                                                 std::string& error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    bool IsServer() const { return server_; }

private:
    friend class TlsChannel;
    TlsContext(ssl_ctx_st* ctx, bool server) : ctx_(ctx), server_(server) {}
    ssl_ctx_st* ctx_;
    bool server_;
};

class TlsChannel {
public:
    enum class State { Handshaking, Open, Closed, Failed };

    // A client channel names the host it connects to (verified against the certificate);
    // a server channel ignores hostName.
    TlsChannel(std::shared_ptr<TlsContext> context, const std::string& hostName = {});
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Takes bytes that came from the peer; the plain text they carried is appended to plain.
    State Receive(const char* data, size_t size, std::string& plain);
    // Plain text to send; before the handshake has ended it waits for it.
    State Send(const char* data, size_t size);
    // Tells the peer the connection ends (its bytes join the outgoing ones).
    void Close();
    // The bytes to write to the peer now, and whether there are any.
    std::string TakeOutgoing();
    bool HasOutgoing() const;

    State GetState() const { return state_; }
    bool IsOpen() const { return state_ == State::Open; }
    const std::string& Error() const { return error_; }

private:
    State Drive();
    State Fail(int sslError);

    std::shared_ptr<TlsContext> context_;
    ssl_st* ssl_ = nullptr;
    bio_st* in_ = nullptr;   // the wire bytes for the engine to read
    bio_st* out_ = nullptr;  // the wire bytes the engine wrote
    State state_ = State::Handshaking;
    size_t seen_ = 0;  // a server's first bytes checked for a handshake record
    std::string waiting_;  // plain text sent before the handshake ended
    std::string error_;
};

}  // namespace kestrix::platform
