#include "platform/HttpRequestFramer.h"

#include <algorithm>

namespace kestrix::platform {
namespace {

constexpr size_t kMaxChunkSizeLine = 256;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Decimal digits only; false for anything else. A value past 2^60 saturates, which is
// refused as too large anyway.
bool ParseDecimal(std::string_view s, uint64_t& out) {
    if (s.empty()) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v > (uint64_t{1} << 60) ? v : v * 10 + static_cast<uint64_t>(c - '0');
    }
    out = v;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A body is read only for these methods; any other request must come without one.
bool MethodTakesBody(std::string_view method) {
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

}  // namespace

void HttpRequestFramer::Reset() {
    *this = HttpRequestFramer(bounds_);
}

HttpFraming HttpRequestFramer::Refuse(int status, std::string reason) {
    refused_.state = HttpFraming::State::Refused;
    refused_.status = status;
    refused_.reason = std::move(reason);
    phase_ = Phase::Done;
    return refused_;
}

bool HttpRequestFramer::NextLine(std::string_view data, size_t limit, std::string_view& line, HttpFraming& refused) {
    const size_t searchEnd = std::min(data.size(), pos_ + limit);
    const size_t nl = data.substr(0, searchEnd).find('\n', pos_);
    if (nl == std::string_view::npos) {
        if (data.size() - pos_ >= limit) refused = phase_ == Phase::Head
                                                       ? Refuse(431, "the request's head is too large")
                                                       : Refuse(400, "a chunk size line is too long");
        return false;
    }
    line = data.substr(pos_, nl + 1 - pos_);
    pos_ = nl + 1;
    return true;
}

bool HttpRequestFramer::HeadLine(std::string_view line, HttpFraming& refused) {
    if (lines_++ == 0) {
        auto space = line.find(' ');
        if (line.size() <= 2 || space == std::string_view::npos || space == 0) {
            refused = Refuse(400, "the request line is malformed");
            return false;
        }
        method_ = std::string(line.substr(0, space));
        return true;
    }
    if (lines_ > bounds_.maxHeaderLines + 1) {
        refused = Refuse(431, "the request has too many header lines");
        return false;
    }
    if (line.size() < 2 || line[line.size() - 2] != '\r') return true;  // skipped by the parser too
    line.remove_suffix(2);
    if (line.front() == ' ' || line.front() == '\t') {
        refused = Refuse(400, "folded header lines are not accepted");
        return false;
    }
    auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        refused = Refuse(400, "a header line has no name");
        return false;
    }
    std::string_view name = line.substr(0, colon);
    std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "Content-Length")) {
        uint64_t n = 0;
        if (!ParseDecimal(value, n) || (hasLength_ && n != length_)) {
            refused = Refuse(400, "the Content-Length header is not one number");
            return false;
        }
        hasLength_ = true;
        length_ = n;
    } else if (EqualsNoCase(name, "Transfer-Encoding")) {
        if (hasTransferEncoding_ || !EqualsNoCase(value, "chunked")) {
            refused = Refuse(400, "the only transfer coding accepted is chunked");
            return false;
        }
        hasTransferEncoding_ = chunked_ = true;
    } else if (EqualsNoCase(name, "Content-Encoding")) {
        if (!value.empty() && !EqualsNoCase(value, "identity")) {
            refused = Refuse(415, "compressed request bodies are not accepted");
            return false;
        }
    } else if (EqualsNoCase(name, "Expect")) {
        expectContinue_ = EqualsNoCase(value, "100-continue");
    }
    return true;
}

bool HttpRequestFramer::EndOfHead(HttpFraming& refused) {
    if (hasLength_ && hasTransferEncoding_) {
        refused = Refuse(400, "a request cannot carry both Content-Length and Transfer-Encoding");
        return false;
    }
    const bool hasBody = chunked_ || (hasLength_ && length_ > 0);
    if (hasBody && !MethodTakesBody(method_)) {
        refused = Refuse(400, "a " + method_ + " request carries no body");
        return false;
    }
    if (hasLength_ && length_ > bounds_.maxBody) {
        refused = Refuse(413, "the request's body is larger than " + std::to_string(bounds_.maxBody) + " bytes");
        return false;
    }
    phase_ = chunked_ ? Phase::ChunkSize : hasBody ? Phase::Body : Phase::Done;
    headEnd_ = pos_;
    return true;
}

HttpFraming HttpRequestFramer::Scan(std::string_view data) {
    if (refused_.state == HttpFraming::State::Refused) return refused_;
    HttpFraming result;
    std::string_view line;
    for (;;) {
        switch (phase_) {
        case Phase::Head:
            if (!NextLine(data, bounds_.maxHeadBytes - std::min(pos_, bounds_.maxHeadBytes), line, result)) return result;
            if (line == "\r\n" && lines_ > 0) {
                if (!EndOfHead(result)) return result;
            } else if (!HeadLine(line, result)) {
                return result;
            }
            break;
        case Phase::Body:
            if (data.size() - pos_ < length_) {
                result.expectContinue = expectContinue_;
                return result;
            }
            pos_ += length_;
            phase_ = Phase::Done;
            break;
        case Phase::ChunkSize: {
            if (!NextLine(data, kMaxChunkSizeLine, line, result)) {
                result.expectContinue = expectContinue_ && decoded_ == 0;
                return result;
            }
            uint64_t size = 0;
            size_t i = 0;
            for (; i < line.size() && HexDigit(line[i]) >= 0; ++i) {
                if (i >= 15) return Refuse(400, "a chunk size is too large");
                size = size * 16 + static_cast<uint64_t>(HexDigit(line[i]));
            }
            std::string_view rest = Trim(line.substr(i));
            if (i == 0 || !(rest == "\r\n" || (rest.size() > 2 && rest.front() == ';' && rest.ends_with("\r\n"))))
                return Refuse(400, "a chunk size line is malformed");
            decoded_ += size;
            // Many tiny chunks would hold far more bytes than the body they carry.
            if (pos_ - headEnd_ > 2 * bounds_.maxBody + kMaxChunkSizeLine)
                return Refuse(413, "the chunked body's framing is too large");
            if (decoded_ > bounds_.maxBody)
                return Refuse(413, "the request's body is larger than " + std::to_string(bounds_.maxBody) + " bytes");
            chunkLeft_ = size;
            phase_ = size == 0 ? Phase::Trailer : Phase::ChunkData;
            break;
        }
        case Phase::ChunkData: {
            const uint64_t take = std::min<uint64_t>(chunkLeft_, data.size() - pos_);
            pos_ += take;
            chunkLeft_ -= take;
            if (chunkLeft_ > 0) return result;
            phase_ = Phase::ChunkEnd;
            break;
        }
        case Phase::ChunkEnd:
            if (data.size() - pos_ < 2) return result;
            if (data.substr(pos_, 2) != "\r\n") return Refuse(400, "a chunk does not end with CRLF");
            pos_ += 2;
            phase_ = Phase::ChunkSize;
            break;
        case Phase::Trailer:
            if (data.size() - pos_ < 2) return result;
            if (data.substr(pos_, 2) != "\r\n") return Refuse(400, "trailer fields are not accepted");
            pos_ += 2;
            phase_ = Phase::Done;
            break;
        case Phase::Done:
            result.state = HttpFraming::State::Complete;
            result.end = pos_;
            return result;
        }
    }
}

}  // namespace kestrix::platform
