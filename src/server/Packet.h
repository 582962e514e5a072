// Packet: the in-memory buffer of one packet of the tracking protocol, with its typed
// writers and readers, the bit packer used for coordinates, and the framing on a
// ByteStream (Send compresses packets of 257 bytes or more with zlib level 6; Receive
// reads one whole packet and inflates it).
//
// Layout: the buffer always holds a whole uncompressed packet, its 4-byte header first
// (u16 type, u16 total length counting the header). After Prepare the cursor is at 0 so
// a message writes its header; after Receive the cursor is at 4, the first payload byte.
// Every value is little-endian. A packet never exceeds 65,535 bytes; every size taken
// from the network is checked against that before anything is allocated.
//
// Writers and readers return false, and change nothing, when the buffer is missing or
// too short. Nothing throws. A Packet belongs to one thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/ByteStream.h"

namespace kestrix {

class ServerMessage;

// Why the last Send or Receive failed.
enum class PacketError {
    None,
    NoData,          // nothing prepared
    Transport,       // the stream's Read or Write failed
    Closed,          // the peer closed before a whole packet arrived
    TimedOut,        // the whole packet did not arrive within the time limit
    TooShort,        // a length below the header (or below the compressed header)
    TooLong,         // a declared size above 65,535 bytes
    Compression,     // zlib refused the data
    SizeMismatch,    // the inflated size differs from the declared one
};

const char* PacketErrorName(PacketError e);

class Packet {
public:
    static constexpr size_t kHeaderSize = 4;
    static constexpr size_t kCompressedHeaderSize = 8;
    static constexpr size_t kMaxSize = 65535;
    static constexpr size_t kCompressThreshold = 257;
    static constexpr uint16_t kCompressedFlag = 0x8000;
    static constexpr int kZlibLevel = 6;
    static constexpr int kDefaultReceiveLimitMs = 15000;

    Packet() = default;
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;
    Packet(Packet&&) noexcept = default;
    Packet& operator=(Packet&&) noexcept = default;

    // type := message type, buffer := GetSize zero bytes, cursor := 0. False (and an empty
    // packet) when the size is below 4 or above 65,535.
    bool Prepare(const ServerMessage& message);
    // Same for a raw type and total size (the reference server and tests).
    bool Prepare(uint32_t type, size_t size);
    // Frees the buffer; cursor 0.
    void Reset();

    uint32_t Type() const { return type_; }
    // Total length of the uncompressed packet, header included.
    size_t Size() const { return data_.size(); }
    bool Compressed() const { return compressed_; }
    bool HasData() const { return !data_.empty(); }
    const uint8_t* Data() const { return data_.data(); }
    // The bytes that Send puts on the wire (after Compress: the compressed form).
    const std::vector<uint8_t>& Bytes() const { return compressed_ ? wire_ : data_; }
    size_t Position() const { return position_; }
    // False when beyond the end.
    bool SetPosition(size_t position);
    size_t Remaining() const { return data_.size() - position_; }
    PacketError Error() const { return error_; }

    bool WriteU16(uint16_t v);
    bool WriteU32(uint32_t v);
    bool WriteRaw8(double v);
    // `count` doubles in a row (nothing is written unless all fit).
    bool WriteRaw8(const double* values, size_t count);
    // u16 byte count then the bytes; fails for strings longer than 65,535 bytes.
    bool WriteString(std::string_view s);
    // Writes the low `width` bits (1..64) of value, least significant first, starting at
    // bit `bitIndex` (0..7) of the byte at the cursor; the cursor moves on a whole byte
    // each time the bit index wraps. Bits are ORed into the (zeroed) buffer.
    bool WritePacked(uint64_t value, unsigned width, unsigned& bitIndex);
    // The same for `count` fields of one width in a row (nothing is written unless all fit).
    bool WritePacked(const uint64_t* values, size_t count, unsigned width, unsigned& bitIndex);

    bool ReadU16(uint16_t& v);
    bool ReadU32(uint32_t& v);
    bool ReadRaw8(double& v);
    // Fails when the count exceeds maxLength or runs past the buffer.
    bool ReadString(std::string& out, size_t maxLength);
    // Inverse of WritePacked; the bits are ORed into value, which the caller zeroes.
    bool ReadPacked(uint64_t& value, unsigned width, unsigned& bitIndex);

    // Builds the compressed form (8-byte header, then the zlib stream of everything after
    // the uncompressed header). False when zlib fails or the result would exceed 65,535
    // bytes. Called by Send for packets of 257 bytes or more.
    bool Compress();

    // Sends the packet (compressed when 257 bytes or more). False when the stream
    // refuses or the compression fails; an uncompressed copy is never sent instead.
    bool Send(ByteStream& stream);

    // Reads one whole packet: the header, then every byte that its length states, over
    // as many reads as the stream needs, within timeLimitMs of real time. A compressed
    // packet is inflated and must come out at exactly its declared size. On success the
    // buffer holds the uncompressed packet with its header and the cursor is at 4.
    bool Receive(ByteStream& stream, int timeLimitMs = kDefaultReceiveLimitMs);

    // Parses a whole packet already in memory (as Receive does after reading).
    bool Parse(const uint8_t* bytes, size_t length);

private:
    bool Fail(PacketError e);
    bool Need(size_t bytes) const { return !data_.empty() && position_ <= data_.size() && data_.size() - position_ >= bytes; }
    bool Unpack(uint16_t rawType, const uint8_t* payload, size_t payloadLength);

    uint32_t type_ = 0;
    bool compressed_ = false;
    std::vector<uint8_t> data_;
    std::vector<uint8_t> wire_;
    size_t position_ = 0;
    PacketError error_ = PacketError::None;
};

}  // namespace kestrix
