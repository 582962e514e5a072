// Calendar conversions between FILETIME (UTC, 100-ns ticks since 1601-01-01),
// SYSTEMTIME (broken-down UTC) and OLE Automation dates (days since 1899-12-30 00:00,
// the fraction being the time of day). Pure functions, callable from any thread.
// A conversion whose input is not a valid calendar time returns false and leaves the
// output untouched.
#pragma once
#include <cstdint>
#include <string>

namespace kestrix::platform {

struct SystemTime {
    uint16_t year = 0;
    uint16_t month = 0;      // 1..12
    uint16_t dayOfWeek = 0;  // 0 = Sunday; ignored on input
    uint16_t day = 0;        // 1..31
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

constexpr uint64_t kFileTimeTicksPerSecond = 10'000'000;
constexpr uint64_t kFileTimeTicksPerMs = 10'000;

// Valid for years 1601..30827.
bool FileTimeToSystemTime(uint64_t fileTime, SystemTime& out);
// Fails for out-of-range fields (month 0, day 31 of April, hour 24, ...).
bool SystemTimeToFileTime(const SystemTime& in, uint64_t& out);
// Keeps milliseconds.
bool SystemTimeToVariantTime(const SystemTime& in, double& out);
// Rounds to the nearest millisecond.
bool VariantTimeToSystemTime(double variant, SystemTime& out);
// The OLE date of a FILETIME, to the millisecond: the same value as FileTimeToSystemTime
// followed by SystemTimeToVariantTime, without the calendar (false after 9999).
bool FileTimeToVariantTime(uint64_t fileTime, double& out);

// The device clock's UTC time in calendar form.
SystemTime GetSystemTime();

// "2009-03-07T14:05:09.000Z" (withMs) or "2009-03-07T14:05:09Z". Empty text for an
// unrepresentable time.
std::string FormatIsoUtc(uint64_t fileTime, bool withMs = true);
// Reads "2026-12-07" (midnight), "2026-12-07T14:05:56Z" or "2026-12-07T14:05:56.250Z" (up to
// three decimals; "+00:00" may stand for "Z"). False for anything else or an invalid date.
bool ParseIsoUtc(const std::string& text, uint64_t& out);

}  // namespace kestrix::platform
