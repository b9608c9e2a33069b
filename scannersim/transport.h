// The two ways the host reaches the scanner: a pseudo-terminal standing in
// for the serial line, or a loopback TCP port standing in for a terminal
// server. Descriptors are non-blocking; the engine polls them.
#pragma once

#include <string>

#include "scannersim/line.h"

namespace scannersim {

class PtyLink {
public:
    ~PtyLink() { close(); }
    // Creates the pair, puts the line in raw mode at `line`, and links
    // `link` (if given) to the slave path.
    bool open(const LineSettings &line, const std::string &link, std::string *error);
    // Hangs up: the host's side sees the line drop.
    void close();
    // Waits, at most `seconds`, until the host has read what was sent to it:
    // a hang-up throws away what is still in the line's input queue.
    void awaitRead(double seconds) const;
    int fd() const { return master_; }
    const std::string &path() const { return path_; }
    // The settings the host applied, as the master sees them.
    bool seen(SeenLine *out) const;

private:
    int master_ = -1;
    int slave_ = -1;  // held so that the host can close and reopen freely
    std::string path_;
    std::string link_;
};

class TcpLink {
public:
    ~TcpLink() { close(); }
    bool listen(int port, std::string *error);  // 127.0.0.1 only
    // Takes the next waiting connection; false when none was there.
    bool accept(std::string *peer);
    void hangUp();  // closes the connection, keeps listening
    void close();
    int listenFd() const { return listen_; }
    int fd() const { return conn_; }
    int port() const { return port_; }

private:
    int listen_ = -1;
    int conn_ = -1;
    int port_ = 0;
};

// Writes what it can without blocking; returns bytes written or -1 on a
// broken link. Never raises SIGPIPE.
long writeSome(int fd, bool socket, const char *data, size_t size);

}  // namespace scannersim
