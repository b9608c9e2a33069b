#include "scannersim/machine.h"

#include <algorithm>
#include <cstdio>

namespace scannersim {

namespace {

const char MEMORY_INIT[] = "APL,000,N;";

std::string seconds(double s)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", s);
    return buf;
}

std::string describe(EntryKind kind, int code)
{
    std::string name = entryName(kind);
    if (kind == EntryKind::ReadCheck || kind == EntryKind::FormError)
        name += " " + std::to_string(code);
    return name;
}

}  // namespace

std::string stepName(Step step)
{
    switch (step) {
    case Step::ClearMem: return "clearmem";
    case Step::Definition: return "definition";
    case Step::Runtime: return "runtime";
    case Step::Start: return "start";
    }
    return "?";
}

Machine::Machine(const Options &options)
    : options_(options), mode_(options.mode), formLoaded_(options.loaded), busyLeft_(options.busy)
{
    if (options.atPrint) {
        Sheet sheet;
        sheet.number = 1;
        sheets_.push_back(sheet);
        atPrint_ = true;
    }
}

void Machine::take(const RawFrame &raw, double now, Effects *fx)
{
    fx->frame.bytes = raw.bytes;
    fx->frame.name = frameKindName(raw.kind);
    refresh(now, &fx->notes);
    switch (raw.kind) {
    case FrameKind::Status: return onStatus(raw, now, fx);
    case FrameKind::ModeChange: return onModeChange(raw, fx);
    case FrameKind::Download: return onDownload(raw, fx);
    case FrameKind::Run: return onRun(raw, fx);
    case FrameKind::InitByte: return onInitByte(raw, now, fx);
    case FrameKind::Start: return onStart(fx);
    case FrameKind::Stop: stopped_ = true; return;
    case FrameKind::Release: return onRelease(fx);
    case FrameKind::AltHopper: return onAltHopper(fx);
    case FrameKind::PrintPos:
    case FrameKind::PrintData: return onPrint(raw, fx);
    case FrameKind::Unknown:
        if (raw.incomplete)
            fx->frame.detail = "incomplete";
        return;
    default: return;
    }
}

void Machine::refresh(double now, std::vector<std::string> *notes)
{
    if (condition_.active && condition_.until >= 0 && now >= condition_.until) {
        condition_.active = false;
        notes->push_back(describe(condition_.kind, condition_.code) + " cleared");
    }
    // The hopper sensors report at once; feed faults wait for a feed.
    if (condition_.active || mode_ != 'd' || cursor_ >= options_.deck.size())
        return;
    const DeckEntry &next = options_.deck[cursor_];
    if (!isStanding(next.kind))
        return;
    ++cursor_;
    activate(next, now, notes);
}

void Machine::refill(const std::vector<DeckEntry> &entries, std::vector<std::string> *notes)
{
    long sheets = std::count_if(entries.begin(), entries.end(),
                                [](const DeckEntry &e) { return e.kind == EntryKind::Record; });
    options_.deck.insert(options_.deck.end(), entries.begin(), entries.end());
    notes->push_back("hopper refilled (sheets: " + std::to_string(sheets) +
                     ", deck entries: " + std::to_string(entries.size()) + ")");
    // Loading forms is what ends an empty hopper.
    if (condition_.active && condition_.kind == EntryKind::Empty) {
        condition_.active = false;
        notes->push_back(describe(condition_.kind, condition_.code) + " cleared");
    }
}

void Machine::activate(const DeckEntry &entry, double now, std::vector<std::string> *notes)
{
    condition_.active = true;
    condition_.kind = entry.kind;
    condition_.code = entry.code;
    condition_.line = entry.line;
    condition_.until = entry.seconds >= 0 ? now + entry.seconds : -1;
    std::string note =
        describe(entry.kind, entry.code) + " (deck line " + std::to_string(entry.line) + ") ";
    note += entry.seconds >= 0 ? "for " + seconds(entry.seconds) + " s" : "until Start";
    notes->push_back(note);
}

LongStatusFlags Machine::flags() const
{
    LongStatusFlags f;
    f.handshake = options_.handshake;
    f.mode = mode_;
    if (atPrint_)
        f.print |= 0x08;
    if (stopped_)
        f.hopper |= 0x01;
    if (!recordsLeft())
        f.hopper |= 0x02;
    if (!condition_.active)
        return f;
    switch (condition_.kind) {
    case EntryKind::Empty: f.hopper |= 0x02; break;
    case EntryKind::Stopped: f.hopper |= 0x01; break;
    case EntryKind::Jam: f.error |= 0x08; break;
    case EntryKind::Skew: f.feed |= 0x02; break;
    case EntryKind::MultiFeed: f.feed |= 0x01; break;
    case EntryKind::NotReady: f.error |= 0x01; break;
    case EntryKind::ReadCheck:
        f.error |= 0x04;
        readCheckDetail(condition_.code, &f.detail1, &f.detail2);
        break;
    default: break;
    }
    return f;
}

