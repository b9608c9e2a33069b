#include "support.h"

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
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace protocol {

const std::string resetBytes("\x14\x04\r\n\x12\x0e\x07\x60\x04", 9);

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> devices{0};

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string frameText(const scannersim::Frame &frame)
{
    return frame.detail.empty() ? frame.name : frame.name + " " + frame.detail;
}

}  // namespace

std::string devicePath()
{
    return "/tmp/mfp" + std::to_string(getpid()) + "_" + std::to_string(devices++);
}

std::string portName(const std::string &device)
{
    return device.substr(5);
}

Sim startScanner(scannersim::Options options)
{
    if (options.transport == scannersim::Transport::Pty && options.link.empty())
        options.link = devicePath();
    Sim sim;
    sim.device = options.link;
    sim.scanner = std::make_unique<scannersim::Scanner>(options);
    std::string error;
    if (!sim.scanner->start(&error)) {
        ADD_FAILURE() << "scannersim did not start: " << error;
        sim.scanner.reset();
    }
    return sim;
}

Sim tryTcpScanner(scannersim::Options options, int port)
{
    options.transport = scannersim::Transport::Tcp;
    options.tcpPort = port;
    Sim sim;
    sim.device = "/net/127.0.0.1";
    sim.scanner = std::make_unique<scannersim::Scanner>(options);
    if (!sim.scanner->start(nullptr))
        sim.scanner.reset();
    return sim;
}

scannersim::Options optionsWithCodes(const std::string &cfgText)
{
    harness::TempDir dir;
    harness::writeFile(dir.file("codes.cfg"), cfgText);
    scannersim::Options options;
    std::string error;
    if (!scannersim::readCodesFile(dir.file("codes.cfg"), &options.codes, &error))
        ADD_FAILURE() << error;
    return options;
}

std::string received(const scannersim::Scanner &scanner)
{
    std::string bytes;
    for (const auto &frame : scanner.frames())
        bytes += frame.bytes;
    return bytes;
}

std::vector<std::string> frameList(const scannersim::Scanner &scanner)
{
    std::vector<std::string> list;
    for (const auto &frame : scanner.frames())
        list.push_back(frameText(frame));
    return list;
}

int countFrames(const scannersim::Scanner &scanner, const std::string &frame)
{
    int count = 0;
    for (const auto &text : frameList(scanner))
        count += text == frame;
    return count;
}

std::map<std::string, std::string> preload(const std::string &library)
{
    // A sanitized markfeed refuses a library loaded ahead of its runtime.
    const char *asan = getenv("ASAN_OPTIONS");
    std::string options = asan != nullptr && asan[0] != '\0' ? std::string(asan) + ":" : "";
    return {{"LD_PRELOAD", library}, {"ASAN_OPTIONS", options + "verify_asan_link_order=0"}};
}

Result runStation(const harness::TempDir &dir, const std::vector<std::string> &args,
                  const std::map<std::string, std::string> &env, double limit)
{
    harness::RunOptions options;
    options.args = args;
    options.cwd = dir.path();
    options.input = harness::RunOptions::File;
    options.env = env;
    harness::Station station(options);
    return finish(station, dir, limit);
}

Result finish(harness::Station &station, const harness::TempDir &dir, double limit)
{
    auto start = Clock::now();
    Result run;
    run.status = station.wait(limit);
    run.seconds = since(start);
    run.errors = station.errors();
    run.messages = harness::messages(run.errors);
    run.trace = harness::readFile(dir.file("scantest.log"));
    run.data = harness::readFile(dir.file("SCAN.DAT"));
    return run;
}

std::string traceFrom(const std::string &trace, const std::string &from)
{
    size_t at = trace.find("\n" + from);
    return at == std::string::npos ? "" : trace.substr(at);
}

std::vector<std::string> traceLines(const std::string &trace)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < trace.size()) {
        size_t end = trace.find('\n', start);
        if (end == std::string::npos)
            end = trace.size();
        if (end > start)
            lines.push_back(trace.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

int freePort()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

ScriptedLine::ScriptedLine(Kind kind, bool isig) : kind_(kind)
{
    if (pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    if (kind == Tcp) {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        struct sockaddr_in address;
        memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listen_ < 0 ||
            bind(listen_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            listen(listen_, 4) != 0 ||
            getsockname(listen_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            throw std::runtime_error("listen");
        port_ = ntohs(address.sin_port);
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
    cfmakeraw(&line);
    cfsetispeed(&line, B19200);
    cfsetospeed(&line, B19200);
    line.c_cflag |= CSTOPB;
    if (isig)
        line.c_lflag |= ISIG;
    if (tcsetattr(slave_, TCSANOW, &line) != 0)
        throw std::runtime_error("tcsetattr " + slave);
    device_ = devicePath();
    if (symlink(slave.c_str(), device_.c_str()) != 0)
        throw std::runtime_error("symlink " + device_);
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

void ScriptedLine::on(const std::string &request, const std::vector<std::string> &answers)
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
            const std::string &answer =
                rule.answers.at(std::min(rule.next, rule.answers.size() - 1));
            rule.next++;
            send(answer);
            pending_.clear();
            break;
        }
    }
}

void ScriptedLine::send(const std::string &bytes)
{
    int link = kind_ == Pty ? master_ : connection_;
    if (link < 0 || bytes.empty())
        return;
    ssize_t sent = kind_ == Tcp ? ::send(link, bytes.data(), bytes.size(), MSG_NOSIGNAL)
                                : write(link, bytes.data(), bytes.size());
    if (sent != static_cast<ssize_t>(bytes.size()))
        ADD_FAILURE() << "the scripted line could not send";
}

}  // namespace protocol
