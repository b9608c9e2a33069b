#include "scannersim/line.h"

#include <termios.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "scannersim/codes.h"

namespace scannersim {

namespace {

struct SpeedCode {
    speed_t code;
    int baud;
};

const SpeedCode SPEEDS[] = {
    {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},     {B150, 150},
    {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},   {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200}, {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
};

int baudOf(speed_t code)
{
    for (const SpeedCode &s : SPEEDS)
        if (s.code == code)
            return s.baud;
    return 0;
}

bool validParity(char p)
{
    return p == 'N' || p == 'E' || p == 'O';
}

}  // namespace

bool parseLineSpec(const std::string &text, LineSettings *out)
{
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 7)
        return false;
    if (text.size() != colon + 4)
        return false;
    for (size_t i = 0; i < colon; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    LineSettings line;
    line.baud = std::atoi(text.substr(0, colon).c_str());
    line.size = text[colon + 1] - '0';
    line.parity = text[colon + 2];
    if (line.parity >= 'a' && line.parity <= 'z')
        line.parity = char(line.parity - 32);
    line.stops = text[colon + 3] - '0';
    if (line.baud <= 0 || line.size < 5 || line.size > 8 || !validParity(line.parity) ||
        (line.stops != 1 && line.stops != 2))
        return false;
    *out = line;
    return true;
}

std::string formatLine(const LineSettings &line)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%d:%d%c%d", line.baud, line.size, line.parity, line.stops);
    return buf;
}

SeenLine lineFromTermios(const struct termios &t)
{
    SeenLine seen;
    seen.line.baud = baudOf(cfgetospeed(&t));
    seen.line.stops = (t.c_cflag & CSTOPB) ? 2 : 1;
    switch (t.c_cflag & CSIZE) {
    case CS5: seen.line.size = 5; break;
    case CS6: seen.line.size = 6; break;
    case CS7: seen.line.size = 7; break;
    default: seen.line.size = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        seen.line.parity = 'N';
    else
        seen.line.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    seen.sizeParityKnown = false;
    return seen;
}

bool readLineFile(const std::string &path, LineSettings *out)
{
    std::ifstream in(path);
    if (!in)
        return false;
    char buf[64] = {0};
    in.getline(buf, sizeof buf);
    int baud = 0, size = 0, stops = 0;
    char parity = 0;
    if (std::sscanf(buf, "%d %d %c %d", &baud, &size, &parity, &stops) != 4)
        return false;
    if (baud <= 0 || size < 5 || size > 8 || !validParity(parity) || (stops != 1 && stops != 2))
        return false;
    out->baud = baud;
    out->size = size;
    out->parity = parity;
    out->stops = stops;
    return true;
}

bool lineMatches(const LineSettings &own, const SeenLine &seen)
{
    if (own.baud != seen.line.baud || own.stops != seen.line.stops)
        return false;
    if (!seen.sizeParityKnown)
        return true;
    return own.size == seen.line.size && own.parity == seen.line.parity;
}

std::string garble(const std::string &record, const Codes &codes)
{
    std::string out;
    if (record.empty())
        out.push_back('?');
    for (size_t i = 0; i < record.size(); ++i) {
        if (i % 3 == 0)
            continue;
        char c = char((record[i] ^ 0x25) & 0x7F);
        if (uint8_t(c) == codes.eor1 || uint8_t(c) == codes.eor2 || uint8_t(c) == codes.compress)
            c = '?';
        out.push_back(c);
    }
    return out;
}

double charSeconds(const LineSettings &line)
{
    int bits = 1 + line.size + (line.parity == 'N' ? 0 : 1) + line.stops;
    return double(bits) / double(line.baud > 0 ? line.baud : 1);
}

}  // namespace scannersim
