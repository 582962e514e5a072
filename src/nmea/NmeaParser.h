// NmeaFramer and NmeaParser: turn the receiver's byte stream into NMEA 0183 sentences and
// hand each one whose checksum matches to its listeners.
//
// NmeaFramer is a per-byte state machine over fixed buffers (no allocation): "$", an
// address of at most 7 characters ended by "," or "*", a body of at most 82 characters
// ended by "*", two hexadecimal checksum digits (either case; any other character but "$"
// counts as 0). CR or LF before the "*", an over-long address or body, or a wrong checksum
// drop the sentence and the framer hunts for the next "$". A "$" in any state abandons the
// sentence being framed (uncounted, as one cut by a line end) and starts a new one, so a
// sentence cut off by the receiver or a burst of binary data never swallows the sentence
// after it. Feed is called by one thread at a time (the reader thread); the counters may
// be read from any thread.
//
// NmeaParser dispatches each framed sentence, on the feeding thread, under its re-entrant
// dispatch lock (held for the whole sentence):
//   - to by-name subscribers (SentenceObserver), decoded once whatever their number; GSV
//     sets are assembled per talker and delivered once, after their last message;
//   - to every raw observer (RawSentenceObserver), in registration order, under the raw
//     lock, which is always taken after the dispatch lock, never before.
// RMC, GGA, GLL, GSA and GSV from any two-letter talker (GN, GL, GA, GB, BD, ...) are
// dispatched under their GP names ("GNRMC" as "GPRMC"); proprietary sentences ("P...")
// and others keep their address. GGA is never decoded for by-name subscribers.
// Subscribe/Unsubscribe come from the UI thread and wait for the current dispatch.
// Raw observers must not add or remove raw observers from within OnRawSentence.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/RefCounted.h"
#include "nmea/Sentences.h"

namespace kestrix {

class NmeaFramer {
public:
    enum State : uint32_t { kHunting = 1, kAddress = 2, kBody = 3, kChecksumHigh = 4, kChecksumLow = 5 };
    static constexpr uint32_t kMaxAddress = 7;
    static constexpr uint32_t kMaxBody = 82;

    NmeaFramer() = default;
    virtual ~NmeaFramer() = default;
    NmeaFramer(const NmeaFramer&) = delete;
    NmeaFramer& operator=(const NmeaFramer&) = delete;

    virtual void SetState(uint32_t state) { state_ = state; }
    uint32_t GetState() const { return state_; }

    // count > 0: that many bytes, in order; count < 0: a NUL-terminated text; 0: nothing.
    void Feed(const char* bytes, int count) {
        if (bytes == nullptr || count == 0) return;
        const size_t n = count > 0 ? static_cast<size_t>(count) : std::strlen(bytes);
        const auto* p = reinterpret_cast<const unsigned char*>(bytes);
        FeedBytes(p, p + n);
    }
    void Feed(std::string_view bytes) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        FeedBytes(p, p + bytes.size());
    }

    // Sentences that reached their checksum digits, and those among them whose checksum
    // did not match.
    uint64_t SentencesFramed() const { return framed_.load(std::memory_order_relaxed); }
    uint64_t ChecksumFailures() const { return checksumFailures_.load(std::memory_order_relaxed); }

protected:
    // Called once for each sentence whose checksum matches; SentenceAddress() and
    // SentenceBody() hold it.
    virtual void OnSentence() = 0;
    std::string_view SentenceAddress() const { return {address_, addressLength_}; }
    std::string_view SentenceBody() const { return {body_, bodyLength_}; }

private:
    void FeedBytes(const unsigned char* p, const unsigned char* end);
    static void Bump(std::atomic<uint64_t>& c) { c.store(c.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }
    // After a "$": an empty address, body and checksum.
    void Restart() {
        computedChecksum_ = 0;
        bodyLength_ = 0;
        addressLength_ = 0;
        state_ = kAddress;
    }

    char body_[84] = {};
    uint32_t bodyLength_ = 0;
    char address_[8] = {};
    uint32_t addressLength_ = 0;
    uint32_t state_ = kHunting;
    uint8_t computedChecksum_ = 0;
    uint8_t receivedChecksum_ = 0;
    std::atomic<uint64_t> framed_{0};
    std::atomic<uint64_t> checksumFailures_{0};
};

// A by-name observer: receives each decoded sentence of the names it subscribed to. It may
// keep the sentence with AddRef. Called on the reader thread with the dispatch lock held.
class SentenceObserver : public RefCounted {
public:
    using RefCounted::RefCounted;
    virtual void OnSentence(NmeaSentence* sentence) = 0;
};

// A raw observer: receives every sentence that passed its checksum, as text. name is the
// dispatch name ("GPRMC" for "GNRMC"), address the address as received, body the text
// between the address's comma and the "*". The views are valid during the call only.
class RawSentenceObserver : public RefCounted {
public:
    using RefCounted::RefCounted;
    virtual void OnRawSentence(std::string_view name, std::string_view body, std::string_view address) = 0;
};

// One row of the sentence registry: a name and the factory that decodes it.
struct SentenceRegistryRow {
    const char* name;
    NmeaSentence* (*factory)(std::string_view name, std::string_view body);
};
// "GPGSV", "GPGSA", "GPGLL", "GPRMC", then a row of two nulls. GGA has no row.
extern const SentenceRegistryRow kSentenceRegistry[];

class NmeaParser : public NmeaFramer {
public:
    NmeaParser() = default;
    ~NmeaParser() override;

    // Delivers a complete sentence to the subscribers of its name (copied under the lock,
    // called outside it unless the caller holds it), so an observer may unsubscribe itself.
    virtual void Notify(NmeaSentence* sentence);
    // Adds one (name, observer) entry with a reference; the same pair twice is notified twice.
    virtual void Subscribe(const std::string& name, SentenceObserver* observer);
    // Removes every entry of that name and observer.
    virtual void Unsubscribe(const std::string& name, SentenceObserver* observer);

    // Returns the new id (1 for the first); observers are called in ascending id order.
    uint32_t AddRawObserver(RawSentenceObserver* observer);
    void RemoveRawObserver(uint32_t id);

    // The dispatch name of an address: "GP" + type for RMC, GGA, GLL, GSA, GSV from a
    // two-letter (upper-case, non-"P") talker, else the address itself.
    static std::string_view DispatchName(std::string_view address);

    // Multi-part sentences being assembled (at most kMaxPending, by address).
    size_t PendingCount() const;
    static constexpr size_t kMaxPending = 32;

protected:
    void OnSentence() override;

private:
    // In ascending id order.
    std::vector<std::pair<uint32_t, Ref<RawSentenceObserver>>> rawObservers_;
    mutable std::mutex rawLock_;
    uint32_t nextRawId_ = 0;
    std::multimap<std::string, Ref<SentenceObserver>, std::less<>> subscriptions_;
    // Multi-part sentences being assembled, by address as received (so per talker).
    std::map<std::string, Ref<NmeaSentence>, std::less<>> pending_;
    mutable std::recursive_mutex dispatchLock_;
};

}  // namespace kestrix
