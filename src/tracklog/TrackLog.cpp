#include "tracklog/TrackLog.h"

#include "platform/Log.h"
#include "platform/MessageLoop.h"
#include "platform/Shell.h"
#include "platform/Text.h"
#include "platform/Thread.h"
#include "settings/SplitPath.h"
#include "settings/TrackerSettings.h"
#include "tracklog/GpxWriter.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

std::mutex gSourceMutex;
std::function<TrackerSettings*()> gSettingsSource;

TrackerSettings* SettingsFromSource() {
    std::lock_guard lock(gSourceMutex);
    return gSettingsSource ? gSettingsSource() : nullptr;
}

// Converts on a worker thread while the calling thread's loop keeps turning (here, when
// the thread has no loop or no thread can be made). A loop told to quit stops it.
GpxConversion ConvertWhileTheLoopTurns(platform::DeviceFile& log, const std::string& trackName,
                                       platform::DeviceFile& gpx) {
    std::atomic<bool> stop{false};
    GpxConversion result;
    const auto convert = [&] {
        result = ConvertLogToGpx(
            log, trackName, [&gpx](const char* data, size_t size) { return gpx.Write(data, size) == size; }, &stop);
    };
    platform::MessageLoop* loop = platform::MessageLoop::Current();
    std::atomic<bool> done{false};
    const auto work = [&] {
        convert();
        done = true;
        loop->PostTask([] {});  // wakes the pump below
    };
    platform::Thread worker;
    if (loop == nullptr || !worker.Start(work, "gpx export")) {
        convert();
        return result;
    }
    if (!loop->PumpUntil([&] { return done.load(); })) stop = true;
    worker.Join(-1);
    return result;
}

}  // namespace

void TrackLog::SetSettingsSource(std::function<TrackerSettings*()> source) {
    std::lock_guard lock(gSourceMutex);
    gSettingsSource = std::move(source);
}

TrackLog::TrackLog(IStatusListener* listener)
    : listener_(listener), writer_("track log", [this](const std::string& text) {
          if (listener_) listener_->OnProblem(kKindLogger, text);
      }) {}

TrackLog::~TrackLog() { CloseFile(); }

bool TrackLog::IsOpen() const { return open_.load(std::memory_order_acquire); }

bool TrackLog::Open(TrackerSettings* settings) {
    if (settings == nullptr) return false;
    CloseFile();
    std::lock_guard lock(lock_);
    settings_ = settings;
    path_ = settings->GetLogPath();
    if (!path_ || path_->empty()) return false;
    return OpenFile();
}

void TrackLog::Close() {
    CloseFile();
    if (listener_) listener_->OnStopped(kKindLogger);
}

void TrackLog::Write(TrackPointRef point) {
    {
        std::lock_guard lock(lock_);
        // Into the operating system's hands at once: a crash of the process must not lose
        // a position that was already accepted. No fsync: that would cost a storage write
        // per fix. A record that cannot be written waits in memory for the next attempt.
        if (point && writer_.IsOpen()) writer_.Append(ToLogRecord(*point));
    }
    point.Reset();
}

bool TrackLog::OpenFile() {
    std::lock_guard lock(lock_);
    if (exporting_) return false;
    if (!writer_.IsOpen() && path_ && !path_->empty()) writer_.Open(*path_);
    open_.store(writer_.IsOpen(), std::memory_order_release);
    if (listener_) {
        if (writer_.IsOpen()) {
            listener_->OnStarted(kKindLogger);
        } else {
            listener_->OnMessage(kCanNotOpenLogText);
        }
    }
    return writer_.IsOpen();
}

void TrackLog::CloseFile() {
    std::lock_guard lock(lock_);
    writer_.Close();
    open_.store(false, std::memory_order_release);
}

std::string TrackLog::Path() const {
    std::lock_guard lock(lock_);
    return path_.value_or(std::string());
}

std::string TrackLog::LastExportPath() const {
    std::lock_guard lock(lock_);
    return lastExportPath_;
}

std::string ChooseGpxPath(const std::string& logPath, std::string& trackName) {
    std::string drive;
    std::string dir;
    std::string name;
    SplitPath(logPath, &drive, &dir, &name, nullptr);
    std::string suffix;
    for (unsigned counter = 0;; ++counter) {
        std::string candidate = drive + dir + name + suffix + ".gpx";
        platform::DeviceFile probe;
        if (!probe.Open(candidate, "rt")) {
            trackName = name + suffix;
            return candidate;
        }
        suffix = platform::Format("_%03u", counter);
    }
}

bool TrackLog::ExportGpx() {
    {
        std::lock_guard lock(lock_);
        if (exporting_) return false;
    }
    Close();

    std::string logPath;
    {
        std::lock_guard lock(lock_);
        if (!path_ || path_->empty()) {
            TrackerSettings* settings = settings_ != nullptr ? settings_ : SettingsFromSource();
            if (settings != nullptr) path_ = settings->GetLogPath();
        }
        if (!path_ || path_->empty()) return false;
        logPath = *path_;
        exporting_ = true;
    }

    std::string trackName;
    const std::string gpxPath = ChooseGpxPath(logPath, trackName);
    {
        // Not under the lock: the loop turns while the log converts.
        platform::DeviceFile log;
        if (log.Open(logPath, "rb")) {
            platform::DeviceFile gpx;
            if (gpx.Open(gpxPath, "wt")) {
                const GpxConversion result = ConvertWhileTheLoopTurns(log, trackName, gpx);
                // A full card or a read error must not end with the only copy removed:
                // the question is asked only when every record made it into the file.
                const bool readAll = !result.readFailed;
                const bool written = gpx.Close() && result.complete;
                log.Close();
                {
                    std::lock_guard lock(lock_);
                    lastExportPath_ = gpxPath;
                }
                if (result.damaged != 0 && !result.stopped) {
                    platform::LogWarning(platform::Format("GPX export left out %llu damaged records",
                                                          static_cast<unsigned long long>(result.damaged)));
                }
                if (result.stopped) {
                    platform::DeleteDeviceFile(gpxPath);
                    platform::LogWarning("GPX export stopped by the shutdown; the track log is kept");
                } else if (readAll && written) {
                    int answer = platform::MessageBox(platform::kNoWindow, kRemoveLogQuestion, kRemoveLogCaption,
                                                      platform::MB_OKCANCEL | platform::MB_ICONQUESTION);
                    if (answer == platform::IDOK) platform::DeleteDeviceFile(logPath);
                } else {
                    platform::LogWarning("GPX export incomplete, the track log is kept: " + gpxPath);
                }
            } else {
                platform::LogWarning("Can not create " + gpxPath);
                log.Close();
            }
        }
    }
    {
        std::lock_guard lock(lock_);
        exporting_ = false;
    }
    OpenFile();
    return true;
}

}  // namespace kestrix
