#include "sim_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#ifndef SCANNERSIM_PROGRAM
#error "SCANNERSIM_PROGRAM must name the program under test"
#endif

namespace simtest {

namespace {

speed_t speedCode(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 9600: return B9600;
    case 38400: return B38400;
    default: return B19200;
    }
}

bool waitReadable(int fd, double seconds)
{
    struct pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, int(seconds * 1000)) > 0;
}

}  // namespace

double nowSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool setLine(int fd, int baud, int stops)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetispeed(&t, speedCode(baud));
    cfsetospeed(&t, speedCode(baud));
    if (stops == 2)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~tcflag_t(CSTOPB);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

int openDevice(const std::string &path, int baud, int stops)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    setLine(fd, baud, stops);
    return fd;
}

int connectTcp(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void sendBytes(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

std::string readRecord(int fd, double seconds)
{
    std::string got;
    while (waitReadable(fd, seconds)) {
        char c;
        if (::read(fd, &c, 1) != 1)
            break;
        got.push_back(c);
        if (got.size() >= 2 && got.compare(got.size() - 2, 2, "\r\n") == 0)
            break;
    }
    return got;
}

std::string readFor(int fd, double seconds)
{
    std::string got;
    double end = nowSeconds() + seconds;
    for (double left = seconds; left > 0; left = end - nowSeconds()) {
        if (!waitReadable(fd, left))
            break;
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, size_t(n));
    }
    return got;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string tempDir()
{
    char name[] = "/tmp/simtest.XXXXXX";
    const char *made = ::mkdtemp(name);
    return made != nullptr ? made : "/tmp";
}

Program::Program(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return;
    std::vector<char *> envp;
    // Ours first: the first of two equal names is the one a program sees.
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    for (char **e = environ; *e != nullptr; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);
    std::string program = SCANNERSIM_PROGRAM;
    std::vector<char *> argv;
    argv.push_back(&program[0]);
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        // Everything was prepared before fork: the child of a threaded test
        // may call nothing that takes locks.
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    std::string line;
    while (waitReadable(out_, 5.0)) {
        char c;
        if (::read(out_, &c, 1) != 1)
            break;
        if (c != '\n') {
            line.push_back(c);
            continue;
        }
        if (line == "ready") {
            ready_ = true;
            break;
        }
        banner_ += line + "\n";
        line.clear();
    }
}

Program::~Program()
{
    if (pid_ > 0)
        stop(SIGKILL);
    if (out_ >= 0)
        ::close(out_);
    if (err_ >= 0)
        ::close(err_);
}

int Program::stop(int signal)
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, signal);
    return wait();
}

int Program::wait()
{
    if (pid_ <= 0)
        return -1;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (done < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string Program::stderrText() const
{
    return readFor(err_, 0.2);
}

std::string Program::stdoutText() const
{
    return readFor(out_, 0.2);
}

std::string bannerValue(const std::string &banner, const std::string &key)
{
    std::istringstream in(banner);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 2, key + ": ") == 0)
            return line.substr(key.size() + 2);
    return "";
}

}  // namespace simtest
