#include "nmea/SatelliteTable.h"

#include <algorithm>

namespace kestrix {

SatSystem SystemOfTalker(std::string_view talker) {
    if (talker == "GP") return SatSystem::Gps;
    if (talker == "GL") return SatSystem::Glonass;
    if (talker == "GA") return SatSystem::Galileo;
    if (talker == "GB" || talker == "BD") return SatSystem::BeiDou;
    if (talker == "GQ" || talker == "QZ") return SatSystem::Qzss;
    if (talker == "GI") return SatSystem::NavIC;
    return SatSystem::Unknown;
}

SatSystem SystemOfId(int systemId) {
    switch (systemId) {
    case 1: return SatSystem::Gps;
    case 2: return SatSystem::Glonass;
    case 3: return SatSystem::Galileo;
    case 4: return SatSystem::BeiDou;
    case 5: return SatSystem::Qzss;
    case 6: return SatSystem::NavIC;
    default: return SatSystem::Unknown;
    }
}

SatelliteTable& SatelliteTable::Instance() {
    static SatelliteTable table;
    return table;
}

void SatelliteTable::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
}

void SatelliteTable::AddOrUpdate(const SatelliteRecord& record, bool takeUsed) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [it, inserted] = records_.try_emplace(record.Key(), record);
    if (!inserted) {
        const uint8_t used = it->second.used;
        it->second = record;
        if (!takeUsed) it->second.used = used;
    }
}

void SatelliteTable::MarkUsed(SatSystem system, const std::vector<int>& prns) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool any = system == SatSystem::Unknown;
    for (auto& [key, record] : records_) {
        if (!any && key.system != system) continue;
        record.used = std::find(prns.begin(), prns.end(), key.prn) != prns.end() ? 1 : 0;
    }
}

void SatelliteTable::Prune(SatSystem system, const std::vector<int>& prns) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = records_.begin(); it != records_.end();) {
        if (it->first.system == system && std::find(prns.begin(), prns.end(), it->first.prn) == prns.end()) {
            it = records_.erase(it);
        } else {
            ++it;
        }
    }
}

bool SatelliteTable::Find(SatelliteKey key, SatelliteRecord& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(key);
    if (it == records_.end()) return false;
    out = it->second;
    return true;
}

bool SatelliteTable::Find(int prn, SatelliteRecord& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [key, record] : records_) {
        if (key.prn == prn) {
            out = record;
            return true;
        }
    }
    return false;
}

std::vector<SatelliteRecord> SatelliteTable::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SatelliteRecord> out;
    out.reserve(records_.size());
    for (const auto& [key, record] : records_) out.push_back(record);
    return out;
}

size_t SatelliteTable::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

}  // namespace kestrix
