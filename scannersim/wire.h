// Turns an answer into the bytes the scanner puts on the line.
#pragma once

#include <string>

#include "scannersim/codes.h"

namespace scannersim {

// Run-length groups (compress code, count 1..63 as a raw byte, the byte)
// for runs of three or more, and for any single end or compress code so
// that it reaches the host as data.
std::string compressRecord(const std::string &text, const Codes &codes);

// The record, optionally compressed, closed by Eor1 Eor2.
std::string frameAnswer(const std::string &text, const Codes &codes, bool compress);

}  // namespace scannersim
