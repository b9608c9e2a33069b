// The operator's terminal: with or without a usable terminal type, with
// input from a file and output redirected, keys arrive one at a time,
// <ENTER> as 13, no screen sequences leak into files, the terminal gets its
// modes back, and the exit status stays one the host knows.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "operator.h"
#include "startup_support.h"
#include "station.h"
#include "termination.h"

using namespace harness;
using startup::Pty;

namespace {

const char s21[] = "S21:  Unable to open device /dev/tty1a.  Press <ENTER>.";

// How TERM is set for a run: nullptr removes it.
struct TermCase {
    const char *term;
    const char *name;
};
const TermCase unusable[] = {{nullptr, "no TERM"}, {"no-such-terminal", "unknown TERM"}};

TEST(Terminal, WithoutAUsableTerminalTypeTheRunStillWorks)
{
    for (const auto &c : unusable) {
        SCOPED_TRACE(c.name);
        {
            TempDir dir;
            RunOptions options;
            options.cwd = dir.path();
            if (c.term)
                options.env["TERM"] = c.term;
            else
                options.unsetenv.push_back("TERM");
            Station usage(options);
            EXPECT_EQ(usage.wait(10), 99);
            EXPECT_EQ(usage.errors().rfind("\r\nusage -- markfeed [options]", 0), 0u);
        }
        TempDir dir;
        RunOptions options;
        options.cwd = dir.path();
        options.args = {"-x", "-d", "/dev/tty1a"};
        if (c.term)
            options.env["TERM"] = c.term;
        else
            options.unsetenv.push_back("TERM");
        Station station(options);
        ASSERT_TRUE(station.waitFor(s21, 10)) << station.errors();
        // One key without <ENTER> is enough, and it is not echoed.
        station.type("a");
        EXPECT_EQ(station.wait(10), 88);
        EXPECT_EQ(messages(station.errors()), std::vector<std::string>{s21});
        EXPECT_EQ(station.output(), "");
        EXPECT_NE(readFile(dir.file("scantest.log")).find("RETURN VALUE = 88."), std::string::npos);
    }
}

TEST(Terminal, InputFromAFileAndOutputToAPipe)
{
    TempDir dir;
    writeFile(dir.file("keys"), "\r\r");
    RunOptions options;
    options.cwd = dir.path();
    options.input = RunOptions::File;
    options.inputfile = dir.file("keys");
    options.env["TERM"] = "xterm";
    // Two messages that wait, one key each from the file.
    options.args = {"-l", "missing"};
    Station station(options);
    EXPECT_EQ(station.wait(10), 88);
    EXPECT_EQ(messages(station.errors()),
              (std::vector<std::string>{"S44:  Could not create scanner lock file.  Press <ENTER>.",
                                        "Check permissions on missing/LOCK_.  Press <ENTER>."}));
    // No screen set-up sequences in the redirected output.
    EXPECT_EQ(station.output(), "");

    options.args = {};
    Station usage(options);
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

KeyRun typeKey(Pty &pty, const char *term, const std::string &output, const std::string &key)
{
    KeyRun run;
    tcgetattr(pty.slave(), &run.before);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(pty.slave(), 0);
        dup2(output.empty() ? pty.slave()
                            : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
             1);
        dup2(open("/dev/null", O_WRONLY), 2);
        if (term)
            setenv("TERM", term, 1);
        else
            unsetenv("TERM");
        setupterminal();
        goodbye(showmsg("Press <ENTER>.", 1));
    }
    // Type only once the terminal is in key-by-key mode: a line terminal
    // would turn the carriage return into a line feed.
    for (int i = 0; i < 500; i++) {
        pty.drain(0);
        tcgetattr(pty.slave(), &run.during);
        if (!(run.during.c_lflag & ICANON))
            break;
        usleep(10000);
    }
    pty.send(key);
    int status = 0;
    for (int i = 0; i < 500 && waitpid(pid, &status, WNOHANG) == 0; i++) {
        pty.drain(0);
        usleep(10000);
    }
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        run.key = WEXITSTATUS(status);
    }
    tcgetattr(pty.slave(), &run.after);
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
            Pty pty;
            auto run = typeKey(pty, c.term, output, key);
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
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    close(err[0]);
    std::string program = markfeedPath();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(open("/dev/null", O_WRONLY), 1);
        dup2(err[1], 2);
        if (chdir(dir.path().c_str()) != 0)
            _exit(126);
        signal(SIGPIPE, SIG_DFL);
        execl(program.c_str(), program.c_str(), "-d", "/dev/tty1a", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(err[1]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 88);
}

}  // namespace
