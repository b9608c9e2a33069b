// The command line of the scannersim program.
#pragma once

#include <string>

#include "scannersim.h"

namespace scannersim {

enum class ParseResult { Run, Help, Error };

// Fills *options from argv. On Error, *error says why.
ParseResult parseCommandLine(int argc, char **argv, Options *options, std::string *error);

const char *usageText();

}  // namespace scannersim
