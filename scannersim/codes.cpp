#include "scannersim/codes.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace scannersim {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Reads one number starting at text[*pos], which is a digit. The byte that
// ends the number is consumed with it, as the host's reader does.
long readNumber(const std::string &text, size_t *pos)
{
    // Unsigned arithmetic wraps like the host's 32-bit int without UB.
    uint32_t value = 0;
    bool hex = false;
    while (*pos < text.size()) {
        char c = lower(text[(*pos)++]);
        if (!hex && isDigit(c)) {
            value = value * 10u + uint32_t(c - '0');
        } else if (!hex && c == 'x') {
            hex = true;
        } else if (hex && hexValue(c) >= 0) {
            value = value * 16u + uint32_t(hexValue(c));
        } else {
            break;
        }
    }
    return long(int32_t(value));
}

}  // namespace

int scanConfigNumbers(const std::string &text, long values[30])
{
    int count = 0;
    size_t pos = 0;
    while (count < 30) {
        while (pos < text.size() && !isDigit(text[pos]))
            ++pos;
        if (pos >= text.size())
            break;
        values[count++] = readNumber(text, &pos);
    }
    return count;
}

void applyConfigNumbers(const long values[30], int count, Codes *codes)
{
    // Positions 1..25 in file order; 0 marks the delay, which is not a code.
    uint8_t *slots[25] = {&codes->eoi,
                          &codes->eor1,
                          &codes->eor2,
                          &codes->start,
                          &codes->stop,
                          &codes->initiate,
                          &codes->positiveResponse,
                          &codes->statusControl,
                          &codes->longStatus,
                          &codes->shortStatus,
                          &codes->barCode,
                          &codes->scannerControl,
                          &codes->download,
                          &codes->run,
                          &codes->release,
                          &codes->printPos,
                          &codes->printData,
                          &codes->compress,
                          &codes->selectScanner,
                          &codes->selectAux,
                          &codes->auxPortData,
                          &codes->selectFromAux,
                          nullptr,
                          &codes->downloadStatus,
                          &codes->selectStacker};
    for (int i = 0; i < count && i < 25; ++i) {
        if (slots[i] != nullptr)
            *slots[i] = uint8_t(values[i] & 0xFF);
    }
}

bool readCodesFile(const std::string &path, Codes *codes, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT)
            return true;
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    // Only the first 30 numbers count; a real file is a few hundred bytes.
    std::string text(1024 * 1024, '\0');
    in.read(&text[0], std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    long values[30] = {0};
    int count = scanConfigNumbers(text, values);
    applyConfigNumbers(values, count, codes);
    return true;
}

}  // namespace scannersim
