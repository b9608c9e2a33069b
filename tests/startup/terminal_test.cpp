// The operator's terminal: with or without a usable terminal type, with
// input from a file and output redirected, keys arrive one at a time,
// <ENTER> as 13, no screen sequences leak into files, the terminal gets its
// modes back, and the exit status stays one the host knows.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>

#include "operator.h"
#include "support/lines.h"

using namespace support;

namespace {

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
    pty.start();  // takes in what the child writes
    int slave = pty.slave();
    KeyRun run;
    tcgetattr(slave, &run.before);
    Process child(withTerm(withInput(RunOptions::File), term), [&]() -> int {
        dup2(slave, 0);
        dup2(output.empty() ? slave : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        setupterminal();
        goodbye(showmsg("Press <ENTER>.", 1));
    });
    // Type only once the terminal is in key-by-key mode: a line terminal
    // would turn the carriage return into a line feed.
    child.until(
        [&] { return tcgetattr(slave, &run.during) == 0 && !(run.during.c_lflag & ICANON); }, 5);
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
