// The scanner's thread: polls the link, splits the input into frames,
// lets the machine act on them and sends its answers on time.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "scannersim/frames.h"
#include "scannersim/machine.h"
#include "scannersim/scannersim.h"
#include "scannersim/transcript.h"
#include "scannersim/transport.h"

namespace scannersim {

class Engine {
public:
    explicit Engine(const Options &options);
    ~Engine();

    bool setUp(std::string *error);  // transport, files, wake pipe
    void run();                      // the thread body; returns on stop
    void requestStop();
    void requestRefill(const std::vector<DeckEntry> &entries);  // any thread
    void finish();  // after run(): last sheet, close files

    std::string device() const { return pty_.path(); }
    int port() const { return tcp_.port(); }

    // Everything below is guarded by mu_ and safe from any thread.
    std::vector<Frame> frames() const;
    std::vector<Frame> answers() const;
    std::vector<Sheet> sheets() const;
    std::string formDefinition() const;
    std::string runtimeLine() const;
    char mode() const;
    bool lineSeen(LineSettings *out) const;
    bool waitForFrames(const std::string &name, size_t count, int timeoutMs) const;

private:
    // A byte on the line: when it is due out, or due in to the scanner.
    struct TimedByte {
        char byte;
        double due;
    };

    double now() const;
    int linkFd() const;
    void readLink(double t);
    void takeInput(double t);  // the received bytes whose time has come
    void handle(const RawFrame &raw, double t);
    void record(const Effects &fx);
    void queueAnswer(const Answer &answer, double t);
    bool lineIsRight();
    void flushOutput(double t);
    double pollTimeout(double t) const;
    void hangUp(const std::string &why);
    void saveFile(const char *name, const std::string &bytes);
    void note(const std::string &text);
    bool takeWakeUp();  // false when a stop was asked for

    Options options_;
    Machine machine_;
    FrameParser parser_;
    PtyLink pty_;
    TcpLink tcp_;
    LineFile transcript_;
    LineFile sheetsFile_;
    int wake_[2] = {-1, -1};
    std::deque<TimedByte> out_;
    std::deque<TimedByte> in_;  // received, still on the line (--pace)
    bool writeBlocked_ = false;
    long bytesIn_ = 0;  // on this connection
    double lastInput_ = 0;
    double start_ = 0;
    std::string lastSeenText_;

    mutable std::mutex mu_;
    mutable std::condition_variable changed_;
    std::vector<Frame> frames_;
    std::vector<Frame> answers_;
    SeenLine seen_;
    bool seenValid_ = false;
    std::vector<DeckEntry> refill_;  // waiting for the scanner's thread
    bool refillAsked_ = false;
};

}  // namespace scannersim
