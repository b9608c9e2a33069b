// scannersim's frame parser on any byte stream from the host. The input: a
// byte of choices, then (when its low bit is set) 30 bytes of control
// codes as a port configuration file would give them, then the stream.
// With the built-in codes and bits 1 to 4 of the choices 1011, the stream
// follows the start of a form definition about as long as the parser keeps.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support.h"
#include "scannersim/codes.h"
#include "scannersim/frames.h"

using scannersim::FrameKind;
using scannersim::FrameParser;
using scannersim::RawFrame;

namespace {

constexpr size_t POSITIONS = 30;

bool hasPayload(const RawFrame &frame)
{
    switch (frame.kind) {
    case FrameKind::ModeChange:
    case FrameKind::Download:
    case FrameKind::Run:
    case FrameKind::PrintPos:
    case FrameKind::PrintData: return true;
    default: return false;
    }
}

// Every byte fed is in exactly one frame, in order: kept in its bytes (up
// to the limit), or counted as dropped; a payload frame ends with the
// triple and its payload is what stood before it.
void checkFrames(const std::vector<RawFrame> &frames, const std::string &fed,
                 const scannersim::Codes &codes)
{
    const std::string triple = {static_cast<char>(codes.eoi), static_cast<char>(codes.eor1),
                                static_cast<char>(codes.eor2)};
    size_t at = 0;
    for (const RawFrame &frame : frames) {
        FUZZ_CHECK(!frame.bytes.empty() && frame.bytes.size() <= FrameParser::MAX_PAYLOAD + 4);
        FUZZ_CHECK(fed.compare(at, frame.bytes.size(), frame.bytes) == 0);
        FUZZ_CHECK(!frame.incomplete || frame.kind == FrameKind::Unknown);
        size_t length = frame.bytes.size() + frame.dropped;
        if (hasPayload(frame)) {
            length = 1 + frame.payload.size() + frame.dropped + triple.size();
            FUZZ_CHECK(fed.compare(at + 1, frame.payload.size(), frame.payload) == 0);
            FUZZ_CHECK(fed.compare(at + length - triple.size(), triple.size(), triple) == 0);
        }
        FUZZ_CHECK(length <= fed.size() - at);
        at += length;
    }
    FUZZ_CHECK(at == fed.size());
}

// The start of a form definition of MAX_PAYLOAD - 3 + extra bytes (extra
// 0 to 7): about as long as the parser keeps.
std::string formStart(int extra)
{
    std::string bytes(1, static_cast<char>(scannersim::Codes().download));
    return bytes.append(FrameParser::MAX_PAYLOAD - 3 + static_cast<size_t>(extra), 'A');
}

// A parser (default codes) that has taken formStart(extra): made once, as
// feeding it takes longer than all the rest of an input.
FrameParser formParser(int extra)
{
    static std::vector<FrameParser> parsers;
    if (parsers.empty()) {
        for (int i = 0; i < 8; i++) {
            FrameParser parser{scannersim::Codes()};
            std::vector<RawFrame> none;
            for (char byte : formStart(i))
                parser.feed(static_cast<uint8_t>(byte), &none);
            FUZZ_CHECK(none.empty());
            parsers.push_back(parser);
        }
    }
    return parsers[static_cast<size_t>(extra)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    uint8_t choices = data[0];
    size_t used = 1;
    scannersim::Codes codes;
    bool ownCodes = (choices & 1) && size >= 1 + POSITIONS;
    if (ownCodes) {
        long values[POSITIONS];
        for (size_t i = 0; i < POSITIONS; i++)
            values[i] = data[1 + i];
        scannersim::applyConfigNumbers(values, static_cast<int>(POSITIONS), &codes);
        used += POSITIONS;
    }
    std::string stream(reinterpret_cast<const char *>(data + used), size - used);
    bool longForm = !ownCodes && (choices & 0x1E) == 0x16;
    FrameParser parser = longForm ? formParser(choices >> 5) : FrameParser(codes);
    std::vector<RawFrame> frames;
    for (char byte : stream)
        parser.feed(static_cast<uint8_t>(byte), &frames);
    bool partial = parser.partial();
    FUZZ_CHECK(parser.abandon(&frames) == partial);
    FUZZ_CHECK(!parser.partial());
    checkFrames(frames, longForm ? formStart(choices >> 5) + stream : stream, codes);
    return 0;
}
