// Records from the scanner, with run-length groups, through the record
// decoder. The input: two bytes of buffer size, a byte whose low bit says
// whether the next three replace Eor1, Eor2 and the compress code (as a
// port configuration file may) and whose other bits give the wait for a
// character, then the bytes on the line. The same bytes, as a record that
// scannersim compresses, must read back as they were.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/support.h"
#include "markfeed/status.h"
#include "scannersim/wire.h"

namespace {

constexpr int MAX_BUFFER = 1300;  // beyond the largest record buffer, 1250
constexpr size_t RECORD_SIZE = 1250;
constexpr long CHAR_MICROS = 1042;  // 9600 baud, 10 bits a character
constexpr long long NOW = 1000;

// The bytes as the link gives them, record after record, into a buffer of
// exactly size characters, so that a byte written past it is caught.
void readAll(const RecordLine &line, int size, const uint8_t *data, size_t length)
{
    std::vector<char> record(static_cast<size_t>(size));
    RecordReader reader;
    if (!recordstart(&reader, line, record.data(), size, NOW))
        return;
    FUZZ_CHECK(reader.deadline >= NOW + (line.waitseconds > 0 ? line.waitseconds * 1000LL : 0));
    for (size_t i = 0; i < length; i++) {
        int count = recordbyte(&reader, data[i] & 0x7F);
        if (count < 0)
            continue;
        FUZZ_CHECK(count < size);
        FUZZ_CHECK(record[static_cast<size_t>(count)] == '\0');
        recordstart(&reader, line, record.data(), size, NOW);
    }
}

// text compressed by scannersim with the codes in use, read back whole,
// ending with the last byte on the line.
void roundTrip(const RecordLine &line, const std::string &text)
{
    scannersim::Codes codes;
    codes.eor1 = static_cast<unsigned char>(line.eor1);
    codes.eor2 = static_cast<unsigned char>(line.eor2);
    codes.compress = static_cast<unsigned char>(line.compress);
    std::string bytes = scannersim::frameAnswer(text, codes, true);
    std::vector<char> record(RECORD_SIZE);
    RecordReader reader;
    recordstart(&reader, line, record.data(), static_cast<int>(RECORD_SIZE), NOW);
    int count = -1;
    for (size_t i = 0; i < bytes.size() && count < 0; i++) {
        count = recordbyte(&reader, static_cast<unsigned char>(bytes[i]) & 0x7F);
        FUZZ_CHECK(count < 0 || i + 1 == bytes.size());
    }
    FUZZ_CHECK(count == static_cast<int>(text.size()));
    FUZZ_CHECK(text.compare(0, text.size(), record.data(), text.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    int buffer = ((data[0] << 8) | data[1]) % MAX_BUFFER;
    RecordLine line = {0x0D, 0x0A, 0x15, (data[2] >> 1) - 64, CHAR_MICROS};
    bool codes = (data[2] & 1) != 0 && size >= 6;
    if (codes) {
        line.eor1 = data[3];
        line.eor2 = data[4];
        line.compress = data[5];
    }
    size_t skip = codes ? 6 : 3;
    readAll(line, buffer, data + skip, size - skip);

    // Codes a 7-bit line can carry, three different ones, as a scanner uses.
    if (line.eor1 < 0x80 && line.eor2 < 0x80 && line.compress < 0x80 && line.eor1 != line.eor2 &&
        line.eor1 != line.compress && line.eor2 != line.compress) {
        std::string text;
        for (size_t i = skip; i < size && text.size() < RECORD_SIZE - 1; i++)
            text.push_back(static_cast<char>(data[i] & 0x7F));
        roundTrip(line, text);
    }
    return 0;
}
