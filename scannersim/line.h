// Serial line settings: the scanner's own, the ones the host applied, and
// what a mismatch does to the characters on the wire.
#pragma once

#include <string>

struct termios;

namespace scannersim {

struct Codes;

struct LineSettings {
    int baud = 19200;
    int size = 7;       // 5..8
    char parity = 'O';  // 'N', 'E' or 'O'
    int stops = 2;      // 1 or 2
};

// What the host applied; a pseudo-terminal hides size and parity.
struct SeenLine {
    LineSettings line;
    bool sizeParityKnown = false;
};

// "19200:7O2" (speed:size parity stops). false on bad text.
bool parseLineSpec(const std::string &text, LineSettings *out);
std::string formatLine(const LineSettings &line);

// Speed and stop bits (and PARODD, PARENB and CSIZE, which a pty forces)
// from a termios record; sizeParityKnown stays false.
SeenLine lineFromTermios(const struct termios &t);

// The recorder's file: "19200 7 O 2\n". false when missing or malformed.
bool readLineFile(const std::string &path, LineSettings *out);

// Whether the host's settings let the scanner's characters through.
bool lineMatches(const LineSettings &own, const SeenLine &seen);

// What a record looks like after crossing a line set up wrong: characters
// mangled and one in three lost, so no length survives. Never yields the
// end or compress codes, so the record still ends where it did.
std::string garble(const std::string &record, const Codes &codes);

// Seconds one character takes on the line (start, data, parity, stops).
double charSeconds(const LineSettings &line);

}  // namespace scannersim
