#include "server/Packet.h"

#include <zlib.h>

#include <bit>
#include <chrono>
#include <cstring>

#include "base/LittleEndian.h"
#include "server/Messages.h"

namespace kestrix {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Reads exactly `length` bytes, however the transport splits them.
PacketError ReadExactly(ByteStream& stream, uint8_t* buffer, size_t length, SteadyClock::time_point deadline) {
    size_t got = 0;
    while (got < length) {
        if (SteadyClock::now() > deadline) return PacketError::TimedOut;
        size_t n = 0;
        if (!stream.Read(buffer + got, length - got, n)) return PacketError::Transport;
        if (n == 0) return PacketError::Closed;
        if (n > length - got) return PacketError::Transport;  // a stream that lies about its count
        got += n;
    }
    return PacketError::None;
}

}  // namespace

const char* PacketErrorName(PacketError e) {
    switch (e) {
        case PacketError::None: return "none";
        case PacketError::NoData: return "no data";
        case PacketError::Transport: return "transport error";
        case PacketError::Closed: return "connection closed";
        case PacketError::TimedOut: return "timed out";
        case PacketError::TooShort: return "length too short";
        case PacketError::TooLong: return "length too long";
        case PacketError::Compression: return "bad compressed data";
        case PacketError::SizeMismatch: return "inflated size differs from declared size";
    }
    return "unknown";
}

bool Packet::Fail(PacketError e) {
    error_ = e;
    return false;
}

bool Packet::Prepare(const ServerMessage& message) { return Prepare(message.GetType(), message.GetSize()); }

bool Packet::Prepare(uint32_t type, size_t size) {
    Reset();
    type_ = type;
    if (size < kHeaderSize) return Fail(PacketError::TooShort);
    if (size > kMaxSize) return Fail(PacketError::TooLong);
    data_.assign(size, 0);
    return true;
}

void Packet::Reset() {
    type_ = 0;
    compressed_ = false;
    data_.clear();
    data_.shrink_to_fit();
    wire_.clear();
    wire_.shrink_to_fit();
    position_ = 0;
    error_ = PacketError::None;
}

bool Packet::SetPosition(size_t position) {
    if (position > data_.size()) return false;
    position_ = position;
    return true;
}

bool Packet::WriteU16(uint16_t v) {
    if (!Need(2)) return false;
    PutU16(&data_[position_], v);
    position_ += 2;
    return true;
}

bool Packet::WriteU32(uint32_t v) {
    if (!Need(4)) return false;
    PutU32(&data_[position_], v);
    position_ += 4;
    return true;
}

bool Packet::WriteRaw8(double v) { return WriteRaw8(&v, 1); }

bool Packet::WriteRaw8(const double* values, size_t count) {
    if (count > kMaxSize / 8 || !Need(8 * count)) return false;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t bits = std::bit_cast<uint64_t>(values[i]);
        PutU32(&data_[position_], static_cast<uint32_t>(bits));
        PutU32(&data_[position_ + 4], static_cast<uint32_t>(bits >> 32));
        position_ += 8;
    }
    return true;
}

bool Packet::WriteString(std::string_view s) {
    if (s.size() > 0xFFFF || !Need(2 + s.size())) return false;
    PutU16(&data_[position_], static_cast<uint16_t>(s.size()));
    if (!s.empty()) std::memcpy(&data_[position_ + 2], s.data(), s.size());
    position_ += 2 + s.size();
    return true;
}

namespace {

// ORs the low `width` bits of value into data at byte `position`, bit `bitIndex`, and
// moves both on. The caller has checked that the bytes exist.
inline void Pack(uint8_t* data, size_t& position, uint64_t value, unsigned width, unsigned& bitIndex) {
    const unsigned end = bitIndex + width;
    if (end > 64) {
        // Does not fit one 64-bit word after the partial byte: finish that byte, then the
        // rest starts on a whole byte.
        const unsigned first = 8 - bitIndex;
        Pack(data, position, value, first, bitIndex);
        Pack(data, position, value >> first, width - first, bitIndex);
        return;
    }
    // The whole field shifted into one word and ORed in a byte at a time.
    const uint64_t bits = (width == 64 ? value : value & ((uint64_t{1} << width) - 1)) << bitIndex;
    uint8_t* const p = data + position;
    for (unsigned i = 0; i < (end + 7) / 8; ++i) p[i] = static_cast<uint8_t>(p[i] | (bits >> (8 * i)));
    position += end / 8;
    bitIndex = end % 8;
}

}  // namespace

