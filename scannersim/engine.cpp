#include "scannersim/engine.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>

#include "scannersim/wire.h"

namespace scannersim {

namespace {

// A frame left unfinished this long is given up, so that a host that died
// mid-frame does not leave the scanner deaf to the next one.
constexpr double ABANDON_SECONDS = 3.0;
// Older history is dropped past this, so a scanner left running for days
// does not grow without bound.
constexpr size_t MAX_HISTORY = 200000;
// What a byte on the wake-up pipe asks of the scanner's thread.
constexpr char WAKE_STOP = 's';
constexpr char WAKE_REFILL = 'r';

void trimHistory(std::vector<Frame> *list)
{
    if (list->size() > MAX_HISTORY)
        list->erase(list->begin(), list->begin() + long(MAX_HISTORY / 2));
}

}  // namespace

Engine::Engine(const Options &options)
    : options_(options), machine_(options), parser_(options.codes)
{
    start_ = now();
}

Engine::~Engine()
{
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

double Engine::now() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count() - start_;
}

bool Engine::setUp(std::string *error)
{
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = "pipe failed";
        return false;
    }
    if (!options_.transcriptFile.empty() && !transcript_.open(options_.transcriptFile, error))
        return false;
    if (!options_.sheetsFile.empty() && !sheetsFile_.open(options_.sheetsFile, error))
        return false;
    if (options_.transport == Transport::Tcp)
        return tcp_.listen(options_.tcpPort, error);
    return pty_.open(options_.line, options_.link, error);
}

void Engine::requestStop()
{
    if (::write(wake_[1], &WAKE_STOP, 1) < 0) {
        // The pipe is full only if a stop is already pending.
    }
}

void Engine::requestRefill(const std::vector<DeckEntry> &entries)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        refill_.insert(refill_.end(), entries.begin(), entries.end());
        refillAsked_ = true;
    }
    if (::write(wake_[1], &WAKE_REFILL, 1) < 0) {
        // A full pipe already holds a wake-up that will take the refill.
    }
}

bool Engine::takeWakeUp()
{
    char bytes[64];
    bool stop = false;
    ssize_t n;
    while ((n = ::read(wake_[0], bytes, sizeof bytes)) > 0)
        stop = stop || std::find(bytes, bytes + n, WAKE_STOP) != bytes + n;
    if (stop)
        return false;
    std::vector<std::string> notes;
    {
        // The machine changes on this thread only; record() relies on it.
        std::lock_guard<std::mutex> lock(mu_);
        if (refillAsked_)
            machine_.refill(refill_, &notes);
        refill_.clear();
        refillAsked_ = false;
    }
    for (const std::string &text : notes)
        note(text);
    return true;
}

int Engine::linkFd() const
{
    return options_.transport == Transport::Tcp ? tcp_.fd() : pty_.fd();
}

void Engine::run()
{
    for (;;) {
        struct pollfd fds[2];
        fds[0] = {wake_[0], POLLIN, 0};
        int count = 1;
        int fd = linkFd();
        if (fd >= 0) {
            short events = POLLIN;
            if (writeBlocked_)
                events |= POLLOUT;
            fds[count++] = {fd, events, 0};
        } else if (options_.transport == Transport::Tcp) {
            fds[count++] = {tcp_.listenFd(), POLLIN, 0};
        }
        double timeout = pollTimeout(now());
        struct timespec ts;
        ts.tv_sec = time_t(timeout);
        ts.tv_nsec = long((timeout - double(ts.tv_sec)) * 1e9);
        int ready = ::ppoll(fds, nfds_t(count), timeout < 0 ? nullptr : &ts, nullptr);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0 && !takeWakeUp())
            return;
        double t = now();
        if (count == 2 && fds[1].revents != 0) {
            if (fds[1].fd == tcp_.listenFd()) {
                std::string peer;
                if (tcp_.accept(&peer)) {
                    bytesIn_ = 0;
                    note("connection from " + peer);
                }
            } else {
                writeBlocked_ = false;
                if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
                    readLink(t);
            }
        }
        takeInput(now());
        if (parser_.partial() && t - lastInput_ >= ABANDON_SECONDS) {
            std::vector<RawFrame> frames;
            parser_.abandon(&frames);
            for (const RawFrame &raw : frames)
                handle(raw, t);
        }
        flushOutput(now());
    }
}

