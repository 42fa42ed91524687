#include <gtest/gtest.h>

#include "input_test_support.h"

namespace kestrel::test {
namespace {

// Short but complete RMC sentences (both sources manual: a parsed fix only refreshes the GPS).
const std::string kFix1 = "$GPRMC,,A,4807.038,N,01131.000,E,5,84,,";
const std::string kFix2 = "$GPRMC,,A,4807.038,N,01131.000,E,6,90,,";

struct Framed {
    std::string inbuff;
    std::string gprmc;
    std::string agrello;
    int16_t dfTimeout;
    int16_t gpsTimeout;
    int plots;
    bool operator==(const Framed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Framed& f) {
    return os << "INBUFF=" << ::testing::PrintToString(f.inbuff)
              << " GPRMC=" << ::testing::PrintToString(f.gprmc)
              << " AGRELLO=" << ::testing::PrintToString(f.agrello) << " DF=" << f.dfTimeout
              << " GPS=" << f.gpsTimeout << " plots=" << f.plots;
}

Framed framed(InputRig& rig) {
    Form_Kestrelmap& f = rig.main();
    return {f.INBUFF,     f.GPRMC_STRING, f.AGRELLO_STRING,
            f.DF_TIMEOUT, f.GPS_TIMEOUT,  rig.beeper.beeps};
}

// One receive event that brings no characters, run on a buffer that already holds `inbuff`.
Framed oneCallOn(const std::string& inbuff) {
    InputRig rig;
    rig.main().INBUFF = inbuff;
    rig.deliver("");
    return framed(rig);
}

TEST(Framing, OneCallCutsAtMostOneLineOfEachKind) {
    struct Case {
        const char* name;
        std::string inbuff;
        Framed expected;
    };
    const std::string x150(150, 'x');
    const Case cases[] = {
        {"partial RMC waits", "$GPRMC,,A,4807", {"$GPRMC,,A,4807", "", "", 0, 0, 0}},
        {"bearing before RMC is lost", "%123\r\n" + kFix1 + "\r\n", {"\n", kFix1, "", 0, 10, 0}},
        {"RMC then bearing", kFix1 + "\r\n%123\r\n", {"\n", kFix1, "123", 10, 10, 0}},
        {"two RMC: first only",
         kFix1 + "\r\n" + kFix2 + "\r\n",
         {"\n" + kFix2 + "\r\n", kFix1, "", 0, 10, 0}},
        {"150 characters keep the last 100", "%123\r" + x150, {x150.substr(50), "", "", 0, 0, 0}},
        {"two-digit bearing keeps CR", "%12\r\n", {"\n", "", "12\r", 10, 0, 0}},
        {"four-digit bearing", "%1234\r", {"", "", "123", 10, 0, 0}},
        {"five-digit bearing", "%12345\r\n", {"\n", "", "123", 10, 0, 0}},
        {"bearing without CR waits", "%123", {"%123", "", "", 0, 0, 0}},
        {"plot with CR", "@PLOT\r\n", {"\n", "", "", 0, 0, 1}},
        {"plot inside a line", "xx@PLOTyy\rzz", {"zz", "", "", 0, 0, 1}},
        {"plot without CR waits", "@PLOT", {"@PLOT", "", "", 0, 0, 0}},
        {"plot before bearing is lost", "@PLOT\r%123\r", {"", "", "123", 10, 0, 0}},
        {"all three in order", kFix1 + "\r%045\r@PLOT\r", {"", kFix1, "045", 10, 10, 1}},
        {"other sentences stay", "$GPGGA,1,2\r\n", {"$GPGGA,1,2\r\n", "", "", 0, 0, 0}},
        {"lower-case rmc is not RMC", "$GNrmc,,A,1\r", {"$GNrmc,,A,1\r", "", "", 0, 0, 0}},
        {"empty buffer", "", {"", "", "", 0, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(oneCallOn(c.inbuff), c.expected) << c.name;
    }
}

TEST(Framing, AnyTwoLetterTalkerIsAnRmcSentence) {
    for (const char* talker : {"GP", "GN", "GL", "GA", "GB", "BD", "QZ"}) {
        InputRig rig;
        const std::string sentence = rmc("4807.038,N,01131.000,E,022.4,084.4", talker);
        Form_Kestrelmap& f = rig.deliver("\n" + sentence + "\r\n");
        EXPECT_EQ(f.GPRMC_STRING, sentence) << talker;
        EXPECT_EQ(f.GPS_TIMEOUT, 10) << talker;
        EXPECT_EQ(f.COURSE, 84) << talker;
    }
    for (const char* notRmc :
         {"$G1RMC,,A,", "$gpRMC,,A,", "$GPRMB,,A,", "$GPRM,,A,", "GPRMC,,A,"}) {
        InputRig rig;
        const std::string line = std::string(notRmc) + "4807.038,N,01131.000,E,022.4,084.4,,";
        EXPECT_EQ(rig.deliver(line + "\r").GPS_TIMEOUT, 0) << notRmc;
    }
}

// A corrupted sentence must leave no trace; a good or absent checksum changes nothing.
TEST(Framing, ChecksumDecidesWhetherAnRmcSentenceCounts) {
    const std::string plain = rmc("4807.038,N,01131.000,E,022.4,084.4");
    const std::string good = withChecksum(plain);
    ASSERT_EQ(good.substr(good.size() - 3), "*6A");  // the sentence every receiver manual shows
    struct Case {
        const char* name;
        std::string sentence;
        bool counts;
    };
    std::string lowerHex = good;
    lowerHex.back() = 'a';
    std::string digitHit = good;
    digitHit[19] = '9';  // one latitude digit changed by noise
    const Case cases[] = {
        {"no checksum", plain, true},
        {"good checksum", good, true},
        {"lower-case hex", lowerHex, true},
        {"corrupted digit", digitHit, false},
        {"wrong checksum", plain + "*6B", false},
        {"one hex digit", plain + "*6", false},
        {"not hex", plain + "*6G", false},
        {"text after checksum", good + " ", false},
    };
    for (const Case& c : cases) {
        InputRig rig("GPS");
        rig.main().GPRMC_STRING = "earlier";
        Form_Kestrelmap& f = rig.deliver(c.sentence + "\r\n");
        EXPECT_EQ(f.GPRMC_STRING, c.counts ? c.sentence : "earlier") << c.name;
        EXPECT_EQ(f.GPS_TIMEOUT, c.counts ? 10 : 0) << c.name;
        EXPECT_EQ(f.COURSE, c.counts ? 84 : 0) << c.name;
        EXPECT_EQ(f.INBUFF, "\n") << c.name;
    }
}

// Many lines in one read are framed as if they had arrived one by one.
TEST(Framing, BurstsAreFedLineByLine) {
    InputRig rig;
    Form_Kestrelmap& f = rig.deliver("%123\r\n" + kFix1 + "\r\n@PLOT\r\n%045\r\n");
    EXPECT_EQ(framed(rig), (Framed{"\n", kFix1, "045", 10, 10, 1}));
    EXPECT_EQ(f.SPEED, 5);

    // A bearing at the head of a burst far longer than the 100-character window.
    InputRig longBurst;
    std::string burst = "%201\r\n";
    for (int i = 0; i < 40; ++i) {
        burst += "$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74\r\n";
    }
    longBurst.deliver(burst + kFix2 + "\r\n");
    EXPECT_EQ(longBurst.main().AGRELLO_STRING, "201");
    EXPECT_EQ(longBurst.main().GPRMC_STRING, kFix2);
    EXPECT_EQ(longBurst.main().SPEED, 6);
}

TEST(Framing, LinesSplitAcrossReadsAreJoined) {
    InputRig rig;
    rig.deliver("%1");
    EXPECT_EQ(rig.main().DF_TIMEOUT, 0);
    rig.deliver("23\r\n$GPRMC,,A,4807.038,N,011");
    EXPECT_EQ(rig.main().AGRELLO_STRING, "123");
    EXPECT_EQ(rig.main().GPS_TIMEOUT, 0);
    rig.deliver("31.000,E,5,84,,\r\n");
    EXPECT_EQ(rig.main().GPRMC_STRING, kFix1);
    EXPECT_EQ(rig.main().INBUFF, "\n");
}

TEST(Framing, ALineLongerThanTheWindowLosesItsHead) {
    InputRig rig;
    rig.deliver("%123" + std::string(146, 'x') + "\r");
    EXPECT_EQ(rig.main().DF_TIMEOUT, 0);
    EXPECT_EQ(rig.main().INBUFF, std::string(99, 'x') + "\r");
}

// Whatever the line carries, the program keeps running and the window stays bounded.
TEST(Framing, RandomNoiseNeverGrowsTheWindow) {
    InputRig rig("GPS", "DF");
    uint32_t state = 12345;
    const std::string alphabet = "$GPRMC,A.0123456789NSEW%@PLOT*\r\n -+E";
    for (int event = 0; event < 2000; ++event) {
        std::string chunk;
        for (int i = 0; i < 37; ++i) {
            state = state * 1103515245u + 12345u;
            chunk += alphabet[(state >> 16) % alphabet.size()];
        }
        rig.deliver(chunk);
        ASSERT_LE(rig.main().INBUFF.size(), 100u);
    }
}

}  // namespace
}  // namespace kestrel::test
