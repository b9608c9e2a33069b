// The operator's message line, keyboard and terminal: what the operator sees
// on the one row, which key comes back to the caller, keys one at a time
// with or without a usable terminal type or with input from a file, no
// screen sequences in files, the terminal's modes given back, and an exit
// status the host knows.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "markfeed/operator.h"
#include "markfeed/termination.h"
#include "tests/support/inside.h"
#include "tests/support/lines.h"
#include "tests/support/programs.h"

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
    // Centred in 79 columns: 17 blanks, the text's 47, 15 blanks.
    const std::string line = std::string(17, ' ') +
                             "S46:  Scanner currently in use.  Press <ENTER>." +
                             std::string(15, ' ');
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

// GetKey(seconds) with a delay, the keys typed after keyDelay milliseconds.
TEST(KeyWait, KeyOrNoKeyAndTheTimeItTakes)
{
    const struct {
        const char *name;
        int seconds, delay;
        const char *keys;
        bool closeInput;
        int keyDelay, key;
        double atLeast, under;  // seconds; 0 is no bound
    } cases[] = {
        {"key already typed comes back at once", 5, 0, "k", false, 0, 'k', 0, 2},
        {"no key in time is zero", 1, 0, "", false, 0, 0, 0.9, 0},
        // Zero seconds asked, two of delay: a key typed after one second counts.
        {"delay is added to the wait", 0, 2, "\r", false, 1000, 13, 0.9, 0},
        {"negative total fails at once", 3, -4, "k", false, 0, -1, 0, 1},
        {"zero total still polls", 3, -3, "k", false, 0, 'k', 0, 0},
        // Ended input is a keyboard nobody touches: the whole wait, then no key.
        {"end of input waits its time and is no key", 1, 0, "", true, 0, 0, 0.9, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto child = inChild(
            [&] {
                setDelay(c.delay);
                return GetKey(c.seconds);
            },
            c.keys, c.closeInput, c.keyDelay);
        EXPECT_EQ(child.result, c.key);
        if (c.atLeast > 0) {
            EXPECT_GE(child.seconds, c.atLeast);
        }
        if (c.under > 0) {
            EXPECT_LT(child.seconds, c.under);
        }
    }
    SCOPED_TRACE("closed input is no key either");
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
    EXPECT_EQ(traced(
                  [] {
                      GetKey(1);
                      GetKey(1);
                  },
                  "ab"),
              "\nFunction call to GetKey().\nFunction call to GetKey().");
}

const char s21[] = "S21:  Unable to open device /dev/tty1a.  Press <ENTER>.";

// The options with TERM set so, or removed when term is nullptr.
RunOptions withTerm(RunOptions options, const char *term)
{
    if (term)
        options.env["TERM"] = term;
    else
        options.unsetenv.push_back("TERM");
    return options;
}

TEST(Terminal, WithoutAUsableTerminalTypeTheRunStillWorks)
{
    for (const char *term : {static_cast<const char *>(nullptr), "no-such-terminal"}) {
        SCOPED_TRACE(term ? term : "no TERM");
        TempDir dir;
        Process usage(withTerm(markfeedIn(dir, {}), term));
        EXPECT_EQ(usage.wait(10), 99);
        EXPECT_EQ(usage.errors().rfind("\r\nusage -- markfeed [options]", 0), 0u);
        Process station(withTerm(markfeedIn(dir, {"-x", "-d", "/dev/tty1a"}), term));
        ASSERT_TRUE(station.waitFor(s21, 10)) << station.errors();
        // One key without <ENTER> is enough, and it is not echoed.
        station.type("a");
        EXPECT_TRUE(ended(finish(station, dir, 10), 88, {s21}));
        EXPECT_EQ(station.output(), "");
        EXPECT_TRUE(has(readFile(dir.file("scantest.log")), "RETURN VALUE = 88."));
    }
}

TEST(Terminal, InputFromAFileAndOutputToAPipe)
{
    TempDir dir;
    writeFile(dir.file("keys"), "\r\r");
    // Two messages that wait, one key each from the file.
    RunOptions options = withTerm(markfeedIn(dir, {"-l", "missing"}, RunOptions::File), "xterm");
    options.inputfile = dir.file("keys");
    Process station(options);
    EXPECT_TRUE(ended(finish(station, dir, 10), 88,
                      {"S44:  Could not create scanner lock file.  Press <ENTER>.",
                       "Check permissions on missing/LOCK_.  Press <ENTER>."}));
    // No screen set-up sequences in the redirected output.
    EXPECT_EQ(station.output(), "");

    options.args = {};
    Process usage(options);
    EXPECT_EQ(usage.wait(10), 99);
    EXPECT_EQ(usage.output(), "");
}

// A child whose terminal is the pty (standard output the pty, or a file when
// output is given) sets the terminal up as markfeed does, waits for one key
// with a message, and ends through goodbye with that key as exit status.
struct KeyRun {
    int key = -1;
    struct termios before = {}, during = {}, after = {};
};

KeyRun typeKey(const char *term, const std::string &output, const std::string &key)
{
    ScriptedLine pty(ScriptedLine::Pty, ScriptedLine::Terminal);
    int slave = pty.slave();
    KeyRun run;
    tcgetattr(slave, &run.before);
    Process child(withTerm(withInput(RunOptions::File), term), [&]() -> int {
        dup2(slave, 0);
        dup2(output.empty() ? slave : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        setupterminal();
        goodbye(showmsg("Press <ENTER>.", 1));
    });
    pty.start();  // takes in what the child writes; not before the fork
    // Type only once the terminal is in key-by-key mode: a line terminal
    // would turn the carriage return into a line feed. curses gets there in
    // steps (cbreak, then noecho, then nonl), so wait for the whole mode;
    // one that never comes leaves its last reading to fail below.
    child.until(
        [&] {
            return tcgetattr(slave, &run.during) == 0 && !(run.during.c_lflag & (ICANON | ECHO)) &&
                   !(run.during.c_iflag & ICRNL);
        },
        5);
    pty.send(key);
    run.key = child.wait(5);
    tcgetattr(slave, &run.after);
    return run;
}

TEST(Terminal, KeysComeOneAtATimeAndTheModesAreGivenBack)
{
    const struct {
        const char *term;
        bool redirected;
        const char *name;
    } cases[] = {{"xterm", false, "curses"},
                 {"dumb", false, "curses on a dumb terminal"},
                 {nullptr, false, "no TERM"},
                 {"no-such-terminal", false, "unknown TERM"},
                 {"xterm", true, "output redirected"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string output = c.redirected ? dir.file("screen.out") : "";
        for (std::string key : {"\r", "\x1b", "a"}) {
            auto run = typeKey(c.term, output, key);
            EXPECT_EQ(run.key, static_cast<unsigned char>(key[0]));
            EXPECT_FALSE(run.during.c_lflag & ICANON);
            EXPECT_FALSE(run.during.c_lflag & ECHO);
            EXPECT_FALSE(run.during.c_iflag & ICRNL);
            EXPECT_TRUE(run.before.c_lflag & ICANON);  // a fresh pty is a line terminal
            EXPECT_EQ(run.after.c_lflag & (ICANON | ECHO), run.before.c_lflag & (ICANON | ECHO));
            EXPECT_EQ(run.after.c_iflag & ICRNL, run.before.c_iflag & ICRNL);
        }
        // No screen sequences in a file.
        if (c.redirected) {
            EXPECT_EQ(readFile(output), "");
        }
    }
}

// Whether a terminal shows its alternate screen after these bytes: xterm's
// three ways in and out of it.
bool onAlternateScreen(const std::string &bytes)
{
    bool alternate = false;
    for (size_t at = bytes.find("\x1b[?"); at != std::string::npos;
         at = bytes.find("\x1b[?", at + 1))
        for (std::string mode : {"1049", "1047", "47"}) {
            if (bytes.compare(at + 3, mode.size() + 1, mode + "h") == 0)
                alternate = true;
            if (bytes.compare(at + 3, mode.size() + 1, mode + "l") == 0)
                alternate = false;
        }
    return alternate;
}

// Rows from the one beginning with first, count of them; none when absent.
Strings rowsFrom(const Strings &screen, const std::string &first, size_t count)
{
    auto at = std::find_if(screen.begin(), screen.end(),
                           [&](const std::string &row) { return row.rfind(first, 0) == 0; });
    if (at == screen.end())
        return {};
    return Strings(at, at + static_cast<long>(std::min(count, size_t(screen.end() - at))));
}

// In a terminal emulator the usage screen and the last message stay where
// they were written, and the shell's prompt comes below them. xterm's entry
// switches to the alternate screen; vt100's sets a scrolling region, which
// moves the cursor to the top.
void expectScreenKept(const char *term)
{
    SCOPED_TRACE(term);
    TempDir dir;
    Pane pane(dir, term);
    std::string markfeed = shellWords(command(Program::Markfeed));
    // The sentinel: the typed line shows $? unexpanded.
    pane.type(markfeed + "; echo status=$?");
    ASSERT_TRUE(pane.waitForRow("status=")) << testing::PrintToString(pane.screen());
    const char rule[] =
        "===========================================================================";
    EXPECT_EQ(
        rowsFrom(pane.screen(), "usage -- ", 20),
        (Strings{"usage -- markfeed [options] [-dlfobwmxrsupc]               Updated: 1/18/2005",
                 rule,
                 "[-d devicename]   Scanner device name /dev/tty# /net/#.#.#.# /net/hostname.",
                 "[-l pathname]     Directory that all markfeed files will be maintained.",
                 "[-f filename]     Dlf filename for download definition file.",
                 "[-o datafile]     Filename for output data returned from scanner.",
                 "[-b baudrate]     Baud rate with optional size/parity/stops (Ex: 9600:8N1)",
                 "[-w waittime]     Add n second delay for slow communication networks.",
                 "[-m dataset]      Vantorel dataset that form belongs to.",
                 "[-x]              Output debug information to file scantest.log.",
                 "[-r]              Initialize scanner, download form definition file.",
                 "[-s]              Test scanner communications/return communication config.",
                 "[-u]              Assign socket port /etc/service name or number.",
                 "[-p]              Check networking that stores the sign in different order.",
                 "[-c]              Activate continous feed mode.",
                 "[-t]              Process read head alignment form.",
                 rule,
                 "",
                 "status=99",
                 "$"}));

    pane.type(markfeed + " -d /dev/tty1a; echo status=$?");
    const std::string shown = std::string(13, ' ') + s21;  // S21 centred, as the pane shows it
    ASSERT_TRUE(pane.waitForRow(shown)) << testing::PrintToString(pane.screen());
    pane.press("Enter");
    ASSERT_TRUE(pane.waitForRow("status=88")) << testing::PrintToString(pane.screen());
    EXPECT_EQ(rowsFrom(pane.screen(), shown, 4), (Strings{shown, "status=88", "$"}));

    // The first message of each run is written on the screen the shell
    // uses, and nothing switches screens after it.
    std::string bytes = pane.bytes("status=88");
    for (const char *first : {"\r\nusage -- ", "S21:  "}) {
        SCOPED_TRACE(first);
        size_t at = bytes.find(first);
        ASSERT_NE(at, std::string::npos);
        EXPECT_FALSE(onAlternateScreen(bytes.substr(0, at)));
        size_t end = bytes.find("status=", at);
        EXPECT_EQ(bytes.substr(at, end - at).find("\x1b[?1049"), std::string::npos);
        EXPECT_EQ(bytes.substr(at, end - at).find("\x1b[?47"), std::string::npos);
    }
}

TEST(Terminal, UsageAndLastMessageStayOnTheScreenWithThePromptBelow)
{
    if (Pane::tmux().empty())
        GTEST_SKIP() << "tmux is not installed";
    for (const char *term : {"xterm-256color", "vt100"})
        expectScreenKept(term);
}

TEST(Terminal, ClosedStandardErrorDoesNotChangeTheExitStatus)
{
    // A host that stops reading the messages must still get 88, not a
    // death by SIGPIPE.
    TempDir dir;
    RunOptions options = markfeedIn(dir, {"-d", "/dev/tty1a"}, RunOptions::File);
    options.closedErrors = true;
    Process station(options);
    EXPECT_EQ(station.wait(10), 88);
}

}  // namespace
