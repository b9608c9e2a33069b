#include "station.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace harness {

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void childexec(const RunOptions &options, int errwrite)
{
    dup2(errwrite, 2);
    close(errwrite);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
        _exit(126);
    for (const auto &name : options.unsetenv)
        ::unsetenv(name.c_str());
    for (const auto &entry : options.env)
        setenv(entry.first.c_str(), entry.second.c_str(), 1);
    std::string program = options.program.empty() ? markfeedPath() : options.program;
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &arg : options.args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execv(program.c_str(), argv.data());
    _exit(127);
}

}  // namespace

Station::Station(const RunOptions &options)
{
    int errpipe[2];
    if (pipe(errpipe) != 0)
        throw std::runtime_error("pipe");
    if (options.input == RunOptions::Terminal) {
        struct winsize size = {24, 80, 0, 0};
        pid_ = forkpty(&terminal_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            close(errpipe[0]);
            childexec(options, errpipe[1]);
        }
    } else {
        int outpipe[2];
        if (pipe(outpipe) != 0)
            throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            close(errpipe[0]);
            close(outpipe[0]);
            int input = open(options.inputfile.c_str(), O_RDONLY);
            if (input < 0)
                _exit(125);
            dup2(input, 0);
            dup2(outpipe[1], 1);
            setsid();  // no controlling terminal, as when the host starts it
            childexec(options, errpipe[1]);
        }
        close(outpipe[1]);
        terminal_ = outpipe[0];
    }
    if (pid_ < 0)
        throw std::runtime_error("fork");
    close(errpipe[1]);
    errpipe_ = errpipe[0];
}

Station::~Station()
{
    if (!ended_) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0)
        close(terminal_);
    if (errpipe_ >= 0)
        close(errpipe_);
}

void Station::pump(int milliseconds)
{
    struct pollfd fds[2] = {{errpipe_, POLLIN, 0}, {terminal_, POLLIN, 0}};
    if (poll(fds, 2, milliseconds) <= 0)
        return;
    char buffer[4096];
    if (fds[0].revents & (POLLIN | POLLHUP)) {
        ssize_t got = read(errpipe_, buffer, sizeof buffer);
        if (got > 0)
            errors_.append(buffer, static_cast<size_t>(got));
    }
    if (fds[1].revents & (POLLIN | POLLHUP)) {
        ssize_t got = read(terminal_, buffer, sizeof buffer);
        if (got > 0)
            output_.append(buffer, static_cast<size_t>(got));
    }
}

bool Station::waitFor(const std::string &text, double seconds)
{
    return waitForCount(text, 1, seconds);
}

bool Station::waitForCount(const std::string &text, int count, double seconds)
{
    auto start = Clock::now();
    for (;;) {
        int found = 0;
        for (size_t at = errors_.find(text); at != std::string::npos;
             at = errors_.find(text, at + 1))
            found++;
        if (found >= count)
            return true;
        if (since(start) > seconds)
            return false;
        pump(50);
    }
}

void Station::type(const std::string &keys)
{
    if (write(terminal_, keys.data(), keys.size()) < 0)
        throw std::runtime_error("type");
}

int Station::wait(double seconds)
{
    auto start = Clock::now();
    while (running()) {
        if (since(start) > seconds) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            ended_ = true;
            status_ = -1;
            break;
        }
        pump(20);
    }
    // Collect what is still in the pipes.
    for (int i = 0; i < 5; i++)
        pump(10);
    return status_;
}

void Station::idle(double seconds)
{
    auto start = Clock::now();
    while (since(start) < seconds)
        pump(20);
}

bool Station::running()
{
    if (ended_)
        return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) != pid_)
        return true;
    ended_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

void Station::kill(int signal)
{
    ::kill(pid_, signal);
}

std::string Station::errors()
{
    pump(0);
    return errors_;
}

std::string Station::output()
{
    pump(0);
    return output_;
}

std::vector<std::string> messages(const std::string &errors)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= errors.size()) {
        size_t end = errors.find('\r', start);
        std::string piece =
            errors.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t first = piece.find_first_not_of(' ');
        size_t last = piece.find_last_not_of(' ');
        if (first != std::string::npos)
            lines.push_back(piece.substr(first, last - first + 1));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

std::string markfeedPath()
{
    return MARKFEED_PATH;
}

std::string scannersimPath()
{
    return SCANNERSIM_PATH;
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/markfeed-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0)
        return;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

}  // namespace harness
