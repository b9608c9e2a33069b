#include "tests/support/lines.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace support {

std::string devicePath()
{
    static std::atomic<int> devices{0};
    return "/tmp/mfp" + std::to_string(getpid()) + "_" + std::to_string(devices++);
}

std::string portName(const std::string &device)
{
    return device.substr(5);
}

OtherName::OtherName(const std::string &device) : path_(devicePath())
{
    char target[PATH_MAX];
    ssize_t length = readlink(device.c_str(), target, sizeof target - 1);
    if (length <= 0 || symlink(std::string(target, size_t(length)).c_str(), path_.c_str()) != 0)
        ADD_FAILURE() << "no other name for " << device << ": " << strerror(errno);
}

OtherName::~OtherName()
{
    unlink(path_.c_str());
}

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

int listenLoopback(int backlog, int *port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(s, backlog) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        close(s);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return s;
}

int reachedWithoutP(int port)
{
    bool bigEndian = htons(1) == 1;
    return bigEndian ? port : swapped(port);
}

int freePort()
{
    int port = -1;
    close(listenLoopback(0, &port));
    return port;
}

int connectLoopback(int port, int flags)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    sockaddr_in address = loopback(port);
    if (connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 ||
        ((flags & SOCK_NONBLOCK) && errno == EINPROGRESS))
        return s;
    close(s);
    return -1;
}

bool listening(int port)
{
    int s = connectLoopback(port);
    close(s);
    return s >= 0;
}

ScriptedLine::ScriptedLine(Kind kind, Mode mode) : kind_(kind)
{
    if (pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    if (kind == Tcp) {
        listen_ = listenLoopback(4, &port_);
        if (listen_ < 0)
            throw std::runtime_error("listen");
        return;
    }
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("posix_openpt");
    std::string slave = ptsname(master_);
    // Held open so that the line stays up while the station opens and
    // closes its end.
    slave_ = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios line;
    if (slave_ < 0 || tcgetattr(slave_, &line) != 0)
        throw std::runtime_error("open " + slave);
    if (mode != Terminal) {
        cfmakeraw(&line);
        cfsetspeed(&line, B19200);
        line.c_cflag |= CSTOPB;
    }
    line.c_lflag |= mode == Signals ? ISIG : 0;
    if (tcsetattr(slave_, TCSANOW, &line) != 0)
        throw std::runtime_error("tcsetattr " + slave);
    device_ = devicePath();
    if (symlink(slave.c_str(), device_.c_str()) != 0)
        throw std::runtime_error("symlink " + device_);
}

ScriptedLine::ScriptedLine(Kind kind, Script script, Mode mode) : ScriptedLine(kind, mode)
{
    for (const auto &rule : script)
        on(rule.first, rule.second);
    start();
}

ScriptedLine::~ScriptedLine()
{
    if (thread_.joinable()) {
        char byte = 0;
        if (write(wake_[1], &byte, 1) == 1)
            thread_.join();
        else
            thread_.detach();
    }
    if (!device_.empty())
        unlink(device_.c_str());
    for (int fd : {master_, slave_, listen_, connection_, wake_[0], wake_[1]})
        if (fd >= 0)
            close(fd);
}

void ScriptedLine::on(const std::string &request, const Strings &answers)
{
    rules_.push_back(Rule{request, answers, 0});
}

void ScriptedLine::greet(const std::string &bytes)
{
    greeting_ = bytes;
}

void ScriptedLine::start()
{
    if (kind_ == Pty)
        send(greeting_);
    thread_ = std::thread([this] { serve(); });
}

std::string ScriptedLine::received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

double ScriptedLine::sinceRequest() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_ ? request_.seconds() : -1;
}

void ScriptedLine::serve()
{
    for (;;) {
        int link = kind_ == Pty ? master_ : (connection_ >= 0 ? connection_ : listen_);
        struct pollfd fds[2] = {{wake_[0], POLLIN, 0}, {link, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents == 0)
            continue;
        if (link == listen_) {
            connection_ = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            send(greeting_);
            continue;
        }
        char buffer[512];
        ssize_t got = read(link, buffer, sizeof buffer);
        if (got > 0) {
            take(buffer, static_cast<size_t>(got));
        } else if (kind_ == Tcp) {
            close(connection_);
            connection_ = -1;
        } else {
            // Nothing reads the pty while the station has it closed.
            poll(nullptr, 0, 20);
        }
    }
}

void ScriptedLine::take(const char *bytes, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_ += bytes[i];
        }
        pending_ += bytes[i];
        for (Rule &rule : rules_) {
            if (pending_.size() < rule.request.size() ||
                pending_.compare(pending_.size() - rule.request.size(), std::string::npos,
                                 rule.request) != 0)
                continue;
            if (!requested_) {
                std::lock_guard<std::mutex> lock(mutex_);
                requested_ = true;
                request_ = Timer();
            }
            send(rule.answers.at(std::min(rule.next++, rule.answers.size() - 1)));
            pending_.clear();
            break;
        }
    }
}

void ScriptedLine::send(const std::string &bytes)
{
    int link = kind_ == Pty ? master_ : connection_;
    if (link >= 0 && !sendBytes(link, bytes))
        ADD_FAILURE() << "the scripted line could not send";
}

namespace {

speed_t speedCode(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 4800: return B4800;
    case 9600: return B9600;
    case 38400: return B38400;
    default: return B19200;
    }
}

bool readable(int fd, double seconds)
{
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(seconds * 1000)) > 0;
}

}  // namespace

bool setLine(int fd, int baud, int stops)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetispeed(&t, speedCode(baud));
    cfsetospeed(&t, speedCode(baud));
    t.c_cflag = stops == 2 ? t.c_cflag | CSTOPB : t.c_cflag & ~tcflag_t(CSTOPB);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

int openDevice(const std::string &path, int baud, int stops)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0)
        setLine(fd, baud, stops);
    return fd;
}

bool deviceSettings(const std::string &path, struct termios *t)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    bool got = fd >= 0 && tcgetattr(fd, t) == 0;
    if (fd >= 0)
        close(fd);
    return got;
}

bool sendBytes(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string readRecord(int fd, double seconds)
{
    std::string got;
    char c;
    while (readable(fd, seconds) && read(fd, &c, 1) == 1) {
        got.push_back(c);
        if (got.size() >= 2 && got.compare(got.size() - 2, 2, "\r\n") == 0)
            break;
    }
    return got;
}

std::string ask(int fd, const std::string &bytes)
{
    sendBytes(fd, bytes);
    return readRecord(fd);
}

std::string readFor(int fd, double seconds)
{
    std::string got;
    Timer timer;
    char buffer[4096];
    ssize_t n;
    while (timer.seconds() < seconds && readable(fd, seconds - timer.seconds()) &&
           (n = read(fd, buffer, sizeof buffer)) > 0)
        got.append(buffer, static_cast<size_t>(n));
    return got;
}

}  // namespace support
