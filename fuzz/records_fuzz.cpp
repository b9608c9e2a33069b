// Records from the scanner, with run-length groups, through a real
// descriptor pair. The input: two bytes of buffer size, a byte that says
// whether the next three replace Eor1, Eor2 and the compress code (as a
// port configuration file may), then the bytes on the line.
#include <cstdint>
#include <cstring>
#include <vector>

#include "frames.h"
#include "line.h"
#include "status.h"
#include "support.h"

namespace {

constexpr int MAX_BUFFER = 1300;  // beyond the largest record buffer, 1250

// The control codes' positions in the port configuration file.
constexpr int EOR1_POSITION = 2;
constexpr int EOR2_POSITION = 3;
constexpr int COMPRESS_POSITION = 18;

void setCodes(int eor1, int eor2, int compress)
{
    setcontrolcode(EOR1_POSITION, eor1);
    setcontrolcode(EOR2_POSITION, eor2);
    setcontrolcode(COMPRESS_POSITION, compress);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    int scanner = openLine();
    int buffer = ((data[0] << 8) | data[1]) % MAX_BUFFER;
    bool codes = (data[2] & 1) != 0 && size >= 6;
    if (codes)
        setCodes(data[3], data[4], data[5]);
    size_t skip = codes ? 6 : 3;
    sendLine(scanner, data + skip, size - skip);

    // Exactly the size given, so that a byte written past it is caught.
    std::vector<char> record(static_cast<size_t>(buffer));
    int count;
    do {
        count = readrecord(record.data(), buffer, 5);
        FUZZ_CHECK(count < buffer);
        if (count >= 0)
            FUZZ_CHECK(record[static_cast<size_t>(count)] == '\0');
    } while (count >= 0 && buffer > 0);

    drainLine(scanner);
    setCodes(0x0D, 0x0A, 0x15);
    return 0;
}
