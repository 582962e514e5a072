#include "nmea/NmeaParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nmea/SyntheticCapture.h"
#include "support/TestSupport.h"

namespace kestrix {
namespace {

// Records each dispatched sentence as "ADDRESS|BODY".
class RecordingFramer : public NmeaFramer {
public:
    std::vector<std::string> seen;

protected:
    void OnSentence() override { seen.push_back(std::string(SentenceAddress()) + "|" + std::string(SentenceBody())); }
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

struct FramerCase {
    const char* what;
    std::string input;
    std::vector<std::string> expected;
    uint64_t framed, failures;
};

std::vector<FramerCase> FramerCases() {
    const std::string body82 = Repeat('A', 82);
    const std::string body83 = Repeat('A', 83);
    const std::string s82 = MakeSentence("GPXYZ," + body82);
    const std::string s83 = MakeSentence("GPXYZ," + body83);
    return {
        {"valid sentence", "$GPGLL,4916.4500,N,12311.1200,W,225444.00,A,A*72\r\n",
         {"GPGLL|4916.4500,N,12311.1200,W,225444.00,A,A"}, 1, 0},
        {"wrong checksum", "$GPGLL,4916.4500,N,12311.1200,W,225444.00,A,A*73\r\n", {}, 1, 1},
        {"digits swapped", "$GPGLL,4916.4500,N,12311.1200,W,225444.00,A,A*27\r\n", {}, 1, 1},
        {"lower-case hex digit", "$GPGLL,0,N*2e\r\n", {"GPGLL|0,N"}, 1, 0},
        {"non-hex high digit counts as 0", "$GPGLL,10,N,0*Z3\r\n", {"GPGLL|10,N,0"}, 1, 0},
        {"non-hex low digit counts as 0", "$GPGLL,68,N*1G\r\n", {"GPGLL|68,N"}, 1, 0},
        {"non-hex digit that does not match", "$GPGLL,0,N*2G\r\n", {}, 1, 1},
        {"no line end needed", "$GPGLL,0,N*2E$GPGLL,68,N*10", {"GPGLL|0,N", "GPGLL|68,N"}, 2, 0},
        {"body of 82 characters", s82, {"GPXYZ|" + body82}, 1, 0},
        {"body of 83 characters", s83, {}, 0, 0},
        {"address of 7 characters", "$PSRFTXT,Version 3.0*34\r\n", {"PSRFTXT|Version 3.0"}, 1, 0},
        {"address of 8 characters", MakeSentence("PSRFTXTX,Version 3.0"), {}, 0, 0},
        {"address ended by * is in the checksum", "$GPTXT*XY*64\r\n", {"GPTXT|XY"}, 1, 0},
        {"CR before the checksum", "$GPGLL,0,N\r*2E\r\n$GPGLL,68,N*10\r\n", {"GPGLL|68,N"}, 1, 0},
        {"$ in the address starts anew", "$GP$GPGLL,0,N*2E\r\n", {"GPGLL|0,N"}, 1, 0},
        {"$ in the body starts anew", "$GPGLL,12$GPGLL,0,N*2E\r\n", {"GPGLL|0,N"}, 1, 0},
        {"$ in the body starts a new checksum", MakeSentence("GPGLL,12$GPGLL,0,N"), {}, 1, 1},
        {"$ past the body limit starts anew", "$GPXYZ," + body83 + "$GPGLL,0,N*2E", {"GPGLL|0,N"}, 1, 0},
        {"$ for the first checksum digit starts anew", "$GPGLL,0,N*$GPGLL,68,N*10", {"GPGLL|68,N"}, 1, 0},
        {"$ for the second checksum digit starts anew", "$GPGLL,0,N*2$GPGLL,68,N*10", {"GPGLL|68,N"}, 1, 0},
        {"garbage between sentences", "xx\x01\xff$GPGLL,0,N*2E\r\nnoise*12$GPGLL,68,N*10",
         {"GPGLL|0,N", "GPGLL|68,N"}, 2, 0},
        {"NUL inside a body", std::string("$GPGLL,0,N\0*2E\r\n", 15), {std::string("GPGLL|0,N\0", 10)}, 1, 0},
        {"empty body", MakeSentence("GPGLL,"), {"GPGLL|"}, 1, 0},
        {"sentence cut short", "$GPGLL,0,N*2", {}, 0, 0},
    };
}

TEST(NmeaFramerTest, FramesInputAsTheTableSaysInAnyChunking) {
    for (const FramerCase& c : FramerCases()) {
        for (size_t n = 1; n <= 12; ++n) {
            const size_t chunk = n == 12 ? c.input.size() : n;
            RecordingFramer f;
            for (size_t i = 0; i < c.input.size(); i += chunk)
                f.Feed(c.input.data() + i, static_cast<int>(std::min(chunk, c.input.size() - i)));
            EXPECT_EQ(f.seen, c.expected) << c.what << " in chunks of " << chunk;
            EXPECT_EQ(f.SentencesFramed(), c.framed) << c.what << " in chunks of " << chunk;
            EXPECT_EQ(f.ChecksumFailures(), c.failures) << c.what << " in chunks of " << chunk;
        }
    }
}

// Sentences dispatched, sentences framed and checksum failures of each real capture, fed
// whole and in chunks. They are the counts from before a "$" started a new sentence, but for
// the cold-boot capture: its receiver cuts sentences off mid-line, and the three valid
// sentences that follow such a cut on the same line are framed now.
TEST(NmeaFramerTest, RealCapturesFrameEverySentenceTheyDidBefore) {
    struct Capture {
        const char* name;
        size_t sentences;
        uint64_t framed, failures;
    };
    const Capture captures[] = {
        {"ac12", 51, 51, 0},             {"beidou-gb", 68, 68, 0},        {"bu353-glonass", 112, 112, 0},
        {"firefly-II", 46, 69, 23},      {"furuno_gl_ga", 306, 306, 0},   {"garmin48", 92, 92, 0},
        {"hemi", 753, 753, 0},           {"humminbird-M37", 98, 98, 0},   {"magellan-ec10", 76, 76, 0},
        {"mtk-3301", 45, 45, 0},         {"neo-m8n", 293, 293, 0},        {"polarx2", 75, 75, 0},
        {"quectelLC79D", 622, 622, 0},   {"sirfstarv-nmea", 367, 367, 0}, {"sounder", 244, 244, 0},
        {"telit-he910", 1558, 1558, 0},  {"tomtom-mkII", 66, 66, 0},      {"ublox-neo-m9n-nmea", 1403, 1403, 0},
        {"ericsson-gru04-02-70sec", 976, 976, 0}, {"gp-320fw-2019-04-07-coldboot", 93 + 3, 123, 27},
    };
    const std::string dir = KESTRIX_TEST_DATA_DIR "/nmea/";
    for (const Capture& c : captures) {
        const std::string bytes = test::ReadFile(dir + c.name + ".log");
        for (size_t chunk : {size_t{1}, size_t{7}, bytes.size()}) {
            RecordingFramer f;
            for (size_t i = 0; i < bytes.size(); i += chunk) f.Feed(std::string_view(bytes).substr(i, chunk));
            EXPECT_EQ(f.seen.size(), c.sentences) << c.name << " in chunks of " << chunk;
            EXPECT_EQ(f.SentencesFramed(), c.framed) << c.name << " in chunks of " << chunk;
            EXPECT_EQ(f.ChecksumFailures(), c.failures) << c.name << " in chunks of " << chunk;
        }
    }
}

// Observers that write to one shared log.
class LogRaw : public RawSentenceObserver {
public:
    LogRaw(std::vector<std::string>& log, std::string tag) : log_(log), tag_(std::move(tag)) {}
    void OnRawSentence(std::string_view name, std::string_view body, std::string_view address) override {
        log_.push_back(tag_ + ":" + std::string(name) + "/" + std::string(address) + "|" + std::string(body));
    }

private:
    std::vector<std::string>& log_;
    std::string tag_;
};

class LogSentence : public SentenceObserver {
public:
    explicit LogSentence(std::vector<std::string>& log) : log_(log) {}
    void OnSentence(NmeaSentence* s) override {
        log_.push_back(s->GetName() + "/" + s->GetTalker());
        kept.emplace_back(s);
    }
    std::vector<Ref<NmeaSentence>> kept;

private:
    std::vector<std::string>& log_;
};

class TestParser : public NmeaParser {};

TEST(NmeaParserTest, TalkersAreDispatchedUnderGpNames) {
    const std::pair<const char*, const char*> rows[] = {
        {"GNRMC", "GPRMC"}, {"GLGGA", "GPGGA"}, {"BDGSA", "GPGSA"}, {"GPRMC", "GPRMC"}, {"PGRMC", "PGRMC"},
        {"GNZDA", "GNZDA"}, {"GNRMCX", "GNRMCX"}, {"gnrmc", "gnrmc"}, {"G1RMC", "G1RMC"}};
    for (const auto& [address, name] : rows) EXPECT_EQ(NmeaParser::DispatchName(address), name) << address;
}

// Raw observers get every sentence in their order of registration, by the id their
// registration gave; by-name subscribers get decoded sentences of any talker, never GGA.
TEST(NmeaParserTest, RawObserversInOrderAndByNameSubscribersOfAnyTalker) {
    std::vector<std::string> log;
    std::vector<std::string> raw;
    TestParser p;
    Ref<LogSentence> obs = MakeRef<LogSentence>(log);
    Ref<LogRaw> a = MakeRef<LogRaw>(raw, "a");
    Ref<LogRaw> b = MakeRef<LogRaw>(raw, "b");
    EXPECT_EQ(p.AddRawObserver(a.Get()), 1u);
    EXPECT_EQ(p.AddRawObserver(b.Get()), 2u);
    EXPECT_EQ(a->RefCount(), 2u);
    for (const char* name : {"GPRMC", "GPGGA", "GPGLL", "GPGSA"}) p.Subscribe(name, obs.Get());
    p.Feed(MakeSentence("GNRMC,083559.00,A,4717.11437,N,00833.91522,E,0.004,77.52,091202,,,A"));
    p.Feed(MakeSentence("GNGGA,083559.00,4717.11437,N,00833.91522,E,1,08,1.01,499.6,M,48.0,M,,"));
    p.RemoveRawObserver(1);
    EXPECT_EQ(a->RefCount(), 1u);
    p.Feed(MakeSentence("GPGLL,4916.45,N,12311.12,W,225444,A"));
    p.Feed(MakeSentence("GNGSA,A,3,80,71,73,79,69,,,,,,,,1.83,1.09,1.47,2"));
    EXPECT_EQ(log, (std::vector<std::string>{"GPRMC/GN", "GPGLL/GP", "GPGSA/GN"}));
    ASSERT_EQ(raw.size(), 6u);
    EXPECT_EQ(raw[0].substr(0, 20), "a:GPRMC/GNRMC|083559");
    EXPECT_EQ(raw[1].substr(0, 20), "b:GPRMC/GNRMC|083559");
    EXPECT_EQ(raw[3], "b:GPGGA/GNGGA|083559.00,4717.11437,N,00833.91522,E,1,08,1.01,499.6,M,48.0,M,,");
    EXPECT_EQ(raw[4], "b:GPGLL/GPGLL|4916.45,N,12311.12,W,225444,A");
    auto* gsa = dynamic_cast<GsaSentence*>(obs->kept.back().Get());
    ASSERT_NE(gsa, nullptr);
    EXPECT_EQ(gsa->usedPrns, (std::vector<int>{80, 71, 73, 79, 69}));
    EXPECT_EQ(gsa->systemId, 2);
}

// A set is notified once after its last message; interleaved sets of two talkers stay apart.
TEST(NmeaParserTest, GsvSetIsNotifiedOnceAfterItsLastMessage) {
    std::vector<std::string> log;
    TestParser p;
    Ref<LogSentence> obs = MakeRef<LogSentence>(log);
    p.Subscribe("GPGSV", obs.Get());
    p.Feed(MakeSentence("GPGSV,2,1,05,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45"));
    p.Feed(MakeSentence("GLGSV,2,1,05,65,40,083,46,66,17,308,41,67,07,344,39,68,22,228,45"));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(p.PendingCount(), 2u);
    p.Feed(MakeSentence("GPGSV,2,2,05,05,10,100,30"));
    p.Feed(MakeSentence("GLGSV,2,2,05,69,10,100,31"));
    EXPECT_EQ(log, (std::vector<std::string>{"GPGSV/GP", "GPGSV/GL"}));
    EXPECT_EQ(p.PendingCount(), 0u);
    ASSERT_EQ(obs->kept.size(), 2u);
    const auto last = [&](size_t i) { return dynamic_cast<GsvSentence&>(*obs->kept[i]).satellites.at(4); };
    EXPECT_EQ(dynamic_cast<GsvSentence&>(*obs->kept[0]).satellites.size(), 5u);
    EXPECT_EQ(last(0).prn, 5);
    EXPECT_EQ(last(1).prn, 69);
    EXPECT_EQ(last(1).snr, 31);
}

// Each Subscribe holds one reference; Unsubscribe drops them all, even from inside a call.
TEST(NmeaParserTest, SubscriptionsHoldReferencesUntilUnsubscribed) {
    TestParser p;
    int calls = 0;
    struct Once : SentenceObserver {
        TestParser& parser;
        int& calls;
        Once(TestParser& p, int& c) : parser(p), calls(c) {}
        void OnSentence(NmeaSentence*) override {
            ++calls;
            parser.Unsubscribe("GPGLL", this);
        }
    };
    Ref<Once> once = MakeRef<Once>(p, calls);
    p.Subscribe("GPGLL", once.Get());
    p.Subscribe("GPGLL", once.Get());
    EXPECT_EQ(once->RefCount(), 3u);
    p.Feed("$GPGLL,0,N*2E$GPGLL,0,N*2E");
    // Both entries were copied before the first call removed them.
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(once->RefCount(), 1u);
}

}  // namespace
}  // namespace kestrix
