// Control codes of the scanner protocol, and the port configuration file
// that replaces them.
#pragma once

#include <cstdint>
#include <string>

namespace scannersim {

struct Codes {
    uint8_t eoi = 0x04;
    uint8_t eor1 = 0x0D;
    uint8_t eor2 = 0x0A;
    uint8_t start = 0x72;
    uint8_t stop = 0x0E;
    uint8_t displayMode = 0x07;     // fixed: the file cannot change it
    uint8_t displayRelease = 0x60;  // fixed as well
    uint8_t initiate = 0x11;
    uint8_t positiveResponse = 0x11;
    uint8_t statusControl = 0x73;
    uint8_t longStatus = 0x30;
    uint8_t shortStatus = 0x31;
    uint8_t barCode = 0x32;
    uint8_t scannerControl = 0x65;
    uint8_t download = 0x1C;
    uint8_t run = 0x1D;
    uint8_t release = 0x12;
    uint8_t printPos = 0x31;
    uint8_t printData = 0x32;
    uint8_t compress = 0x15;
    uint8_t selectScanner = 0x14;
    uint8_t selectAux = 0x13;
    uint8_t auxPortData = 0x19;
    uint8_t selectFromAux = 0x0D;
    uint8_t downloadStatus = 0x33;
    uint8_t selectStacker = 0x1B;
};

// Reads up to 30 numbers from `text` in the configuration file syntax
// (decimal, "x" switching to hex after a digit, anything else separates).
// Returns how many were read; values[] gets them in order.
int scanConfigNumbers(const std::string &text, long values[30]);

// Applies the numbers of a configuration file to `codes` by position.
// Positions that hold no control code (delay, line settings) are skipped.
void applyConfigNumbers(const long values[30], int count, Codes *codes);

// Reads the file at `path` into `codes`. A missing file changes nothing
// (as for the host); returns false only when the file exists but cannot
// be read, with *error set.
bool readCodesFile(const std::string &path, Codes *codes, std::string *error);

}  // namespace scannersim
