#include "core/ControllerServices.h"

#include <mutex>
#include <utility>

#if __has_include("tracklog/TrackLog.h")
#include "tracklog/TrackLog.h"
#define KESTRIX_HAVE_TRACKLOG 1
#endif

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

}  // namespace

ControllerServices DefaultControllerServices() {
    ControllerServices services;
#ifdef KESTRIX_HAVE_TRACKLOG
    services.makeLog = [](IStatusListener& listener) -> std::unique_ptr<ITrackLog> {
        return std::make_unique<TrackLog>(&listener);
    };
#endif
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
