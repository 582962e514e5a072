// The drives the generator makes are checked by every test that decodes one.
#include "nmea/SyntheticCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrix {
namespace {

TEST(SyntheticCaptureTest, SentenceGoldenBytes) {
    EXPECT_EQ(MakeSentence("GPGLL,4916.4500,N,12311.1200,W,225444.00,A,A"),
              "$GPGLL,4916.4500,N,12311.1200,W,225444.00,A,A*72\r\n");
    EXPECT_EQ(MakeSentence("GPGLL,10,N,0"), "$GPGLL,10,N,0*03\r\n");
    EXPECT_EQ(NmeaChecksum(""), 0);
}

}  // namespace
}  // namespace kestrix
