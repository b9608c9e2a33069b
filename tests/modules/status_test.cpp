// Records and status answers from the scanner on a real descriptor: end of
// record, stray bytes, run-length groups, the size limit and time-outs; the
// condition a status decodes to, the request bytes, and the end of the run
// when the scanner answers wrongly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "markfeed/link.h"
#include "markfeed/status.h"
#include "tests/support/inside.h"
#include "tests/support/programs.h"
#include "tests/support/scanner.h"

using namespace support;

namespace {

// A long status in wait mode with single characters set at positions.
std::string longstatus(std::initializer_list<std::pair<size_t, char>> set)
{
    return longStatus('w', 'N', set) + "\r\n";
}

std::string downloadstatus(char idle, char flags2 = '0', char flags3 = '0')
{
    return std::string("0") + idle + flags2 + flags3 + "\r\n";
}

// The code DecodeStatus gives for these answers, and the requests it sent.
using Decoded = std::pair<int, std::string>;
Decoded decode(const std::string &answers)
{
    Wire wire;
    wire.send(answers);
    int code = DecodeStatus();
    return {code, wire.received()};
}

TEST(DecodeStatus, LongStatusConditionsInTheirOrder)
{
    const struct {
        std::initializer_list<std::pair<size_t, char>> set;
        int code;
    } cases[] = {
        {{{7, '4'}, {32, '3'}}, 4},  // read check: the 0x01 detail of 32 first
        {{{7, '4'}, {33, '1'}}, 6},
        {{{7, '4'}, {32, '2'}}, 3},
        {{{7, '4'}}, 5},
        {{{6, '3'}}, 7},            // skew before multiple feed
        {{{6, '2'}, {7, '8'}}, 7},  // skew before jam
        {{{7, '8'}}, 8},
        {{{6, '1'}}, 9},
        {{{7, '1'}}, 1},
        {{{7, '2'}}, 1},
        {{{8, '8'}}, 17},  // a sheet at the print position: shown as a blank
    };
    for (const auto &c : cases) {
        // The download status is not asked for.
        EXPECT_EQ(decode(longstatus(c.set)), Decoded(c.code, "s0"));
    }
}

TEST(DecodeStatus, FormErrorsFromTheDownloadStatus)
{
    const struct {
        char flags2, flags3;
        int code;
    } cases[] = {{'8', '7', 10}, {'4', '0', 11}, {'2', '0', 12}, {'1', '0', 13},
                 {'0', '4', 14}, {'0', '2', 15}, {'0', '1', 16}, {'0', '0', 0}};
    for (const auto &c : cases) {
        EXPECT_EQ(decode(longstatus({}) + downloadstatus('?', c.flags2, c.flags3)),
                  Decoded(c.code, "s0s3"));
    }
    EXPECT_EQ(decode(longstatus({}) + downloadstatus('0', '8', '7')).first, 0);  // only after '?'
}

TEST(DecodeStatus, MessagesForTheCodes)
{
    EXPECT_STREQ(GetMsg(8), "Sheet jam.  Clear jam and press <START> or <ENTER>.");
    EXPECT_STREQ(GetMsg(17), " ");
    EXPECT_STREQ(GetMsg(2), "Input tray is empty.  Load forms and press <START> or <ENTER>.");
    EXPECT_STREQ(GetMsg(18), "S25:  Get message unknown: 18.  Press <ENTER>.");
}

TEST(StatusRequests, QuickStatusChecksTheLength)
{
    Wire wire;
    wire.send(std::string(49, '0') + "\r\n" + std::string(50, '0') + "\r\n" + "000\r\n" +
              "0000\r\n" + "00\r\n");
    EXPECT_EQ(quickstatus(LONG_STATUS, 5), 0);
    EXPECT_EQ(quickstatus(LONG_STATUS, 5), 1);
    EXPECT_EQ(quickstatus(SHORT_STATUS, 5), 1);
    EXPECT_EQ(quickstatus(DOWNLOAD_STATUS, 5), 1);
    EXPECT_EQ(quickstatus(DOWNLOAD_STATUS, 5), 0);
    EXPECT_EQ(wire.received(), "s0s0s1s3s3");
}

TEST(StatusRequests, TestParityStopsAtTheFirstFailure)
{
    Wire wire;
    wire.send(std::string(51, '0') + "\r\n");
    EXPECT_EQ(testparity(), 0);
    EXPECT_EQ(wire.received(), "s0");  // no short status request after a bad long one
}

TEST(StatusDeath, WrongLengthOrNoAnswerEndsTheRunWith99)
{
    // "threadsafe" starts this program anew, which only the emulator can do
    // for a cross build; there each case runs in a plain fork.
    GTEST_FLAG_SET(death_test_style, emulated() ? "fast" : "threadsafe");
    EXPECT_EXIT(
        {
            Wire wire;
            wire.send(std::string(51, '0') + "\r\n");
            getstatus(LONG_STATUS, 5);
        },
        ::testing::ExitedWithCode(99), "");
    EXPECT_EXIT(
        {
            Wire wire;
            setDelay(-4);  // one second instead of five
            getstatus(SHORT_STATUS, 5);
        },
        ::testing::ExitedWithCode(99), "");
}

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
    std::vector<int> saved = portSettings(), changed = saved;
    changed[1] = 0x8D;  // Eor1, position 2
    setPortSettings(changed);
    Read got = readfrom(wire, "AB\r\n");
    setPortSettings(saved);
    EXPECT_EQ(got.count, -1);
}

}  // namespace
