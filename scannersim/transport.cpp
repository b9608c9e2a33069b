#include "scannersim/transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace scannersim {

namespace {

speed_t speedCode(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B19200;
    }
}

// Raw, at the scanner's own speed and framing (size and parity are kept
// as asked, though a pty reports CS8 and no PARENB whatever is asked).
bool makeRaw(int fd, const LineSettings &line)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetispeed(&t, speedCode(line.baud));
    cfsetospeed(&t, speedCode(line.baud));
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= CREAD | CLOCAL | (line.size == 7 ? CS7 : CS8);
    if (line.parity != 'N')
        t.c_cflag |= PARENB;
    if (line.parity == 'O')
        t.c_cflag |= PARODD;
    if (line.stops == 2)
        t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool makeLink(const std::string &link, const std::string &target, std::string *error)
{
    if (::unlink(link.c_str()) != 0 && errno != ENOENT) {
        *error = link + ": " + std::strerror(errno);
        return false;
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        *error = link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string fail(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

bool PtyLink::open(const LineSettings &line, const std::string &link, std::string *error)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0)
        return *error = fail("posix_openpt"), false;
    char name[PATH_MAX];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        *error = fail("pseudo-terminal");
        close();
        return false;
    }
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0 || !makeRaw(master_, line)) {
        *error = fail(name);
        close();
        return false;
    }
    if (!link.empty() && !makeLink(link, path_, error)) {
        close();
        return false;
    }
    link_ = link;
    return true;
}

void PtyLink::close()
{
    // Take the link away only while it still names this pty.
    if (!link_.empty()) {
        char target[PATH_MAX];
        ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && path_ == std::string(target, size_t(n)))
            ::unlink(link_.c_str());
        link_.clear();
    }
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
}

void PtyLink::awaitRead(double seconds) const
{
    for (int waited = 0; waited < int(seconds * 100); ++waited) {
        int pending = 0;
        if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &pending) != 0 || pending == 0)
            return;
        ::usleep(10000);
    }
}

bool PtyLink::seen(SeenLine *out) const
{
    struct termios t;
    if (master_ < 0 || tcgetattr(master_, &t) != 0)
        return false;
    *out = lineFromTermios(t);
    return true;
}

bool TcpLink::listen(int port, std::string *error)
{
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_ < 0)
        return *error = fail("socket"), false;
    int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listen_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(listen_, 4) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        *error = fail(("127.0.0.1:" + std::to_string(port)).c_str());
        close();
        return false;
    }
    port_ = ntohs(addr.sin_port);
    return true;
}

bool TcpLink::accept(std::string *peer)
{
    struct sockaddr_in addr;
    socklen_t len = sizeof addr;
    int fd =
        ::accept4(listen_, reinterpret_cast<sockaddr *>(&addr), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return false;
    conn_ = fd;
    // Paced answers go out a byte at a time; without this each byte after
    // the first would wait for the host's delayed acknowledgement.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    *peer = std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
    return true;
}

void TcpLink::hangUp()
{
    if (conn_ >= 0)
        ::close(conn_);
    conn_ = -1;
}

void TcpLink::close()
{
    hangUp();
    if (listen_ >= 0)
        ::close(listen_);
    listen_ = -1;
}

long writeSome(int fd, bool socket, const char *data, size_t size)
{
    for (;;) {
        ssize_t n = socket ? ::send(fd, data, size, MSG_NOSIGNAL) : ::write(fd, data, size);
        if (n >= 0)
            return long(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

}  // namespace scannersim
