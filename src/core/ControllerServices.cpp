#include "core/ControllerServices.h"

#include <mutex>
#include <utility>

#include "core/TrackerController.h"
#include "gps/DetectGpsPort.h"
#include "gps/GpsReceiver.h"
#include "nmea/GpsStatusModel.h"
#include "nmea/SatelliteTable.h"
#include "server/TrackerSession.h"
#include "server/UploadTrack.h"
#include "tracklog/TrackLog.h"

namespace kestrix {

namespace {

std::mutex& ServicesMutex() {
    static std::mutex m;
    return m;
}

ControllerServices& Installed() {
    static ControllerServices services = DefaultControllerServices();
    return services;
}

// What the upload needs of the controller, and nothing more.
class ControllerUploadHost final : public IUploadHost {
public:
    explicit ControllerUploadHost(TrackerController& c) : c_(c) {}
    TrackerSettings& GetSettings() override { return c_.GetSettings(); }
    uint32_t GetState() override { return c_.GetState(); }
    uint32_t RunningServices() override { return c_.RunningServices(); }
    void StartServices(uint32_t bits) override { c_.StartServices(bits); }
    void StopServices(uint32_t bits, bool byUser) override { c_.StopServices(bits, byUser); }
    void UpdateStatus() override { c_.UpdateStatus(); }

private:
    TrackerController& c_;
};

}  // namespace

ControllerServices DefaultControllerServices() {
    ControllerServices services;
    services.makeReceiver = [](GpsFixListener& listener) -> std::unique_ptr<IGpsReceiver> {
        return std::make_unique<GpsReceiver>(&listener);
    };
    services.makeSession = [](IStatusListener& listener) -> std::unique_ptr<ITrackerSession> {
        return std::make_unique<TrackerSession>(&listener);
    };
    services.makeLog = [](IStatusListener& listener) -> std::unique_ptr<ITrackLog> {
        // The GPX export needs the log path even when the logger never ran (Tracker only).
        TrackLog::SetSettingsSource([]() -> TrackerSettings* {
            return TrackerController::Exists() ? &TrackerController::Instance()->GetSettings() : nullptr;
        });
        return std::make_unique<TrackLog>(&listener);
    };
    services.statusModel = []() -> IGpsStatusModel* { return GpsStatusModel::Instance(); };
    services.deleteStatusModel = [] { GpsStatusModel::DeleteInstance(); };
    services.detectGpsPort = [](int maxPort, std::string& name) { return DetectGpsPortName(maxPort, name); };
    services.uploadTrack = [](TrackerController& controller) {
        ControllerUploadHost host(controller);
        return UploadTrack(host);
    };
    services.clearSatellites = [] { SatelliteTable::Instance().Clear(); };
    // The settings sheet and the status window are added by the shell when it has them.
    return services;
}

void SetControllerServices(ControllerServices services) {
    std::lock_guard<std::mutex> lock(ServicesMutex());
    Installed() = std::move(services);
}

const ControllerServices& GetControllerServices() {
    std::lock_guard<std::mutex> lock(ServicesMutex());
    return Installed();
}

}  // namespace kestrix
