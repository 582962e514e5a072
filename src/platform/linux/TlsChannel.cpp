#include "platform/TlsChannel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>

namespace kestrix::platform {
namespace {

// The reason of the oldest error OpenSSL queued on this thread, and the queue emptied.
std::string OpenSslReason(const std::string& fallback) {
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0) return fallback;
    const char* reason = ERR_reason_error_string(e);
    return reason ? reason : fallback;
}

bool IsIpAddress(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

SSL_CTX* NewContext(bool server, std::string& error) {
    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
    if (!ctx || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1) {
        error = "cannot set up TLS: " + OpenSslReason("out of memory");
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

}  // namespace

std::shared_ptr<TlsContext> TlsContext::ForClient(const std::string& caFile, std::string& error) {
    SSL_CTX* ctx = NewContext(false, error);
    if (!ctx) return nullptr;
    const bool trusted = caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx) == 1
                                        : SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) == 1;
    if (!trusted) {
        error = (caFile.empty() ? std::string("cannot load the system's certificates")
                                : "cannot load the certificates of " + caFile) +
                ": " + OpenSslReason("no certificate found");
        SSL_CTX_free(ctx);
        return nullptr;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    return std::shared_ptr<TlsContext>(new TlsContext(ctx, false));
}

std::shared_ptr<TlsContext> TlsContext::ForServer(const std::string& certFile, const std::string& keyFile,
                                                  std::string& error) {
    SSL_CTX* ctx = NewContext(true, error);
    if (!ctx) return nullptr;
    if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1) {
        error = "cannot load the certificate " + certFile + ": " + OpenSslReason("no certificate found");
    } else if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = "cannot load the key " + keyFile + ": " + OpenSslReason("no key found");
    } else {
        return std::shared_ptr<TlsContext>(new TlsContext(ctx, true));
    }
    ERR_clear_error();
    SSL_CTX_free(ctx);
    return nullptr;
}

TlsContext::~TlsContext() { SSL_CTX_free(ctx_); }

TlsChannel::TlsChannel(std::shared_ptr<TlsContext> context, const std::string& hostName)
    : context_(std::move(context)) {
    ERR_clear_error();
    ssl_ = context_ ? SSL_new(context_->ctx_) : nullptr;
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !in_ || !out_) {
        BIO_free(in_);
        BIO_free(out_);
        in_ = out_ = nullptr;
        state_ = State::Failed;
        error_ = "cannot set up TLS: " + OpenSslReason("out of memory");
        return;
    }
    SSL_set_bio(ssl_, in_, out_);  // the engine owns both from here
    if (context_->IsServer()) {
        SSL_set_accept_state(ssl_);
        return;
    }
    SSL_set_connect_state(ssl_);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    bool named;
    if (IsIpAddress(hostName)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(param, hostName.c_str()) == 1;
    } else {
        named = SSL_set_tlsext_host_name(ssl_, hostName.c_str()) == 1 && SSL_set1_host(ssl_, hostName.c_str()) == 1;
    }
    if (!named) {
        state_ = State::Failed;
        error_ = "cannot ask for the name \"" + hostName + "\": " + OpenSslReason("not a host name");
        return;
    }
    Drive();  // the client's first flight
}

TlsChannel::~TlsChannel() { SSL_free(ssl_); }

TlsChannel::State TlsChannel::Fail(int sslError) {
    state_ = State::Failed;
    const long verify = SSL_get_verify_result(ssl_);
    if (!context_->IsServer() && verify != X509_V_OK) {
        error_ = std::string("the server's certificate does not verify: ") + X509_verify_cert_error_string(verify);
        ERR_clear_error();
    } else if (sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_SSL) {
        error_ = "TLS failed: " + OpenSslReason("the peer does not speak TLS");
    } else {
        error_ = "TLS failed (error " + std::to_string(sslError) + ")";
        ERR_clear_error();
    }
    return state_;
}

TlsChannel::State TlsChannel::Drive() {
    if (state_ == State::Handshaking) {
        ERR_clear_error();
        int r = SSL_do_handshake(ssl_);
        if (r != 1) {
            int e = SSL_get_error(ssl_, r);
            return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE ? state_ : Fail(e);
        }
        state_ = State::Open;
        if (!waiting_.empty()) {
            std::string w;
            w.swap(waiting_);
            return Send(w.data(), w.size());
        }
    }
    return state_;
}

TlsChannel::State TlsChannel::Receive(const char* data, size_t size, std::string& plain) {
    if (state_ == State::Failed || state_ == State::Closed) return state_;
    // A client speaking the tracking protocol (or HTTP) in clear would wait for an answer
    // while the engine waits for the rest of what it takes for a record: a handshake
    // record starts with 22 and major version 3, anything else is refused at once.
    if (context_->IsServer() && state_ == State::Handshaking && seen_ < 2) {
        for (size_t i = 0; i < size && seen_ < 2; ++i, ++seen_) {
            if (static_cast<unsigned char>(data[i]) != (seen_ == 0 ? 22 : 3)) {
                state_ = State::Failed;
                error_ = "the client does not speak TLS";
                return state_;
            }
        }
    }
    if (size > 0 && BIO_write(in_, data, static_cast<int>(size)) != static_cast<int>(size)) return Fail(SSL_ERROR_SSL);
    if (Drive() != State::Open) return state_;
    char buffer[16384];
    for (;;) {
        ERR_clear_error();
        int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0) {
            plain.append(buffer, static_cast<size_t>(n));
            continue;
        }
        int e = SSL_get_error(ssl_, n);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return state_;
        if (e == SSL_ERROR_ZERO_RETURN) return state_ = State::Closed;
        return Fail(e);
    }
}

TlsChannel::State TlsChannel::Send(const char* data, size_t size) {
    if (state_ == State::Handshaking) {
        waiting_.append(data, size);
        return state_;
    }
    if (state_ != State::Open) return state_;
    size_t done = 0;
    while (done < size) {
        ERR_clear_error();
        int n = SSL_write(ssl_, data + done, static_cast<int>(std::min<size_t>(size - done, 1 << 20)));
        if (n <= 0) return Fail(SSL_get_error(ssl_, n));
        done += static_cast<size_t>(n);
    }
    return state_;
}

void TlsChannel::Close() {
    if (state_ == State::Open) {
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
    }
    if (state_ != State::Failed) state_ = State::Closed;
}

std::string TlsChannel::TakeOutgoing() {
    std::string out;
    if (!out_) return out;
    size_t pending = BIO_ctrl_pending(out_);
    out.resize(pending);
    if (pending > 0) {
        int n = BIO_read(out_, out.data(), static_cast<int>(pending));
        out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    return out;
}

bool TlsChannel::HasOutgoing() const { return out_ && BIO_ctrl_pending(out_) > 0; }

}  // namespace kestrix::platform
