#include "tests/support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace support {

namespace {

// Everything the child needs is made before fork: the child of a threaded
// test may call nothing that takes a lock.
struct Launch {
    Strings words, env;
    std::vector<char *> argv, envp;
};

void pointers(Strings &from, std::vector<char *> &to)
{
    for (std::string &word : from)
        to.push_back(&word[0]);
    to.push_back(nullptr);
}

// markfeed's system log: off unless a test asks for it, so that the suite
// never writes to the log of the machine it runs on.
const char logVariable[] = "MARKFEED_SYSLOG";

void prepare(const RunOptions &options, Launch &launch)
{
    launch.words = options.command;
    launch.words.insert(launch.words.end(), options.args.begin(), options.args.end());
    bool logAsked = options.env.count(logVariable) != 0 ||
                    std::count(options.unsetenv.begin(), options.unsetenv.end(), logVariable) != 0;
    for (char **entry = environ; *entry != nullptr; entry++) {
        std::string name(*entry, std::strchr(*entry, '=') - *entry);
        if (options.env.count(name) == 0 && name != logVariable &&
            std::count(options.unsetenv.begin(), options.unsetenv.end(), name) == 0)
            launch.env.push_back(*entry);
    }
    for (const auto &entry : options.env)
        launch.env.push_back(entry.first + "=" + entry.second);
    if (!logAsked)
        launch.env.push_back(std::string(logVariable) + "=off");
    pointers(launch.words, launch.argv);
    pointers(launch.env, launch.envp);
}

[[noreturn]] void child(const RunOptions &options, Launch &launch, int errors,
                        const std::function<int()> &body)
{
    dup2(errors, 2);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
        _exit(126);
    if (options.user != 0 &&
        (setgroups(0, nullptr) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0))
        _exit(124);
    signal(SIGPIPE, SIG_DFL);
    if (body) {
        environ = launch.envp.data();
        int result = body();
        fflush(stderr);
        _exit(result & 0xff);
    }
    execvpe(launch.argv[0], launch.argv.data(), launch.envp.data());
    _exit(127);
}

}  // namespace

Process::Process(const RunOptions &options, const std::function<int()> &body)
{
    Launch launch;
    prepare(options, launch);
    int err[2], in[2], out[2];
    if (pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    if (options.closedErrors) {
        close(err[0]);
        err[0] = -1;
    }
    if (options.input == RunOptions::Terminal) {
        struct winsize size = {24, 80, 0, 0};
        pid_ = forkpty(&out_, nullptr, nullptr, &size);
        if (pid_ == 0)
            child(options, launch, err[1], body);
        fcntl(out_, F_SETFD, FD_CLOEXEC);
        in_ = fcntl(out_, F_DUPFD_CLOEXEC, 0);
    } else {
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        if (write(in[1], options.keys.data(), options.keys.size()) < 0)
            throw std::runtime_error("keys");
        int input = options.input == RunOptions::File
                        ? open(options.inputfile.c_str(), O_RDONLY | O_CLOEXEC)
                        : in[0];
        pid_ = fork();
        if (pid_ == 0) {
            // A body runs on in this process: its input must see an end.
            close(in[1]);
            if (input < 0 || dup2(input, 0) < 0 || dup2(out[1], 1) < 0 || setsid() < 0)
                _exit(125);
            child(options, launch, err[1], body);
        }
        if (input != in[0] && input >= 0)
            close(input);
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    close(err[1]);
    err_ = err[0];
    if (pid_ < 0)
        throw std::runtime_error("fork");
}

Process::~Process()
{
    if (!ended_) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_})
        if (fd >= 0)
            close(fd);
}

void Process::pump(int milliseconds)
{
    struct pollfd fds[2] = {{err_, POLLIN, 0}, {out_, POLLIN, 0}};
    if (poll(fds, 2, milliseconds) <= 0)
        return;
    std::string *into[2] = {&errors_, &output_};
    for (int i = 0; i < 2; i++) {
        char buffer[4096];
        ssize_t got = fds[i].revents != 0 ? read(fds[i].fd, buffer, sizeof buffer) : 0;
        if (got > 0)
            into[i]->append(buffer, static_cast<size_t>(got));
    }
}

bool Process::until(const std::function<bool()> &done, double seconds)
{
    Timer timer;
    while (!done()) {
        if (timer.seconds() > seconds)
            return false;
        pump(20);
    }
    return true;
}

bool Process::waitFor(const std::string &text, double seconds, int count)
{
    return until([&] { return occurrences(errors_, text) >= count; }, seconds);
}

bool Process::waitForOutput(const std::string &text, double seconds)
{
    return until([&] { return output_.find(text) != std::string::npos; }, seconds);
}

void Process::type(const std::string &keys)
{
    if (write(in_, keys.data(), keys.size()) < 0)
        throw std::runtime_error("type");
}

void Process::closeInput()
{
    close(in_);
    in_ = -1;
}

int Process::wait(double seconds)
{
    if (!until([&] { return !running(); }, seconds)) {
        ::kill(pid_, SIGKILL);
        wait4(pid_, nullptr, 0, &usage_);
        ended_ = true;
        status_ = -1;
    }
    // Collect what is still in the pipes.
    for (int i = 0; i < 5; i++)
        pump(10);
    return status_;
}

