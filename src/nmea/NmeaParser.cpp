#include "nmea/NmeaParser.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kestrix {

namespace {

// Hexadecimal digit values; any other byte counts as 0.
struct HexTable {
    uint8_t value[256] = {};
    constexpr HexTable() {
        for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<uint8_t>(c - '0');
        for (int c = 'A'; c <= 'F'; ++c) value[c] = static_cast<uint8_t>(c - 'A' + 10);
        for (int c = 'a'; c <= 'f'; ++c) value[c] = static_cast<uint8_t>(c - 'a' + 10);
    }
};
constexpr HexTable kHex;

// Bytes that end the run of ordinary body characters. "$" is among them: NMEA reserves it
// for the start of a sentence, so no valid body holds one, and one seen inside a body means
// the receiver cut the sentence off (or sent binary data) and a new sentence begins.
struct StopTable {
    bool stop[256] = {};
    constexpr StopTable() {
        stop[static_cast<unsigned char>('*')] = true;
        stop[static_cast<unsigned char>('\r')] = true;
        stop[static_cast<unsigned char>('\n')] = true;
        stop[static_cast<unsigned char>('$')] = true;
    }
};
constexpr StopTable kBodyStop;

// True when any byte of word equals c (exact: no false answers either way).
inline uint64_t HasByte(uint64_t word, unsigned char c) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    const uint64_t v = word ^ (kOnes * c);
    return (v - kOnes) & ~v & kHighs;
}

constexpr bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }

// Five-letter names as one number, for comparing without a library call.
constexpr uint64_t Pack5(const char* s) {
    uint64_t v = 0;
    for (int i = 0; i < 5; ++i) v = v << 8 | static_cast<unsigned char>(s[i]);
    return v;
}

}  // namespace

const SentenceRegistryRow kSentenceRegistry[] = {
    {"GPGSV", &CreateGsvSentence},
    {"GPGSA", &CreateGsaSentence},
    {"GPGLL", &CreateGllSentence},
    {"GPRMC", &CreateRmcSentence},
    {nullptr, nullptr},
};

void NmeaFramer::FeedBytes(const unsigned char* p, const unsigned char* end) {
    while (p < end) {
        switch (state_) {
        case kHunting: {
            // The "$" usually follows the previous sentence's line end at once.
            const unsigned char* q = p;
            while (q < end && q - p < 4 && *q != '$') ++q;
            if (q == end || *q != '$') {
                q = static_cast<const unsigned char*>(std::memchr(q, '$', static_cast<size_t>(end - q)));
                if (q == nullptr) return;
            }
            p = q + 1;
            Restart();
            break;
        }
        case kAddress: {
            const unsigned char c = *p++;
            computedChecksum_ ^= c;
            if (c == '$') {
                Restart();
            } else if (c == ',' || c == '*') {
                address_[addressLength_] = '\0';
                state_ = kBody;
            } else if (addressLength_ >= kMaxAddress) {
                state_ = kHunting;
            } else {
                address_[addressLength_++] = static_cast<char>(c);
            }
            break;
        }
        case kBody: {
            // The common case in tight loops: ordinary characters while the body still
            // fits, with the bound checked once for the run.
            uint8_t checksum = computedChecksum_;
            uint32_t length = bodyLength_;
            const size_t room = length <= kMaxBody ? kMaxBody + 1 - length : 0;
            const unsigned char* stop = static_cast<size_t>(end - p) > room ? p + room : end;
            char* out = body_ + length;
            const unsigned char* start = p;
            if (stop - p >= 8) {
                // Eight characters at a time while none of them ends the body.
                uint64_t folded = 0;
                do {
                    uint64_t word;
                    std::memcpy(&word, p, 8);
                    if (HasByte(word, '*') | HasByte(word, '\r') | HasByte(word, '\n') | HasByte(word, '$')) break;
                    std::memcpy(out, p, 8);
                    folded ^= word;
                    p += 8;
                    out += 8;
                } while (stop - p >= 8);
                folded ^= folded >> 32;
                folded ^= folded >> 16;
                folded ^= folded >> 8;
                checksum ^= static_cast<uint8_t>(folded);
            }
            while (p < stop && !kBodyStop.stop[*p]) {
                checksum ^= *p;
                *out++ = static_cast<char>(*p++);
            }
            length += static_cast<uint32_t>(p - start);
            // A body past its limit is only counted to its end.
            if (length > kMaxBody)
                while (p < end && !kBodyStop.stop[*p]) checksum ^= *p++;
            computedChecksum_ = checksum;
            bodyLength_ = length;
            if (p == end) return;
            const unsigned char c = *p++;
            if (c == '$') {
                Restart();
            } else if (c != '*') {
                state_ = kHunting;  // CR or LF before the checksum: never dispatched
            } else if (bodyLength_ > kMaxBody) {
                state_ = kHunting;
            } else {
                body_[bodyLength_] = '\0';
                state_ = kChecksumHigh;
            }
            break;
        }
        case kChecksumHigh:
            if (*p == '$') {
                ++p;
                Restart();
                break;
            }
            receivedChecksum_ = static_cast<uint8_t>(kHex.value[*p++] << 4);
            state_ = kChecksumLow;
            break;
        case kChecksumLow: {
            if (*p == '$') {
                ++p;
                Restart();
                break;
            }
            receivedChecksum_ |= kHex.value[*p++];
            Bump(framed_);
            if (receivedChecksum_ == computedChecksum_) {
                OnSentence();
            } else {
                Bump(checksumFailures_);
            }
            state_ = kHunting;
            break;
        }
        default:
            ++p;
            state_ = kHunting;
            break;
        }
    }
}

