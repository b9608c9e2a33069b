// Mode changes before scanning, their handshake and time-outs, and the wait
// for an idle scanner; command frames as the scanner receives them and their
// senders' trace lines, with built-in and configured codes. In the mode
// change runs the scanner refuses to start scanning, so each ends right
// after the mode changes (S26, then 88).
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/lines.h"
#include "tests/support/scanner.h"

using namespace support;

namespace {

const std::string refusedStart = "S26:  Scanner Initialization failed [E].  Press <ENTER>.";
const std::string busyPrompt = "Scanner is busy.  Reset message on scanner.  Press <ENTER>.";

scannersim::Options refusingStart(scannersim::Options options = {})
{
    options.refuse[int(scannersim::Step::Start)] = true;
    return options;
}

// The frames received after the last one that is so.
Strings afterLast(const scannersim::Scanner &scanner, const std::string &frame)
{
    auto frames = frameList(scanner.frames());
    auto last = std::find(frames.rbegin(), frames.rend(), frame);
    return last == frames.rend() ? Strings{} : Strings(last.base(), frames.end());
}

TEST(ModeChanges, OneChangeFrameIntoWaitModeAndOneOutOfIt)
{
    const Strings toDownload = {"ModeChange d", "Handshake", "Status s0", "Initiate"};
    const Strings toWait = {"Status s0", "ModeChange w", "Handshake", "Status s0", "Status s0"};
    const struct {
        char mode;
        Strings frames;
    } cases[] = {
        {'w', concat({"Status s0", "Status s0"}, toDownload)},
        {'d', concat(toWait, toDownload)},
        {'t', concat(toWait, toDownload)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("scanner in mode ") + c.mode);
        scannersim::Options options = refusingStart();
        options.mode = c.mode;
        Sim sim = startScanner(options);
        Result run = runStation({"-d", sim.device});
        EXPECT_TRUE(ended(run, 88, {refusedStart}));
        EXPECT_EQ(afterLast(*sim.scanner, "Status s3"), c.frames);
        EXPECT_EQ(sim->mode(), 'd');
    }
}

TEST(ModeChanges, HandshakeByteFollowsTheChangeFrameAsTheStatusAsks)
{
    const std::string samePositiveResponse = "";
    const std::string ownPositiveResponse = "4 13 10 0x72 0x0E 0x11 0x16";  // the first seven codes
    struct Case {
        char handshake;
        std::string cfg;
        std::string byte;   // after the change frame
        std::string trace;  // its sender's line
    } cases[] = {
        {'A', samePositiveResponse, "\x11", "\nFunction call to DlAck()."},
        {'I', samePositiveResponse, "\x11", "\nFunction call to DlInit()."},
        {'0', samePositiveResponse, "", ""},
        {'A', ownPositiveResponse, "\x16", "\nFunction call to DlAck()."},
        {'I', ownPositiveResponse, "\x11", "\nFunction call to DlInit()."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("handshake ") + c.handshake + " codes '" + c.cfg + "'");
        TempDir dir;
        scannersim::Options options = refusingStart(optionsWithCodes(c.cfg));
        options.handshake = c.handshake;
        Sim sim = startScanner(options);
        writeFile(dir.file("d_" + portName(sim.device) + ".cfg"), c.cfg);

        Result run = runStation(dir, {"-d", sim.device, "-x"});
        EXPECT_TRUE(ended(run, 88, {refusedStart}));
        EXPECT_EQ(received(*sim), resetBytes + "s3s0s0ed\x04\r\n" + c.byte + "s0\x11");
        EXPECT_TRUE(
            has(run.trace,
                traceCalls({"switchmode().  Switching to d", "getstatus(s0)", "readrecord()"}) +
                    "\nReadrecord OK:  " + longStatus('w', c.handshake, {{9, '3'}}) +
                    traceCalls({"waitchange()", "DlScanControl()", "DlEnd()"}) + c.trace +
                    traceCalls({"getstatus(s0)"})));
    }
}

TEST(ModeChanges, ModeNotTakenGivesItsTimeOutAfterElevenPolls)
{
    const std::string s9 = "S9:  Timed out switching to translate mode.  Press <ENTER>.";
    struct Case {
        char start;
        std::string refused;
        Strings args;
        std::string message;
    } cases[] = {
        {'d', "w", {}, "S11:  Scanner not ready.  Check scanner LCD panel.  Press <ENTER>."},
        {'w', "d", {}, "S8:  Timed out switching to download mode.  Press <ENTER>."},
        {'w', "t", {"-r", "-f", "f"}, s9},  // memory initialisation switches to translate mode
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        scannersim::Options options;
        options.mode = c.start;
        options.refuseModes = c.refused;
        Sim sim = startScanner(options);

        Result run = runStation(concat({"-d", sim.device}, c.args));
        EXPECT_EQ(run.status, 88);
        EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), c.message), 1) << run.errors;
        // The handshake, then eleven long status requests and nothing more.
        EXPECT_EQ(afterLast(*sim.scanner, "ModeChange " + c.refused),
                  concat({"Handshake"}, Strings(11, "Status s0")));
        EXPECT_EQ(countFrames(sim->frames(), "ModeChange " + c.refused), 1);
        EXPECT_EQ(sim->mode(), c.start);
    }
}

TEST(IdleWait, BusyScannerIsPolledAndPromptedForOnceAtTheThirdBusyAnswer)
{
    struct Case {
        int busy;
        int prompts;
    } cases[] = {{2, 0}, {3, 1}, {7, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE("busy answers: " + std::to_string(c.busy));
        Sim sim = startScanner(optionsWith([&](scannersim::Options &o) { o.busy = c.busy; }));

        Result run = runStation({"-d", sim.device, "-r"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(std::count(run.messages.begin(), run.messages.end(), busyPrompt), c.prompts)
            << run.errors;
        EXPECT_EQ(countFrames(sim->frames(), "Status s3"), c.busy + 1);
    }
}

TEST(IdleWait, EscapeAtTheBusyPromptEndsTheRunWith88)
{
    TempDir dir;
    Sim sim = startScanner(optionsWith([](scannersim::Options &o) { o.busy = 1000; }));

    Process run(markfeedIn(dir, {"-d", sim.device}));
    ASSERT_TRUE(run.waitFor(busyPrompt, 10)) << run.errors();
    run.idle(0.3);
    EXPECT_EQ(countFrames(sim->frames(), "Status s3"), 3);
    run.type("\x1b");
    Result result = finish(run, dir);
    EXPECT_TRUE(ended(result, 88, {busyPrompt}));
    EXPECT_EQ(countFrames(sim->frames(), "Status s3"), 3);
}

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
    // From the first FlushComm on.
    EXPECT_EQ(run.trace.substr(run.trace.find("\nFunction call to FlushComm()."), expected.size()),
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

}  // namespace
