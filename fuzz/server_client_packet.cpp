// The client's packet reader over arbitrary bytes: the framing (lengths, compressed
// packets and their declared sizes), then the login answer and the track message
// readers on whatever came out. Input is handed over in small reads, as TCP may.
#include <cstddef>
#include <cstdint>

#include "server/ByteStream.h"
#include "server/Messages.h"
#include "server/Packet.h"

using namespace kestrix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t offset = 0;
    // The first byte chooses the read size, so partial reads are covered too.
    const size_t chunk = size > 0 ? (data[0] % 16) + 1 : 1;
    if (size > 0) offset = 1;
    CallbackStream stream(
        [&](uint8_t* buf, size_t len, size_t& got) {
            size_t n = len < chunk ? len : chunk;
            if (n > size - offset) n = size - offset;
            for (size_t i = 0; i < n; ++i) buf[i] = data[offset + i];
            offset += n;
            got = n;
            return true;
        },
        nullptr);
    for (int i = 0; i < 8; ++i) {
        Packet p;
        if (!p.Receive(stream, 1000)) break;
        const size_t start = p.Position();
        LoginMessage withId("anna", "0123456789abcdef0123456789abcdef", 7);
        withId.Read(p);
        p.SetPosition(start);
        LoginMessage withoutId("anna", "0123456789abcdef0123456789abcdef", 0);
        withoutId.Read(p);
        p.SetPosition(start);
        TrackMessage track;
        if (track.Read(p)) {
            for (TrackPointRef q = track.First(); q; q = track.Next()) (void)q->GetLatitude();
        }
        p.SetPosition(start);
        PositionMessage position;
        position.DecodeFromPacket(p);
    }
    return 0;
}
