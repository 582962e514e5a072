#include "ClientSession.h"

#include <algorithm>
#include <cmath>

#include "base/LittleEndian.h"
#include "base/TrackPoint.h"
#include "platform/Time.h"
#include "server/Messages.h"
#include "server/Packet.h"

namespace kestrix::refserver {

namespace {

// Milliseconds since 1970 of a FILETIME, rounded down as its calendar form is.
int64_t UnixMs(uint64_t fileTime) {
    constexpr int64_t kTicksFrom1601To1970 = 116444736000000000;
    const int64_t ticks = static_cast<int64_t>(fileTime) - kTicksFrom1601To1970;
    const auto perMs = static_cast<int64_t>(platform::kFileTimeTicksPerMs);
    return ticks >= 0 ? ticks / perMs : -((-ticks + perMs - 1) / perMs);
}

}  // namespace

bool ClientSession::Refuse(std::string why) {
    failed_ = true;
    error_ = std::move(why);
    pending_.clear();
    pending_.shrink_to_fit();
    return false;
}

std::string ClientSession::TakeOutput() {
    std::string out;
    out.swap(output_);
    return out;
}

bool ClientSession::GoOn() {
    pause_ = std::chrono::milliseconds(0);
    std::vector<uint8_t> held;
    held.swap(held_);
    return Feed(held.data(), held.size());
}

bool ClientSession::Resume() {
    if (failed_) return false;
    if (awaiting_) {
        LoginMessage request = std::move(*awaiting_);
        awaiting_.reset();
        if (!Reply(request, 0, true)) return false;
    }
    return GoOn();
}

bool ClientSession::Answer(uint32_t userId) {
    if (failed_) return false;
    if (!awaiting_) return true;
    LoginMessage request = std::move(*awaiting_);
    awaiting_.reset();
    if (!Reply(request, userId, false)) return false;
    return GoOn();
}

bool ClientSession::Feed(const uint8_t* data, size_t size) {
    if (failed_) return false;
    if (pause_.count() > 0) {
        if (held_.size() + size > kMaxHeld) return Refuse("sent too much while its login waited");
        held_.insert(held_.end(), data, data + size);
        return true;
    }
    // A login whose address must wait: it and everything after it wait too.
    auto mustWait = [&](const uint8_t* packet) {
        const uint16_t type = GetU16(packet);
        if (type != kMsgLogin && type != kMsgLoginNoUserId) return false;
        pause_ = sink_.LoginWait(address_);
        return pause_.count() > 0;
    };
    while (size > 0) {
        // Whole packets that arrived in one piece are handled in place, without a copy.
        if (pending_.empty() && size >= Packet::kHeaderSize) {
            uint16_t length = GetU16(data + 2);
            if (length < Packet::kHeaderSize)
                return Refuse("packet length " + std::to_string(length) + " is shorter than its header");
            if (size >= length) {
                if (mustWait(data)) {
                    held_.assign(data, data + size);
                    return true;
                }
                if (!HandlePacket(data, length)) return false;
                data += length;
                size -= length;
                if (pause_.count() > 0) {  // a login waits for its answer
                    held_.assign(data, data + size);
                    return true;
                }
                continue;
            }
        }
        // A partial packet: keep at most one packet's bytes.
        size_t need = Packet::kHeaderSize;
        if (pending_.size() >= Packet::kHeaderSize) need = GetU16(pending_.data() + 2);
        size_t take = std::min(size, need - pending_.size());
        pending_.insert(pending_.end(), data, data + take);
        data += take;
        size -= take;
        if (pending_.size() == Packet::kHeaderSize && need == Packet::kHeaderSize) {
            uint16_t length = GetU16(pending_.data() + 2);
            if (length < Packet::kHeaderSize)
                return Refuse("packet length " + std::to_string(length) + " is shorter than its header");
            need = length;
        }
        if (pending_.size() == need) {
            std::vector<uint8_t> whole;
            whole.swap(pending_);
            if (mustWait(whole.data())) {
                held_.assign(whole.begin(), whole.end());
                held_.insert(held_.end(), data, data + size);
                return true;
            }
            if (!HandlePacket(whole.data(), whole.size())) return false;
            if (pause_.count() > 0) {
                held_.assign(data, data + size);
                return true;
            }
        }
    }
    return true;
}

bool ClientSession::HandlePacket(const uint8_t* bytes, size_t length) {
    Packet packet;
    if (!packet.Parse(bytes, length))
        return Refuse(std::string("packet refused: ") + PacketErrorName(packet.Error()));
    ++packets_;
    switch (packet.Type()) {
        case kMsgLogin:
        case kMsgLoginNoUserId:
            return HandleLogin(packet);
        case kMsgPosition:
            return HandleLive(packet);
        case kMsgTrack:
            return HandleTrack(packet);
        default:
            return Refuse("unknown packet type " + std::to_string(packet.Type()));
    }
}

bool ClientSession::HandleLogin(Packet& packet) {
    LoginMessage request;
    if (!request.ReadRequest(packet)) return Refuse("malformed login request");
    std::optional<uint32_t> userId = sink_.CheckLogin(id_, ++logins_, request.Login(), request.PasswordDigest());
    if (userId) return Reply(request, *userId, false);
    awaiting_ = std::move(request);
    pause_ = std::max(sink_.AnswerWait(), std::chrono::milliseconds(1));
    return true;
}

bool ClientSession::Reply(const LoginMessage& request, uint32_t userId, bool unavailable) {
    userId_ = userId;
    // A refusal still carries a non-zero status: the client treats status 0 as an
    // unreadable answer, and a user id of 0 (with the text) as a refused login.
    LoginResponse answer(request, 1, userId_ ? "" : unavailable ? kUnavailableText : kRefusedText, userId_);
    Packet reply;
    if (!reply.Prepare(answer) || !answer.Write(reply)) return Refuse("cannot build the login answer");
    const std::vector<uint8_t>& bytes = reply.Bytes();
    output_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (userId_ == 0 && !unavailable) {
        sink_.LoginFailed(address_);
        if (++wrongLogins_ >= kMaxWrongLogins) return Refuse(std::to_string(kMaxWrongLogins) + " wrong logins");
    }
    return true;
}

bool ClientSession::HandleLive(Packet& packet) {
    if (!LoggedIn()) return Refuse("position before a successful login");
    PositionMessage position;
    if (!position.DecodeFromPacket(packet)) return Refuse("malformed live position");
    StoredPoint p;
    p.kind = PointKind::Live;
    p.latitude = position.LatitudeRad() * kRadToDeg;
    p.longitude = position.LongitudeRad() * kRadToDeg;
    p.altitude = position.Altitude();
    p.speed = position.Speed();
    if (!std::isfinite(p.latitude) || !std::isfinite(p.longitude) || !std::isfinite(p.altitude) ||
        !std::isfinite(p.speed))
        return Refuse("live position with a value that is not a number");
    std::vector<StoredPoint> points{std::move(p)};
    sink_.StorePoints(userId_, points);
    ++points_;
    return true;
}

bool ClientSession::HandleTrack(Packet& packet) {
    if (!LoggedIn()) return Refuse("track message before a successful login");
    // The count must account for every byte: a message that says more or fewer points
    // than it carries is damaged, and storing part of it would store wrong positions.
    const uint8_t* bytes = packet.Data();
    if (packet.Size() < 24) return Refuse("track message shorter than an empty one");
    const uint32_t count = GetU32(bytes + 8);
    if (static_cast<uint64_t>(count) * 20 + 24 != packet.Size())
        return Refuse("track message of " + std::to_string(count) + " points in " + std::to_string(packet.Size()) +
                      " bytes");
    TrackMessage message;
    if (!message.Read(packet)) return Refuse("malformed track message");
    std::vector<StoredPoint> points;
    points.reserve(count);
    for (const TrackPointRef& point : message.Points()) {
        StoredPoint p;
        p.kind = PointKind::Track;
        platform::SystemTime calendar;
        if (platform::FileTimeToSystemTime(point->GetTime(), calendar)) p.timeMs = UnixMs(point->GetTime());
        p.latitude = point->GetLatitude();
        p.longitude = point->GetLongitude();
        p.altitude = point->GetAltitude();
        p.speed = point->GetSpeed();
        points.push_back(std::move(p));
    }
    sink_.StorePoints(userId_, points);
    points_ += points.size();
    return true;
}

}  // namespace kestrix::refserver
