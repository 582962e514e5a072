// Arbitrary bytes into the reference server's per-connection parser, in the pieces a
// socket could deliver them. The first input byte chooses the piece size; a sink that
// accepts one account lets the inputs reach the position and track decoders. The parser
// must never crash, never hold more than one packet, and never answer after refusing.
//
// Fuzz targets link the logic libraries only, so the parser's source file is compiled
// into this target (it needs no database: the sink below stands in for the store).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ClientSession.h"

namespace {

class AcceptingSink final : public kestrix::refserver::SessionSink {
public:
    std::optional<uint32_t> CheckLogin(uint64_t, uint64_t, const std::string& name, const std::string&) override {
        return name.empty() ? 0 : 1;
    }
    void StorePoints(uint32_t userId, std::vector<kestrix::refserver::StoredPoint>& points) override {
        if (userId == 0) std::abort();  // nothing is stored for a session that is not logged in
        stored += points.size();
    }
    size_t stored = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = 1 + data[0] % 64 * 97;
    ++data;
    --size;
    AcceptingSink sink;
    kestrix::refserver::ClientSession session(sink);
    bool open = true;
    for (size_t at = 0; at < size && open; at += piece) {
        size_t n = size - at < piece ? size - at : piece;
        open = session.Feed(data + at, n);
        if (session.Buffered() > 65535) std::abort();
        session.TakeOutput();
    }
    if (!open && (session.Error().empty() || session.Feed(data, size))) std::abort();
    return 0;
}