void Machine::onStatus(const RawFrame &raw, double now, Effects *fx)
{
    (void)now;
    uint8_t kind = raw.payload.empty() ? 0 : uint8_t(raw.payload[0]);
    fx->frame.detail = quoteText(raw.bytes);
    Answer answer;
    if (kind == options_.codes.longStatus) {
        answer.name = "LongStatus";
        answer.text = longStatus(flags());
    } else if (kind == options_.codes.shortStatus) {
        answer.name = "ShortStatus";
        answer.text = shortStatus();
    } else if (kind == options_.codes.downloadStatus) {
        answer.name = "DownloadStatus";
        char idle = '0';
        uint8_t flags2 = 0, flags3 = 0;
        if (busyLeft_ > 0) {
            --busyLeft_;
            idle = '1';
        } else if (condition_.active && condition_.kind == EntryKind::FormError) {
            idle = '?';
            formErrorFlags(condition_.code, &flags2, &flags3);
        }
        answer.text = downloadStatus(idle, flags2, flags3);
    } else {
        fx->notes.push_back("no answer to an unknown status kind");
        return;
    }
    fx->answers.push_back(answer);
}

void Machine::onModeChange(const RawFrame &raw, Effects *fx)
{
    fx->frame.detail = quoteText(raw.payload);
    if (raw.payload.size() != 1) {
        fx->notes.push_back("mode change ignored: not one letter");
        return;
    }
    char letter = raw.payload[0];
    bool refused = options_.refuseModes.find(letter) != std::string::npos;
    if (refused)
        fx->notes.push_back(std::string("mode change to '") + letter + "' refused");
    pendingMode_ = refused ? 0 : letter;
    if (options_.handshake == 'A' || options_.handshake == 'I') {
        awaitingHandshake_ = true;
        handshakeCode_ =
            options_.handshake == 'A' ? options_.codes.positiveResponse : options_.codes.initiate;
        return;
    }
    if (!refused)
        enterMode(letter, fx);
}

void Machine::enterMode(char letter, Effects *fx)
{
    mode_ = letter;
    awaitingInitiate_ = true;
    fx->notes.push_back(std::string("mode is now '") + letter + "'");
}

void Machine::onDownload(const RawFrame &raw, Effects *fx)
{
    bool memoryInit = raw.payload == MEMORY_INIT;
    fx->frame.name = memoryInit ? "MemoryInit" : "FormDefinition";
    fx->frame.detail = memoryInit ? "\"" + quoteText(raw.payload) + "\""
                                  : std::to_string(raw.payload.size() + raw.dropped) + " bytes";
    if (mode_ != 'w') {
        fx->notes.push_back("download ignored: not in wait mode");
        return;
    }
    if (memoryInit) {
        pending_ = Pending::MemoryInit;
        return;
    }
    pending_ = Pending::Definition;
    definition_ = raw.payload;
    fx->newDefinition = true;
}

void Machine::onRun(const RawFrame &raw, Effects *fx)
{
    fx->frame.detail = "\"" + quoteText(raw.payload) + "\"";
    if (mode_ != 'w') {
        fx->notes.push_back("runtime parameters ignored: not in wait mode");
        return;
    }
    pendingRuntime_ = true;
    runtime_ = raw.payload;
    fx->newRuntime = true;
}

void Machine::onInitByte(const RawFrame &raw, double now, Effects *fx)
{
    uint8_t byte = uint8_t(raw.bytes[0]);
    const Codes &c = options_.codes;
    if (awaitingHandshake_ && byte == handshakeCode_) {
        fx->frame.name = "Handshake";
        awaitingHandshake_ = false;
        if (pendingMode_ != 0)
            enterMode(pendingMode_, fx);
        return;
    }
    bool initiate = byte == c.initiate;
    if (initiate && (awaitingInitiate_ || c.initiate != c.positiveResponse)) {
        fx->frame.name = "Initiate";
        awaitingInitiate_ = false;
        return reply(fx);
    }
    if (mode_ == 'd' && byte == c.positiveResponse) {
        fx->frame.name = "SheetRequest";
        return sheetRequest(now, fx);
    }
    fx->frame.name = "Ack";
}

