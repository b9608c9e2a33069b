// The communication test (-s) against scannersim set to one line setting:
// the trials in their order, the line written to the data output file and
// the operator's messages. The line recorder tells the scanner the size and
// parity markfeed asked for, which a pty cannot carry.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/lines.h"
#include "tests/support/scanner.h"

using namespace support;

namespace {

std::string testing(const std::string &device, const std::string &trial)
{
    return "Testing scanner on " + device + " at " + trial + ".  Please wait...";
}

// The first `count` of the 36 trials, as the operator sees them.
Strings testingUpTo(const std::string &device, size_t count)
{
    Strings shown;
    for (const char *speed : {"9600", "19200", "38400"})
        for (const char *framing :
             {"7O2", "7O1", "8O2", "8O1", "7N1", "7N2", "8N1", "8N2", "7E1", "7E2", "8E1", "8E2"})
            if (shown.size() < count)
                shown.push_back(testing(device, std::string(speed) + ":" + framing));
    return shown;
}

RunOptions commtest(const TempDir &dir, const std::string &device)
{
    RunOptions run = markfeedIn(dir, {"-d", device, "-s"});
    run.env = recordLine(dir.file("line"), device);
    return run;
}

// A pty refuses some framings (7 bits without parity): markfeed shows S24,
// waits for a key and goes on with the trial, as on a port that cannot take
// them. Presses <ENTER> for each S24 until `text` is shown.
::testing::AssertionResult answerUntil(Process &station, const std::string &device,
                                       const std::string &text, double seconds)
{
    const std::string s24 = "S24:  Could not set term settings on " + device + " [";
    int answered = 0;
    station.until(
        [&] {
            std::string errors = station.errors();
            for (; answered < occurrences(errors, s24); answered++)
                station.type("\r");
            return errors.find(text) != std::string::npos;
        },
        seconds);
    return waitsAt(station, text, 0);
}

// The operator's messages without the S24 lines of the pty.
Strings withoutRefusals(const Strings &shown)
{
    Strings kept;
    for (const std::string &line : shown)
        if (line.compare(0, 5, "S24: ") != 0)
            kept.push_back(line);
    return kept;
}

// The device's settings as another program reads them back: speeds, the
// four flag words and the control characters.
std::string settingsOf(const std::string &device)
{
    struct termios t;
    if (!deviceSettings(device, &t))
        return "unreadable";
    char text[128];
    snprintf(text, sizeof text, "speed %u/%u iflag %o oflag %o cflag %o lflag %o cc",
             unsigned(cfgetispeed(&t)), unsigned(cfgetospeed(&t)), unsigned(t.c_iflag),
             unsigned(t.c_oflag), unsigned(t.c_cflag), unsigned(t.c_lflag));
    std::string settings = text;
    for (cc_t c : t.c_cc)
        settings += " " + std::to_string(c);
    return settings;
}

// The communication test against a scanner at one line setting, to its
// last message after `trials` trials, which waits for <ENTER>. Whatever it
// found, the line is given back as it was before the first trial.
TEST(StationCommTest, FindsTheScannersSettingOrFailsAfterAllTrials)
{
    // One trial: the reset, then the long, short and download status.
    const Strings oneTrial = {"SelectScanner", "End",       "Release",   "Stop",
                              "Display",       "Status s0", "Status s1", "Status s3"};
    const struct {
        const char *line;
        const char *last;  // "" = the setting found
        size_t trials;
        int status;
        bool refusals;  // the pty's S24 lines may come between the trials
        const char *data;
        int resets;      // one per trial
        Strings frames;  // all the scanner received, when given
    } cases[] = {
        {"9600:7O2", "", 1, 0, false, "9600:7O2\r\n", 1, oneTrial},
        {"19200:8N1", "", 19, 0, true, "19200:8N1\r\n", 19, {}},
        {"4800:7O2", "Communications test failed.  Press <ENTER>.", 36, 88, true, "", 36, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        TempDir dir;
        scannersim::Options options;
        EXPECT_TRUE(scannersim::parseLineSpec(c.line, &options.line));
        options.lineFile = dir.file("line");
        Sim sim = startScanner(options);
        int line = openDevice(sim.device, 4800, 1);
        ASSERT_GE(line, 0);
        close(line);
        const std::string before = settingsOf(sim.device);
        Process station(commtest(dir, sim.device));
        std::string text = *c.last != '\0' ? c.last
                                           : "Scanner on " + sim.device + " communicating at " +
                                                 c.line + ".  Press <ENTER>.";
        EXPECT_TRUE(answerUntil(station, sim.device, text, 40)) << "the result waits for <ENTER>";
        if (c.status != 0) {
            // The last trial has closed the line, but the device stays
            // locked until the run ends, under any name.
            OtherName other(sim.device);
            EXPECT_TRUE(ended(runStation({"-d", other.path()}), 88,
                              {"S46:  Scanner currently in use.  Press <ENTER>."}));
        }
        station.type("\r");
        EXPECT_EQ(station.wait(10), c.status);
        EXPECT_EQ(settingsOf(sim.device), before);
        Strings shown = messages(station.errors());
        EXPECT_EQ(c.refusals ? withoutRefusals(shown) : shown,
                  concat(testingUpTo(sim.device, c.trials), {text}));
        EXPECT_TRUE(fileExists(dir.file("SCAN.DAT")));
        EXPECT_EQ(readFile(dir.file("SCAN.DAT")), c.data);
        if (!c.frames.empty()) {
            EXPECT_EQ(frameList(sim->frames()), c.frames);
        }
        EXPECT_EQ(countFrames(sim->frames(), "SelectScanner"), c.resets);
    }
}

TEST(StationCommTest, DeviceThatCannotBeOpenedEndsAtTheFirstTrial)
{
    TempDir dir;
    std::string device = devicePath();
    Timer timer;
    Process station(commtest(dir, device));
    std::string s21 = "S21:  Unable to open device " + device + ".  Press <ENTER>.";
    ASSERT_TRUE(shows(station, s21, 1, 10));
    station.type("\r");
    EXPECT_EQ(station.wait(10), 88);
    EXPECT_LT(timer.seconds(), 5);
    EXPECT_EQ(messages(station.errors()), (Strings{testing(device, "9600:7O2"), s21}));
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "");
}

}  // namespace
