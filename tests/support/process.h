// Processes for the tests: a program (or a fork of the test) with a
// pseudo-terminal as its terminal or with input from a file or pipe, its
// standard error (the operator's message line) and output collected byte
// for byte, and its exit status.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace support {

// Seconds since it was made.
class Timer {
public:
    double seconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

struct RunOptions {
    Strings command;  // the program and its first words
    Strings args;
    std::string cwd;  // "" = the test's
    // Terminal: standard input and output a pseudo-terminal, the operator's.
    // File: input from inputfile, output a pipe, in a session of its own
    //   without a terminal, as when the host starts it.
    // Pipe: as File, with input a pipe that starts with `keys`.
    enum Input { Terminal, File, Pipe } input = Terminal;
    std::string inputfile = "/dev/null";
    std::string keys;
    bool closedErrors = false;               // standard error a pipe nobody reads
    std::map<std::string, std::string> env;  // added or replaced
    Strings unsetenv;                        // removed
    uid_t user = 0;  // run as this user, and the group of the same number (0 = as the test)
};

class Process {
public:
    // Starts the command; with a body, a fork of this process instead that
    // ends with body()'s result as its exit status.
    explicit Process(const RunOptions &options, const std::function<int()> &body = {});
    ~Process();  // kills it if it still runs
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    // Collects output until done() holds; false when seconds pass first.
    bool until(const std::function<bool()> &done, double seconds);
    // Waits until standard error (or output) holds text count times.
    bool waitFor(const std::string &text, double seconds, int count = 1);
    bool waitForOutput(const std::string &text, double seconds);
    void type(const std::string &keys);
    void closeInput();
    // The exit status, 128 + signal when killed, or -1 when it did not end
    // within seconds (it is killed then).
    int wait(double seconds);
    void kill(int signal);
    void idle(double seconds);  // collects output for a while
    bool running();
    pid_t pid() const { return pid_; }
    std::string errors();  // standard error so far
    std::string output();  // standard output so far
    // What the ended process used (CPU time, peak memory); zero before.
    const struct rusage &usage() const { return usage_; }

private:
    void pump(int milliseconds);
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    int status_ = -1;
    bool ended_ = false;
    std::string errors_, output_;
    struct rusage usage_ = {};
};

// The operator's message lines on standard error: the text between the
// carriage returns, without the padding spaces.
Strings messages(const std::string &errors);
// The operator's screen row after the bytes written to standard error: each
// "\r" returns to the first column and later text overwrites earlier text.
std::string screenRow(const std::string &errors);
// Waits for `text` to have been shown `count` times; the failure names what
// was shown instead.
::testing::AssertionResult shows(Process &station, const std::string &text, int count = 1,
                                 double seconds = 15);
// Waits for `text` to be shown, then checks that the process still waits
// (for a key) a moment later.
::testing::AssertionResult waitsAt(Process &station, const std::string &text, double seconds = 15);

RunOptions withInput(RunOptions::Input input);
// The same options with the command started in a mount namespace of its
// own, after a shell script that finds arg in $0 and ends with exec "$@":
// what the script mounts is seen by that command alone, never the machine.
RunOptions inMountNamespace(RunOptions options, const std::string &script, const std::string &arg);
// Whether the script runs in such a namespace here: not where unshare or
// mount is refused (not root, a package build).
bool canMount(const std::string &script);
// Holds a lockf lock on one byte of a file from another process.
class LockHolder {
public:
    LockHolder(const std::string &path, off_t offset);
    bool holding() { return holder_.waitFor("locked", 5); }

private:
    Process holder_;
};
// Whether the byte is locked by some other process (lockf F_TEST).
bool byteLocked(const std::string &path, off_t offset);

// A shell in a pane of a detached tmux server of its own: a real terminal
// emulator, `columns` wide and `rows` high, with TERM set to term, its
// prompt "$ " and its first directory dir. What programs write to the pane
// is kept byte for byte.
class Pane {
public:
    // The tmux program; "" where it is not installed.
    static std::string tmux();
    Pane(const TempDir &dir, const std::string &term, int columns = 80, int rows = 40);
    ~Pane();  // ends the server
    Pane(const Pane &) = delete;
    Pane &operator=(const Pane &) = delete;

    void type(const std::string &line);  // then <ENTER>
    void press(const std::string &key);  // a tmux key name such as "Enter"
    // The screen's rows, those scrolled off included, without trailing blanks.
    Strings screen();
    // Waits until a row begins with start (a program's output: a typed
    // command line begins with the prompt).
    bool waitForRow(const std::string &start, double seconds = 10);
    // What programs wrote to the pane, once it holds text.
    std::string bytes(const std::string &text, double seconds = 10);

private:
    int run(const Strings &args, std::string *output = nullptr);
    std::string socket_, bytes_;
};

}  // namespace support
