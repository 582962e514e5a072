#include "nmea/GpsStatusModel.h"

#include <algorithm>
#include <mutex>

#include "nmea/FixMonitor.h"
#include "nmea/Sentences.h"
#include "platform/MessageLoop.h"

namespace kestrix {

namespace {

const char* const kSubscribedNames[] = {"GPGSA", "GPGSV", "GPRMC", "GPGLL", "GPGGA"};

std::mutex gInstanceMutex;
GpsStatusModel* gInstance = nullptr;

bool SameName(const std::string& a, const char* b) {
    std::string_view v(b);
    if (a.size() != v.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (x != v[i]) return false;
    }
    return true;
}

}  // namespace

GpsStatusModel* GpsStatusModel::Instance() {
    std::lock_guard<std::mutex> lock(gInstanceMutex);
    if (gInstance == nullptr) gInstance = new GpsStatusModel();
    return gInstance;
}

void GpsStatusModel::DeleteInstance() {
    GpsStatusModel* model;
    {
        std::lock_guard<std::mutex> lock(gInstanceMutex);
        model = gInstance;
        gInstance = nullptr;
    }
    delete model;
}

GpsStatusModel::GpsStatusModel() : SentenceObserver(true) {}

GpsStatusModel::~GpsStatusModel() {
    if (receiver_ != nullptr) Detach();
}

bool GpsStatusModel::Attach(IGpsReceiver* receiver) {
    if (receiver == nullptr) return false;
    if (receiver_ != nullptr) Detach();
    receiver_ = receiver;
    parser_ = receiver->Parser();
    if (parser_ != nullptr) {
        for (const char* name : kSubscribedNames) parser_->Subscribe(name, this);
    }
    return true;
}

void GpsStatusModel::Detach() {
    if (parser_ != nullptr) {
        for (const char* name : kSubscribedNames) parser_->Unsubscribe(name, this);
    }
    receiver_ = nullptr;
    parser_ = nullptr;
    currentPoint_.Reset();
    bars_ = {};
    SatelliteTable::Instance().Clear();
    RequestRedraw();
}

bool GpsStatusModel::ShowStatusWindow() { return false; }

void GpsStatusModel::RequestRedraw() {
    const platform::WindowHandle window = window_.load();
    if (window == platform::kNoWindow) return;
    static const uint32_t message = platform::RegisterWindowMessage("WM_UPDATE_SAT_VIEW");
    platform::PostMessage(window, message, 0, 0);
}

void GpsStatusModel::OnSentence(NmeaSentence* sentence) {
    const platform::WindowHandle window = window_.load();
    if (sentence == nullptr || window == platform::kNoWindow) return;
    static const uint32_t message = platform::RegisterWindowMessage("WM_LDP_NOTIFY");
    sentence->AddRef();
    if (!platform::PostMessage(window, message, 0, reinterpret_cast<platform::LParam>(sentence))) {
        // The window is gone: nobody will release the reference.
        sentence->Release();
    }
}

void GpsStatusModel::Process(NmeaSentence* sentence) {
    if (sentence == nullptr) return;
    // The name says what the sentence is; the type check keeps a wrongly named object harmless.
    const std::string& name = sentence->Name();
    if (SameName(name, "GPGSV")) {
        if (const auto* s = dynamic_cast<const GsvSentence*>(sentence)) ProcessGsv(*s);
    } else if (SameName(name, "GPGSA")) {
        if (const auto* s = dynamic_cast<const GsaSentence*>(sentence)) ProcessGsa(*s);
    } else if (SameName(name, "GPRMC")) {
        if (const auto* s = dynamic_cast<const RmcSentence*>(sentence)) {
            currentPoint_ = s->status == 'A' ? MakeTrackPoint(*s) : TrackPointRef();
            Redraw();
        }
    } else if (SameName(name, "GPGLL")) {
        if (const auto* s = dynamic_cast<const GllSentence*>(sentence)) {
            currentPoint_ = s->status == 'A' ? MakeTrackPoint(*s) : TrackPointRef();
            Redraw();
        }
    } else if (SameName(name, "GPGGA")) {
        if (const auto* s = dynamic_cast<const GgaSentence*>(sentence)) {
            currentPoint_ = s->fixQuality == 1 ? MakeTrackPoint(*s) : TrackPointRef();
            Redraw();
        }
    }
}

void GpsStatusModel::ProcessGsv(const GsvSentence& s) {
    SatelliteTable& table = SatelliteTable::Instance();
    const SatSystem system = SystemOfTalker(s.GetTalker());
    std::vector<int> ids;
    ids.reserve(s.satellites.size());
    for (const SatelliteInfo& sat : s.satellites) {
        SatelliteRecord record;
        record.prn = sat.prn;
        record.elevation = sat.elevation;
        record.azimuth = sat.azimuth;
        record.snr = sat.snr;
        record.system = system;
        table.AddOrUpdate(record, false);
        ids.push_back(sat.prn);
    }
    table.Prune(system, ids);
    // The bars show the table's first satellites in (system, number) order: with one
    // system, the set's ids in ascending order.
    bars_ = {};
    const std::vector<SatelliteRecord> all = table.Snapshot();
    for (size_t i = 0; i < all.size() && i < kSignalBars; ++i) bars_[i] = all[i].Key();
    Redraw();
}

void GpsStatusModel::ProcessGsa(const GsaSentence& s) {
    SatSystem system = SystemOfId(s.systemId);
    if (system == SatSystem::Unknown) system = SystemOfTalker(s.GetTalker());
    SatelliteTable::Instance().MarkUsed(system, s.usedPrns);
    Redraw();
}

void GpsStatusModel::Redraw() {
    const platform::WindowHandle window = window_.load();
    if (window != platform::kNoWindow) platform::InvalidateWindow(window);
}

}  // namespace kestrix