bool Packet::WritePacked(uint64_t value, unsigned width, unsigned& bitIndex) {
    return WritePacked(&value, 1, width, bitIndex);
}

bool Packet::WritePacked(const uint64_t* values, size_t count, unsigned width, unsigned& bitIndex) {
    if (width < 1 || width > 64 || bitIndex > 7) return false;
    if (count > (kMaxSize * 8) / width || !Need((bitIndex + width * count + 7) / 8)) return false;
    uint8_t* const data = data_.data();
    if (width == 32 && bitIndex == 0) {
        // Whole 32-bit fields on byte boundaries (every field of a track message): one
        // word each.
        for (size_t i = 0; i < count; ++i) {
            uint8_t* const p = data + position_ + 4 * i;
            PutU32(p, GetU32(p) | static_cast<uint32_t>(values[i]));
        }
        position_ += 4 * count;
        return true;
    }
    for (size_t i = 0; i < count; ++i) Pack(data, position_, values[i], width, bitIndex);
    return true;
}

bool Packet::ReadU16(uint16_t& v) {
    if (!Need(2)) return false;
    v = GetU16(&data_[position_]);
    position_ += 2;
    return true;
}

bool Packet::ReadU32(uint32_t& v) {
    if (!Need(4)) return false;
    v = GetU32(&data_[position_]);
    position_ += 4;
    return true;
}

bool Packet::ReadRaw8(double& v) {
    if (!Need(8)) return false;
    uint64_t bits = GetU32(&data_[position_]) | (static_cast<uint64_t>(GetU32(&data_[position_ + 4])) << 32);
    v = std::bit_cast<double>(bits);
    position_ += 8;
    return true;
}

bool Packet::ReadString(std::string& out, size_t maxLength) {
    if (!Need(2)) return false;
    size_t count = GetU16(&data_[position_]);
    if (count > maxLength || !Need(2 + count)) return false;
    out.assign(reinterpret_cast<const char*>(&data_[position_ + 2]), count);
    position_ += 2 + count;
    return true;
}

bool Packet::ReadPacked(uint64_t& value, unsigned width, unsigned& bitIndex) {
    if (width < 1 || width > 64 || bitIndex > 7) return false;
    if (!Need((bitIndex + width + 7) / 8)) return false;
    unsigned shift = 0;
    while (width > 0) {
        unsigned n = 8 - bitIndex;
        if (n > width) n = width;
        uint64_t chunk = (data_[position_] >> bitIndex) & ((1u << n) - 1u);
        value |= chunk << shift;
        shift += n;
        width -= n;
        bitIndex += n;
        if (bitIndex == 8) {
            bitIndex = 0;
            ++position_;
        }
    }
    return true;
}

bool Packet::Compress() {
    if (data_.size() < kHeaderSize) return Fail(PacketError::NoData);
    const uLong inputLength = static_cast<uLong>(data_.size() - kHeaderSize);
    uLongf streamLength = compressBound(inputLength);
    std::vector<uint8_t> out(kCompressedHeaderSize + streamLength);
    if (compress2(out.data() + kCompressedHeaderSize, &streamLength, data_.data() + kHeaderSize, inputLength,
                  kZlibLevel) != Z_OK) {
        return Fail(PacketError::Compression);
    }
    const size_t total = kCompressedHeaderSize + streamLength;
    if (total > kMaxSize) return Fail(PacketError::TooLong);
    out.resize(total);
    PutU16(&out[0], static_cast<uint16_t>((type_ & 0x7FFF) | kCompressedFlag));
    PutU16(&out[2], static_cast<uint16_t>(total));
    PutU32(&out[4], static_cast<uint32_t>(data_.size()));
    wire_ = std::move(out);
    compressed_ = true;
    return true;
}

