#include "platform/Time.h"

#include <chrono>
#include <cmath>

#include "platform/Clock.h"
#include "platform/Text.h"

namespace kestrix::platform {

namespace {

using namespace std::chrono;

constexpr uint64_t kTicksPerDay = 864'000'000'000ULL;
constexpr int64_t kMsPerDay = 86'400'000;
// FILETIME values with the top bit set (year 30828 and later) are refused: as signed
// 64-bit counts they are negative.
constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;

constexpr sys_days kFileTimeEpoch = sys_days{year{1601} / January / 1};
constexpr sys_days kOleEpoch = sys_days{year{1899} / December / 30};

bool ValidFields(const SystemTime& t, int minYear, int maxYear) {
    if (t.year < minYear || t.year > maxYear) return false;
    if (t.month < 1 || t.month > 12) return false;
    if (t.hour > 23 || t.minute > 59 || t.second > 59 || t.milliseconds > 999) return false;
    year_month_day ymd{year{t.year}, month{t.month}, day{t.day}};
    return t.day >= 1 && ymd.ok();
}

int64_t MsOfDay(const SystemTime& t) {
    return ((static_cast<int64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 + t.milliseconds;
}

void Fill(sys_days date, int64_t msOfDay, SystemTime& out) {
    year_month_day ymd{date};
    SystemTime t;
    t.year = static_cast<uint16_t>(static_cast<int>(ymd.year()));
    t.month = static_cast<uint16_t>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<uint16_t>(static_cast<unsigned>(ymd.day()));
    t.dayOfWeek = static_cast<uint16_t>(weekday{date}.c_encoding());
    t.hour = static_cast<uint16_t>(msOfDay / 3'600'000);
    t.minute = static_cast<uint16_t>(msOfDay / 60'000 % 60);
    t.second = static_cast<uint16_t>(msOfDay / 1000 % 60);
    t.milliseconds = static_cast<uint16_t>(msOfDay % 1000);
    out = t;
}

sys_days DateOf(const SystemTime& t) { return sys_days{year{t.year} / month{t.month} / day{t.day}}; }

// Days from the FILETIME epoch to the OLE epoch, and to the first day OLE dates cannot hold.
constexpr int64_t kOleEpochDay = (kOleEpoch - kFileTimeEpoch).count();
constexpr int64_t kOleEndDay = (sys_days{year{10000} / January / 1} - kFileTimeEpoch).count();

}  // namespace

bool FileTimeToSystemTime(uint64_t fileTime, SystemTime& out) {
    if (fileTime > kMaxFileTime) return false;
    auto dayCount = static_cast<int64_t>(fileTime / kTicksPerDay);
    auto msOfDay = static_cast<int64_t>(fileTime % kTicksPerDay / 10'000);
    Fill(kFileTimeEpoch + days{dayCount}, msOfDay, out);
    return true;
}

bool SystemTimeToFileTime(const SystemTime& in, uint64_t& out) {
    if (!ValidFields(in, 1601, 30827)) return false;
    auto dayCount = (DateOf(in) - kFileTimeEpoch).count();
    out = static_cast<uint64_t>(dayCount) * kTicksPerDay + static_cast<uint64_t>(MsOfDay(in)) * 10'000;
    return true;
}

bool SystemTimeToVariantTime(const SystemTime& in, double& out) {
    if (!ValidFields(in, 100, 9999)) return false;
    auto dayCount = (DateOf(in) - kOleEpoch).count();
    double fraction = static_cast<double>(MsOfDay(in)) / static_cast<double>(kMsPerDay);
    // OLE dates before the epoch keep a negative day number with a positive time of day
    // written after the point: -1.25 is 29 December 1899, 06:00.
    out = dayCount >= 0 ? static_cast<double>(dayCount) + fraction : static_cast<double>(dayCount) - fraction;
    return true;
}

bool FileTimeToVariantTime(uint64_t fileTime, double& out) {
    if (fileTime > kMaxFileTime) return false;
    const auto dayCount = static_cast<int64_t>(fileTime / kTicksPerDay);
    if (dayCount >= kOleEndDay) return false;
    const auto msOfDay = static_cast<int64_t>(fileTime % kTicksPerDay / 10'000);
    // The same arithmetic as SystemTimeToVariantTime, so the two give the same bits.
    const int64_t oleDay = dayCount - kOleEpochDay;
    const double fraction = static_cast<double>(msOfDay) / static_cast<double>(kMsPerDay);
    out = oleDay >= 0 ? static_cast<double>(oleDay) + fraction : static_cast<double>(oleDay) - fraction;
    return true;
}

bool VariantTimeToSystemTime(double variant, SystemTime& out) {
    // 1 January 100 .. 31 December 9999, the range OLE dates cover.
    if (!std::isfinite(variant) || variant < -657435.0 || variant >= 2958466.0) return false;
    double whole = std::trunc(variant);
    double fraction = std::fabs(variant - whole);
    auto dayCount = static_cast<int64_t>(whole);
    auto msOfDay = static_cast<int64_t>(std::llround(fraction * static_cast<double>(kMsPerDay)));
    if (msOfDay >= kMsPerDay) {
        // Rounded up to midnight: the next day in time, whatever the sign of the day number.
        msOfDay = 0;
        dayCount += 1;
    }
    sys_days date = kOleEpoch + days{dayCount};
    year_month_day ymd{date};
    int y = static_cast<int>(ymd.year());
    if (y < 100 || y > 9999) return false;
    Fill(date, msOfDay, out);
    return true;
}

SystemTime GetSystemTime() {
    SystemTime t;
    FileTimeToSystemTime(DeviceClock().UtcFileTime(), t);
    return t;
}

std::string FormatIsoUtc(uint64_t fileTime, bool withMs) {
    SystemTime t;
    if (!FileTimeToSystemTime(fileTime, t)) return {};
    if (withMs)
        return Format("%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.year, t.month, t.day, t.hour, t.minute, t.second,
                      t.milliseconds);
    return Format("%04u-%02u-%02uT%02u:%02u:%02uZ", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

bool ParseIsoUtc(const std::string& text, uint64_t& out) {
    // Fixed-width fields, read digit by digit so that no sign or blank slips through.
    size_t at = 0;
    auto number = [&](size_t digits, uint16_t& field) {
        if (at + digits > text.size()) return false;
        unsigned v = 0;
        for (size_t i = 0; i < digits; ++i) {
            const char c = text[at + i];
            if (c < '0' || c > '9') return false;
            v = v * 10 + static_cast<unsigned>(c - '0');
        }
        at += digits;
        field = static_cast<uint16_t>(v);
        return true;
    };
    auto literal = [&](char c) { return at < text.size() && text[at] == c && ++at; };
    SystemTime t;
    if (!number(4, t.year) || !literal('-') || !number(2, t.month) || !literal('-') || !number(2, t.day)) return false;
    if (at < text.size()) {
        if (!literal('T') || !number(2, t.hour) || !literal(':') || !number(2, t.minute) || !literal(':') ||
            !number(2, t.second)) {
            return false;
        }
        if (literal('.')) {
            const size_t start = at;
            uint16_t ms = 0;
            while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9') {
                ms = static_cast<uint16_t>(ms * 10 + (text[at++] - '0'));
            }
            if (at == start) return false;
            for (size_t i = at - start; i < 3; ++i) ms = static_cast<uint16_t>(ms * 10);
            t.milliseconds = ms;
        }
        if (!(text.compare(at, std::string::npos, "Z") == 0 || text.compare(at, std::string::npos, "+00:00") == 0)) {
            return false;
        }
    }
    return SystemTimeToFileTime(t, out);
}

}  // namespace kestrix::platform
