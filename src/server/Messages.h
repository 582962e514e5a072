// The messages of the tracking protocol and the fixed-point coding of coordinates.
//
// Sending, always in this order: construct the message, Packet::Prepare from it, the
// message's Write into the packet, Packet::Send. Receiving: Packet::Receive, then the
// message's Read (the cursor at the first payload byte).
//
//   LoginMessage     type 44 (with a user id) or 22 (without) from the client; its Read
//                    parses the server's answer (type 45 or 23). ReadRequest and
//                    LoginResponse are the server's side of the same exchange.
//   PositionMessage  type 110, one live position (radians, metres, km/h), 44 bytes.
//                    The client's Read refuses; DecodeFromPacket is the server's reader.
//   TrackMessage     type 46, up to 500 positions with OLE times and coordinates packed
//                    as differences from the batch's smallest code. Shared between
//                    threads: its own lock guards the list, the cursor and Write.
//
// Nothing throws; a failing Write or Read returns false. Reads check every count taken
// from the wire against the bytes actually present.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/TrackPoint.h"
#include "server/Packet.h"

namespace kestrix {

enum MessageType : uint16_t {
    kMsgLoginNoUserId = 22,
    kMsgLoginResponseShort = 23,
    kMsgLogin = 44,
    kMsgLoginResponse = 45,
    kMsgTrack = 46,
    kMsgPosition = 110,
};

constexpr size_t kMaxServerText = 128;
constexpr size_t kMaxTrackPoints = 500;
constexpr unsigned kCoordinateBits = 32;

// Fixed-point codes of a coordinate for a width of `bits` (1..64): latitude and longitude
// wrap around the globe, altitude maps -6,000,000..+20,000,000 m onto 0..mask. A value
// that is not finite codes to 0; results are clamped to the signed 64-bit range.
int64_t LatitudeCode(double latitudeDeg, unsigned bits = kCoordinateBits);
int64_t LongitudeCode(double longitudeDeg, unsigned bits = kCoordinateBits);
int64_t AltitudeCode(float altitudeM, unsigned bits = kCoordinateBits);
double DecodeLatitude(int64_t code, unsigned bits = kCoordinateBits);
double DecodeLongitude(int64_t code, unsigned bits = kCoordinateBits);
float DecodeAltitude(int64_t code, unsigned bits = kCoordinateBits);

// Speed class of a live position: above 300 km/h 0, 5..300 2, 1..below 5 1, below 1 6.
uint32_t SpeedClass(float speedKmh);

class ServerMessage {
public:
    explicit ServerMessage(uint32_t type = 0) : type_(type) {}
    virtual ~ServerMessage() = default;
    virtual uint16_t GetType() const { return static_cast<uint16_t>(type_); }
    // Uncompressed total length in bytes, header included.
    virtual size_t GetSize() const { return Packet::kHeaderSize; }
    // Writes the 4-byte header at the cursor.
    virtual bool Write(Packet& packet);
    // Takes the type from a received packet.
    virtual bool Read(Packet& packet);

protected:
    uint32_t type_;
};

class LoginMessage : public ServerMessage {
public:
    LoginMessage() : ServerMessage(kMsgLoginNoUserId) {}
    LoginMessage(std::string login, std::string passwordDigest, uint32_t userId);
    uint16_t GetType() const override;
    size_t GetSize() const override;
    // The request.
    bool Write(Packet& packet) override;
    // The server's answer: type 45 or 23, status (0 fails), text of at most 128 bytes,
    // then, only when the request carried a user id, the user id assigned by the server.
    bool Read(Packet& packet) override;
    // The server's side: parses a request of type 44 or 22.
    bool ReadRequest(Packet& packet);

    uint32_t Status() const { return status_; }
    const std::string& Login() const { return login_; }
    const std::string& PasswordDigest() const { return passwordDigest_; }
    uint32_t UserId() const { return userId_; }
    bool CarriesUserId() const { return withUserId_; }
    const std::string& ServerText() const { return serverText_; }

private:
    uint32_t status_ = 0;
    std::string login_;
    std::string passwordDigest_;
    uint32_t userId_ = 0;
    bool withUserId_ = false;
    std::string serverText_;
};

// The server's answer to a login: type 45 for a request of type 44, 23 for 22.
class LoginResponse : public ServerMessage {
public:
    LoginResponse(const LoginMessage& request, uint32_t status, std::string text, uint32_t userId);
    size_t GetSize() const override;
    bool Write(Packet& packet) override;

private:
    uint32_t status_;
    std::string text_;
    uint32_t userId_;
    bool withUserId_;
};

class PositionMessage : public ServerMessage {
public:
    static constexpr size_t kSize = 44;
    PositionMessage() : ServerMessage(kMsgPosition) {}
    explicit PositionMessage(const TrackPoint& point);
    size_t GetSize() const override { return kSize; }
    bool Write(Packet& packet) override;
    // The client never receives positions.
    bool Read(Packet&) override { return false; }
    // The server's reader: type 110, exactly 44 bytes.
    bool DecodeFromPacket(Packet& packet);

    double LatitudeRad() const { return latitude_; }
    double LongitudeRad() const { return longitude_; }
    float Altitude() const { return altitude_; }
    float Speed() const { return speed_; }

private:
    double latitude_ = 0.0;
    double longitude_ = 0.0;
    uint32_t reserved1_ = 0;
    float altitude_ = 0.0f;
    float speed_ = 0.0f;
    uint32_t reserved2_ = 0;
    uint32_t speedClass_ = 0;
    uint32_t flag_ = 1;
};

class TrackMessage : public ServerMessage {
public:
    explicit TrackMessage(uint32_t userId = 0) : ServerMessage(kMsgTrack), userId_(userId) {}
    ~TrackMessage() override;
    size_t GetSize() const override;
    // Fails (writing nothing) unless the packet was prepared for exactly this many points.
    bool Write(Packet& packet) override;
    // Decodes a batch; the list is replaced only when every field was read.
    bool Read(Packet& packet) override;

    uint32_t GetUserId() const;
    void SetUserId(uint32_t userId);
    // Appends and keeps a reference; false (keeping nothing) when 500 are held or null.
    bool Add(TrackPointRef point);
    size_t Count() const;
    void Clear();
    TrackPointRef First();
    TrackPointRef Next();
    TrackPointRef Last() const;
    // A copy of the list, oldest first.
    std::vector<TrackPointRef> Points() const;

private:
    mutable std::mutex mutex_;
    uint32_t userId_;
    std::vector<TrackPointRef> points_;
    size_t cursor_ = 0;
};

}  // namespace kestrix
