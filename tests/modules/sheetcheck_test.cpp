// Sheet record checks: what is accepted, what goes to the alternate hopper
// with which message, and the output record with its date stamp. The
// verdict is judged from plain inputs; editform is checked once for what
// it does with a verdict.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "markfeed/runsettings.h"
#include "markfeed/runsettings_testing.h"
#include "markfeed/sheetcheck.h"
#include "tests/support/inside.h"
#include "tests/support/process.h"
#include "tests/support/scanner.h"

using namespace support;

namespace {

// 18 January 2005 at 14:30 in UTC, and a leap day after 2038.
constexpr time_t JAN_18_2005_1430 = 1106058600;
constexpr time_t FEB_29_2040_2359 = 2214172740;

// A record of the given length with this document field, and the voucher,
// dataset and checksum fields where document 1 has them.
std::string sheet(int length, const std::string &document, const std::string &voucher = "0001234",
                  const std::string &dataset = "000", const std::string &checksum = "00")
{
    return sheetRecord(1, voucher, dataset, checksum, 1, length, document);
}

class SheetVerdict : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    Verdict judge(const std::string &record, int dataset = 0, int alignment = 0,
                  time_t when = JAN_18_2005_1430)
    {
        Verdict verdict;
        int result = sheetverdict(record.c_str(), dataset, alignment, when, &verdict);
        EXPECT_EQ(result, verdict.accepted);
        return verdict;
    }
};

TEST_F(SheetVerdict, AcceptedRecordBecomesTheOutputRecordWithItsStamp)
{
    std::string record = sheet(1038, "01", "0001234", "012", "00");
    Verdict verdict = judge(record, 12);
    ASSERT_EQ(verdict.accepted, 1);
    EXPECT_STREQ(verdict.message, "");
    EXPECT_STREQ(verdict.stamp, "01/18/05 14:30 1234, 12              ");
    std::string output = verdict.output;
    ASSERT_EQ(output.size(), 1218u);
    EXPECT_EQ(output.substr(0, 1038), record);
    EXPECT_EQ(output.substr(1038, 153), std::string(153, ' '));
    EXPECT_EQ(output.substr(1191), "01/18/05 14:30 1234, 12    ");

    // The clock the stamp is read from, past 2038.
    EXPECT_STREQ(judge(record, 12, 0, FEB_29_2040_2359).stamp,
                 "02/29/40 23:59 1234, 12              ");
}

TEST_F(SheetVerdict, EveryDocumentLengthGivesTheSameOutputLength)
{
    for (const Layout &row : layouts()) {
        std::string dataset(static_cast<size_t>(row.datasetwidth), '0');
        std::string record = sheetRecord(row.document, "0000000", dataset, "00", 3);
        Verdict verdict = judge(record);
        EXPECT_EQ(verdict.accepted, 1) << row.document;
        std::string output = verdict.output;
        EXPECT_EQ(output.size(), 1218u) << row.document;
        EXPECT_EQ(output.substr(0, static_cast<size_t>(row.length)), record);
    }
}

TEST_F(SheetVerdict, RejectionsInTheOrderOfTheChecks)
{
    const std::string s1 = "S1:  Invalid document number.  Rescan sheet.  Press <ENTER>.";
    const struct {
        std::string record;
        int dataset;
        int alignment;
        std::string message;  // empty: accepted
    } cases[] = {
        {sheet(1038, "07"), 0, 0, s1},
        {sheet(1038, "09"), 0, 0, s1},
        {sheet(1038, "00"), 0, 0, s1},
        {sheet(1038, "15"), 0, 0, s1},
        {sheet(1038, "AB"), 0, 0, s1},
        {"12345678901", 0, 0, s1},  // too short to hold a document number
        {sheet(1037, "01"), 0, 0,
         "S2:  Invalid record (1037/1038).  Rescan sheet.  Press <ENTER>."},
        {sheet(1039, "01"), 0, 0,
         "S2:  Invalid record (1039/1038).  Rescan sheet.  Press <ENTER>."},
        // Twelve characters: the document number is the one at offset 11.
        {"000000000004", 0, 0, "S2:  Invalid record (12/329).  Rescan sheet.  Press <ENTER>."},
        {sheet(1038, "01", "0001234", "013"), 12, 0,
         "S4:  Form dataset 13 does not match current dataset 12.  Press <ENTER>."},
        {sheet(1038, "01", "0001234", "   "), 12, 0,
         "S4:  Form dataset 0 does not match current dataset 12.  Press <ENTER>."},
        {sheetRecord(4, "0000000", "12", "00", 1), 12, 0, ""},  // two-character dataset
        {sheetRecord(14, "0000000", "012", "00", 1), 12, 0, ""},
        {sheet(1038, "01", "0000007", "099", "05"), 12, 1, ""},  // alignment form
        {sheet(1038, "01", "0000007", "000", "03"), 0, 0, ""},
        {sheet(1038, "01", "0000007", "000", "  "), 0, 0, ""},  // no checksum
        {sheet(1038, "01", "1234567", "000", "11"), 0, 0, ""},
        {sheet(1038, "01", "0000007", "000", "02"), 0, 0,
         "S3:  Voucher# 7 checksum 2 does not match 3.  Press <ENTER>."},
        // Dataset before checksum: both wrong reports the dataset.
        {sheet(1038, "01", "0000007", "013", "02"), 12, 0,
         "S4:  Form dataset 13 does not match current dataset 12.  Press <ENTER>."},
    };
    for (const auto &c : cases) {
        Verdict verdict = judge(c.record, c.dataset, c.alignment);
        EXPECT_EQ(verdict.accepted, c.message.empty() ? 1 : 0) << c.record.substr(0, 40);
        EXPECT_EQ(verdict.message, c.message) << c.record.substr(0, 40);
    }
}

TEST_F(SheetVerdict, StampIsBuiltBeforeTheLengthCheck)
{
    EXPECT_STREQ(judge(sheet(1037, "01", "0000042", "012")).stamp,
                 "01/18/05 14:30 42, 12              ");
    EXPECT_STREQ(judge(sheet(1038, "07")).stamp, "");
}

// editform acts on the verdict: the alternate hopper command before the
// message for a rejected sheet, nothing on the line for an accepted one.
TEST(EditForm, SendsTheRejectedSheetToTheAlternateHopperThenTellsWhy)
{
    clearoptions();  // no -m, no -t
    Wire wire;
    std::string accepted = sheet(1038, "01");
    static char outrec[OUTREC_SIZE];
    memcpy(outrec, accepted.c_str(), accepted.size() + 1);
    EXPECT_EQ(editform(outrec), 1);
    EXPECT_EQ(strlen(outrec), 1218u);
    EXPECT_EQ(std::string(printstr, 27), std::string(outrec + 1191, 27));
    EXPECT_EQ(wire.received(), "");

    std::string rejected = sheet(1038, "09");
    memcpy(outrec, rejected.c_str(), rejected.size() + 1);
    EXPECT_EQ(editform(outrec), 0);
    EXPECT_EQ(wire.received(), "\x1b");
    EXPECT_EQ(messages(wire.messages()),
              Strings{"S1:  Invalid document number.  Rescan sheet.  Press <ENTER>."});
}

TEST(BinaryCount, CountsOneBits)
{
    EXPECT_EQ(binarycnt(0), 0);
    EXPECT_EQ(binarycnt(7), 3);
    EXPECT_EQ(binarycnt(1234567), 11);
    EXPECT_EQ(binarycnt(static_cast<unsigned int>(-1)), 32);
    EXPECT_EQ(binarycnt(9999999), 14);
}

}  // namespace
