// Test helpers: a host side for the simulated scanner over a real pty or
// a real TCP connection, and a way to run the scannersim program.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace simtest {

// Opens `path` as the host would and applies speed and stop bits (a pty
// ignores size and parity). -1 on failure.
int openDevice(const std::string &path, int baud = 19200, int stops = 2);
// Changes speed and stop bits of an open device.
bool setLine(int fd, int baud, int stops);
int connectTcp(int port);

void sendBytes(int fd, const std::string &bytes);
// Reads until CR LF or `seconds` without a byte; returns what came.
std::string readRecord(int fd, double seconds = 2.0);
// Reads everything that arrives within `seconds`.
std::string readFor(int fd, double seconds);

double nowSeconds();

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &text);
std::string tempDir();  // fresh directory under /tmp

// The scannersim program, started with arguments; stdout is read up to
// the "ready" line.
class Program {
public:
    explicit Program(const std::vector<std::string> &args,
                     const std::vector<std::string> &env = {});
    ~Program();
    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }
    const std::string &banner() const { return banner_; }  // lines before ready
    // Sends the signal and waits; the exit status or -1.
    int stop(int signal);
    int wait();
    std::string stderrText() const;
    std::string stdoutText() const;  // what came after the banner

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool ready_ = false;
    std::string banner_;
};

// Value of "key: value" in the banner.
std::string bannerValue(const std::string &banner, const std::string &key);

}  // namespace simtest
