// The operator's message line and the keyboard waits: what the operator
// sees on the one row, and which key comes back to the caller.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>

#include "link.h"
#include "operator.h"
#include "runsettings.h"
#include "startup_support.h"
#include "station.h"

using namespace harness;
using startup::quickRun;
using startup::screenRow;

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
    startup::LockHolder holder(dir.file("LOCK_tty1a"), 4);
    ASSERT_TRUE(holder.holding());
    RunOptions options;
    options.cwd = dir.path();
    options.args = {"-d", "/dev/tty1a"};
    Station station(options);
    const std::string line = std::string(17, ' ') +
                             "S46:  Scanner currently in use.  Press <ENTER>." +
                             std::string(15, ' ');
    ASSERT_EQ(line.size(), 79u);
    ASSERT_TRUE(station.waitFor("S46", 10));
    usleep(200000);
    // Shown, not yet answered: no carriage return until the key comes.
    EXPECT_EQ(station.errors(), line);
    EXPECT_TRUE(startup::running(station.pid()));
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
        TempDir dir;
        auto run = quickRun(dir, {"-x", "-d", "/dev/tty1a", "-o", output});
        EXPECT_EQ(run.status, 88);
        EXPECT_EQ(run.errors, row(c.indent, text) + "\r");
        // The trace keeps the whole text.
        EXPECT_EQ(run.trace.rfind("\nShowmsg:  " + text + "\n", 0), 0u) << run.trace;
    }
}

TEST(MessageLine, ShortMessageAfterALongOneLeavesNothingOfIt)
{
    TempDir dir;
    auto run = quickRun(dir, {"-l", "a"});
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
    RunOptions options;
    options.cwd = dir.path();
    options.args = {"-s", "-d", "/dev/tty1a"};
    Station station(options);
    const std::string testing = "Testing scanner on /dev/tty1a at 9600:7O2.  Please wait...";
    const std::string s21 = "S21:  Unable to open device /dev/tty1a.  Press <ENTER>.";
    ASSERT_TRUE(station.waitFor("S21", 10)) << station.errors();
    usleep(100000);
    EXPECT_EQ(station.errors(), row(12, testing) + "\r" + row(13, s21));
    station.type("\r");
    EXPECT_EQ(station.wait(10), 88);
    EXPECT_EQ(station.errors(), row(12, testing) + "\r" + row(13, s21) + "\r");
}

// Runs body in a child process whose standard input is a pipe and whose
// standard error is collected; the input is written after delay
// milliseconds, and its end is signalled when closeInput is set.
struct Child {
    int result = 0;
    std::string errors;
    double seconds = 0;
};

template <class Body>
Child inChild(Body body, const std::string &input, bool closeInput, int delay = 0)
{
    int in[2], err[2], result[2];
    if (pipe(in) != 0 || pipe(err) != 0 || pipe(result) != 0)
        return {};
    signal(SIGPIPE, SIG_IGN);
    // Input without delay is there before the child starts.
    if (delay == 0 && !input.empty() && write(in[1], input.data(), input.size()) < 0)
        ADD_FAILURE() << "write";
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(err[1], 2);
        close(in[1]);
        close(err[0]);
        close(result[0]);
        int value = body();
        fflush(stderr);
        if (write(result[1], &value, sizeof value) != sizeof value)
            _exit(1);
        _exit(0);
    }
    close(in[0]);
    close(err[1]);
    close(result[1]);
    if (delay > 0) {
        usleep(static_cast<useconds_t>(delay) * 1000);
        if (!input.empty() && write(in[1], input.data(), input.size()) < 0)
            ADD_FAILURE() << "write";
    }
    if (closeInput)
        close(in[1]);
    Child child;
    if (read(result[0], &child.result, sizeof child.result) != sizeof child.result)
        ADD_FAILURE() << "no result from the child";
    child.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    waitpid(pid, nullptr, 0);
    char buffer[512];
    ssize_t n;
    while ((n = read(err[0], buffer, sizeof buffer)) > 0)
        child.errors.append(buffer, static_cast<size_t>(n));
    if (!closeInput)
        close(in[1]);
    close(err[0]);
    close(result[0]);
    return child;
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

TEST(ShowMessage, WritesEachMessageToTheTrace)
{
    TempDir dir;
    std::string path = dir.file("trace");
    auto child = inChild(
        [path] {
            debugflag = 1;
            opentrace(path.c_str());
            showmsg("Downloading form definition file.  Please wait...", 0);
            showmsg("S46:  Scanner currently in use.  Press <ENTER>.", 1);
            fflush(nullptr);  // the child ends with _exit
            return 0;
        },
        "\r", false);
    EXPECT_EQ(readFile(path), "\nShowmsg:  Downloading form definition file.  Please wait..."
                              "\nShowmsg:  S46:  Scanner currently in use.  Press <ENTER>.");
}

TEST(KeyWait, KeyAlreadyTypedComesBackAtOnce)
{
    auto child = inChild([] { return GetKey(5); }, "k", false);
    EXPECT_EQ(child.result, 'k');
    EXPECT_LT(child.seconds, 2);
}

TEST(KeyWait, NoKeyInTimeIsZero)
{
    auto child = inChild([] { return GetKey(1); }, "", false);
    EXPECT_EQ(child.result, 0);
    EXPECT_GE(child.seconds, 0.9);
}

TEST(KeyWait, DelayIsAddedToTheWait)
{
    // Zero seconds asked, two of delay: a key typed after one second counts.
    auto child = inChild(
        [] {
            setdelay(2);
            return GetKey(0);
        },
        "\r", false, 1000);
    EXPECT_EQ(child.result, 13);
    EXPECT_GE(child.seconds, 0.9);
}

TEST(KeyWait, NegativeTotalFailsAtOnceAndZeroStillPolls)
{
    auto negative = inChild(
        [] {
            setdelay(-4);
            return GetKey(3);
        },
        "k", false);
    EXPECT_EQ(negative.result, -1);
    EXPECT_LT(negative.seconds, 1);

    auto zero = inChild(
        [] {
            setdelay(-3);
            return GetKey(3);
        },
        "k", false);
    EXPECT_EQ(zero.result, 'k');
}

// Ended input is a keyboard nobody touches: the whole wait, then no key.
TEST(KeyWait, EndOfInputWaitsItsTimeAndIsNoKey)
{
    auto child = inChild([] { return GetKey(1); }, "", true);
    EXPECT_EQ(child.result, 0);
    EXPECT_GE(child.seconds, 0.9);
    auto closed = inChild(
        [] {
            close(0);
            return GetKey(1);
        },
        "", false);
    EXPECT_EQ(closed.result, 0);
    EXPECT_GE(closed.seconds, 0.9);
}

TEST(KeyWait, TraceLine)
{
    TempDir dir;
    std::string path = dir.file("trace");
    inChild(
        [path] {
            debugflag = 1;
            opentrace(path.c_str());
            GetKey(1);
            GetKey(1);
            fflush(nullptr);  // the child ends with _exit
            return 0;
        },
        "ab", false);
    EXPECT_EQ(readFile(path), "\nFunction call to GetKey().\nFunction call to GetKey().");
}

}  // namespace
