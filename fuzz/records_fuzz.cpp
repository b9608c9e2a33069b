// Records from the scanner, with run-length groups, through a real
// descriptor pair. The input: two bytes of buffer size, a byte that says
// whether the next three replace Eor1, Eor2 and the compress code (as a
// port configuration file may), then the bytes on the line. The same bytes,
// as a record that scannersim compresses, must read back as they were.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/line.h"
#include "fuzz/support.h"
#include "markfeed/frames.h"
#include "markfeed/status.h"
#include "scannersim/wire.h"

namespace {

constexpr int MAX_BUFFER = 1300;  // beyond the largest record buffer, 1250
constexpr size_t RECORD_SIZE = 1250;
// Enough for every run length (1 to 63); the line costs two system calls
// a character, so the round trip takes no more.
constexpr size_t ROUND_TRIP = 64;

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

// text (7-bit) compressed by scannersim with the codes in use, read back.
void roundTrip(int scanner, const std::string &text)
{
    scannersim::Codes codes;
    codes.eor1 = Eor1;
    codes.eor2 = Eor2;
    codes.compress = CompressCode;
    std::string bytes = scannersim::frameAnswer(text, codes, true);
    sendLine(scanner, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    std::vector<char> record(RECORD_SIZE);
    int count = readrecord(record.data(), static_cast<int>(RECORD_SIZE), 5);
    FUZZ_CHECK(count == static_cast<int>(text.size()));
    FUZZ_CHECK(text.compare(0, text.size(), record.data(), text.size()) == 0);
    drainLine(scanner);
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

    // Codes a 7-bit line can carry, three different ones, as a scanner uses.
    if (Eor1 < 0x80 && Eor2 < 0x80 && CompressCode < 0x80 && Eor1 != Eor2 && Eor1 != CompressCode &&
        Eor2 != CompressCode) {
        std::string text;
        for (size_t i = skip; i < size && text.size() < ROUND_TRIP; i++)
            text.push_back(static_cast<char>(data[i] & 0x7F));
        roundTrip(scanner, text);
    }
    setCodes(0x0D, 0x0A, 0x15);
    return 0;
}
