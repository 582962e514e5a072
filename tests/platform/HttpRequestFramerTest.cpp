#include "platform/HttpRequestFramer.h"

#include <gtest/gtest.h>

namespace kestrix::platform {
namespace {

using State = HttpFraming::State;

// end: where the request ends when Complete, the status when Refused
struct Case { const char* what; std::string bytes; State state; size_t end; };

// Bounds small enough to reach: a 200-byte head, 4 header lines, a 10-byte body.
constexpr HttpBounds kBounds{200, 4, 10};

std::string Head(const std::string& method, const std::string& headers) {
    return method + " /x HTTP/1.1\r\nHost: h\r\n" + headers + "\r\n";
}

// Every case is also fed one byte at a time: the framer resumes where it stopped and must
// come to the same end.
TEST(HttpRequestFramerTest, FindsTheEndOfARequestOrRefusesItAsSoonAsItsBytesBreakABound) {
    const std::string get = Head("GET", "");
    const std::string chunked = Head("POST", "Transfer-Encoding: Chunked\r\n");
    const Case cases[] = {
        {"a GET, and the next request after it", get + "GET /", State::Complete, get.size()},
        {"a head still arriving", "GET /x HTTP/1.1\r\nHost:", State::NeedMore, 0},
        {"a body by Content-Length", Head("POST", "Content-Length: 3\r\n") + "abcGET", State::Complete,
         Head("POST", "Content-Length: 3\r\n").size() + 3},
        {"a body not yet whole", Head("POST", "Content-Length: 3\r\n") + "ab", State::NeedMore, 0},
        {"a POST without a length has no body", Head("POST", "") + "GET", State::Complete, Head("POST", "").size()},
        {"chunks with an extension", chunked + "3;x=1\r\nabc\r\n2\r\nde\r\n0\r\n\r\nGET", State::Complete,
         chunked.size() + 24},
        {"a line ending in a bare LF is skipped, not a header", Head("GET", "Content-Length 5\n"), State::Complete,
         Head("GET", "Content-Length 5\n").size()},
        {"a head over its bytes", Head("GET", "X: " + std::string(200, 'a') + "\r\n"), State::Refused, 431},
        {"a head over its lines", Head("GET", std::string("A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n")), State::Refused, 431},
        {"a body over its bound by its length", Head("POST", "Content-Length: 11\r\n"), State::Refused, 413},
        {"a chunked body over its bound as it arrives", chunked + "6\r\nabcdef\r\n5\r\n", State::Refused, 413},
        {"a length that is no number", Head("POST", "Content-Length: 1e3\r\n"), State::Refused, 400},
        {"two lengths that differ", Head("POST", "Content-Length: 1\r\nContent-Length: 2\r\n"), State::Refused, 400},
        {"a length and chunks", Head("POST", "Content-Length: 1\r\nTransfer-Encoding: chunked\r\n"), State::Refused, 400},
        {"another transfer coding", Head("POST", "Transfer-Encoding: gzip, chunked\r\n"), State::Refused, 400},
        {"a folded header line", Head("GET", "X: a\r\n b\r\n"), State::Refused, 400},
        {"a body on a GET", Head("GET", "Content-Length: 2\r\n"), State::Refused, 400},
        {"a compressed body", Head("POST", "Content-Encoding: gzip\r\n"), State::Refused, 415},
        {"chunks whose framing outweighs the body", chunked + "1;" + std::string(200, 'x') + "\r\na\r\n1;" +
         std::string(200, 'x') + "\r\n", State::Refused, 413},
        {"a chunk size that is no number", chunked + "zz\r\n", State::Refused, 400},
        {"a chunk without its CRLF", chunked + "1\r\naXY", State::Refused, 400},
        {"trailer fields", chunked + "0\r\nX: 1\r\n\r\n", State::Refused, 400},
    };
    for (const Case& c : cases) {
        for (bool byteByByte : {false, true}) {
            HttpRequestFramer framer(kBounds);
            HttpFraming f;
            for (size_t n = byteByByte ? 1 : c.bytes.size(); n <= c.bytes.size(); ++n) {
                f = framer.Scan(std::string_view(c.bytes).substr(0, n));
                if (f.state != State::NeedMore) break;
            }
            SCOPED_TRACE(std::string(c.what) + (byteByByte ? ", byte by byte" : ""));
            EXPECT_EQ(f.state, c.state) << f.reason;
            EXPECT_EQ(c.state == State::Refused ? static_cast<size_t>(f.status) : f.end, c.end) << f.reason;
        }
    }
}

TEST(HttpRequestFramerTest, AsksForTheBodyOnlyWhenTheClientExpectsToBeToldAndStartsAfreshAfterReset) {
    HttpRequestFramer framer(kBounds);
    const std::string head = Head("POST", "Expect: 100-continue\r\nContent-Length: 2\r\n");
    HttpFraming f = framer.Scan(head);
    EXPECT_EQ(f.state, State::NeedMore);
    EXPECT_TRUE(f.expectContinue);
    EXPECT_TRUE(framer.HeadDone());
    EXPECT_EQ(framer.Scan(head + "ok").end, head.size() + 2);
    framer.Reset();
    EXPECT_FALSE(framer.HeadDone());
    EXPECT_FALSE(framer.Scan(Head("POST", "Content-Length: 1\r\n")).expectContinue);
}

}  // namespace
}  // namespace kestrix::platform
