// The sheet verdict on any record. The input: a byte whose low bit is the
// alignment form flag (-t), four bytes of dataset (-m), four of the time
// to stamp, then the record.
#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

#include "fuzz/support.h"
#include "markfeed/sheetcheck.h"

namespace {

int32_t word(const uint8_t *bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; i++)
        value = value << 8 | bytes[i];
    return static_cast<int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr size_t HEAD = 9;
    if (size < HEAD)
        return 0;
    int alignment = data[0] & 1;
    int dataset = word(data + 1);
    // The clock of a running station: any second from 1970 to 2106.
    time_t when = static_cast<time_t>(static_cast<uint32_t>(word(data + 5)));
    // The record exactly as long as it is, so that reading past it is caught.
    std::vector<char> record(data + HEAD, data + size);
    record.push_back('\0');

    Verdict verdict;
    int accepted = sheetverdict(record.data(), dataset, alignment, when, &verdict);
    FUZZ_CHECK(accepted == verdict.accepted);
    FUZZ_CHECK(strnlen(verdict.message, sizeof verdict.message) < sizeof verdict.message);
    FUZZ_CHECK(strnlen(verdict.stamp, sizeof verdict.stamp) < sizeof verdict.stamp);
    FUZZ_CHECK(accepted == (verdict.message[0] == '\0'));
    if (accepted) {
        // The whole output line: the record, blanks, the stamp's 27 characters.
        size_t length = strlen(record.data());
        FUZZ_CHECK(strnlen(verdict.output, sizeof verdict.output) == OUTPUT_LENGTH);
        FUZZ_CHECK(memcmp(verdict.output, record.data(), length) == 0);
        FUZZ_CHECK(memcmp(verdict.output + STAMP_OFFSET, verdict.stamp, STAMP_LENGTH) == 0);
    }
    return 0;
}
