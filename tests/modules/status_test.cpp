// Records and status answers from the scanner: the decoders on plain inputs
// (end of record, stray bytes, run-length groups, size limit and deadline;
// the condition each answer gives), and on a real descriptor what their
// callers add: the requests, statusback, time-outs, the end of the run.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "markfeed/status.h"
#include "tests/support/inside.h"
#include "tests/support/programs.h"
#include "tests/support/scanner.h"

using namespace support;

namespace {

// A long status in wait mode with single characters set at positions.
std::string longstatus(std::initializer_list<std::pair<size_t, char>> set)
{
    return longStatus('w', 'N', set);
}

std::string downloadstatus(char idle, char flags2 = '0', char flags3 = '0')
{
    return std::string("0") + idle + flags2 + flags3;
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
        {{{7, '8'}, {8, '8'}}, 8},  // a jam before a sheet at the print position
        {{{6, '1'}}, 9},
        {{{7, '1'}}, 1},
        {{{7, '2'}}, 1},
        {{{8, '8'}}, 17},  // a sheet at the print position: shown as a blank
        {{}, NEEDS_DOWNLOAD_STATUS},
    };
    for (const auto &c : cases)
        EXPECT_EQ(longcondition(longstatus(c.set).c_str()), c.code);
    EXPECT_EQ(longcondition("0000000"), NEEDS_DOWNLOAD_STATUS);  // past its end: clear
}

TEST(DecodeStatus, FormErrorsFromTheDownloadStatus)
{
    const struct {
        char flags2, flags3;
        int code;
    } cases[] = {{'8', '7', 10}, {'4', '0', 11}, {'2', '0', 12}, {'1', '0', 13},
                 {'0', '4', 14}, {'0', '2', 15}, {'0', '1', 16}, {'0', '0', 0}};
    for (const auto &c : cases)
        EXPECT_EQ(formcondition(downloadstatus('?', c.flags2, c.flags3).c_str()), c.code);
    EXPECT_EQ(formcondition(downloadstatus('0', '8', '7').c_str()), 0);  // only after '?'
    EXPECT_EQ(formcondition("0?"), 0);
}

// The download status is asked for only when the long status shows nothing.
TEST(DecodeStatus, AsksForTheDownloadStatusOnlyWhenNeeded)
{
    Wire wire;
    wire.send(longstatus({{7, '8'}}) + "\r\n" + longstatus({}) + "\r\n" + "0?40\r\n");
    EXPECT_EQ(DecodeStatus(), 8);
    EXPECT_EQ(DecodeStatus(), 11);
    EXPECT_EQ(wire.received(), "s0s0s3");
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

// The built-in codes: CR LF end a record, 0x15 leads a run-length group.
const RecordLine builtIn = {'\r', '\n', 0x15, 5, 1042};

// The record the bytes decode to in a buffer of size characters, or "-"
// when it never ends; the count returned must be its length.
std::string decode(const std::string &bytes, int size = 53, const RecordLine &line = builtIn)
{
    static char buffer[1250];
    memset(buffer, '#', sizeof buffer);
    RecordReader reader;
    recordstart(&reader, line, buffer, size, 0);
    for (char byte : bytes) {
        int count = recordbyte(&reader, static_cast<unsigned char>(byte));
        if (count >= 0) {
            EXPECT_EQ(count, static_cast<int>(strlen(buffer)));
            return buffer;
        }
    }
    return "-";
}

TEST(Records, EndOfRecordAndStrayBytes)
{
    const std::pair<std::string, std::string> cases[] = {
        {"G\r\n", "G"},        {"\nG\r\n", "G"},  // a leading LF is skipped
        {"A\nB\r\n", "A\nB"},                     // only a leading one
        {"AB\rCD\r\n", "ABD"},                    // a stray CR takes the byte after it along
        {"\r\n", ""},                             // an empty record
        {"ABC", "-"},                             // no end of record
    };
    for (const auto &c : cases)
        EXPECT_EQ(decode(c.first), c.second) << c.first;
    // A code above seven bits never meets a character from the link.
    EXPECT_EQ(decode("AB\r\n", 53, {0x8D, '\n', 0x15, 5, 1042}), "-");
}

TEST(Records, RunLengthGroupsExpand)
{
    EXPECT_EQ(decode("\x15\x45X\r\n"), "XXXXX");  // low six bits of 0x45
    EXPECT_EQ(decode("A\x15\x40X\r\n"), "A");     // a count of 0
    EXPECT_EQ(decode("\x15\x03Y\r\n"), "YYY");
    // The repeated byte is data whatever it is.
    EXPECT_EQ(decode("\x15\x02\r\r\n"), "\r\r");
    EXPECT_EQ(decode("\x15\x02\x15Z\r\n"), "\x15\x15Z");
}

TEST(Records, LongRecordIsCutToTheBufferAndTakesItsTime)
{
    EXPECT_EQ(decode(std::string(60, 'Q') + "\r\n", 53), std::string(52, 'Q'));
    EXPECT_EQ(decode("\x15\x3fR\x15\x3fR\r\n", 53), std::string(52, 'R'));  // 126 repeated
    char buffer[1250];
    RecordReader reader;
    EXPECT_EQ(recordstart(&reader, builtIn, buffer, 0, 0), 0);  // no room for the NUL
    // The wait for one character, and twice a full buffer's time on the line
    // (110.452 ms rounded up); a negative wait counts as none.
    recordstart(&reader, builtIn, buffer, 53, 1000);
    EXPECT_EQ(reader.deadline, 1000 + 5000 + 111);
    recordstart(&reader, {'\r', '\n', 0x15, -4, 1042}, buffer, 1250, 0);
    EXPECT_EQ(reader.deadline, 2605);
}

// readrecord on the line: characters with bit 7 cleared, statusback emptied
// whichever buffer is read, and -1 once a character does not come in time.
TEST(Records, ReadFromTheLine)
{
    Wire wire;
    char buffer[53];
    setStatusBack("previous");
    wire.send("\xc1\xe2\r\nABC");
    EXPECT_EQ(readrecord(buffer, sizeof buffer, 1), 2);
    EXPECT_STREQ(buffer, "Ab");
    EXPECT_EQ(statusBack(), "");
    setStatusBack("previous");
    EXPECT_EQ(readrecord(buffer, sizeof buffer, 1), -1);  // waits a second more
    EXPECT_EQ(statusBack(), "");
}

}  // namespace
