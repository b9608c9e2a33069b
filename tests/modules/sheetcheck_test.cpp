// Sheet record checks: what is accepted, what goes to the alternate hopper
// with which message, and the output record with its date stamp.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "runsettings.h"
#include "sheetcheck.h"
#include "support/inside.h"
#include "support/programs.h"
#include "support/scanner.h"

using namespace support;

namespace {

// A record of the given length with this document field, and the voucher,
// dataset and checksum fields where document 1 has them.
std::string sheet(int length, const std::string &document, const std::string &voucher = "0001234",
                  const std::string &dataset = "000", const std::string &checksum = "00")
{
    return sheetRecord(1, voucher, dataset, checksum, 1, length, document);
}

struct Checked {
    int result;
    std::string output;
    std::string wire;
    Strings shown;
};

Checked check(const std::string &record)
{
    Wire wire;
    memset(outrec, 0, sizeof outrec);
    memcpy(outrec, record.data(), record.size());
    int result = editform(outrec);
    return {result, outrec, wire.received(), messages(wire.messages())};
}

std::string stampnow(const std::string &numbers)
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stamp[64];
    strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M ", &local);
    return std::string(stamp) + numbers;
}

class SheetCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        dmldatabase = 0;
        testheads = 0;
    }
};

TEST_F(SheetCheck, AcceptedRecordBecomesTheOutputRecord)
{
    dmldatabase = 12;
    std::string record = sheet(1038, "01", "0001234", "012", "00");
    // The clock may pass a minute during the check: either stamp is right.
    std::string before = stampnow("1234, 12") + std::string(14, ' ');
    Checked got = check(record);
    std::string after = stampnow("1234, 12") + std::string(14, ' ');
    ASSERT_EQ(got.result, 1);
    EXPECT_TRUE(got.wire.empty());
    ASSERT_EQ(got.output.size(), 1218u);
    EXPECT_EQ(got.output.substr(0, 1038), record);
    EXPECT_EQ(got.output.substr(1038, 153), std::string(153, ' '));
    std::string stamp = printstr;
    EXPECT_TRUE(stamp == before || stamp == after) << stamp;
    EXPECT_EQ(got.output.substr(1191), stamp.substr(0, 27));
}

TEST_F(SheetCheck, EveryDocumentLengthGivesTheSameOutputLength)
{
    const struct {
        const char *document;
        int length;
    } documents[] = {{"01", 1038}, {"02", 695},  {"03", 827},  {"04", 329},
                     {"05", 905},  {"06", 1169}, {"08", 1054}, {"10", 1038},
                     {"11", 1180}, {"12", 1179}, {"13", 897},  {"14", 226}};
    for (const auto &document : documents) {
        std::string record(static_cast<size_t>(document.length), '0');
        record.replace(11, 2, document.document);
        Checked got = check(record);
        EXPECT_EQ(got.result, 1) << document.document;
        EXPECT_EQ(got.output.size(), 1218u) << document.document;
        EXPECT_EQ(got.output.substr(0, static_cast<size_t>(document.length)), record);
    }
}

TEST_F(SheetCheck, UnknownDocumentNumbersAreRejected)
{
    for (const char *document : {"07", "09", "00", "15", "AB"}) {
        Checked got = check(sheet(1038, document));
        EXPECT_EQ(got.result, 0) << document;
        EXPECT_EQ(got.wire, "\x1b") << document;  // alternate hopper first
        ASSERT_EQ(got.shown.size(), 1u);
        EXPECT_EQ(got.shown[0], "S1:  Invalid document number.  Rescan sheet.  Press <ENTER>.");
    }
    EXPECT_EQ(check("12345678901").result, 0);  // too short to hold one
}

TEST_F(SheetCheck, WrongLengthIsRejectedWithBothLengths)
{
    for (int length : {1037, 1039}) {
        Checked got = check(sheet(length, "01"));
        EXPECT_EQ(got.result, 0);
        EXPECT_EQ(got.wire, "\x1b");
        ASSERT_EQ(got.shown.size(), 1u);
        EXPECT_EQ(got.shown[0], "S2:  Invalid record (" + std::to_string(length) +
                                    "/1038).  Rescan sheet.  Press <ENTER>.");
    }
    // Twelve characters: the document number is the one at offset 11.
    Checked got = check("00000000000"
                        "4");
    EXPECT_EQ(got.shown.at(0), "S2:  Invalid record (12/329).  Rescan sheet.  Press <ENTER>.");
}

TEST_F(SheetCheck, DatasetMustMatchUnlessAlignmentForm)
{
    dmldatabase = 12;
    Checked got = check(sheet(1038, "01", "0001234", "013", "00"));
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(got.wire, "\x1b");
    EXPECT_EQ(got.shown.at(0),
              "S4:  Form dataset 13 does not match current dataset 12.  Press <ENTER>.");
    // A two-character dataset field reads the same number.
    std::string document4(329, '0');
    document4.replace(11, 2, "04");
    document4.replace(48, 2, "12");
    EXPECT_EQ(check(document4).result, 1);

    testheads = 1;
    EXPECT_EQ(check(sheet(1038, "01", "0000007", "099", "05")).result, 1);
}

TEST_F(SheetCheck, VoucherChecksum)
{
    EXPECT_EQ(check(sheet(1038, "01", "0000007", "000", "03")).result, 1);
    EXPECT_EQ(check(sheet(1038, "01", "0000007", "000", "  ")).result, 1);  // no checksum
    EXPECT_EQ(check(sheet(1038, "01", "1234567", "000", "11")).result, 1);
    Checked got = check(sheet(1038, "01", "0000007", "000", "02"));
    EXPECT_EQ(got.result, 0);
    EXPECT_EQ(got.wire, "\x1b");
    EXPECT_EQ(got.shown.at(0), "S3:  Voucher# 7 checksum 2 does not match 3.  Press <ENTER>.");
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
