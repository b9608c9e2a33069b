// The scanner's status answers through a real descriptor pair. The first
// 54 bytes of the input make a long status (50) and a download status (4)
// of exactly their lengths, as DecodeStatus asks for them (an answer of
// another length ends the run, by design); the rest goes on the line as
// it stands, for the silent status requests and the Initiate reply, which
// take any answer.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/line.h"
#include "fuzz/support.h"
#include "markfeed/frames.h"
#include "markfeed/runsettings.h"
#include "markfeed/status.h"

namespace {

constexpr size_t LONG_LENGTH = 50;
constexpr size_t DOWNLOAD_LENGTH = 4;

// One answer of exactly length characters from the input (padded with
// '0'), closed by Eor1 Eor2. A byte that would end the record or start a
// run-length group once its bit 7 is cleared, or a NUL, which would cut
// the answer short, is moved out of the way.
std::string answer(const uint8_t *data, size_t size, size_t length)
{
    std::string text;
    for (size_t i = 0; i < length; i++) {
        unsigned char byte = i < size ? data[i] : '0';
        unsigned char seen = byte & 0x7F;
        if (seen == 0 || seen == Eor1 || seen == Eor2 || seen == CompressCode)
            byte ^= 0x40;
        text.push_back(static_cast<char>(byte));
    }
    text.push_back(static_cast<char>(Eor1));
    text.push_back(static_cast<char>(Eor2));
    return text;
}

void send(int scanner, const std::string &bytes)
{
    sendLine(scanner, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int scanner = openLine();
    size_t first = size < LONG_LENGTH ? size : LONG_LENGTH;
    send(scanner, answer(data, size, LONG_LENGTH));
    send(scanner, answer(data + first, size - first, DOWNLOAD_LENGTH));

    int code = DecodeStatus();
    FUZZ_CHECK(code >= NO_CONDITION && code <= SHEET_AT_PRINT && code != HOPPER_EMPTY);
    const char *text = GetMsg(code);
    FUZZ_CHECK(text != nullptr && strnlen(text, MSG_SIZE) < MSG_SIZE);
    // A code no answer gives, for the message of an unknown one.
    text = GetMsg(size > 0 ? static_cast<signed char>(data[size - 1]) : -1);
    FUZZ_CHECK(text != nullptr && strnlen(text, MSG_SIZE) < MSG_SIZE);
    S0SHEETATPRINT();
    S0EMPTY();
    S0NOTREADY();
    drainLine(scanner);

    size_t rest = LONG_LENGTH + DOWNLOAD_LENGTH;
    if (size > rest) {
        sendLine(scanner, data + rest, size - rest);
        testparity();
        initiatereply();
        FUZZ_CHECK(strnlen(statusback, STATUS_SIZE) < STATUS_SIZE);
        drainLine(scanner);
    }
    return 0;
}
