// FieldReader: walks the comma-separated fields of one sentence body, left to right, in
// one pass and without allocating (fields are views into the body, which the caller keeps
// alive). Each value reader decodes the current field and moves to the next one.
// Also the lenient value parsers the decoders share. Nothing here fails or throws: a
// missing, empty or malformed field reads as 0 / NUL, as the decoders require.
// Called on whichever thread decodes (the reader thread); no shared state.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Time.h"

namespace kestrix {

class FieldReader {
public:
    // Starts at the first character and reads the first field at once.
    explicit FieldReader(std::string_view body);

    // Drops the current field and reads the next; past the end the field becomes none.
    void Next() {
        if (pos_ >= body_.size()) {
            field_ = {};
            none_ = true;
            return;
        }
        // Fields are short: a plain loop beats a library call.
        const char* begin = body_.data() + pos_;
        const char* end = body_.data() + body_.size();
        const char* p = begin;
        while (p < end && *p != ',') ++p;
        field_ = std::string_view(begin, static_cast<size_t>(p - begin));
        none_ = false;
        pos_ = static_cast<size_t>(p - body_.data()) + 1;
    }
    // True when the current field is none or has no characters.
    bool IsEmpty() const { return field_.empty(); }
    bool IsNone() const { return none_; }
    std::string_view Field() const { return field_; }

    // Value readers: decode the current field, then Next().
    std::string Text();
    char Char();         // first character, NUL for an empty field
    int Integer();       // leading decimal integer (as atoi reads it, clamped), 0 when empty
    double Double();     // leading decimal number (as atof reads it), 0 when empty or not finite
    float Float();

private:
    std::string_view body_;
    size_t pos_ = 0;
    std::string_view field_;
    bool none_ = true;
};

// atoi-like: optional blanks and sign, then digits; stops at the first other character;
// clamps to the int range instead of overflowing. 0 when there are no digits.
int ParseInteger(std::string_view text);
// atof-like for decimal text (blanks, sign, digits, point, exponent); 0 for anything
// that does not start as a number, and for infinities and NaN.
double ParseDouble(std::string_view text);
// Degrees and decimal minutes (ddmm.m... or dddmm.m..., any number of decimals) to
// unsigned decimal degrees. False (and 0) for an empty field and for text that is not
// such a value: a sign, letters, blanks, more than one point, no digit before the point,
// minutes of 60 or more, or more than nine digits before the point.
bool ParseCoordinate(std::string_view text, double& degrees);
// The same, 0 for what is not a coordinate.
double ParseCoordinate(std::string_view text);
// hhmmss with an optional fraction of any length ("hhmmss", "hhmmss.s", ...). On success
// sets hour, minute, second and milliseconds (fraction truncated to ms) and returns true;
// otherwise (other lengths, non-digits, hour > 23, minute > 59, second > 59) leaves
// out untouched and returns false.
bool ParseTimeOfDay(std::string_view text, platform::SystemTime& out);
// ddmmyy (exactly six digits) as a calendar date: year 2000 + yy. Sets year, month, day
// (day of week 0) and returns true only for a real calendar date; otherwise out is
// untouched.
bool ParseDate(std::string_view text, platform::SystemTime& out);

}  // namespace kestrix
