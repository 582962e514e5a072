#include "nmea/FieldReader.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace kestrix {

namespace {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline int TwoDigits(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

}  // namespace

FieldReader::FieldReader(std::string_view body) : body_(body) { Next(); }

std::string FieldReader::Text() {
    std::string out(field_);
    Next();
    return out;
}

char FieldReader::Char() {
    char c = field_.empty() ? '\0' : field_[0];
    Next();
    return c;
}

int FieldReader::Integer() {
    // Plain digits, the usual case, without the general reader.
    const size_t n = field_.size();
    if (n > 0 && n <= 9) {
        int v = 0;
        size_t i = 0;
        for (; i < n; ++i) {
            const unsigned d = static_cast<unsigned>(field_[i] - '0');
            if (d > 9) break;
            v = v * 10 + static_cast<int>(d);
        }
        if (i == n) {
            Next();
            return v;
        }
    }
    int v = n == 0 ? 0 : ParseInteger(field_);
    Next();
    return v;
}

double FieldReader::Double() {
    double v = field_.empty() ? 0.0 : ParseDouble(field_);
    Next();
    return v;
}

float FieldReader::Float() {
    double d = Double();
    // A double beyond the float range would become infinite.
    if (d > 3.0e38) return 3.0e38f;
    if (d < -3.0e38) return -3.0e38f;
    return static_cast<float>(d);
}

int ParseInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) {
            v = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) return v > INT_MAX ? INT_MIN : static_cast<int>(-v);
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

double ParseDouble(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t start = i;
    // Fast path: up to 19 significant digits with a point and no exponent, which is every
    // number a receiver sends; the division by an exact power of ten rounds once.
    uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
    bool point = false;
    bool slow = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (IsDigit(c)) {
            if (digits >= 19) {
                slow = true;
                break;
            }
            if (mantissa != 0 || c != '0') ++digits;
            mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
            if (point) ++fraction;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            if (c == 'e' || c == 'E') slow = true;
            break;
        }
    }
    double value;
    if (!slow && mantissa < (uint64_t{1} << 53) && fraction <= 22) {
        if (i == start || (point && i == start + 1 && mantissa == 0 && fraction == 0)) return 0.0;
        value = static_cast<double>(mantissa) / kPow10[fraction];
    } else {
        // Long or exponent forms: the standard conversion (locale-independent).
        const char* first = text.data() + start;
        const char* last = text.data() + text.size();
        double parsed = 0.0;
        auto res = std::from_chars(first, last, parsed, std::chars_format::general);
        if (res.ec != std::errc() || !std::isfinite(parsed)) return 0.0;
        value = parsed;
    }
    return negative ? -value : value;
}

double ParseCoordinate(std::string_view text) {
    double degrees = 0.0;
    ParseCoordinate(text, degrees);
    return degrees;
}

bool ParseCoordinate(std::string_view text, double& degrees) {
    degrees = 0.0;
    const size_t n = text.size();
    size_t i = 0;
    uint64_t whole = 0;
    for (; i < n && IsDigit(text[i]); ++i) {
        if (i >= 9) return false;
        whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (i == 0) return false;
    uint64_t fraction = 0;
    int fractionDigits = 0;
    if (i < n) {
        if (text[i] != '.') return false;
        for (++i; i < n; ++i) {
            if (!IsDigit(text[i])) return false;
            // Digits beyond 1e-13 minute change nothing a double can hold.
            if (fractionDigits < 13) {
                fraction = fraction * 10 + static_cast<uint64_t>(text[i] - '0');
                ++fractionDigits;
            }
        }
    }
    const uint64_t minutes = whole % 100;
    if (minutes >= 60) return false;
    const uint64_t scale = static_cast<uint64_t>(kPow10[fractionDigits]);
    const double minuteValue = static_cast<double>(minutes * scale + fraction) / static_cast<double>(scale);
    degrees = static_cast<double>(whole / 100) + minuteValue / 60.0;
    return true;
}

bool ParseTimeOfDay(std::string_view text, platform::SystemTime& out) {
    if (text.size() < 6) return false;
    for (size_t i = 0; i < 6; ++i)
        if (!IsDigit(text[i])) return false;
    int ms = 0;
    if (text.size() > 6) {
        if (text[6] != '.') return false;
        int scale = 100;
        for (size_t i = 7; i < text.size(); ++i) {
            if (!IsDigit(text[i])) return false;
            ms += (text[i] - '0') * scale;
            scale /= 10;
        }
    }
    const int hour = TwoDigits(text.data());
    const int minute = TwoDigits(text.data() + 2);
    const int second = TwoDigits(text.data() + 4);
    if (hour > 23 || minute > 59 || second > 59) return false;
    out.hour = static_cast<uint16_t>(hour);
    out.minute = static_cast<uint16_t>(minute);
    out.second = static_cast<uint16_t>(second);
    out.milliseconds = static_cast<uint16_t>(ms);
    return true;
}

bool ParseDate(std::string_view text, platform::SystemTime& out) {
    if (text.size() != 6) return false;
    for (char c : text)
        if (!IsDigit(c)) return false;
    const int day = TwoDigits(text.data());
    const int month = TwoDigits(text.data() + 2);
    const int year = 2000 + TwoDigits(text.data() + 4);
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day > days) return false;
    out.year = static_cast<uint16_t>(year);
    out.month = static_cast<uint16_t>(month);
    out.day = static_cast<uint16_t>(day);
    out.dayOfWeek = 0;
    return true;
}

}  // namespace kestrix
