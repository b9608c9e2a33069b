// Records from the scanner: end of record, stray bytes, run-length groups,
// the size limit and time-outs, on a real descriptor.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frames.h"
#include "link.h"
#include "status.h"
#include "support/inside.h"

using namespace support;

namespace {

struct Read {
    int count;
    std::string record;
};

Read readfrom(Wire &wire, const std::string &bytes, int size = 53)
{
    static char buffer[1250];
    memset(buffer, '#', sizeof buffer);
    wire.send(bytes);
    int count = readrecord(buffer, size, 1);
    return {count, count >= 0 ? std::string(buffer, static_cast<size_t>(count)) : std::string()};
}

TEST(Records, EndOfRecordAndStrayBytes)
{
    Wire wire;
    struct Case {
        std::string bytes, record;
    } cases[] = {
        {"G\r\n", "G"},         {"\nG\r\n", "G"},  // a leading LF is skipped
        {"A\nB\r\n", "A\nB"},                      // only a leading one
        {"AB\rCD\r\n", "ABD"},                     // a stray CR takes the byte after it along
        {"\r\n", ""},                              // an empty record
        {"\xc1\xe2\r\n", "Ab"},                    // bit 7 is cleared
    };
    for (const Case &c : cases) {
        Read got = readfrom(wire, c.bytes);
        EXPECT_EQ(got.count, static_cast<int>(c.record.size())) << c.bytes;
        EXPECT_EQ(got.record, c.record) << c.bytes;
    }
}

TEST(Records, RunLengthGroupsExpand)
{
    Wire wire;
    EXPECT_EQ(readfrom(wire, "\x15\x45X\r\n").record, "XXXXX");  // low six bits of 0x45
    EXPECT_EQ(readfrom(wire, "A\x15\x40X\r\n").record, "A");     // a count of 0
    EXPECT_EQ(readfrom(wire, "\x15\x03Y\r\n").record, "YYY");
    // The repeated byte is data whatever it is.
    EXPECT_EQ(readfrom(wire, std::string("\x15\x02\r\r\n")).record, "\r\r");
    EXPECT_EQ(readfrom(wire, std::string("\x15\x02\x15Z\r\n")).record, "\x15\x15Z");
}

TEST(Records, LongRecordIsCutToTheBuffer)
{
    Wire wire;
    Read got = readfrom(wire, std::string(60, 'Q') + "\r\n", 53);
    EXPECT_EQ(got.count, 52);
    EXPECT_EQ(got.record, std::string(52, 'Q'));
    got = readfrom(wire, "\x15\x3fR\x15\x3fR\r\n", 53);  // 126 repeated, 52 kept
    EXPECT_EQ(got.record, std::string(52, 'R'));
}

TEST(Records, TimeOutGivesMinusOneAndEmptiesStatus)
{
    Wire wire;
    setStatusBack("previous");
    Read got = readfrom(wire, "ABC");  // no end of record: waits a second more
    EXPECT_EQ(got.count, -1);
    EXPECT_EQ(statusBack(), "");  // emptied whichever buffer was read
}

TEST(Records, CodesAboveSevenBitsNeverEndARecord)
{
    Wire wire;
    unsigned char saved = Eor1;
    Eor1 = 0x8D;
    Read got = readfrom(wire, "AB\r\n");
    Eor1 = saved;
    EXPECT_EQ(got.count, -1);
}

}  // namespace
