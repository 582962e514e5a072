// HttpRequestFramer: finds where one HTTP/1.1 request ends in the bytes a connection has
// received so far, before anything parses it, so that a server can hold a request until
// it is whole and refuse it as soon as its bytes break a bound:
//   - a head (request line and header lines, up to the empty line) longer than
//     maxHeadBytes or with more than maxHeaderLines lines: 431;
//   - a body longer than maxBody, by its Content-Length or by the decoded size of a
//     chunked body while it arrives, or chunks whose framing takes more than the body: 413;
//   - framing that two readers could take differently: both Content-Length and
//     Transfer-Encoding, a transfer coding other than chunked, two Content-Length values,
//     a bad number or chunk size, a folded header line, a body on GET, HEAD or OPTIONS: 400;
//   - a Content-Encoding other than identity (a compressed body could unpack to far more
//     than maxBody): 415.
// Lines end with CRLF; a header line ending with a bare LF is taken as a line that belongs
// to the head but is not a header, as the HTTP library that parses the request skips it.
// Methods that carry a body (POST, PUT, PATCH, DELETE) without Content-Length or
// Transfer-Encoding have none.
//
// Pure and single-threaded. Feed it the connection's buffer from the request's first
// byte, again each time more has arrived; it resumes where it stopped.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrix::platform {

struct HttpBounds {
    size_t maxHeadBytes = 32 * 1024;
    size_t maxHeaderLines = 100;
    size_t maxBody = 64 * 1024;
};

struct HttpFraming {
    enum class State { NeedMore, Complete, Refused };
    State state = State::NeedMore;
    // Complete: the request is data[0, end). Refused: status (400, 413, 415, 431) and why.
    size_t end = 0;
    int status = 0;
    std::string reason;
    // The head arrived and the client asked to be told to send the body.
    bool expectContinue = false;
};

class HttpRequestFramer {
public:
    explicit HttpRequestFramer(HttpBounds bounds) : bounds_(bounds) {}

    // data starts at the request's first byte and holds everything received so far (it
    // only grows between calls until Reset).
    HttpFraming Scan(std::string_view data);
    // For the next request on the connection.
    void Reset();
    // True once the head is whole (the body may still be arriving).
    bool HeadDone() const { return phase_ != Phase::Head; }

private:
    enum class Phase { Head, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, Done };

    HttpFraming Refuse(int status, std::string reason);
    // Takes the next line starting at pos_; false while it has not all arrived. A line
    // longer than limit refuses the request.
    bool NextLine(std::string_view data, size_t limit, std::string_view& line, HttpFraming& refused);
    bool HeadLine(std::string_view line, HttpFraming& refused);
    bool EndOfHead(HttpFraming& refused);

    HttpBounds bounds_;
    Phase phase_ = Phase::Head;
    size_t pos_ = 0;  // the first byte not yet looked at
    size_t headEnd_ = 0;
    size_t lines_ = 0;
    std::string method_;
    bool hasLength_ = false;
    uint64_t length_ = 0;
    bool chunked_ = false;
    bool hasTransferEncoding_ = false;
    bool expectContinue_ = false;
    uint64_t chunkLeft_ = 0;
    uint64_t decoded_ = 0;
    HttpFraming refused_;
};

}  // namespace kestrix::platform
