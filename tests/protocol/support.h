// Helpers for the end-to-end protocol tests: markfeed runs as a real
// process against scannersim (in this process, on a real pseudo-terminal or
// loopback TCP port) or against a scripted line that answers what the test
// tells it to, so that wrong, garbled or missing answers can be sent.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scannersim.h"
#include "station.h"

namespace protocol {

// The default reset sequence as it goes on the wire.
extern const std::string resetBytes;

// A new device path directly under /tmp. markfeed names the lock and the
// port configuration file after the device minus its first five characters,
// so the port name is the part after "/tmp/" (see portName).
std::string devicePath();
std::string portName(const std::string &device);

// scannersim in this process.
struct Sim {
    std::string device;  // pty: the link to give markfeed's -d
    std::unique_ptr<scannersim::Scanner> scanner;
    explicit operator bool() const { return scanner != nullptr; }
    scannersim::Scanner *operator->() const { return scanner.get(); }
    const scannersim::Scanner &operator*() const { return *scanner; }
};
// Starts scannersim, on a pseudo-terminal linked from a fresh devicePath()
// unless the options say otherwise. Fails the test when it cannot start.
Sim startScanner(scannersim::Options options);
// The same, for a TCP port that may be taken: no failure, just no scanner.
Sim tryTcpScanner(scannersim::Options options, int port);
// Options with the control codes of a port configuration file text.
scannersim::Options optionsWithCodes(const std::string &cfgText);

// Every byte the scanner received, in order.
std::string received(const scannersim::Scanner &scanner);
// The frames received, as "Name detail" ("Status s0", "ModeChange w").
std::vector<std::string> frameList(const scannersim::Scanner &scanner);
// How many frames received carry exactly this "Name detail".
int countFrames(const scannersim::Scanner &scanner, const std::string &frame);

// Environment that preloads a library of tests/support into markfeed.
std::map<std::string, std::string> preload(const std::string &library);

// A finished markfeed run.
struct Result {
    int status = -1;
    std::string errors;                 // standard error as written
    std::vector<std::string> messages;  // the message lines
    std::string trace;                  // scantest.log
    std::string data;                   // SCAN.DAT
    double seconds = 0;                 // from start to end
};

// Runs markfeed in dir with standard input from /dev/null in a session of
// its own (no controlling terminal), so every key wait goes on at once.
Result runStation(const harness::TempDir &dir, const std::vector<std::string> &args,
                  const std::map<std::string, std::string> &env = {}, double limit = 30);
// Collects a station that the test drove itself.
Result finish(harness::Station &station, const harness::TempDir &dir, double limit = 30);

// The trace from the first line that starts with `from` to the end.
std::string traceFrom(const std::string &trace, const std::string &from);
// The trace lines (split at "\n", empty ones dropped).
std::vector<std::string> traceLines(const std::string &trace);

// The port numbers of a free loopback TCP port (bound once, then released).
int freePort();
// A port with its two bytes exchanged.
inline int swapped(int port)
{
    return ((port & 0xff) << 8) | ((port >> 8) & 0xff);
}

// A scanner line that answers as scripted: each time the bytes received
// since the last answer end with a request, the next of its answers is sent
// (the last one again when they run out; an empty answer sends nothing).
class ScriptedLine {
public:
    enum Kind { Pty, Tcp };
    // isig: the pseudo-terminal starts with signal characters on, as a
    // serial port does before the station sets it up.
    explicit ScriptedLine(Kind kind, bool isig = false);
    ~ScriptedLine();
    ScriptedLine(const ScriptedLine &) = delete;
    ScriptedLine &operator=(const ScriptedLine &) = delete;

    void on(const std::string &request, const std::vector<std::string> &answers);
    // Sent as soon as the station is there (TCP: on connect; pty: at once).
    void greet(const std::string &bytes);
    void start();

    const std::string &device() const { return device_; }
    int port() const { return port_; }
    std::string received() const;

private:
    struct Rule {
        std::string request;
        std::vector<std::string> answers;
        size_t next = 0;
    };
    void serve();
    void take(const char *bytes, size_t count);
    void send(const std::string &bytes);

    Kind kind_;
    int master_ = -1, slave_ = -1;       // pty
    int listen_ = -1, connection_ = -1;  // tcp
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::string device_;
    std::string greeting_;
    std::vector<Rule> rules_;
    std::string pending_;
    mutable std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

}  // namespace protocol
