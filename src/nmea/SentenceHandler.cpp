#include "nmea/SentenceHandler.h"

namespace kestrix {

namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

std::string_view NameOf(SentenceHandler::Kind kind) {
    switch (kind) {
    case SentenceHandler::Kind::Rmc: return "GPRMC";
    case SentenceHandler::Kind::Gll: return "GPGLL";
    case SentenceHandler::Kind::Gga: return "GPGGA";
    case SentenceHandler::Kind::Gsv: return "GPGSV";
    }
    return "";
}

// Sets assembled at once; more talkers than this (only garbage makes them) drop the oldest.
constexpr size_t kMaxHeldSets = 16;

}  // namespace

SentenceHandler::SentenceHandler(Kind kind, NmeaParser& parser, bool embedded)
    : RawSentenceObserver(embedded), kind_(kind), name_(NameOf(kind)), parser_(&parser) {
    rawId_ = parser_->AddRawObserver(this);
}

SentenceHandler::~SentenceHandler() {
    if (parser_ != nullptr) parser_->RemoveRawObserver(rawId_);
}

void SentenceHandler::AddMonitor(FixMonitor* monitor) {
    if (monitor != nullptr) monitors_.emplace_back(monitor);
}

void SentenceHandler::OnRawSentence(std::string_view name, std::string_view body, std::string_view address) {
    if (!EqualsIgnoreCase(name, name_)) return;
    const std::string_view talker = address.size() == 5 ? address.substr(0, 2) : std::string_view();
    // Position sentences are complete at once: decoded on the stack, so the fix path
    // allocates nothing but the TrackPoint.
    switch (kind_) {
    case Kind::Rmc: {
        RmcSentence s;
        s.SetTalker(talker);
        s.Parse(name, body);
        for (auto& m : monitors_) m->OnRmc(s);
        return;
    }
    case Kind::Gll: {
        GllSentence s;
        s.SetTalker(talker);
        s.Parse(name, body);
        for (auto& m : monitors_) m->OnGll(s);
        return;
    }
    case Kind::Gga: {
        GgaSentence s;
        s.SetTalker(talker);
        s.Parse(name, body);
        for (auto& m : monitors_) m->OnGga(s);
        return;
    }
    case Kind::Gsv:
        break;
    }

    auto it = held_.begin();
    while (it != held_.end() && it->first != talker) ++it;
    if (it != held_.end()) {
        it->second->Continue(body);
    } else {
        if (held_.size() >= kMaxHeldSets) held_.erase(held_.begin());
        Ref<GsvSentence> set(new GsvSentence());
        set->SetTalker(talker);
        set->Parse(name, body);
        held_.emplace_back(std::string(talker), std::move(set));
        it = held_.end() - 1;
    }
    GsvSentence& set = *it->second;
    if (set.IsComplete()) {
        for (auto& m : monitors_) m->OnGsv(set);
        // Ready for the talker's next set, keeping the storage.
        set.satellites.clear();
        set.messageNumber = 0;
        set.totalMessages = -1;
    }
}

}  // namespace kestrix
