#include "tests/support/systemlog.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace support {

namespace {

// $0 is the log's directory, which holds the socket "log".
const char namespaceScript[] =
    "mkdir \"$0/dev\" && mount --rbind /dev \"$0/dev\" && mount -t tmpfs -o mode=0755 none /dev "
    "&& ln -s \"$0\"/dev/* /dev/ && rm -f /dev/log && : >/dev/log && "
    "mount --bind \"$0/log\" /dev/log && exec \"$@\"";

LogLine parse(const std::string &datagram)
{
    LogLine line;
    size_t close = datagram.find('>');
    // "<14>Dec  8 14:30:22 markfeed[28398]: start ..."
    size_t tagEnd = datagram.find("]: ");
    if (datagram[0] != '<' || close == std::string::npos || tagEnd == std::string::npos) {
        line.text = datagram;
        return line;
    }
    line.priority = std::stoi(datagram.substr(1, close - 1));
    size_t tagStart = datagram.rfind(' ', tagEnd) + 1;
    line.tag = datagram.substr(tagStart, tagEnd + 1 - tagStart);
    line.text = datagram.substr(tagEnd + 3);
    return line;
}

}  // namespace

LogFields fieldsOf(const std::string &text)
{
    LogFields fields;
    size_t at = text.find(' ');
    fields.word = text.substr(0, at);
    while (at != std::string::npos && at < text.size()) {
        size_t equals = text.find('=', at + 1);
        if (equals == std::string::npos)
            break;
        std::string key = text.substr(at + 1, equals - at - 1), value;
        at = equals + 1;
        bool quoted = at < text.size() && text[at] == '"';
        for (at += quoted; at < text.size() && (quoted ? text[at] != '"' : text[at] != ' '); at++)
            value += text[at] == '\\' && quoted ? text[++at] : text[at];
        at += quoted;
        fields.values[key] = value;
    }
    return fields;
}

SystemLog::SystemLog()
{
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::string path = dir_.file("log");
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (socket_ < 0 ||
        bind(socket_, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0 ||
        pipe2(wake_, O_CLOEXEC) != 0)
        throw std::runtime_error("log socket");
    // A full queue would hold the program at its next line.
    thread_ = std::thread([this] { drain(); });
}

SystemLog::~SystemLog()
{
    if (write(wake_[1], "x", 1) < 0) {
    }
    thread_.join();
    for (int fd : {socket_, wake_[0], wake_[1]})
        close(fd);
}

bool SystemLog::available()
{
    static const bool can = canMount("mount -t tmpfs none /dev");
    return can;
}

RunOptions SystemLog::around(RunOptions options) const
{
    return inMountNamespace(options, namespaceScript, dir_.path());
}

void SystemLog::drain()
{
    for (;;) {
        struct pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || fds[1].revents != 0)
            return;
        char datagram[2048];
        ssize_t got = recv(socket_, datagram, sizeof datagram, 0);
        if (got <= 0)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(parse(std::string(datagram, static_cast<size_t>(got))));
    }
}

std::vector<LogLine> SystemLog::lines(size_t count, double seconds)
{
    Timer timer;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (lines_.size() >= count || timer.seconds() >= seconds)
                return lines_;
        }
        usleep(20000);
    }
}

}  // namespace support
