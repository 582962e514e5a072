#include "server/OfflineStore.h"

#include <vector>

#include "platform/Log.h"
#include "platform/Registry.h"
#include "server/Messages.h"
#include "settings/SplitPath.h"
#include "settings/TrackerSettings.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

// One resend read: exactly the 500 records of a full track message.
constexpr size_t kChunkBytes = kMaxTrackPoints * kLogRecordSize;

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

OfflineStore::~OfflineStore() { Close(); }

bool OfflineStore::IsOpen() const {
    std::lock_guard lock(mutex_);
    return file_.IsOpen();
}

std::string OfflineStore::Name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

bool OfflineStore::Open(const TrackerSettings* settings) {
    std::lock_guard lock(mutex_);
    if (settings == nullptr) return false;
    if (file_.IsOpen()) Close();
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
    bool opened = file_.Open(name_, "ab");
    if (!opened && !isNew) {
        // The named file cannot be made again (its folder is gone): rather than refusing
        // every position from now on, start a new file.
        platform::LogWarning("offline store: cannot reopen '" + name_ + "', starting a new file");
        isNew = makeNew();
        opened = isNew && file_.Open(name_, "ab");
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
    if (!file_.IsOpen()) return;
    file_.Close();
    WriteStoreName(name_);
    name_.clear();
}

void OfflineStore::Write(TrackPointRef point) {
    std::lock_guard lock(mutex_);
    if (!point || !file_.IsOpen()) return;
    uint8_t record[kLogRecordSize];
    EncodeLogRecord(ToLogRecord(*point), record);
    // One call per record, handed to the system at once, so a crash cannot split a record.
    file_.Write(record, sizeof record);
    file_.Flush();
}

bool OfflineStore::WriteBatch(TrackMessage& batch) {
    for (TrackPointRef p = batch.First(); p; p = batch.Next()) Write(p);
    batch.Clear();
    return true;
}

void OfflineStore::Append(const TrackerSettings* settings, TrackPointRef point) {
    std::lock_guard lock(mutex_);
    if (!file_.IsOpen()) Open(settings);
    Write(std::move(point));
}

bool OfflineStore::OpenWithBatch(const TrackerSettings* settings, TrackMessage& batch) {
    std::lock_guard lock(mutex_);
    if (!Open(settings)) return false;
    if (batch.Count() > 0) WriteBatch(batch);
    return true;
}

bool OfflineStore::Resend(const SendFunction& send, uint32_t userId) {
    std::lock_guard lock(mutex_);
    if (file_.IsOpen()) Close();
    std::string name;
    if (!ReadStoreName(name)) return false;
    if (!platform::DeviceFileExists(name)) {
        DeleteStoreName();
        return true;
    }
    platform::DeviceFile in;
    if (!in.Open(name, "rb")) return false;
    auto size = in.Size();
    if (!size || *size < 0) return false;
    const uint64_t total = static_cast<uint64_t>(*size) / kLogRecordSize;

    TrackMessage message(userId);
    std::vector<uint8_t> chunk(kChunkBytes);
    bool ok = true;
    uint64_t sent = 0;
    for (;;) {
        size_t got = 0;
        while (got < chunk.size()) {
            size_t n = in.Read(chunk.data() + got, chunk.size() - got);
            if (n == 0) break;
            got += n;
        }
        if (got == 0) break;
        for (size_t off = 0; off + kLogRecordSize <= got; off += kLogRecordSize) {
            message.Add(ToTrackPoint(DecodeLogRecord(&chunk[off])));
        }
        const size_t count = message.Count();
        if (count > 0) {
            if (!send || !send(message)) {
                ok = false;
                break;
            }
            sent += count;
            message.Clear();
        }
        if (got < chunk.size()) break;
    }
    in.Close();
    if (ok && sent == total) {
        platform::DeleteDeviceFile(name);
        DeleteStoreName();
    }
    return ok;
}

}  // namespace kestrix