double Engine::pollTimeout(double t) const
{
    double timeout = -1;
    if (!out_.empty() && !writeBlocked_)
        timeout = std::max(0.0, out_.front().due - t);
    if (!in_.empty()) {
        double next = std::max(0.0, in_.front().due - t);
        timeout = timeout < 0 ? next : std::min(timeout, next);
    }
    if (parser_.partial()) {
        double left = std::max(0.0, lastInput_ + ABANDON_SECONDS - t);
        timeout = timeout < 0 ? left : std::min(timeout, left);
    }
    return timeout;
}

void Engine::readLink(double t)
{
    char buf[4096];
    ssize_t n = ::read(linkFd(), buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        // A pty never gets here while we hold the slave; a socket does at EOF.
        // What was sent before the hang-up still arrives.
        takeInput(std::numeric_limits<double>::infinity());
        hangUp("connection closed");
        return;
    }
    // Paced, each character reaches the scanner only after its time on the
    // line, one after another, as on a real serial line.
    double step = options_.pace ? charSeconds(options_.line) : 0;
    for (ssize_t i = 0; i < n; ++i) {
        double due = step > 0 ? std::max(t, in_.empty() ? t : in_.back().due) + step : t;
        in_.push_back(TimedByte{buf[i], due});
    }
    takeInput(t);
}

void Engine::takeInput(double t)
{
    while (!in_.empty() && in_.front().due <= t) {
        TimedByte in = in_.front();
        in_.pop_front();
        lastInput_ = std::min(in.due, t);
        std::vector<RawFrame> frames;
        parser_.feed(uint8_t(in.byte), &frames);
        for (const RawFrame &raw : frames)
            handle(raw, lastInput_);
        ++bytesIn_;
        if (options_.dropAfter > 0 && bytesIn_ == options_.dropAfter) {
            flushOutput(now());  // what was already due still goes out
            if (options_.transport == Transport::Pty)
                pty_.awaitRead(2.0);
            hangUp("dropped after " + std::to_string(bytesIn_) + " bytes");
            return;
        }
    }
}

void Engine::handle(const RawFrame &raw, double t)
{
    Effects fx;
    {
        std::lock_guard<std::mutex> lock(mu_);
        machine_.take(raw, t, &fx);
    }
    record(fx);
    // Published after its files are written, so a waiter may read them.
    {
        std::lock_guard<std::mutex> lock(mu_);
        frames_.push_back(fx.frame);
        trimHistory(&frames_);
    }
    changed_.notify_all();
    for (const Answer &answer : fx.answers)
        queueAnswer(answer, t);
}

void Engine::record(const Effects &fx)
{
    transcript_.write(receivedLine(fx.frame));
    for (const std::string &text : fx.notes)
        note(text);
    for (const Sheet &sheet : fx.departed)
        sheetsFile_.write(sheetLine(sheet));
    // The machine is changed on this thread only, so no lock to read it.
    if (fx.newDefinition)
        saveFile("received.dlf", machine_.formDefinition());
    if (fx.newRuntime)
        saveFile("received.rtp", machine_.runtimeLine());
}

void Engine::saveFile(const char *name, const std::string &bytes)
{
    if (options_.saveDir.empty())
        return;
    std::string path = options_.saveDir + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    if (!file)
        note("could not write " + path);
}

