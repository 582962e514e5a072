#include "tracklog/DocumentOutput.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/Time.h"

namespace kestrix {
namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* PutTwoDigits(char* p, unsigned v) {
    std::memcpy(p, kDigitPairs + 2 * v, 2);
    return p + 2;
}

}  // namespace

// printf's "%.6f": the value rounded to six decimals, ties to even, "-" for every
// negative value (also one that rounds to zero, and -0.0).
char* PutFixed6(char* p, double v) {
    const double a = std::fabs(v);
    if (a < 1e9) {
        // s is a * 10^6 rounded to the nearest double. Below 2^52 both whole + 0.5 and
        // s - whole are exact and rounding is monotonic, so s lies on the same side of
        // whole + 0.5 as the exact product: the rounding it suggests is the exact one,
        // unless s lands on the half itself (a true tie, or one hidden by rounding).
        // Those, and large values, go to the exact conversion below.
        const double s = a * 1e6;
        const double whole = std::floor(s);
        const double fraction = s - whole;
        if (fraction != 0.5) {
            const uint64_t micro = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
            if (std::signbit(v)) *p++ = '-';
            p = std::to_chars(p, p + 24, micro / 1000000).ptr;
            *p++ = '.';
            const auto decimals = static_cast<unsigned>(micro % 1000000);
            p = PutTwoDigits(p, decimals / 10000);
            p = PutTwoDigits(p, decimals / 100 % 100);
            return PutTwoDigits(p, decimals % 100);
        }
    }
    return std::to_chars(p, p + kMaxFixedBytes, v, std::chars_format::fixed, 6).ptr;
}

// "%04i-%02i-%02iT%02i:%02i:%02i.%03iZ"; nothing written for a time that is not a
// calendar time.
char* PutIsoTime(char* p, uint64_t fileTime) {
    platform::SystemTime st;
    if (!platform::FileTimeToSystemTime(fileTime, st)) return p;
    if (st.year < 10000) {
        p = PutTwoDigits(p, st.year / 100u);
        p = PutTwoDigits(p, st.year % 100u);
    } else {
        p = std::to_chars(p, p + 8, st.year).ptr;
    }
    *p++ = '-';
    p = PutTwoDigits(p, st.month);
    *p++ = '-';
    p = PutTwoDigits(p, st.day);
    *p++ = 'T';
    p = PutTwoDigits(p, st.hour);
    *p++ = ':';
    p = PutTwoDigits(p, st.minute);
    *p++ = ':';
    p = PutTwoDigits(p, st.second);
    *p++ = '.';
    *p++ = static_cast<char>('0' + st.milliseconds / 100);
    p = PutTwoDigits(p, st.milliseconds % 100u);
    *p++ = 'Z';
    return p;
}

ChunkedOutput::ChunkedOutput(const DocumentSink& sink) : sink_(sink), buffer_(new char[kChunkBytes]) {}

char* ChunkedOutput::Room(size_t bytes) {
    if (kChunkBytes - used_ < bytes) Flush();
    return buffer_.get() + used_;
}

void ChunkedOutput::Put(std::string_view text) {
    if (text.size() > kChunkBytes - used_) {
        Flush();
        if (text.size() > kChunkBytes) {
            Hand(text.data(), text.size());
            return;
        }
    }
    std::memcpy(buffer_.get() + used_, text.data(), text.size());
    used_ += text.size();
}

bool ChunkedOutput::Flush() {
    if (used_ > 0) Hand(buffer_.get(), used_);
    used_ = 0;
    return ok_;
}

void ChunkedOutput::Hand(const char* data, size_t size) {
    if (ok_ && size > 0) ok_ = sink_(data, size);
}

}  // namespace kestrix
