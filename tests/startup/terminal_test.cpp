// The operator's terminal: with or without a usable terminal type, with
// input from a file and output redirected, keys arrive one at a time,
// <ENTER> as 13, no screen sequences leak into files, the terminal gets its
// modes back, and the exit status stays one the host knows.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "operator.h"
#include "startup_support.h"
#include "station.h"

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

// Runs markfeed with the pty as standard input, standard output either the
// same pty or a file, and standard error a pipe. Types key once a message
// waits, after checking the modes the terminal was put in.
struct TerminalRun {
    int status = -1;
    std::string errors;
    struct termios before = {}, during = {}, after = {};
};

TerminalRun runOnTerminal(const TempDir &dir, Pty &pty, const char *term, const std::string &stdoutFile,
                          const std::vector<std::string> &args, const std::string &key)
{
    TerminalRun run;
    tcgetattr(pty.slave(), &run.before);
    int err[2];
    if (pipe(err) != 0)
        return run;
    std::string program = markfeedPath();
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(pty.slave(), 0);
        int out = stdoutFile.empty() ? pty.slave()
                                     : open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err[1], 2);
        close(err[0]);
        if (chdir(dir.path().c_str()) != 0)
            _exit(126);
        if (term)
            setenv("TERM", term, 1);
        else
            unsetenv("TERM");
        std::vector<char *> argv = {const_cast<char *>(program.c_str())};
        for (const auto &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        signal(SIGPIPE, SIG_DFL);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(err[1]);
    auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    bool typed = false;
    for (;;) {
        pty.drain(0);  // whatever curses writes to the screen
        struct pollfd fd = {err[0], POLLIN, 0};
        if (poll(&fd, 1, 20) > 0) {
            char buffer[512];
            ssize_t n = read(err[0], buffer, sizeof buffer);
            if (n > 0)
                run.errors.append(buffer, static_cast<size_t>(n));
        }
        if (!typed && run.errors.find("Press <ENTER>.") != std::string::npos) {
            tcgetattr(pty.slave(), &run.during);
            pty.send(key);
            typed = true;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (elapsed() > 10) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            break;
        }
    }
    char buffer[512];
    ssize_t n;
    while ((n = read(err[0], buffer, sizeof buffer)) > 0)
        run.errors.append(buffer, static_cast<size_t>(n));
    close(err[0]);
    tcgetattr(pty.slave(), &run.after);
    return run;
}

void expectKeyByKeyModes(const struct termios &modes)
{
    EXPECT_FALSE(modes.c_lflag & ICANON);
    EXPECT_FALSE(modes.c_lflag & ECHO);
    EXPECT_FALSE(modes.c_iflag & ICRNL);
}

void expectModesGivenBack(const struct termios &before, const struct termios &after)
{
    EXPECT_TRUE(before.c_lflag & ICANON);  // a fresh pty is a line terminal
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(after.c_iflag & (ICRNL | INLCR | IGNCR), before.c_iflag & (ICRNL | INLCR | IGNCR));
}

TEST(Terminal, KeyByKeyModesWhileRunningAndGivenBackAtTheEnd)
{
    const TermCase cases[] = {{"xterm", "curses"}, {"dumb", "curses on a dumb terminal"},
                              {nullptr, "no TERM"}, {"no-such-terminal", "unknown TERM"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Pty pty;
        auto run = runOnTerminal(dir, pty, c.term, "", {"-d", "/dev/tty1a"}, "\r");
        EXPECT_EQ(run.status, 88);
        EXPECT_EQ(messages(run.errors), std::vector<std::string>{s21});
        expectKeyByKeyModes(run.during);
        expectModesGivenBack(run.before, run.after);
    }
}

TEST(Terminal, OutputRedirectedToAFileGetsNoScreenSequences)
{
    TempDir dir;
    Pty pty;
    auto run = runOnTerminal(dir, pty, "xterm", dir.file("screen.out"), {"-d", "/dev/tty1a"}, "\r");
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(messages(run.errors), std::vector<std::string>{s21});
    EXPECT_TRUE(fileExists(dir.file("screen.out")));
    EXPECT_EQ(readFile(dir.file("screen.out")), "");
    // The keyboard is still read key by key and given back.
    expectKeyByKeyModes(run.during);
    expectModesGivenBack(run.before, run.after);
}

// The key a waiting message returns, read in a child whose terminal is the
// pty (and whose output is the pty or a file), with TERM as given.
int keyReturned(Pty &pty, const char *term, bool outputToFile, const std::string &key)
{
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(pty.slave(), 0);
        dup2(outputToFile ? open("/dev/null", O_WRONLY) : pty.slave(), 1);
        dup2(open("/dev/null", O_WRONLY), 2);
        if (term)
            setenv("TERM", term, 1);
        else
            unsetenv("TERM");
        setupterminal();
        int got = showmsg("Press <ENTER>.", 1);
        goodbye(got);
    }
    // Type only once the terminal is in key-by-key mode, or a line
    // terminal would have turned the carriage return into a line feed.
    struct termios modes;
    for (int i = 0; i < 500; i++) {
        pty.drain(0);
        tcgetattr(pty.slave(), &modes);
        if (!(modes.c_lflag & ICANON))
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
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Terminal, EnterArrivesAsCarriageReturn)
{
    const struct {
        const char *term;
        bool outputToFile;
        const char *name;
    } cases[] = {{"xterm", false, "curses"},
                 {nullptr, false, "no TERM"},
                 {"no-such-terminal", false, "unknown TERM"},
                 {"xterm", true, "output redirected"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Pty enter;
        EXPECT_EQ(keyReturned(enter, c.term, c.outputToFile, "\r"), 13);
        Pty escape;
        EXPECT_EQ(keyReturned(escape, c.term, c.outputToFile, "\x1b"), 27);
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
