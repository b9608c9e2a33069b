// Mode changes before scanning, their handshake and time-outs, and the wait
// for an idle scanner. The scanner refuses to start scanning, so each run
// ends right after the mode changes (S26, then 0).
#include <gtest/gtest.h>

#include <algorithm>

#include "support/lines.h"
#include "support/scanner.h"

using namespace support;

namespace {

const std::string refusedStart = "S26:  Scanner Initialization failed [E].  Press <ENTER>.";
const std::string busyPrompt = "Scanner is busy.  Reset message on scanner.  Press <ENTER>.";

scannersim::Options refusingStart()
{
    scannersim::Options options;
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

bool shown(const Result &run, const std::string &message)
{
    return std::count(run.messages.begin(), run.messages.end(), message) == 1;
}

}  // namespace

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
        EXPECT_TRUE(ended(run, 0, {refusedStart}));
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
        scannersim::Options options = optionsWithCodes(c.cfg);
        options.refuse[int(scannersim::Step::Start)] = true;
        options.handshake = c.handshake;
        Sim sim = startScanner(options);
        writeFile(dir.file("d_" + portName(sim.device) + ".cfg"), c.cfg);

        Result run = runStation(dir, {"-d", sim.device, "-x"});
        EXPECT_TRUE(ended(run, 0, {refusedStart}));
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
    struct Case {
        char start;
        std::string refused;
        Strings args;
        std::string message;
        int status;
    } cases[] = {
        {'d', "w", {}, "S11:  Scanner not ready.  Check scanner LCD panel.  Press <ENTER>.", 0},
        {'w', "d", {}, "S8:  Timed out switching to download mode.  Press <ENTER>.", 0},
        // Memory initialisation switches to translate mode.
        {'w',
         "t",
         {"-r", "-f", "f"},
         "S9:  Timed out switching to translate mode.  Press <ENTER>.",
         88},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        scannersim::Options options;
        options.mode = c.start;
        options.refuseModes = c.refused;
        Sim sim = startScanner(options);

        Result run = runStation(concat({"-d", sim.device}, c.args));
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(shown(run, c.message)) << run.errors;
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
        scannersim::Options options;
        options.busy = c.busy;
        Sim sim = startScanner(options);

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
    scannersim::Options options;
    options.busy = 1000;
    Sim sim = startScanner(options);

    Process run(markfeedIn(dir, {"-d", sim.device}));
    ASSERT_TRUE(run.waitFor(busyPrompt, 10)) << run.errors();
    run.idle(0.3);
    EXPECT_EQ(countFrames(sim->frames(), "Status s3"), 3);
    run.type("\x1b");
    Result result = finish(run, dir);
    EXPECT_TRUE(ended(result, 88, {busyPrompt}));
    EXPECT_EQ(countFrames(sim->frames(), "Status s3"), 3);
}
