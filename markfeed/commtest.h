// The communication test: find the line settings a serial scanner answers at.
#pragma once

// Tries 36 line settings in a fixed order. 1 found (written to the data
// output file, operator told); 0 none answered.
int checkcomm();
