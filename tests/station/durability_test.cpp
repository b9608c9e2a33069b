// A sheet stamped as accepted must never lose its record: markfeed killed
// at any moment leaves every stamped sheet's line whole in the data output
// file, and a file that cannot be written stops the run before the stamp.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "support/programs.h"
#include "support/scanner.h"

using namespace support;

namespace {

Strings tenRecords()
{
    const int documents[] = {1, 2, 4, 14, 6, 12, 3, 5, 13, 11};
    Strings records;
    for (int i = 0; i < 10; i++) {
        const Layout &row = layout(documents[i]);
        records.push_back(sheetRecord(documents[i], "0000000", row.datasetwidth == 3 ? "000" : "00",
                                      "00", unsigned(i + 1)));
    }
    return records;
}

TEST(StationDurability, KilledAnywhereEveryStampedSheetHasItsWholeLine)
{
    // Moments to kill at: just after a stamp, while a record is on its way,
    // and between the print position and the print text.
    const struct {
        const char *frame;
        int count;
    } moments[] = {{"PrintData", 1}, {"SheetRequest", 4}, {"PrintPosition", 3}, {"PrintData", 7}};
    Strings records = tenRecords();
    std::vector<scannersim::DeckEntry> deck;
    for (const std::string &record : records)
        deck.push_back(sheet(record));
    for (const auto &moment : moments) {
        SCOPED_TRACE(std::string("killed after ") + moment.frame + " " +
                     std::to_string(moment.count));
        Sim sim = startScanner(deckOf(deck));
        TempDir dir;
        Process station(markfeedIn(dir, {"-d", sim.device}));
        ASSERT_TRUE(sim->waitForFrames(moment.frame, size_t(moment.count), 15000))
            << station.errors();
        station.kill(SIGKILL);
        ASSERT_EQ(station.wait(5), 128 + SIGKILL) << "the batch had already ended";
        // Let the scanner take in what was still on the line.
        usleep(300 * 1000);
        std::string data = readFile(dir.file("SCAN.DAT"));
        std::vector<scannersim::Sheet> sheets = sim->sheets();

        ASSERT_EQ(data.size() % 1220, 0u) << "a partial line";
        size_t lines = data.size() / 1220;
        size_t stamped = 0;
        for (const scannersim::Sheet &fed : sheets) {
            if (fed.prints.empty())
                continue;
            ASSERT_LT(stamped, lines) << "sheet " << fed.number << " stamped without its line";
            EXPECT_TRUE(sameBytes(outputLine(fed.record, fed.prints[0].text),
                                  data.substr(stamped * 1220, 1220)));
            stamped++;
        }
        EXPECT_GE(stamped, size_t(moment.frame == std::string("PrintData") ? moment.count : 0));
        // At most the sheet being stamped when the kill came has its line
        // and no stamp yet.
        ASSERT_LE(lines, stamped + 1);
        if (lines == stamped + 1) {
            std::string last = data.substr(stamped * 1220);
            EXPECT_EQ(last.substr(0, records[stamped].size()), records[stamped]);
            EXPECT_EQ(last.substr(1218), "\r\n");
        }
    }
}

TEST(StationDurability, UnwritableOutputShowsS50AndLeavesTheSheetUnstamped)
{
    Sim sim = startScanner(deckOf({sheet(sheetRecord(1, "0000003", "000", "02", 1)),
                                   sheet(sheetRecord(4, "0000003", "00", "02", 2))}));
    TempDir dir;
    Process station(markfeedIn(dir, {"-d", sim.device, "-o", "/dev/full"}));
    const char s50[] = "S50:  Unable to write file /dev/full.  Press <ENTER>.";
    ASSERT_TRUE(waitsAt(station, s50)) << "S50 waits for a key";
    station.type("\r");
    EXPECT_TRUE(ended(finish(station, dir, 10), 88, {scanning(1), s50}));
    EXPECT_EQ(countFrames(sim->frames(), "PrintPosition"), 0);
    EXPECT_EQ(countFrames(sim->frames(), "PrintData"), 0);
    std::vector<scannersim::Sheet> sheets = sim->sheets();
    ASSERT_EQ(sheets.size(), 1u) << "no further sheet is fed";
    EXPECT_TRUE(sheets[0].prints.empty());
}

TEST(StationDurability, S50WithALongPathIsCutToTheMessageBuffer)
{
    Sim sim = startScanner(deckOf({sheet(sheetRecord(1, "0000003", "000", "02", 1))}));
    TempDir dir;
    // A 99-character path (the longest -o takes) that leads to /dev/full.
    std::string path = dir.path() + "/";
    path += std::string(99 - path.size(), 'o');
    ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
    Process station(markfeedIn(dir, {"-d", sim.device, "-o", path, "-x"}, RunOptions::File));
    EXPECT_EQ(station.wait(15), 88);
    std::string full = "S50:  Unable to write file " + path + ".  Press <ENTER>.";
    std::string kept = full.substr(0, 99);
    Strings shown = messages(station.errors());
    ASSERT_EQ(shown.size(), 2u);
    // The message line shows the first 78 characters after one space.
    EXPECT_EQ(shown[1], kept.substr(0, 78));
    std::string trace = readFile(dir.file("scantest.log"));
    EXPECT_TRUE(has(trace, "\nShowmsg:  " + kept + "\n"));
    EXPECT_EQ(countFrames(sim->frames(), "PrintData"), 0);
}

}  // namespace
