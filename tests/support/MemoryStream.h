// Wire helpers for the tests of the tracker protocol and the reference server: a
// ByteStream over a byte string (handing out at most N bytes a read, as TCP may), the
// bytes a message goes out as, little-endian appends and hex for readable failures.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "server/ByteStream.h"
#include "server/Messages.h"
#include "server/Packet.h"

namespace kestrix::test {

using Bytes = std::vector<uint8_t>;

class MemoryStream final : public ByteStream {
public:
    explicit MemoryStream(Bytes input = {}, size_t chunk = 0) : input_(std::move(input)), chunk_(chunk) {}
    bool IsOpen() const override { return true; }
    bool Write(const uint8_t* data, size_t length, size_t& written) override {
        output_.insert(output_.end(), data, data + length);
        written = length;
        return true;
    }
    bool Read(uint8_t* buffer, size_t length, size_t& received) override {
        size_t n = std::min(length, input_.size() - offset_);
        if (chunk_) n = std::min(n, chunk_);
        std::copy_n(input_.begin() + static_cast<long>(offset_), n, buffer);
        offset_ += n;
        received = n;
        return true;
    }
    bool Peek(uint8_t*, size_t, size_t& received) override {
        received = 0;
        return false;
    }
    const Bytes& Output() const { return output_; }
    size_t Consumed() const { return offset_; }

private:
    Bytes input_;
    size_t chunk_;
    size_t offset_ = 0;
    Bytes output_;
};

// The bytes the tracker puts on the wire for a message (compressed from 257 bytes on);
// empty when it cannot be encoded.
inline Bytes Encode(ServerMessage& message) {
    Packet p;
    MemoryStream out;
    if (!p.Prepare(message) || !message.Write(p) || !p.Send(out)) return {};
    return out.Output();
}

// Little-endian appends, written out byte by byte (independent of the code under test).
template <class T>
void AppendLe(Bytes& b, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Append16(Bytes& b, uint16_t v) { AppendLe(b, v); }
inline void Append32(Bytes& b, uint32_t v) { AppendLe(b, v); }
inline void Append64(Bytes& b, uint64_t v) { AppendLe(b, v); }
inline void AppendText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

inline std::string Hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        if (i) s += (i % 4 == 0) ? " | " : " ";
        s += buf;
    }
    return s;
}

}  // namespace kestrix::test
