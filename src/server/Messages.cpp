#include "server/Messages.h"

#include <bit>
#include <cmath>
#include <limits>

#include "platform/Time.h"

namespace kestrix {
namespace {

double Mask(unsigned bits) {
    const uint64_t mask = bits >= 64 ? ~uint64_t{0} : ((uint64_t{1} << (bits == 0 ? 1 : bits)) - 1);
    return static_cast<double>(mask);
}

// Truncates toward zero without the undefined behaviour of converting a value that does
// not fit (a corrupt altitude of 1e30, a NaN from a bad record).
int64_t TruncToInt64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (v < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

bool FileTimeFromOle(double ole, uint64_t& fileTime) {
    if (!std::isfinite(ole)) return false;
    platform::SystemTime st;
    if (!platform::VariantTimeToSystemTime(ole, st)) return false;
    return platform::SystemTimeToFileTime(st, fileTime);
}

// fmod (w, period) moved into [0, period). fmod returns a value already in that range as it
// is, so only the others pay for it (a track message codes 1,000 coordinates).
double Wrap(double w, double period) {
    if (w >= 0.0 && w < period) return w;
    w = std::fmod(w, period);
    return w < 0 ? w + period : w;
}

}  // namespace

int64_t LatitudeCode(double latitudeDeg, unsigned bits) {
    if (!std::isfinite(latitudeDeg)) return 0;
    return TruncToInt64((Mask(bits) * Wrap(latitudeDeg + 90.0, 180.0)) * 0.005555555555555556);
}

int64_t LongitudeCode(double longitudeDeg, unsigned bits) {
    if (!std::isfinite(longitudeDeg)) return 0;
    return TruncToInt64((Mask(bits) * Wrap(longitudeDeg + 180.0, 360.0)) * 0.002777777777777778);
}

int64_t AltitudeCode(float altitudeM, unsigned bits) {
    const double a = static_cast<double>(altitudeM);
    if (!std::isfinite(a)) return 0;
    return TruncToInt64(((a - (-6000000.0)) * Mask(bits)) * 3.846153846153846e-08);
}

double DecodeLatitude(int64_t code, unsigned bits) {
    return (static_cast<double>(code) * 180.0) / Mask(bits) - 90.0;
}

double DecodeLongitude(int64_t code, unsigned bits) {
    return (static_cast<double>(code) * 360.0) / Mask(bits) - 180.0;
}

float DecodeAltitude(int64_t code, unsigned bits) {
    return static_cast<float>((static_cast<double>(code) * 26000000.0) / Mask(bits) - 6000000.0);
}

uint32_t SpeedClass(float speedKmh) {
    uint32_t c = 2;
    if (speedKmh > 300.0f) c = 0;
    if (speedKmh < 5.0f) c = 1;
    if (speedKmh < 1.0f) c = 6;
    return c;
}

// ---- ServerMessage ----

bool ServerMessage::Write(Packet& packet) {
    const size_t size = GetSize();
    if (size > Packet::kMaxSize) return false;
    return packet.WriteU16(GetType()) && packet.WriteU16(static_cast<uint16_t>(size));
}

bool ServerMessage::Read(Packet& packet) {
    type_ = packet.Type();
    return true;
}

// ---- LoginMessage ----

LoginMessage::LoginMessage(std::string login, std::string passwordDigest, uint32_t userId)
    : ServerMessage(userId != 0 ? kMsgLogin : kMsgLoginNoUserId),
      login_(std::move(login)),
      passwordDigest_(std::move(passwordDigest)),
      userId_(userId),
      withUserId_(userId != 0) {}

uint16_t LoginMessage::GetType() const { return withUserId_ ? kMsgLogin : kMsgLoginNoUserId; }

size_t LoginMessage::GetSize() const {
    return 8 + login_.size() + passwordDigest_.size() + (withUserId_ ? 4 : 0);
}

bool LoginMessage::Write(Packet& packet) {
    if (!ServerMessage::Write(packet)) return false;
    if (!packet.WriteString(login_) || !packet.WriteString(passwordDigest_)) return false;
    if (withUserId_ && !packet.WriteU32(userId_)) return false;
    return true;
}

bool LoginMessage::Read(Packet& packet) {
    ServerMessage::Read(packet);
    if (type_ != kMsgLoginResponse && type_ != kMsgLoginResponseShort) return false;
    if (!packet.ReadU32(status_)) return false;
    if (!packet.ReadString(serverText_, kMaxServerText)) return false;
    if (withUserId_ && !packet.ReadU32(userId_)) return false;
    return status_ != 0;
}

bool LoginMessage::ReadRequest(Packet& packet) {
    ServerMessage::Read(packet);
    if (type_ != kMsgLogin && type_ != kMsgLoginNoUserId) return false;
    withUserId_ = type_ == kMsgLogin;
    userId_ = 0;
    if (!packet.ReadString(login_, 0xFFFF) || !packet.ReadString(passwordDigest_, 0xFFFF)) return false;
    if (withUserId_ && !packet.ReadU32(userId_)) return false;
    return true;
}

LoginResponse::LoginResponse(const LoginMessage& request, uint32_t status, std::string text, uint32_t userId)
    : ServerMessage(request.CarriesUserId() ? kMsgLoginResponse : kMsgLoginResponseShort),
      status_(status),
      text_(std::move(text)),
      userId_(userId),
      withUserId_(request.CarriesUserId()) {}

size_t LoginResponse::GetSize() const { return 10 + text_.size() + (withUserId_ ? 4 : 0); }

bool LoginResponse::Write(Packet& packet) {
    if (!ServerMessage::Write(packet)) return false;
    if (!packet.WriteU32(status_) || !packet.WriteString(text_)) return false;
    if (withUserId_ && !packet.WriteU32(userId_)) return false;
    return true;
}

// ---- PositionMessage ----

PositionMessage::PositionMessage(const TrackPoint& point)
    : ServerMessage(kMsgPosition),
      latitude_(point.GetLatitudeRad()),
      longitude_(point.GetLongitudeRad()),
      altitude_(point.GetAltitude()),
      speed_(point.GetSpeed()),
      speedClass_(SpeedClass(point.GetSpeed())) {}

bool PositionMessage::Write(Packet& packet) {
    return ServerMessage::Write(packet) && packet.WriteRaw8(latitude_) && packet.WriteRaw8(longitude_) &&
           packet.WriteU32(reserved1_) && packet.WriteU32(std::bit_cast<uint32_t>(altitude_)) &&
           packet.WriteU32(std::bit_cast<uint32_t>(speed_)) && packet.WriteU32(reserved2_) &&
           packet.WriteU32(speedClass_) && packet.WriteU32(flag_);
}

bool PositionMessage::DecodeFromPacket(Packet& packet) {
    if (packet.Type() != kMsgPosition || packet.Size() != kSize) return false;
    if (!packet.SetPosition(Packet::kHeaderSize)) return false;
    type_ = packet.Type();
    uint32_t alt = 0;
    uint32_t speed = 0;
    if (!packet.ReadRaw8(latitude_) || !packet.ReadRaw8(longitude_) || !packet.ReadU32(reserved1_) ||
        !packet.ReadU32(alt) || !packet.ReadU32(speed) || !packet.ReadU32(reserved2_) ||
        !packet.ReadU32(speedClass_) || !packet.ReadU32(flag_)) {
        return false;
    }
    altitude_ = std::bit_cast<float>(alt);
    speed_ = std::bit_cast<float>(speed);
    return true;
}

// ---- TrackMessage ----

TrackMessage::~TrackMessage() = default;

size_t TrackMessage::GetSize() const {
    std::lock_guard lock(mutex_);
    return 24 + 20 * points_.size();
}

uint32_t TrackMessage::GetUserId() const {
    std::lock_guard lock(mutex_);
    return userId_;
}

void TrackMessage::SetUserId(uint32_t userId) {
    std::lock_guard lock(mutex_);
    userId_ = userId;
}

bool TrackMessage::Add(TrackPointRef point) {
    if (!point) return false;
    std::lock_guard lock(mutex_);
    if (points_.size() >= kMaxTrackPoints) return false;
    points_.push_back(std::move(point));
    return true;
}

size_t TrackMessage::Count() const {
    std::lock_guard lock(mutex_);
    return points_.size();
}

void TrackMessage::Clear() {
    std::vector<TrackPointRef> gone;
    {
        std::lock_guard lock(mutex_);
        gone.swap(points_);
        cursor_ = 0;
    }
}

TrackPointRef TrackMessage::First() {
    std::lock_guard lock(mutex_);
    cursor_ = 0;
    return points_.empty() ? TrackPointRef() : points_[0];
}

TrackPointRef TrackMessage::Next() {
    std::lock_guard lock(mutex_);
    if (cursor_ < points_.size()) ++cursor_;
    return cursor_ < points_.size() ? points_[cursor_] : TrackPointRef();
}

TrackPointRef TrackMessage::Last() const {
    std::lock_guard lock(mutex_);
    return points_.empty() ? TrackPointRef() : points_.back();
}

std::vector<TrackPointRef> TrackMessage::Points() const {
    std::lock_guard lock(mutex_);
    return points_;
}

bool TrackMessage::Write(Packet& packet) {
    std::lock_guard lock(mutex_);
    const size_t n = points_.size();
    const size_t size = 24 + 20 * n;
    // The list may have grown since the packet was prepared; such a packet is not sent.
    if (size > Packet::kMaxSize || packet.Size() != size || packet.Position() != 0) return false;
    if (!packet.WriteU16(GetType()) || !packet.WriteU16(static_cast<uint16_t>(size))) return false;
    if (!packet.WriteU32(userId_) || !packet.WriteU32(static_cast<uint32_t>(n))) return false;

    // The times, then per coordinate the base and each point's difference from it.
    std::vector<double> times(n);
    std::vector<uint64_t> fields(3 * (n + 1));
    uint64_t* const lat = fields.data();
    uint64_t* const lon = lat + n + 1;
    uint64_t* const alt = lon + n + 1;
    for (size_t i = 0; i < n; ++i) {
        const TrackPoint& p = *points_[i];
        if (!p.GetOleDate(times[i])) times[i] = 0.0;
        lat[i + 1] = static_cast<uint64_t>(LatitudeCode(p.GetLatitude()));
        lon[i + 1] = static_cast<uint64_t>(LongitudeCode(p.GetLongitude()));
        alt[i + 1] = static_cast<uint64_t>(AltitudeCode(p.GetAltitude()));
    }
    if (!packet.WriteRaw8(times.data(), n)) return false;
    unsigned bit = 0;
    for (uint64_t* codes : {lat, lon, alt}) {
        // The smallest code, compared as signed as the codes are.
        int64_t base = 0;
        for (size_t i = 1; i <= n; ++i) {
            const auto c = static_cast<int64_t>(codes[i]);
            if (i == 1 || c < base) base = c;
        }
        codes[0] = static_cast<uint64_t>(base);
        for (size_t i = 1; i <= n; ++i) codes[i] -= codes[0];
        if (!packet.WritePacked(codes, n + 1, kCoordinateBits, bit)) return false;
    }
    return true;
}

bool TrackMessage::Read(Packet& packet) {
    ServerMessage::Read(packet);
    uint32_t userId = 0;
    uint32_t count = 0;
    bool ok = type_ == kMsgTrack && packet.ReadU32(userId) && packet.ReadU32(count);
    // Every position needs 20 bytes and the three bases 12: a count that the bytes present
    // cannot hold is refused before anything is allocated.
    ok = ok && packet.Remaining() >= 12 && (packet.Remaining() - 12) / 20 >= count;
    const size_t n = ok ? count : 0;
    std::vector<double> times(n);
    std::vector<double> lat(n), lon(n);
    std::vector<float> alt(n);
    for (size_t i = 0; ok && i < n; ++i) ok = packet.ReadRaw8(times[i]);
    unsigned bit = 0;
    for (int k = 0; ok && k < 3; ++k) {
        uint64_t base = 0;
        ok = packet.ReadPacked(base, kCoordinateBits, bit);
        for (size_t i = 0; ok && i < n; ++i) {
            uint64_t delta = 0;
            ok = packet.ReadPacked(delta, kCoordinateBits, bit);
            const int64_t code = static_cast<int64_t>(base + delta);
            if (k == 0) lat[i] = DecodeLatitude(code);
            if (k == 1) lon[i] = DecodeLongitude(code);
            if (k == 2) alt[i] = DecodeAltitude(code);
        }
    }
    std::vector<TrackPointRef> decoded;
    decoded.reserve(n);
    for (size_t i = 0; ok && i < n; ++i) {
        uint64_t fileTime = 0;
        ok = FileTimeFromOle(times[i], fileTime);
        if (ok) decoded.push_back(TrackPoint::Make(lat[i], lon[i], alt[i], 0.0f, fileTime));
    }
    std::lock_guard lock(mutex_);
    points_.clear();
    cursor_ = 0;
    if (!ok) return false;
    userId_ = userId;
    points_ = std::move(decoded);
    return true;
}

}  // namespace kestrix
