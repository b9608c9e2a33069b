#include "scannersim/status.h"

namespace scannersim {

namespace {
char flagChar(uint8_t bits)
{
    return char('0' | (bits & 0x0F));
}
}  // namespace

std::string longStatus(const LongStatusFlags &flags)
{
    std::string s(LONG_STATUS_LENGTH, '0');
    s[6] = flagChar(flags.feed);
    s[7] = flagChar(flags.error);
    s[8] = flagChar(flags.print);
    s[9] = flagChar(flags.hopper);
    s[32] = flagChar(flags.detail1);
    s[33] = flagChar(flags.detail2);
    s[34] = flags.handshake;
    s[48] = flags.mode;
    return s;
}

std::string shortStatus()
{
    return std::string(SHORT_STATUS_LENGTH, '0');
}

std::string downloadStatus(char idle, uint8_t flags2, uint8_t flags3)
{
    std::string s(DOWNLOAD_STATUS_LENGTH, '0');
    s[1] = idle;
    s[2] = flagChar(flags2);
    s[3] = flagChar(flags3);
    return s;
}

void readCheckDetail(int code, uint8_t *detail1, uint8_t *detail2)
{
    *detail1 = 0;
    *detail2 = 0;
    if (code == 4)
        *detail1 = 0x01;
    if (code == 3)
        *detail1 = 0x02;
    if (code == 6)
        *detail2 = 0x01;
}

void formErrorFlags(int code, uint8_t *flags2, uint8_t *flags3)
{
    *flags2 = 0;
    *flags3 = 0;
    if (code >= 10 && code <= 13)
        *flags2 = uint8_t(0x08 >> (code - 10));
    if (code >= 14 && code <= 16)
        *flags3 = uint8_t(0x04 >> (code - 14));
}

}  // namespace scannersim
