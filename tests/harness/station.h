// Operator harness: runs markfeed as a real process with a pseudo-terminal
// as the operator's terminal (standard input and output) and a pipe as
// standard error, where the message line is written. Tests read the
// messages byte for byte, type keys and collect the exit status.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace harness {

struct RunOptions {
    std::vector<std::string> args;  // arguments after the program name
    std::string cwd;                // working directory ("" = the test's)
    // How standard input and output are connected:
    //   Terminal: a pseudo-terminal (the operator's terminal)
    //   File:     standard input from inputfile, standard output to a pipe
    enum Input { Terminal, File } input = Terminal;
    std::string inputfile = "/dev/null";
    std::map<std::string, std::string> env;  // added or replaced
    std::vector<std::string> unsetenv;       // removed
    std::string program;                     // default: the built markfeed
};

class Station {
public:
    explicit Station(const RunOptions &options);
    ~Station();
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    // Waits until standard error holds text (anywhere); false on time-out.
    bool waitFor(const std::string &text, double seconds);
    // Waits until text has appeared count times on standard error.
    bool waitForCount(const std::string &text, int count, double seconds);
    // Types bytes on the operator's terminal.
    void type(const std::string &keys);
    // Waits for the process to end: its exit status, or -1 on time-out
    // (the process is then killed), or 128 + signal when killed.
    int wait(double seconds);
    void kill(int signal);
    // Collects output for a while without waiting for anything.
    void idle(double seconds);
    // True while the process has not ended.
    bool running();
    pid_t pid() const { return pid_; }

    std::string errors();  // everything written to standard error so far
    std::string output();  // everything written to standard output so far

private:
    void pump(int milliseconds);
    pid_t pid_ = -1;
    int terminal_ = -1;  // pty master, or the stdout pipe
    int errpipe_ = -1;
    int status_ = -1;
    bool ended_ = false;
    std::string errors_;
    std::string output_;
};

// The operator's message lines on standard error: the text between the
// carriage returns, without the padding spaces.
std::vector<std::string> messages(const std::string &errors);

// The built programs.
std::string markfeedPath();
std::string scannersimPath();

// A new empty directory under /tmp, removed by the caller's TempDir.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &content);
bool fileExists(const std::string &path);

}  // namespace harness
