// Command frames as the scanner receives them, and the trace lines of their
// senders, with the built-in control codes and with a port configuration
// file's codes.
#include <gtest/gtest.h>

#include "support/lines.h"
#include "support/scanner.h"

using namespace support;

namespace {

// The codes the run sends or reads, moved off their built-in values (Initiate
// keeps its own, now apart from PositiveResponse), so that a sender still
// using a constant shows on the wire.
const char changedCodes[] = "0x05 0x1E 0x1F 0x52 0x0F\n"  // Eoi Eor1 Eor2 Start Stop
                            "0x11 0x16\n"                 // Initiate PositiveResponse
                            "0x53 0x35 0x36 0x37\n"       // StatusControlCode and the three kinds
                            "0x45 0x1C 0x1D 0x10\n"       // ScannerControlCode Download Run Rel
                            "0x31 0x32 0x15 0x17\n"  // PrintPos PrintData Compress SelectScanner
                            "0x13 0x19 0x0D\n"       // SelectAux AuxPortData SelectFromAux
                            "0\n"                    // delay
                            "0x38 0x1B\n"            // DownloadStatusRequest SelectStacker
                            "19200 7 2 2 1\n";

}  // namespace

TEST(CommandFrames, ResetSequenceAndIdleRequestWithBuiltInCodes)
{
    Sim sim = startScanner({});
    Result run = runStation({"-d", sim.device, "-r", "-x"});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(received(*sim), resetBytes + "s3");
    EXPECT_EQ(frameList(sim->frames()),
              (Strings{"SelectScanner", "End", "Release", "Stop", "Display", "Status s3"}));
    const std::string expected =
        traceCalls({"FlushComm()", "DlReset()", "DlSelectScanner()", "DlEnd()", "DlRel()",
                    "DlStop()", "DlDisplay()", "WaitForIdle()", "getstatus(s3)", "readrecord()"}) +
        "\nReadrecord OK:  0000\n\nResetting Scanner Port To Default Settings";
    EXPECT_EQ(traceFrom(run.trace, "Function call to FlushComm().").substr(0, expected.size()),
              expected);
}

TEST(CommandFrames, ConfiguredCodesGoOnTheWireExceptInTheDisplayCommand)
{
    TempDir dir;
    Sim sim = startScanner(optionsWithCodes(changedCodes));
    writeFile(dir.file("d_" + portName(sim.device) + ".cfg"), changedCodes);

    Process station(markfeedIn(dir, {"-d", sim.device, "-x"}));
    ASSERT_TRUE(station.waitFor("Scanner hopper empty.", 15)) << station.errors();
    station.type("\x1b");
    Result run = finish(station, dir);
    EXPECT_EQ(run.status, 99);

    const std::string expected =
        std::string("\x17"          // SelectScanner
                    "\x05\x1e\x1f"  // end of frame: Eoi Eor1 Eor2
                    "\x10"          // RelCode
                    "\x0f"          // Stop
                    "\x07\x60\x05"  // display: the fixed codes, then Eoi
                    "S8"            // download status
                    "S5"
                    "S5"              // long status: wait mode, then on to download mode
                    "Ed\x05\x1e\x1f"  // mode change
                    "\x16"            // handshake 'A': PositiveResponse
                    "S5"
                    "\x11"  // Initiate
                    "S5"
                    "R"
                    "S5");  // not ready: Start; then the empty hopper
    EXPECT_EQ(received(*sim), expected);
    // Answers end in the configured Eor1 Eor2 and so are read whole.
    for (std::string lines :
         {traceCalls({"getstatus(S8)", "readrecord()"}) + "\nReadrecord OK:  0000\n",
          traceCalls({"waitchange()", "DlScanControl()", "DlEnd()", "DlAck()", "getstatus(S5)"}),
          traceCalls({"DlInit()", "readrecord()"}) + "\nReadrecord OK:  GSCANNING\n"})
        EXPECT_TRUE(has(run.trace, lines)) << lines;
}
