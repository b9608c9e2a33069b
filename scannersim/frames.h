// Splits the byte stream from the host into command frames. Frames with a
// payload run to the end-of-frame triple; whatever stands before it is
// payload, so a form definition may hold any byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scannersim/codes.h"

namespace scannersim {

enum class FrameKind {
    Status,      // status control code + kind byte
    ModeChange,  // scanner control code, letter, triple
    Download,    // download code, payload, triple
    Run,         // run code, parameter line, triple
    PrintPos,    // print position code, two digits, triple
    PrintData,   // print data code, text, triple
    Display,     // display mode, display release, Eoi
    End,         // a bare end-of-frame triple
    Start,
    Stop,
    Release,
    SelectScanner,
    AltHopper,
    InitByte,  // Initiate or PositiveResponse: the scanner's state decides
    Unknown,
};

struct RawFrame {
    FrameKind kind = FrameKind::Unknown;
    std::string bytes;    // as received (cut at the payload limit)
    std::string payload;  // between lead code and triple; kind byte of Status
    size_t dropped = 0;   // payload bytes beyond the limit, not kept
    bool incomplete = false;
};

class FrameParser {
public:
    // A frame keeps its lead code and this many bytes more, with the end
    // triple; the rest is only counted (the host sends at most 24000).
    static constexpr size_t MAX_PAYLOAD = 64 * 1024;

    explicit FrameParser(const Codes &codes) : codes_(codes) {}

    // Takes one byte; completed frames are appended to *out.
    void feed(uint8_t byte, std::vector<RawFrame> *out);
    // Gives up a partial frame (silence, or a new connection); it comes out
    // as Unknown with incomplete set. Returns whether there was one.
    bool abandon(std::vector<RawFrame> *out);
    bool partial() const { return state_ != State::Idle; }

private:
    enum class State { Idle, StatusKind, Payload, Display1, Display2, Triple1, Triple2 };

    void startFrame(uint8_t byte, std::vector<RawFrame> *out);
    void payloadByte(uint8_t byte, std::vector<RawFrame> *out);
    void emit(FrameKind kind, std::vector<RawFrame> *out);
    // The bytes so far were not a frame: report them and read `byte` afresh.
    void reject(uint8_t byte, std::vector<RawFrame> *out);
    bool endsWithTriple() const;

    Codes codes_;
    State state_ = State::Idle;
    FrameKind pending_ = FrameKind::Unknown;
    RawFrame current_;
    uint8_t tail_[3] = {0, 0, 0};  // last three payload-state bytes
    size_t tailCount_ = 0;
};

std::string frameKindName(FrameKind kind);

}  // namespace scannersim
