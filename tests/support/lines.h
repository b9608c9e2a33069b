// The scanner's side of a line without scannersim: a pseudo-terminal or
// loopback TCP port that answers as a test scripts it; and the host's side
// of a line to a scanner, for the scanner's own tests.
#pragma once

#include <termios.h>

#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/programs.h"

namespace support {

// A new device path directly under /tmp. markfeed names the lock and the
// port configuration file after the device minus its first five characters,
// so the port name is the part after "/tmp/" (see portName).
std::string devicePath();
std::string portName(const std::string &device);
// Another name for the device that the link `device` names: a new link
// from a devicePath() to the same target, removed with the object.
class OtherName {
public:
    explicit OtherName(const std::string &device);
    ~OtherName();
    OtherName(const OtherName &) = delete;
    OtherName &operator=(const OtherName &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// A loopback TCP socket listening with this backlog, its port in *port; -1.
int listenLoopback(int backlog, int *port);
// A loopback port that nobody listens on (bound once, then released).
int freePort();
// A connection to a loopback port, or -1; with SOCK_NONBLOCK one that may
// still be on its way.
int connectLoopback(int port, int flags = 0);
bool listening(int port);
// A port with its two bytes exchanged.
inline int swapped(int port)
{
    return ((port & 0xff) << 8) | ((port >> 8) & 0xff);
}
// The port that markfeed reaches for a port number without -p. It puts the
// number into the socket address as this host holds it: a little-endian host
// reaches the port with the two bytes exchanged, a big-endian one the port
// itself. With -p every host reaches the port itself.
int reachedWithoutP(int port);

// A scanner line that answers as scripted: each time the bytes received
// since the last answer end with a request, the next of its answers is sent
// (the last one again when they run out; an empty answer sends nothing).
class ScriptedLine {
public:
    enum Kind { Pty, Tcp };
    // How a pty starts: raw, raw with signal characters on (as a serial
    // port is before the station sets it up), or as a fresh terminal.
    enum Mode { Raw, Signals, Terminal };
    explicit ScriptedLine(Kind kind, Mode mode = Raw);
    // The same with its script, started at once.
    using Script = std::initializer_list<std::pair<std::string, Strings>>;
    ScriptedLine(Kind kind, Script script, Mode mode = Raw);
    ~ScriptedLine();
    ScriptedLine(const ScriptedLine &) = delete;
    ScriptedLine &operator=(const ScriptedLine &) = delete;

    void on(const std::string &request, const Strings &answers);
    // Sent as soon as the station is there (TCP: on connect; pty: at once).
    void greet(const std::string &bytes);
    void start();
    void send(const std::string &bytes);

    const std::string &device() const { return device_; }
    int slave() const { return slave_; }  // the pty's far end, held open
    int port() const { return port_; }
    std::string received() const;
    // Seconds since the first request was answered; -1 before.
    double sinceRequest() const;

private:
    struct Rule {
        std::string request;
        Strings answers;
        size_t next = 0;
    };
    void serve();
    void take(const char *bytes, size_t count);

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
    bool requested_ = false;
    Timer request_;
    std::thread thread_;
};

// The host's side of a line to a scanner.
// Opens path as a host would and applies speed and stop bits (a pty
// ignores size and parity); -1 on failure.
int openDevice(const std::string &path, int baud = 19200, int stops = 2);
bool setLine(int fd, int baud, int stops);
// The device's settings as another program opening it reads them back;
// false when it cannot be opened or read.
bool deviceSettings(const std::string &path, struct termios *t);
bool sendBytes(int fd, const std::string &bytes);  // false unless all went
// Reads until CR LF, or until `seconds` pass without a byte.
std::string readRecord(int fd, double seconds = 2.0);
// Sends bytes, then reads a record.
std::string ask(int fd, const std::string &bytes);
// Reads everything that arrives within `seconds`.
std::string readFor(int fd, double seconds);

}  // namespace support
