// SentenceHandler: a raw observer of one sentence type (RMC, GLL, GGA or GSV, any talker)
// that decodes each sentence of its type and passes it to its fix monitors. GSV sets are
// assembled per talker (receivers interleave GP, GL, GA, ... sets) and passed on once,
// complete. Registers itself with the parser on construction and removes itself on
// destruction. Runs on the reader thread, with the parser's locks held.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/RefCounted.h"
#include "nmea/FixMonitor.h"
#include "nmea/NmeaParser.h"
#include "nmea/Sentences.h"

namespace kestrix {

class SentenceHandler : public RawSentenceObserver {
public:
    enum class Kind { Rmc, Gll, Gga, Gsv };

    // embedded: a member of the receiver; AddRef/Release do nothing.
    SentenceHandler(Kind kind, NmeaParser& parser, bool embedded = true);
    ~SentenceHandler() override;
    SentenceHandler(const SentenceHandler&) = delete;
    SentenceHandler& operator=(const SentenceHandler&) = delete;

    // Adds a monitor to report to, with a reference.
    void AddMonitor(FixMonitor* monitor);
    void OnRawSentence(std::string_view name, std::string_view body, std::string_view address) override;

private:
    Kind kind_;
    std::string_view name_;
    // GSV sets being assembled, by talker; a set's object is reused for the talker's next set.
    std::vector<std::pair<std::string, Ref<GsvSentence>>> held_;
    std::vector<Ref<FixMonitor>> monitors_;
    uint32_t rawId_ = 0;
    NmeaParser* parser_;
};

}  // namespace kestrix
