// SatelliteTable: the process-wide table of satellites in view, written by the GPS status
// model on the UI thread and read by the satellite view and the signal bars. Every
// operation takes the table's mutex (waiting without limit); readers get copies.
//
// A satellite is identified by its system and its number, so GPS 5 and GLONASS 5 (or
// Galileo 5) are distinct records. The system comes from the talker of the GSV set
// that reported it (GP GPS, GL GLONASS, GA Galileo, GB/BD BeiDou, GQ QZSS, GI NavIC);
// sentences from a combined ("GN") or unknown talker use SatSystem::Unknown.
#pragma once
#include <compare>
#include <cstdint>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

namespace kestrix {

enum class SatSystem : uint8_t { Unknown = 0, Gps, Glonass, Galileo, BeiDou, Qzss, NavIC };

// The system of a two-letter talker ("GP" -> Gps); Unknown for "GN" and others.
SatSystem SystemOfTalker(std::string_view talker);
// The system of the GNSS system id field of newer GSA sentences (1 GPS ... 6 NavIC).
SatSystem SystemOfId(int systemId);

struct SatelliteKey {
    SatSystem system = SatSystem::Unknown;
    int prn = 0;
    auto operator<=>(const SatelliteKey&) const = default;
};

struct SatelliteRecord {
    int prn = 0;
    int elevation = 0;  // degrees
    int azimuth = 0;    // degrees
    int snr = 0;        // dB-Hz
    uint8_t used = 0;   // 1 when the satellite is used in the fix
    SatSystem system = SatSystem::Unknown;
    // False while the receiver reports no elevation and azimuth for it (both read 0).
    bool hasPosition = true;

    SatelliteKey Key() const { return {system, prn}; }
    bool operator==(const SatelliteRecord&) const = default;
};

class SatelliteTable {
public:
    // The process-wide table.
    static SatelliteTable& Instance();

    SatelliteTable() = default;
    SatelliteTable(const SatelliteTable&) = delete;
    SatelliteTable& operator=(const SatelliteTable&) = delete;

    void Clear();
    // Inserts the record, or replaces the stored one keeping its used flag unless takeUsed.
    void AddOrUpdate(const SatelliteRecord& record, bool takeUsed);
    // Clears the used flag of every record of the system (of every record when system is
    // Unknown), then sets it on the listed numbers of that system (of any system when
    // Unknown). Numbers not in the table are ignored.
    void MarkUsed(SatSystem system, const std::vector<int>& prns);
    // Removes the records of the system whose numbers are not listed.
    void Prune(SatSystem system, const std::vector<int>& prns);
    // Copies out one record; false when absent. The number alone finds the first system
    // holding it.
    bool Find(SatelliteKey key, SatelliteRecord& out) const;
    bool Find(int prn, SatelliteRecord& out) const;
    // Every record in (system, number) order.
    std::vector<SatelliteRecord> Snapshot() const;
    size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::map<SatelliteKey, SatelliteRecord> records_;
};

}  // namespace kestrix
