// The command line of the scannersim program.
#pragma once

#include <string>
#include <vector>

#include "scannersim/scannersim.h"

namespace scannersim {

enum class ParseResult { Run, Help, Version, Error };

// Fills *options from argv. On Error, *error is the one-line reason.
ParseResult parseCommandLine(int argc, char **argv, Options *options, std::string *error);

const char *usageText();

// Reads and parses a deck file; false with *error ("PATH: ...") when it
// cannot be read, is not a regular file (never waiting for a FIFO's
// writer), or has a bad line.
bool loadDeckFile(const std::string &path, std::vector<DeckEntry> *deck, std::string *error);

}  // namespace scannersim
