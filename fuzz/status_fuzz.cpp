// The scanner's status answers through the condition decoder. The first 54
// bytes of the input make a long status (50) and a download status (4), as
// DecodeStatus reads them, each exactly as long as it is so that a read
// past it is caught; the rest is bytes on the line, read as answers of any
// length into a buffer of the status answer's size and decoded as both.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/support.h"
#include "markfeed/runsettings.h"
#include "markfeed/status.h"

namespace {

constexpr size_t LONG_LENGTH = 50;
constexpr size_t DOWNLOAD_LENGTH = 4;

// An answer of up to length characters from the input, closed by its NUL.
std::vector<char> answer(const uint8_t *data, size_t size, size_t length)
{
    std::vector<char> text(data, data + (size < length ? size : length));
    text.push_back('\0');
    return text;
}

void checkMessage(int code)
{
    const char *text = GetMsg(code);
    FUZZ_CHECK(text != nullptr && strnlen(text, MSG_SIZE) < MSG_SIZE);
}

// The condition of a long status, with the download status when it decides.
void decode(const char *longstatus, const char *downloadstatus)
{
    int code = longcondition(longstatus);
    if (code == NEEDS_DOWNLOAD_STATUS) {
        code = formcondition(downloadstatus);
        FUZZ_CHECK(code == NO_CONDITION ||
                   (code >= UNRECOGNISED_FORM8 && code <= UNRECOGNISED_FORM));
    } else {
        FUZZ_CHECK(code >= NOT_READY && code <= SHEET_AT_PRINT && code != HOPPER_EMPTY);
    }
    checkMessage(code);
}

// The answers on the line, as the status requests read them.
void readAnswers(const uint8_t *data, size_t size)
{
    const RecordLine line = {'\r', '\n', 0x15, 0, 1042};  // the built-in codes
    std::vector<char> status(STATUS_SIZE);
    RecordReader reader;
    recordstart(&reader, line, status.data(), STATUS_SIZE, 0);
    for (size_t i = 0; i < size; i++) {
        if (recordbyte(&reader, data[i] & 0x7F) < 0)
            continue;
        FUZZ_CHECK(strnlen(status.data(), STATUS_SIZE) < STATUS_SIZE);
        decode(status.data(), status.data());
        recordstart(&reader, line, status.data(), STATUS_SIZE, 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> longstatus = answer(data, size, LONG_LENGTH);
    size_t first = longstatus.size() - 1;
    std::vector<char> downloadstatus = answer(data + first, size - first, DOWNLOAD_LENGTH);
    decode(longstatus.data(), downloadstatus.data());
    // A code no answer gives, for the message of an unknown one.
    checkMessage(size > 0 ? static_cast<signed char>(data[size - 1]) : -1);

    size_t rest = LONG_LENGTH + DOWNLOAD_LENGTH;
    if (size > rest)
        readAnswers(data + rest, size - rest);
    return 0;
}
