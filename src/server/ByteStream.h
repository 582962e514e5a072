// ByteStream: the endpoint that packets travel over. TcpSocket (the upload),
// ServerConnection (the tracker session) and the reference server's client sockets
// implement it; CallbackStream adapts two plain functions (tests, fuzzing, servers).
// One thread uses a stream at a time. Every call is bounded in time by the stream
// itself (a time limit and, for sockets, the owner's stop event).
//   Write: true only when every byte went out.
//   Read/Peek: one receive of at most length bytes; false on a transport error (or a
//     time-out or stop); a successful read of 0 bytes means the peer closed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

namespace kestrix {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual bool IsOpen() const = 0;
    virtual bool Write(const uint8_t* data, size_t length, size_t& written) = 0;
    virtual bool Read(uint8_t* buffer, size_t length, size_t& received) = 0;
    virtual bool Peek(uint8_t* buffer, size_t length, size_t& received) = 0;
};

// A stream made of two functions. A missing function fails its operation; Peek is not
// supported (it fails).
class CallbackStream final : public ByteStream {
public:
    using WriteFn = std::function<bool(const uint8_t*, size_t, size_t&)>;
    using ReadFn = std::function<bool(uint8_t*, size_t, size_t&)>;
    CallbackStream(ReadFn read, WriteFn write) : read_(std::move(read)), write_(std::move(write)) {}
    bool IsOpen() const override { return true; }
    bool Write(const uint8_t* data, size_t length, size_t& written) override {
        written = 0;
        return write_ ? write_(data, length, written) : false;
    }
    bool Read(uint8_t* buffer, size_t length, size_t& received) override {
        received = 0;
        return read_ ? read_(buffer, length, received) : false;
    }
    bool Peek(uint8_t*, size_t, size_t& received) override {
        received = 0;
        return false;
    }

private:
    ReadFn read_;
    WriteFn write_;
};

}  // namespace kestrix
