// libFuzzer target: arbitrary bytes through the whole decoding path (framer in random
// chunk sizes, dispatch to by-name observers, handlers, GPS state) and through every
// decoder directly. Build with the "fuzz" preset; see the README.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nmea/FieldReader.h"
#include "nmea/GpsDecoder.h"
#include "nmea/GpsStatusModel.h"
#include "nmea/Sentences.h"

namespace {

using namespace kestrix;

class Sink : public GpsFixListener {
public:
    void OnSignalLevel(int) override {}
    void OnFixLost() override {}
    void OnFix(TrackPointRef point) override { last = std::move(point); }
    TrackPointRef last;
};

// Keeps every decoded sentence it is given, as the status window would, and applies it.
class Keeper : public SentenceObserver {
public:
    void OnSentence(NmeaSentence* s) override {
        GpsStatusModel::Instance()->Process(s);
        kept = Ref<NmeaSentence>(s);
    }
    Ref<NmeaSentence> kept;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    {
        Sink sink;
        GpsDecoder decoder(&sink);
        Ref<Keeper> keeper = MakeRef<Keeper>();
        for (const char* name : {"GPGSV", "GPGSA", "GPGLL", "GPRMC", "GPGGA"}) decoder.Subscribe(name, keeper.Get());
        // The first byte chooses the chunk sizes, as a serial port delivers them.
        const size_t step = size == 0 ? 1 : 1 + data[0] % 17;
        size_t i = 0;
        for (size_t k = 0; i < size; ++k) {
            const size_t n = std::min(size - i, 1 + (step * (k + 1)) % 23);
            decoder.Feed(bytes.data() + i, static_cast<int>(n));
            i += n;
        }
        decoder.Monitor().Tick();
    }

    // Every decoder on the raw bytes as one body, then as the continuation of a set.
    GgaSentence gga;
    gga.Parse("GPGGA", bytes);
    RmcSentence rmc;
    rmc.Parse("GPRMC", bytes);
    GllSentence gll;
    gll.Parse("GPGLL", bytes);
    GsaSentence gsa;
    gsa.Parse("GPGSA", bytes);
    GsvSentence gsv;
    gsv.Parse("GPGSV", bytes);
    gsv.Continue(bytes);
    (void)ParseCoordinate(bytes);
    (void)ParseDouble(bytes);
    (void)ParseInteger(bytes);
    platform::SystemTime t{};
    (void)ParseTimeOfDay(bytes, t);
    (void)ParseDate(bytes, t);
    return 0;
}