NmeaParser::~NmeaParser() {
    // Released outside the locks: a released observer's destructor may come back here
    // (a handler removes its own registration).
    std::map<std::string, Ref<NmeaSentence>, std::less<>> pending;
    std::multimap<std::string, Ref<SentenceObserver>, std::less<>> subscriptions;
    std::vector<std::pair<uint32_t, Ref<RawSentenceObserver>>> raw;
    {
        std::lock_guard<std::recursive_mutex> lock(dispatchLock_);
        pending.swap(pending_);
        subscriptions.swap(subscriptions_);
    }
    {
        std::lock_guard<std::mutex> lock(rawLock_);
        raw.swap(rawObservers_);
    }
}

std::string_view NmeaParser::DispatchName(std::string_view address) {
    if (address.size() != 5 || !IsUpper(address[0]) || !IsUpper(address[1]) || address[0] == 'P') return address;
    const char* t = address.data() + 2;
    switch (t[0] << 16 | t[1] << 8 | t[2]) {
    case 'R' << 16 | 'M' << 8 | 'C': return "GPRMC";
    case 'G' << 16 | 'G' << 8 | 'A': return "GPGGA";
    case 'G' << 16 | 'L' << 8 | 'L': return "GPGLL";
    case 'G' << 16 | 'S' << 8 | 'A': return "GPGSA";
    case 'G' << 16 | 'S' << 8 | 'V': return "GPGSV";
    default: return address;
    }
}

void NmeaParser::OnSentence() {
    const std::string_view address = SentenceAddress();
    const std::string_view body = SentenceBody();
    const std::string_view name = DispatchName(address);

    std::lock_guard<std::recursive_mutex> dispatch(dispatchLock_);

    const SentenceRegistryRow* row = kSentenceRegistry;
    if (name.size() == 5) {
        // Every row's name has five characters: compared byte-wise as packed numbers.
        const uint64_t packed = Pack5(name.data());
        for (; row->name != nullptr && row->factory != nullptr; ++row) {
            if (Pack5(row->name) == packed) break;
        }
    } else {
        for (; row->name != nullptr && row->factory != nullptr; ++row) {
            if (name == row->name) break;
        }
    }
    if (row->name != nullptr && row->factory != nullptr) {
        auto it = pending_.empty() ? pending_.end() : pending_.find(address);
        if (it != pending_.end()) {
            it->second->Continue(body);
            if (it->second->IsComplete()) {
                Ref<NmeaSentence> done = std::move(it->second);
                pending_.erase(it);
                Notify(done.Get());
            }
        } else if (subscriptions_.find(name) != subscriptions_.end()) {
            // Decoded only when someone subscribed to the name, and then once for all.
            if (NmeaSentence* created = row->factory(name, body)) {
                Ref<NmeaSentence> sentence(created);
                if (address.size() == 5) sentence->SetTalker(address.substr(0, 2));
                if (sentence->IsComplete()) {
                    Notify(sentence.Get());
                } else if (pending_.size() < kMaxPending) {
                    pending_.emplace(std::string(address), std::move(sentence));
                }
            }
        }
    }

    std::lock_guard<std::mutex> raw(rawLock_);
    for (auto& entry : rawObservers_) entry.second->OnRawSentence(name, body, address);
}

void NmeaParser::Notify(NmeaSentence* sentence) {
    if (sentence == nullptr) return;
    std::vector<Ref<SentenceObserver>> observers;
    {
        std::lock_guard<std::recursive_mutex> lock(dispatchLock_);
        auto [first, last] = subscriptions_.equal_range(sentence->Name());
        for (auto it = first; it != last; ++it) observers.push_back(it->second);
    }
    for (auto& observer : observers) observer->OnSentence(sentence);
}

void NmeaParser::Subscribe(const std::string& name, SentenceObserver* observer) {
    if (observer == nullptr) return;
    std::lock_guard<std::recursive_mutex> lock(dispatchLock_);
    subscriptions_.emplace(name, Ref<SentenceObserver>(observer));
}

void NmeaParser::Unsubscribe(const std::string& name, SentenceObserver* observer) {
    std::vector<Ref<SentenceObserver>> removed;
    {
        std::lock_guard<std::recursive_mutex> lock(dispatchLock_);
        auto [first, last] = subscriptions_.equal_range(name);
        for (auto it = first; it != last;) {
            if (it->second.Get() == observer) {
                removed.push_back(std::move(it->second));
                it = subscriptions_.erase(it);
            } else {
                ++it;
            }
        }
    }
}

uint32_t NmeaParser::AddRawObserver(RawSentenceObserver* observer) {
    std::lock_guard<std::mutex> lock(rawLock_);
    const uint32_t id = ++nextRawId_;
    // Ids only grow, so appending keeps the list in id order.
    if (observer != nullptr) rawObservers_.emplace_back(id, Ref<RawSentenceObserver>(observer));
    return id;
}

void NmeaParser::RemoveRawObserver(uint32_t id) {
    Ref<RawSentenceObserver> removed;
    {
        std::lock_guard<std::mutex> lock(rawLock_);
        auto it = std::find_if(rawObservers_.begin(), rawObservers_.end(), [id](const auto& e) { return e.first == id; });
        if (it == rawObservers_.end()) return;
        removed = std::move(it->second);
        rawObservers_.erase(it);
    }
}

size_t NmeaParser::PendingCount() const {
    std::lock_guard<std::recursive_mutex> lock(dispatchLock_);
    return pending_.size();
}

}  // namespace kestrix
