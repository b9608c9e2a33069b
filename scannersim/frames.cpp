#include "scannersim/frames.h"

#include <algorithm>

namespace scannersim {

void FrameParser::feed(uint8_t byte, std::vector<RawFrame> *out)
{
    switch (state_) {
    case State::Idle: startFrame(byte, out); return;
    case State::StatusKind:
        current_.bytes.push_back(char(byte));
        current_.payload.push_back(char(byte));
        emit(FrameKind::Status, out);
        return;
    case State::Payload: payloadByte(byte, out); return;
    case State::Display1:
        if (byte != codes_.displayRelease)
            return reject(byte, out);
        current_.bytes.push_back(char(byte));
        state_ = State::Display2;
        return;
    case State::Display2:
        if (byte != codes_.eoi)
            return reject(byte, out);
        current_.bytes.push_back(char(byte));
        emit(FrameKind::Display, out);
        return;
    case State::Triple1:
        if (byte != codes_.eor1)
            return reject(byte, out);
        current_.bytes.push_back(char(byte));
        state_ = State::Triple2;
        return;
    case State::Triple2:
        if (byte != codes_.eor2)
            return reject(byte, out);
        current_.bytes.push_back(char(byte));
        emit(FrameKind::End, out);
        return;
    }
}

void FrameParser::startFrame(uint8_t byte, std::vector<RawFrame> *out)
{
    current_ = RawFrame();
    current_.bytes.push_back(char(byte));
    tailCount_ = 0;
    const Codes &c = codes_;
    struct Lead {
        uint8_t code;
        FrameKind kind;
    };
    // Checked in this order, which only matters when a configuration file
    // gives two roles the same code.
    const Lead payloadLeads[] = {{c.scannerControl, FrameKind::ModeChange},
                                 {c.download, FrameKind::Download},
                                 {c.run, FrameKind::Run},
                                 {c.printPos, FrameKind::PrintPos},
                                 {c.printData, FrameKind::PrintData}};
    const Lead singles[] = {{c.initiate, FrameKind::InitByte},
                            {c.positiveResponse, FrameKind::InitByte},
                            {c.start, FrameKind::Start},
                            {c.stop, FrameKind::Stop},
                            {c.release, FrameKind::Release},
                            {c.selectScanner, FrameKind::SelectScanner},
                            {c.selectStacker, FrameKind::AltHopper}};
    if (byte == c.statusControl) {
        state_ = State::StatusKind;
        return;
    }
    for (const Lead &lead : payloadLeads) {
        if (byte != lead.code)
            continue;
        pending_ = lead.kind;
        state_ = State::Payload;
        return;
    }
    if (byte == c.displayMode) {
        state_ = State::Display1;
        return;
    }
    for (const Lead &lead : singles) {
        if (byte == lead.code)
            return emit(lead.kind, out);
    }
    if (byte == c.eoi) {
        state_ = State::Triple1;
        return;
    }
    emit(FrameKind::Unknown, out);
}

void FrameParser::payloadByte(uint8_t byte, std::vector<RawFrame> *out)
{
    if (current_.bytes.size() < MAX_PAYLOAD + 4) {
        current_.bytes.push_back(char(byte));
    } else {
        ++current_.dropped;
    }
    tail_[0] = tail_[1];
    tail_[1] = tail_[2];
    tail_[2] = byte;
    if (tailCount_ < 3)
        ++tailCount_;
    if (!endsWithTriple())
        return;
    // The payload is what lies between the lead code and the triple; past
    // the limit the triple itself may be among the bytes not kept.
    size_t afterLead = current_.bytes.size() - 1 + current_.dropped;
    size_t payloadLength = afterLead - 3;
    size_t kept = std::min(current_.bytes.size() - 1, payloadLength);
    current_.payload = current_.bytes.substr(1, kept);
    current_.dropped = payloadLength - kept;
    emit(pending_, out);
}

bool FrameParser::endsWithTriple() const
{
    return tailCount_ == 3 && tail_[0] == codes_.eoi && tail_[1] == codes_.eor1 &&
           tail_[2] == codes_.eor2;
}

void FrameParser::emit(FrameKind kind, std::vector<RawFrame> *out)
{
    current_.kind = kind;
    out->push_back(current_);
    current_ = RawFrame();
    state_ = State::Idle;
}

void FrameParser::reject(uint8_t byte, std::vector<RawFrame> *out)
{
    emit(FrameKind::Unknown, out);
    startFrame(byte, out);
}

bool FrameParser::abandon(std::vector<RawFrame> *out)
{
    if (state_ == State::Idle)
        return false;
    current_.incomplete = true;
    if (state_ == State::Payload)
        current_.payload = current_.bytes.substr(1);
    emit(FrameKind::Unknown, out);
    return true;
}

std::string frameKindName(FrameKind kind)
{
    switch (kind) {
    case FrameKind::Status: return "Status";
    case FrameKind::ModeChange: return "ModeChange";
    case FrameKind::Download: return "Download";
    case FrameKind::Run: return "RunParameters";
    case FrameKind::PrintPos: return "PrintPosition";
    case FrameKind::PrintData: return "PrintData";
    case FrameKind::Display: return "Display";
    case FrameKind::End: return "End";
    case FrameKind::Start: return "Start";
    case FrameKind::Stop: return "Stop";
    case FrameKind::Release: return "Release";
    case FrameKind::SelectScanner: return "SelectScanner";
    case FrameKind::AltHopper: return "AltHopper";
    case FrameKind::InitByte: return "Initiate";
    case FrameKind::Unknown: return "Unknown";
    }
    return "Unknown";
}

}  // namespace scannersim
