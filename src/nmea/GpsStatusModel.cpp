#include "nmea/GpsStatusModel.h"

#include <algorithm>
#include <mutex>

#include "nmea/FixMonitor.h"
#include "nmea/Sentences.h"
#include "platform/MessageLoop.h"
#include "platform/Window.h"

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
    // The window's procedures reach the model: the window goes first.
    view_.reset();
    window_.store(platform::kNoWindow);
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

int GpsStatusModel::ShowStatusWindow(uintptr_t instance) {
    if (instance == 0) return -1;
    const platform::WindowHandle old = window_.exchange(platform::kNoWindow);
    if (old != platform::kNoWindow) platform::DestroyWindow(old);
    if (!view_ && factory_) view_ = factory_(*this);
    if (!view_) return -1;
    const platform::WindowHandle window = view_->Create(instance);
    if (window == platform::kNoWindow) return -1;
    window_.store(window);
    platform::ShowWindow(window, platform::SW_SHOWNORMAL);
    // Showing does not paint here: the window starts with the fix and satellites known now.
    RefreshTexts();
    InvalidateViews();
    return 0;
}

void GpsStatusModel::RefreshTexts() {
    if (HasView()) view_->RefreshTexts(currentPoint_.Get());
}

void GpsStatusModel::InvalidateViews() {
    if (HasView()) view_->InvalidateViews();
}

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
    // The window may close before the message's turn (or be gone already): the loop then
    // releases the reference the window would have.
    platform::PostMessageWithRelease(window, message, 0, reinterpret_cast<platform::LParam>(sentence),
                                     [sentence] { sentence->Release(); });
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
            currentPoint_ = IsFix(*s) ? MakeTrackPoint(*s) : TrackPointRef();
            RefreshTexts();
        }
    } else if (SameName(name, "GPGLL")) {
        if (const auto* s = dynamic_cast<const GllSentence*>(sentence)) {
            currentPoint_ = IsFix(*s) ? MakeTrackPoint(*s) : TrackPointRef();
            RefreshTexts();
        }
    } else if (SameName(name, "GPGGA")) {
        if (const auto* s = dynamic_cast<const GgaSentence*>(sentence)) {
            currentPoint_ = IsFix(*s) ? MakeTrackPoint(*s) : TrackPointRef();
            RefreshTexts();
        }
    }
}

void GpsStatusModel::ProcessGsv(const GsvSentence& s) {
    SatelliteTable& table = SatelliteTable::Instance();
    const SatSystem system = SystemOfTalker(s.GetTalker());
    std::vector<int> ids;
    ids.reserve(s.satellites.size());
    for (const SatelliteInfo& sat : s.satellites) {
        // Receivers pad the last message of a set with empty groups: no satellite there.
        if (sat.prn <= 0) continue;
        SatelliteRecord record;
        record.prn = sat.prn;
        record.elevation = sat.elevation;
        record.azimuth = sat.azimuth;
        record.snr = sat.snr;
        record.system = system;
        record.hasPosition = sat.hasPosition;
        table.AddOrUpdate(record, false);
        ids.push_back(sat.prn);
    }
    table.Prune(system, ids);
    // The bars show the table's first twelve satellites in (system, number) order: with
    // one system, the set's ids in ascending order. More than twelve have no bar.
    bars_ = {};
    const std::vector<SatelliteRecord> all = table.Snapshot();
    for (size_t i = 0; i < all.size() && i < kSignalBars; ++i) bars_[i] = all[i].Key();
    InvalidateViews();
}

void GpsStatusModel::ProcessGsa(const GsaSentence& s) {
    SatSystem system = SystemOfId(s.systemId);
    if (system == SatSystem::Unknown) system = SystemOfTalker(s.GetTalker());
    SatelliteTable::Instance().MarkUsed(system, s.usedPrns);
    InvalidateViews();
}

}  // namespace kestrix
