// The descriptor pair that stands for the scanner's line in the targets
// that read markfeed's answers.
#pragma once

#include <cstddef>
#include <cstdint>

// Makes markfeed's link one end of a socket pair, with every wait for a
// character a poll, and gives the other end (the scanner's). The pair
// stays open for the process: at end of input the link's read would sleep.
int openLine();

// Writes bytes as the scanner would; aborts when the line cannot take them.
void sendLine(int scanner, const uint8_t *data, size_t size);

// Drops whatever is left at both ends, so each input starts on a clean line.
void drainLine(int scanner);