void Machine::reply(Effects *fx)
{
    Step step = Step::Start;
    std::string text = "GREADY";
    if (mode_ == 't') {
        if (pending_ == Pending::MemoryInit) {
            step = Step::ClearMem;
            text = "VMEMORY CLEARED";
        } else if (pending_ == Pending::Definition) {
            step = Step::Definition;
            text = "GFORM LOADED";
        } else {
            text = "ENO DOWNLOAD";
        }
        pending_ = Pending::None;
    } else if (mode_ == 'd' && pendingRuntime_) {
        step = Step::Runtime;
        text = formLoaded_ ? "GPARAMETERS ACCEPTED" : "NNO FORM LOADED";
        pendingRuntime_ = false;
    } else if (mode_ == 'd') {
        text = "GSCANNING";
    }
    int index = int(step);
    if (options_.noReply[index]) {
        fx->notes.push_back("no reply (" + stepName(step) + ")");
        return;
    }
    if (options_.refuse[index])
        text = "EREFUSED";
    if (text[0] == 'V')
        formLoaded_ = false;
    if (step == Step::Definition && text[0] == 'G')
        formLoaded_ = true;
    Answer answer;
    answer.name = "Reply";
    answer.detail = stepName(step);
    answer.text = text;
    fx->answers.push_back(answer);
}

bool Machine::recordsLeft() const
{
    for (size_t i = cursor_; i < options_.deck.size(); ++i)
        if (options_.deck[i].kind == EntryKind::Record)
            return true;
    return false;
}

void Machine::sheetRequest(double now, Effects *fx)
{
    if (stopped_)
        return fx->notes.push_back("not fed: scanner stopped");
    if (condition_.active)
        return fx->notes.push_back("not fed: " + describe(condition_.kind, condition_.code));
    if (!recordsLeft())
        return fx->notes.push_back("not fed: hopper empty");
    double delay = 0;
    while (cursor_ < options_.deck.size()) {
        const DeckEntry &entry = options_.deck[cursor_++];
        if (entry.kind == EntryKind::Delay) {
            delay += entry.seconds;
        } else if (entry.kind == EntryKind::Record) {
            return feed(entry, delay, fx);
        } else {
            activate(entry, now, &fx->notes);
            return fx->notes.push_back("not fed: " + describe(entry.kind, entry.code));
        }
    }
}

void Machine::feed(const DeckEntry &entry, double delay, Effects *fx)
{
    if (atPrint_)
        depart(fx);
    Sheet sheet;
    sheet.number = int(sheets_.size()) + 1;
    sheet.deckLine = entry.line;
    sheet.record = entry.record;
    sheets_.push_back(sheet);
    atPrint_ = true;
    toAlternate_ = false;
    if (entry.lost)
        return fx->notes.push_back("record of sheet " + std::to_string(sheet.number) + " lost");
    Answer answer;
    answer.name = "Record";
    answer.detail = "sheet " + std::to_string(sheet.number) + " line " + std::to_string(entry.line);
    answer.text = entry.record;
    answer.delay = delay;
    fx->answers.push_back(answer);
}

void Machine::depart(Effects *fx)
{
    Sheet &sheet = sheets_.back();
    sheet.hopper = toAlternate_ ? Hopper::Alternate : Hopper::Main;
    atPrint_ = false;
    toAlternate_ = false;
    fx->departed.push_back(sheet);
}

void Machine::onStart(Effects *fx)
{
    stopped_ = false;
    if (condition_.active && condition_.until < 0) {
        condition_.active = false;
        fx->notes.push_back(describe(condition_.kind, condition_.code) + " cleared by Start");
    }
}

void Machine::onRelease(Effects *fx)
{
    if (atPrint_)
        depart(fx);
}

void Machine::onAltHopper(Effects *fx)
{
    if (!atPrint_)
        return fx->notes.push_back("no sheet at the print position");
    toAlternate_ = true;
}

void Machine::onPrint(const RawFrame &raw, Effects *fx)
{
    fx->frame.detail = "\"" + quoteText(raw.payload) + "\"";
    if (raw.kind == FrameKind::PrintPos) {
        printPosition_ = raw.payload;
        return;
    }
    if (!atPrint_)
        return fx->notes.push_back("no sheet at the print position");
    sheets_.back().prints.push_back(Print{printPosition_, raw.payload});
}

bool Machine::standingSheet(Sheet *sheet) const
{
    if (!atPrint_)
        return false;
    *sheet = sheets_.back();
    return true;
}

}  // namespace scannersim
