#include "server/OfflineStore.h"

#include <vector>

#include "platform/DeviceFs.h"
#include "platform/Log.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "server/Messages.h"
#include "settings/SplitPath.h"
#include "settings/TrackerSettings.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

bool ReadStoreName(std::string& name) {
    auto key = platform::RegKey::Open(kSettingsKey, false);
    if (!key) return false;
    return key->QueryString(kOfflineStoreValue, name) && !name.empty();
}

void WriteStoreName(const std::string& name) {
    if (auto parent = platform::RegKey::Open(kSettingsParentKey, true)) parent->Close();
    auto key = platform::RegKey::Open(kSettingsKey, true);
    if (!key) return;
    key->SetString(kOfflineStoreValue, name);
    key->Close();
}

void DeleteStoreName() {
    auto key = platform::RegKey::Open(kSettingsKey, false);
    if (!key) return;
    key->DeleteValue(kOfflineStoreValue);
    key->Close();
}

}  // namespace

OfflineStore::OfflineStore(IStatusListener* listener)
    : writer_("offline store", [listener](const std::string& text) {
          if (listener) listener->OnProblem(kKindTracker, text);
      }) {}

OfflineStore::~OfflineStore() { Close(); }

bool OfflineStore::IsOpen() const {
    std::lock_guard lock(mutex_);
    return writer_.IsOpen();
}

std::string OfflineStore::Name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

bool OfflineStore::Open(const TrackerSettings* settings) {
    std::lock_guard lock(mutex_);
    if (settings == nullptr) return false;
    if (writer_.IsOpen()) Close();
    auto makeNew = [&]() -> bool {
        std::string drive, dir;
        SplitPath(settings->GetLogPath().value_or(std::string()), &drive, &dir, nullptr, nullptr);
        // A log path without a folder gives an empty folder: the file goes to the root.
        auto made = platform::CreateUniqueDeviceFile(drive + dir, kOfflineStorePrefix);
        if (!made) {
            platform::LogWarning("offline store: cannot make a file in '" + drive + dir + "'");
            return false;
        }
        name_ = *made;
        return true;
    };
    bool isNew = false;
    if (!ReadStoreName(name_)) {
        if (!makeNew()) {
            name_.clear();
            return false;
        }
        isNew = true;
    }
    // Appending: whatever the file already holds stays in front of the new records.
    bool opened = writer_.Open(name_);
    if (!opened && !isNew) {
        // The named file cannot be made again (its folder is gone): rather than refusing
        // every position from now on, start a new file.
        platform::LogWarning("offline store: cannot reopen '" + name_ + "', starting a new file");
        isNew = makeNew();
        opened = isNew && writer_.Open(name_);
    }
    if (!opened) {
        platform::LogWarning("offline store: cannot open '" + name_ + "'");
        name_.clear();
        return false;
    }
    if (isNew) WriteStoreName(name_);
    return true;
}

void OfflineStore::Close() {
    std::lock_guard lock(mutex_);
    if (!writer_.IsOpen()) return;
    writer_.Close();
    WriteStoreName(name_);
    name_.clear();
}

void OfflineStore::Write(TrackPointRef point) {
    std::lock_guard lock(mutex_);
    // Handed to the system at once; a record that cannot be written waits in memory.
    if (point && writer_.IsOpen()) writer_.Append(ToLogRecord(*point));
}

bool OfflineStore::WriteBatch(TrackMessage& batch) {
    for (TrackPointRef p = batch.First(); p; p = batch.Next()) Write(p);
    batch.Clear();
    return true;
}

void OfflineStore::Append(const TrackerSettings* settings, TrackPointRef point) {
    std::lock_guard lock(mutex_);
    if (!writer_.IsOpen()) Open(settings);
    Write(std::move(point));
}

bool OfflineStore::OpenWithBatch(const TrackerSettings* settings, TrackMessage& batch) {
    std::lock_guard lock(mutex_);
    if (!Open(settings)) return false;
    if (batch.Count() > 0) WriteBatch(batch);
    return true;
}

bool OfflineStore::Resend(const SendFunction& send, uint32_t userId, const TrackerSettings* settings) {
    std::lock_guard lock(mutex_);
    if (writer_.IsOpen()) Close();
    std::string name;
    const bool named = ReadStoreName(name);
    if (named) {
        if (platform::DeviceFileExists(name) && !ResendFile(name, send, userId)) return false;
        DeleteStoreName();
    }
    // A store file whose name never reached the registry (it could not be saved) is sent
    // too, rather than left behind.
    bool found = false;
    if (settings != nullptr) {
        std::string drive, dir;
        SplitPath(settings->GetLogPath().value_or(std::string()), &drive, &dir, nullptr, nullptr);
        const std::string folder = drive + dir;
        const std::string prefix = kOfflineStorePrefix, suffix = ".tmp";
        for (const auto& entry : platform::ListDeviceDirectory(folder.empty() ? "\\" : folder)
                                     .value_or(std::vector<platform::DirEntry>{})) {
            const std::string& file = entry.name;
            if (entry.isDirectory || file.size() <= prefix.size() + suffix.size() || file.rfind(prefix, 0) != 0 ||
                file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            found = true;
            platform::LogWarning("offline store: sending " + folder + file + ", which no setting names");
            if (!ResendFile((folder.empty() ? "\\" : folder) + file, send, userId)) return false;
        }
    }
    // Positions that no file could take (a full disk) go from memory.
    const auto& waiting = writer_.Waiting();
    TrackMessage message(userId);
    for (size_t i = 0; i < waiting.size(); ++i) {
        message.Add(ToTrackPoint(waiting[i]));
        if (message.Count() == kMaxTrackPoints || i + 1 == waiting.size()) {
            if (!send || !send(message)) return false;
            message.Clear();
        }
    }
    const bool fromMemory = !waiting.empty();
    writer_.ForgetWaiting("to the server");
    return named || found || fromMemory;
}

bool OfflineStore::ResendFile(const std::string& name, const SendFunction& send, uint32_t userId) {
    platform::DeviceFile in;
    if (!in.Open(name, "rb")) return false;

    // The log's own reader: a record that holds no position is left out here as it is
    // by every other reader, rather than reach the server as a made-up point.
    LogRecordReader reader(in);
    TrackMessage message(userId);
    bool ok = true;
    for (bool more = true; more && ok;) {
        LogRecord record;
        more = reader.Next(record);
        if (more) message.Add(ToTrackPoint(record));
        if (message.Count() == kMaxTrackPoints || (!more && message.Count() > 0)) {
            ok = send && send(message);
            message.Clear();
        }
    }
    ok = ok && !reader.Failed();
    in.Close();
    if (reader.Skipped() != 0) {
        platform::LogWarning(platform::Format("offline store %s: left out %llu damaged records", name.c_str(),
                                              static_cast<unsigned long long>(reader.Skipped())));
    }
    if (ok) platform::DeleteDeviceFile(name);
    return ok;
}

}  // namespace kestrix