void Process::idle(double seconds)
{
    until([] { return false; }, seconds);
}

bool Process::running()
{
    int status;
    if (ended_ || wait4(pid_, &status, WNOHANG, &usage_) != pid_)
        return !ended_;
    ended_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

void Process::kill(int signal)
{
    ::kill(pid_, signal);
}

std::string Process::errors()
{
    pump(0);
    return errors_;
}

std::string Process::output()
{
    pump(0);
    return output_;
}

Strings messages(const std::string &errors)
{
    Strings lines;
    size_t start = 0;
    while (start <= errors.size()) {
        size_t end = std::min(errors.find('\r', start), errors.size());
        std::string piece = errors.substr(start, end - start);
        size_t first = piece.find_first_not_of(' ');
        if (first != std::string::npos)
            lines.push_back(piece.substr(first, piece.find_last_not_of(' ') - first + 1));
        start = end + 1;
    }
    return lines;
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
    return row.substr(0, row.find_last_not_of(' ') + 1);
}

::testing::AssertionResult shows(Process &station, const std::string &text, int count,
                                 double seconds)
{
    if (station.waitFor(text, seconds, count))
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    failure << "\"" << text << "\" not shown " << count << " time(s); shown:";
    for (const std::string &line : messages(station.errors()))
        failure << "\n  " << line;
    return failure;
}

::testing::AssertionResult waitsAt(Process &station, const std::string &text, double seconds)
{
    ::testing::AssertionResult shown = shows(station, text, 1, seconds);
    if (!shown)
        return shown;
    station.idle(0.3);
    if (station.running())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "went on after \"" << text << "\" without a key";
}

RunOptions inMountNamespace(RunOptions options, const std::string &script, const std::string &arg)
{
    options.command.insert(options.command.begin(),
                           {"/usr/bin/unshare", "-m", "/bin/sh", "-c", script, arg});
    return options;
}

bool canMount(const std::string &script)
{
    RunOptions options = withInput(RunOptions::File);
    options.command = {"/bin/true"};
    return Process(inMountNamespace(options, script + " && exec \"$@\"", "")).wait(10) == 0;
}

RunOptions withInput(RunOptions::Input input)
{
    RunOptions options;
    options.input = input;
    return options;
}

LockHolder::LockHolder(const std::string &path, off_t offset)
    : holder_(withInput(RunOptions::Pipe), [&path, offset] {
          int fd = open(path.c_str(), O_RDWR | O_CREAT, 0666);
          if (fd < 0 || lseek(fd, offset, SEEK_SET) != offset || lockf(fd, F_LOCK, 1) != 0)
              return 1;
          fputs("locked", stderr);
          // Held until the test closes the input or ends.
          char byte;
          while (read(0, &byte, 1) > 0) {
          }
          return 0;
      })
{
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

std::string Pane::tmux()
{
    for (const char *dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        std::string path = std::string(dir) + "/tmux";
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return "";
}

Pane::Pane(const TempDir &dir, const std::string &term, int columns, int rows)
    : socket_(dir.file(".tmux")), bytes_(dir.file(".pane"))
{
    // ENV empty: an interactive sh reads no start-up file.
    std::string shell = "env TERM=" + term + " PS1='$ ' ENV= /bin/sh";
    if (run({"new-session", "-d", "-x", std::to_string(columns), "-y", std::to_string(rows), "-c",
             dir.path(), shell}) != 0 ||
        run({"pipe-pane", "-O", "cat >'" + bytes_ + "'"}) != 0)
        throw std::runtime_error("tmux");
}

Pane::~Pane()
{
    run({"kill-server"});
}

int Pane::run(const Strings &args, std::string *output)
{
    RunOptions options = withInput(RunOptions::File);
    options.command = {tmux(), "-f", "/dev/null", "-S", socket_};
    options.args = args;
    options.unsetenv = {"TMUX"};
    Process tmux(options);
    int status = tmux.wait(10);
    if (output != nullptr)
        *output = tmux.output();
    return status;
}

void Pane::type(const std::string &line)
{
    run({"send-keys", "-l", line});
    press("Enter");
}

void Pane::press(const std::string &key)
{
    run({"send-keys", key});
}

Strings Pane::screen()
{
    std::string text;
    run({"capture-pane", "-p", "-S", "-"}, &text);
    Strings rows;
    std::istringstream lines(text);
    for (std::string row; std::getline(lines, row);)
        rows.push_back(row.erase(row.find_last_not_of(' ') + 1));
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    return rows;
}

namespace {

bool poll(const std::function<bool()> &done, double seconds)
{
    Timer timer;
    while (!done()) {
        if (timer.seconds() > seconds)
            return false;
        usleep(50 * 1000);
    }
    return true;
}

}  // namespace

bool Pane::waitForRow(const std::string &start, double seconds)
{
    return poll(
        [&] {
            for (const std::string &row : screen())
                if (row.rfind(start, 0) == 0)
                    return true;
            return false;
        },
        seconds);
}

std::string Pane::bytes(const std::string &text, double seconds)
{
    std::string bytes;
    poll([&] { return (bytes = readFile(bytes_)).find(text) != std::string::npos; }, seconds);
    return bytes;
}

}  // namespace support
