// The scanner's behaviour: modes, replies, the deck and the sheets. Pure
// logic: frames and the time come in, answers and notes go out, so the
// transports and the tests can drive it alike.
#pragma once

#include <string>
#include <vector>

#include "scannersim/frames.h"
#include "scannersim/scannersim.h"
#include "scannersim/status.h"

namespace scannersim {

struct Answer {
    std::string name;    // "LongStatus", "Reply", "Record", ...
    std::string detail;  // for the transcript
    std::string text;    // the record, without CR LF
    double delay = 0;    // seconds to wait before sending (slow feed)
};

struct Effects {
    Frame frame;  // the frame as named
    std::vector<Answer> answers;
    std::vector<std::string> notes;  // events worth a transcript line
    std::vector<Sheet> departed;     // sheets that left the print position
    bool newDefinition = false;
    bool newRuntime = false;
};

class Machine {
public:
    explicit Machine(const Options &options);

    // Names the frame and acts on it at time `now` (seconds, monotonic).
    void take(const RawFrame &raw, double now, Effects *fx);
    // Lets timed conditions run out; call before looking at the state.
    void refresh(double now, std::vector<std::string> *notes);
    // More entries behind those still in the hopper (forms loaded).
    void refill(const std::vector<DeckEntry> &entries, std::vector<std::string> *notes);
    // The sheet still at the print position, when the scanner shuts down.
    bool standingSheet(Sheet *sheet) const;

    char mode() const { return mode_; }
    const std::vector<Sheet> &sheets() const { return sheets_; }
    const std::string &formDefinition() const { return definition_; }
    const std::string &runtimeLine() const { return runtime_; }
    bool formLoaded() const { return formLoaded_; }

private:
    enum class Pending { None, MemoryInit, Definition };

    struct Condition {
        bool active = false;
        EntryKind kind = EntryKind::Jam;
        int code = 0;
        int line = 0;
        double until = -1;  // < 0: until Start
    };

    void onStatus(const RawFrame &raw, double now, Effects *fx);
    void onModeChange(const RawFrame &raw, Effects *fx);
    void onDownload(const RawFrame &raw, Effects *fx);
    void onRun(const RawFrame &raw, Effects *fx);
    void onInitByte(const RawFrame &raw, double now, Effects *fx);
    void onStart(Effects *fx);
    void onRelease(Effects *fx);
    void onAltHopper(Effects *fx);
    void onPrint(const RawFrame &raw, Effects *fx);

    void enterMode(char letter, Effects *fx);
    void reply(Effects *fx);
    void sheetRequest(double now, Effects *fx);
    void feed(const DeckEntry &entry, double delay, Effects *fx);
    void depart(Effects *fx);
    void activate(const DeckEntry &entry, double now, std::vector<std::string> *notes);
    bool recordsLeft() const;
    LongStatusFlags flags() const;

    Options options_;
    char mode_;
    bool awaitingHandshake_ = false;
    uint8_t handshakeCode_ = 0;
    char pendingMode_ = 0;  // 0 when the pending change was refused
    bool awaitingInitiate_ = true;
    Pending pending_ = Pending::None;
    bool pendingRuntime_ = false;
    bool formLoaded_;
    int busyLeft_;
    size_t cursor_ = 0;
    Condition condition_;
    bool stopped_ = false;  // by the Stop command, until Start
    bool atPrint_ = false;  // sheets_.back() stands at the print position
    bool toAlternate_ = false;
    std::string printPosition_ = "00";
    std::vector<Sheet> sheets_;
    std::string definition_;
    std::string runtime_;
};

std::string stepName(Step step);

}  // namespace scannersim
