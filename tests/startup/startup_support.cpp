#include "startup_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace startup {

using Clock = std::chrono::steady_clock;

Pty::Pty()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("posix_openpt");
    slavepath_ = ptsname(master_);
    slave_ = open(slavepath_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0)
        throw std::runtime_error("open " + slavepath_);
}

Pty::~Pty()
{
    close(slave_);
    close(master_);
}

std::string Pty::drain(int milliseconds)
{
    std::string got;
    struct pollfd fd = {master_, POLLIN, 0};
    while (poll(&fd, 1, milliseconds) > 0 && (fd.revents & POLLIN)) {
        char buffer[512];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<size_t>(n));
        milliseconds = 0;
    }
    return got;
}

void Pty::send(const std::string &bytes)
{
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("write to pty master");
}

void makePtsDirs(const std::string &dir)
{
    mkdir((dir + "/d_pts").c_str(), 0777);
    mkdir((dir + "/LOCK_pts").c_str(), 0777);
}

std::string ptsCfgPath(const std::string &dir, const Pty &pty)
{
    // /dev/pts/N without its first five characters is pts/N.
    return dir + "/d_" + pty.slavePath().substr(5) + ".cfg";
}

const std::vector<int> builtInSettings = {
    0x04, 0x0D, 0x0A, 0x72, 0x0E, 0x11, 0x11, 0x73, 0x30, 0x31, 0x32,  0x65, 0x1C, 0x1D, 0x12,
    0x31, 0x32, 0x15, 0x14, 0x13, 0x19, 0x0D, 0,    0x33, 0x1B, 19200, 7,    2,    2,    1};

std::string cfgText(const std::vector<std::pair<int, long>> &changes)
{
    std::vector<long> values(builtInSettings.begin(), builtInSettings.end());
    for (const auto &change : changes)
        values.at(static_cast<size_t>(change.first - 1)) = change.second;
    std::string text;
    for (long value : values)
        text += std::to_string(value) + "\n";
    return text;
}

LineRun runOnLine(const harness::TempDir &dir, Pty &pty, const std::vector<std::string> &args,
                  const std::string &answer, const std::string &request, double limit)
{
    makePtsDirs(dir.path());
    harness::RunOptions options;
    options.cwd = dir.path();
    options.input = harness::RunOptions::File;
    options.args = args;
    LineRun run;
    harness::Station station(options);
    auto start = Clock::now();
    Clock::time_point asked;
    while (std::chrono::duration<double>(Clock::now() - start).count() < limit) {
        run.line += pty.drain(20);
        station.errors();
        if (run.line.find(request) != std::string::npos) {
            run.requested = true;
            asked = Clock::now();
            if (!answer.empty())
                pty.send(answer);
            break;
        }
        if (!running(station.pid()))
            break;
    }
    run.status = station.wait(limit);
    if (run.requested)
        run.secondsAfterRequest = std::chrono::duration<double>(Clock::now() - asked).count();
    run.line += pty.drain(0);
    run.errors = station.errors();
    run.trace = harness::readFile(dir.file("scantest.log"));
    return run;
}

QuickRun quickRun(const harness::TempDir &dir, const std::vector<std::string> &args)
{
    harness::RunOptions options;
    options.cwd = dir.path();
    options.input = harness::RunOptions::File;
    options.args = args;
    harness::Station station(options);
    QuickRun run;
    run.status = station.wait(20);
    run.errors = station.errors();
    run.trace = harness::readFile(dir.file("scantest.log"));
    return run;
}

std::string filePaths(const std::string &trace)
{
    size_t end = trace.find("\n\n");
    return trace.substr(0, end == std::string::npos ? std::string::npos : end + 1);
}

std::string dumpAfter(const std::string &trace, const std::string &heading)
{
    size_t at = trace.find(heading);
    if (at == std::string::npos)
        return "(no " + heading + ")";
    at += heading.size();
    size_t end = trace.find("\n\n", at);
    return trace.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

LockHolder::LockHolder(const std::string &path, off_t offset)
{
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0)
        throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        close(ready[0]);
        close(release[1]);
        int fd = open(path.c_str(), O_RDWR | O_CREAT, 0666);
        char ok = 'n';
        if (fd >= 0 && lseek(fd, offset, SEEK_SET) == offset && lockf(fd, F_LOCK, 1) == 0)
            ok = 'y';
        if (write(ready[1], &ok, 1) != 1)
            _exit(1);
        char byte;
        while (read(release[0], &byte, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = 'n';
    holding_ = read(ready[0], &ok, 1) == 1 && ok == 'y';
    close(ready[0]);
}

LockHolder::~LockHolder()
{
    close(release_);
    waitpid(pid_, nullptr, 0);
}

bool byteLocked(const std::string &path, off_t offset)
{
    int fd = open(path.c_str(), O_RDWR);
    if (fd < 0)
        return false;
    bool locked = lseek(fd, offset, SEEK_SET) == offset && lockf(fd, F_TEST, 1) != 0 &&
                  (errno == EACCES || errno == EAGAIN);
    close(fd);
    return locked;
}

bool running(pid_t pid)
{
    siginfo_t info = {};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return false;
    return info.si_pid == 0;
}

std::string screenRow(const std::string &errors)
{
    std::string row;
    size_t column = 0;
    for (char c : errors) {
        if (c == '\r') {
            column = 0;
            continue;
        }
        if (column >= row.size())
            row.resize(column + 1, ' ');
        row[column++] = c;
    }
    size_t last = row.find_last_not_of(' ');
    return last == std::string::npos ? "" : row.substr(0, last + 1);
}

int mode(const std::string &path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 07777);
}

}  // namespace startup