bool Packet::Send(ByteStream& stream) {
    error_ = PacketError::None;
    if (data_.empty()) return Fail(PacketError::NoData);
    if (data_.size() >= kCompressThreshold && wire_.empty() && !Compress()) return false;
    const std::vector<uint8_t>& bytes = wire_.empty() ? data_ : wire_;
    size_t written = 0;
    if (!stream.Write(bytes.data(), bytes.size(), written) || written != bytes.size()) {
        return Fail(PacketError::Transport);
    }
    return true;
}

bool Packet::Receive(ByteStream& stream, int timeLimitMs) {
    Reset();
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeLimitMs < 0 ? 0 : timeLimitMs);
    uint8_t header[kHeaderSize];
    PacketError e = ReadExactly(stream, header, sizeof header, deadline);
    if (e != PacketError::None) return Fail(e);
    const uint16_t rawType = GetU16(header);
    const uint16_t length = GetU16(header + 2);
    // The length counts the header, so anything shorter than it cannot be a packet.
    const size_t minimum = (rawType & kCompressedFlag) ? kCompressedHeaderSize : kHeaderSize;
    if (length < minimum) return Fail(PacketError::TooShort);
    std::vector<uint8_t> payload(length - kHeaderSize);
    e = ReadExactly(stream, payload.data(), payload.size(), deadline);
    if (e != PacketError::None) return Fail(e);
    return Unpack(rawType, payload.data(), payload.size());
}

bool Packet::Parse(const uint8_t* bytes, size_t length) {
    Reset();
    if (bytes == nullptr || length < kHeaderSize) return Fail(PacketError::TooShort);
    const uint16_t rawType = GetU16(bytes);
    const uint16_t stated = GetU16(bytes + 2);
    const size_t minimum = (rawType & kCompressedFlag) ? kCompressedHeaderSize : kHeaderSize;
    if (stated < minimum) return Fail(PacketError::TooShort);
    if (stated > length) return Fail(PacketError::Closed);
    return Unpack(rawType, bytes + kHeaderSize, stated - kHeaderSize);
}

bool Packet::Unpack(uint16_t rawType, const uint8_t* payload, size_t payloadLength) {
    type_ = rawType & 0x7FFF;
    compressed_ = (rawType & kCompressedFlag) != 0;
    if (!compressed_) {
        data_.resize(kHeaderSize + payloadLength);
        PutU16(&data_[0], static_cast<uint16_t>(type_));
        PutU16(&data_[2], static_cast<uint16_t>(payloadLength + kHeaderSize));
        if (payloadLength > 0) std::memcpy(&data_[kHeaderSize], payload, payloadLength);
        position_ = kHeaderSize;
        return true;
    }
    if (payloadLength < 4) return Fail(PacketError::TooShort);
    const uint32_t declared = GetU32(payload);
    if (declared < kHeaderSize) return Fail(PacketError::TooShort);
    if (declared > kMaxSize) return Fail(PacketError::TooLong);
    // One byte more than declared, so that a stream inflating beyond its declared size is
    // told apart from a damaged one.
    std::vector<uint8_t> out(declared + 1, 0);
    PutU16(&out[0], static_cast<uint16_t>(type_));
    PutU16(&out[2], static_cast<uint16_t>(declared));
    const uLongf expected = declared - kHeaderSize;
    uLongf produced = expected + 1;
    // The source length is exactly the compressed bytes received, never more.
    int rc = uncompress(out.data() + kHeaderSize, &produced, payload + 4, static_cast<uLong>(payloadLength - 4));
    if (rc == Z_BUF_ERROR && produced > expected) return Fail(PacketError::SizeMismatch);
    if (rc != Z_OK) return Fail(PacketError::Compression);
    if (produced != expected) return Fail(PacketError::SizeMismatch);
    out.resize(declared);
    data_ = std::move(out);
    position_ = kHeaderSize;
    return true;
}

}  // namespace kestrix
