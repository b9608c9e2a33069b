// The operator's message line and the keyboard waits: what the operator
// sees on the one row, and which key comes back to the caller.
#include <gtest/gtest.h>

#include <unistd.h>

#include "operator.h"
#include "support/inside.h"
#include "support/programs.h"

using namespace support;

namespace {

// The 79-column row for text shown after indent spaces.
std::string row(int indent, const std::string &text)
{
    std::string line = std::string(static_cast<size_t>(indent), ' ') + text;
    line.resize(79, ' ');
    return line;
}

TEST(MessageLine, ScannerInUseIsCentredAndWaitsForAnyKey)
{
    TempDir dir;
    LockHolder holder(dir.file("LOCK_tty1a"), 4);
    ASSERT_TRUE(holder.holding());
    Process station(markfeedIn(dir, {"-d", "/dev/tty1a"}));
    const std::string line = std::string(17, ' ') +
                             "S46:  Scanner currently in use.  Press <ENTER>." +
                             std::string(15, ' ');
    ASSERT_EQ(line.size(), 79u);
    ASSERT_TRUE(waitsAt(station, "S46"));
    // Shown, not yet answered: no carriage return until the key comes.
    EXPECT_EQ(station.errors(), line);
    station.type("q");
    EXPECT_EQ(station.wait(10), 88);
    EXPECT_EQ(station.errors(), line + "\r");
}

TEST(MessageLine, LongTextsAreCutAtColumn79)
{
    // S43 carries the -o value, so its length sets the message's length.
    const std::string head = "S43:  Unable to open file ";
    const std::string tail = ".  Press <ENTER>.";
    struct Case {
        size_t length;
        int indent;
    };
    const Case cases[] = {{77, 2}, {78, 2}, {79, 1}, {80, 1}, {81, 0},
                          {82, 0}, {83, 0}, {84, 1}, {99, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.length);
        std::string output = "m/" + std::string(c.length - head.size() - tail.size() - 2, 'o');
        std::string text = head + output + tail;
        ASSERT_EQ(text.size(), c.length);
        auto run = runStation({"-x", "-d", "/dev/tty1a", "-o", output});
        EXPECT_EQ(run.status, 88);
        EXPECT_EQ(run.errors, row(c.indent, text) + "\r");
        // The trace keeps the whole text.
        EXPECT_EQ(run.trace.rfind("\nShowmsg:  " + text + "\n", 0), 0u) << run.trace;
    }
}

TEST(MessageLine, ShortMessageAfterALongOneLeavesNothingOfIt)
{
    auto run = runStation({"-l", "a"});
    EXPECT_EQ(run.status, 88);
    const std::string s44 = "S44:  Could not create scanner lock file.  Press <ENTER>.";
    const std::string check = "Check permissions on a/LOCK_.  Press <ENTER>.";
    EXPECT_EQ(run.errors, row(12, s44) + "\r" + row(18, check) + "\r");
    EXPECT_EQ(screenRow(run.errors), std::string(18, ' ') + check);
}

TEST(MessageLine, ProgressMessageDoesNotTakeAKey)
{
    // The communication test announces each trial without waiting; the
    // one key typed answers the open failure that follows.
    TempDir dir;
    Process station(markfeedIn(dir, {"-s", "-d", "/dev/tty1a"}));
    const std::string testing = "Testing scanner on /dev/tty1a at 9600:7O2.  Please wait...";
    const std::string s21 = "S21:  Unable to open device /dev/tty1a.  Press <ENTER>.";
    ASSERT_TRUE(station.waitFor("S21", 10)) << station.errors();
    usleep(100000);
    EXPECT_EQ(station.errors(), row(12, testing) + "\r" + row(13, s21));
    station.type("\r");
    EXPECT_EQ(station.wait(10), 88);
    EXPECT_EQ(station.errors(), row(12, testing) + "\r" + row(13, s21) + "\r");
}

// Runs body in a child whose standard input is a pipe holding keys (after
// delay milliseconds) and, when closeInput is set, then its end. The result
// comes back as the exit status: one byte, which the results fit signed.
struct Child {
    int result = 0;
    std::string errors;
    double seconds = 0;
};

Child inChild(const std::function<int()> &body, const std::string &keys, bool closeInput,
              int delay = 0)
{
    RunOptions options = withInput(RunOptions::Pipe);
    options.keys = delay == 0 ? keys : "";
    Timer timer;
    Process child(options, body);
    if (delay > 0) {
        usleep(static_cast<useconds_t>(delay) * 1000);
        child.type(keys);
    }
    if (closeInput)
        child.closeInput();
    int status = child.wait(20);
    return {static_cast<signed char>(status), child.errors(), timer.seconds()};
}

TEST(ShowMessage, ReturnsTheKeyWhenWaitingAndNothingReadOtherwise)
{
    auto waited = inChild([] { return showmsg("Press a key.", 1); }, "\x1b", false);
    EXPECT_EQ(waited.result, 27);
    EXPECT_EQ(waited.errors, row(35, "Press a key.") + "\r");

    auto shown = inChild(
        [] {
            int result = showmsg("Please wait...", 0);
            char next = 0;
            // The key is still there for whoever reads next.
            return result == 0 && read(0, &next, 1) == 1 ? next : -100;
        },
        "A", false);
    EXPECT_EQ(shown.result, 'A');
    EXPECT_EQ(shown.errors, row(34, "Please wait...") + "\r");

    auto ended = inChild([] { return showmsg("Press <ENTER>.", 1); }, "", true);
    EXPECT_EQ(ended.result, -1);
    EXPECT_LT(ended.seconds, 2);
}

// What body writes to the trace, with these keys typed.
std::string traced(const std::function<void()> &body, const std::string &keys)
{
    TempDir dir;
    std::string path = dir.file("trace");
    inChild(
        [&] {
            openTrace(path);
            body();
            closeTrace();
            return 0;
        },
        keys, false);
    return readFile(path);
}

// GetKey(seconds) with this delay, keys typed after keyDelay milliseconds.
Child getKey(int seconds, int delay, const std::string &keys, bool closeInput, int keyDelay = 0)
{
    return inChild(
        [=] {
            setDelay(delay);
            return GetKey(seconds);
        },
        keys, closeInput, keyDelay);
}

TEST(ShowMessage, WritesEachMessageToTheTrace)
{
    std::string trace = traced(
        [] {
            showmsg("Downloading form definition file.  Please wait...", 0);
            showmsg("S46:  Scanner currently in use.  Press <ENTER>.", 1);
        },
        "\r");
    EXPECT_EQ(trace, "\nShowmsg:  Downloading form definition file.  Please wait..."
                     "\nShowmsg:  S46:  Scanner currently in use.  Press <ENTER>.");
}

TEST(KeyWait, KeyAlreadyTypedComesBackAtOnce)
{
    auto child = getKey(5, 0, "k", false);
    EXPECT_EQ(child.result, 'k');
    EXPECT_LT(child.seconds, 2);
}

TEST(KeyWait, NoKeyInTimeIsZero)
{
    auto child = getKey(1, 0, "", false);
    EXPECT_EQ(child.result, 0);
    EXPECT_GE(child.seconds, 0.9);
}

TEST(KeyWait, DelayIsAddedToTheWait)
{
    // Zero seconds asked, two of delay: a key typed after one second counts.
    auto child = getKey(0, 2, "\r", false, 1000);
    EXPECT_EQ(child.result, 13);
    EXPECT_GE(child.seconds, 0.9);
}

TEST(KeyWait, NegativeTotalFailsAtOnceAndZeroStillPolls)
{
    auto negative = getKey(3, -4, "k", false);
    EXPECT_EQ(negative.result, -1);
    EXPECT_LT(negative.seconds, 1);
    EXPECT_EQ(getKey(3, -3, "k", false).result, 'k');
}

TEST(KeyWait, EndOfInputIsMinusOne)
{
    auto child = getKey(5, 0, "", true);
    EXPECT_EQ(child.result, -1);
    EXPECT_LT(child.seconds, 2);
}

TEST(KeyWait, TraceLine)
{
    EXPECT_EQ(traced(
                  [] {
                      GetKey(1);
                      GetKey(1);
                  },
                  "ab"),
              "\nFunction call to GetKey().\nFunction call to GetKey().");
}

}  // namespace