bool Engine::lineIsRight()
{
    SeenLine seen;
    bool known = false;
    if (options_.transport == Transport::Pty)
        known = pty_.seen(&seen);
    if (!options_.lineFile.empty() && readLineFile(options_.lineFile, &seen.line)) {
        seen.sizeParityKnown = true;
        known = true;
    }
    if (!known)
        return true;
    {
        std::lock_guard<std::mutex> lock(mu_);
        seen_ = seen;
        seenValid_ = true;
    }
    bool right = lineMatches(options_.line, seen);
    std::string text = seen.sizeParityKnown ? formatLine(seen.line)
                                            : std::to_string(seen.line.baud) + " baud, " +
                                                  std::to_string(seen.line.stops) + " stop bits";
    if (text != lastSeenText_) {
        lastSeenText_ = text;
        note("host line " + text + (right ? " matches " : " does not match ") +
             formatLine(options_.line));
    }
    return right;
}

void Engine::queueAnswer(const Answer &answer, double t)
{
    if (linkFd() < 0)
        return;
    bool right = lineIsRight();
    std::string text = right ? answer.text : garble(answer.text, options_.codes);
    std::string bytes = frameAnswer(text, options_.codes, options_.compress && right);
    std::string detail = answer.detail;
    if (!right)
        detail += detail.empty() ? "garbled" : " garbled";
    transcript_.write(sentLine(answer.name, detail, answer.text, bytes));
    {
        std::lock_guard<std::mutex> lock(mu_);
        answers_.push_back(Frame{answer.name, answer.detail, bytes});
        trimHistory(&answers_);
    }
    double step = options_.charGapMs / 1000.0;
    if (options_.pace)
        step += charSeconds(options_.line);
    double due = t + options_.replyDelayMs / 1000.0 + answer.delay;
    // The first character, too, is there only after its time on the line.
    if (options_.pace)
        due += charSeconds(options_.line);
    if (!out_.empty())
        due = std::max(due, out_.back().due + step);
    for (char byte : bytes) {
        out_.push_back(TimedByte{byte, due});
        due += step;
    }
}

void Engine::flushOutput(double t)
{
    int fd = linkFd();
    if (fd < 0 || writeBlocked_)
        return;
    char buf[4096];
    size_t n = 0;
    for (const TimedByte &b : out_) {
        if (b.due > t || n == sizeof buf)
            break;
        buf[n++] = b.byte;
    }
    if (n == 0)
        return;
    long written = writeSome(fd, options_.transport == Transport::Tcp, buf, n);
    if (written < 0)
        return hangUp("write failed");
    out_.erase(out_.begin(), out_.begin() + written);
    if (size_t(written) < n)
        writeBlocked_ = true;
}

void Engine::hangUp(const std::string &why)
{
    std::vector<RawFrame> frames;
    parser_.abandon(&frames);
    for (const RawFrame &raw : frames)
        handle(raw, now());
    out_.clear();
    in_.clear();
    writeBlocked_ = false;
    bytesIn_ = 0;
    if (options_.transport == Transport::Tcp)
        tcp_.hangUp();
    else
        pty_.close();
    note(why);
}

void Engine::note(const std::string &text)
{
    transcript_.write("# " + text);
}

void Engine::finish()
{
    Sheet sheet;
    bool standing;
    {
        std::lock_guard<std::mutex> lock(mu_);
        standing = machine_.standingSheet(&sheet);
    }
    if (standing)
        sheetsFile_.write(sheetLine(sheet));
    sheetsFile_.close();
    note("stopped");
    transcript_.close();
    tcp_.close();
    pty_.close();
}

std::vector<Frame> Engine::frames() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return frames_;
}

std::vector<Frame> Engine::answers() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return answers_;
}

std::vector<Sheet> Engine::sheets() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return machine_.sheets();
}

std::string Engine::formDefinition() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return machine_.formDefinition();
}

std::string Engine::runtimeLine() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return machine_.runtimeLine();
}

char Engine::mode() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return machine_.mode();
}

bool Engine::lineSeen(LineSettings *out) const
{
    std::lock_guard<std::mutex> lock(mu_);
    if (seenValid_)
        *out = seen_.line;
    return seenValid_;
}

bool Engine::waitForFrames(const std::string &name, size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mu_);
    auto enough = [&] {
        return size_t(std::count_if(frames_.begin(), frames_.end(),
                                    [&](const Frame &f) { return f.name == name; })) >= count;
    };
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), enough);
}

}  // namespace scannersim
