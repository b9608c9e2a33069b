// The three status answers. Flags are OR-ed into the low bits of '0'
// characters, which is how the host tests them.
#pragma once

#include <cstdint>
#include <string>

namespace scannersim {

constexpr size_t LONG_STATUS_LENGTH = 50;
constexpr size_t SHORT_STATUS_LENGTH = 3;
constexpr size_t DOWNLOAD_STATUS_LENGTH = 4;

struct LongStatusFlags {
    uint8_t feed = 0;      // position 6: 0x01 multiple feed, 0x02 skew
    uint8_t error = 0;     // position 7: 0x01/0x02 not ready, 0x04 read check, 0x08 jam
    uint8_t print = 0;     // position 8: 0x08 sheet at the print position
    uint8_t hopper = 0;    // position 9: 0x01 stopped, 0x02 input hopper empty
    uint8_t detail1 = 0;   // position 32: read-check detail
    uint8_t detail2 = 0;   // position 33: read-check detail
    char handshake = 'A';  // position 34
    char mode = 'w';       // position 48
};

std::string longStatus(const LongStatusFlags &flags);
std::string shortStatus();
// idle: '0' idle, '1' busy, '?' form error (then the two flag sets count).
std::string downloadStatus(char idle, uint8_t flags2, uint8_t flags3);

// Detail bits that make the host decode read-check code 3..6.
void readCheckDetail(int code, uint8_t *detail1, uint8_t *detail2);
// Download status flags for form error condition 10..16.
void formErrorFlags(int code, uint8_t *flags2, uint8_t *flags3);

}  // namespace scannersim
