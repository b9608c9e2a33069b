// The port configuration file d_<port>.cfg: 30 numbers by position that
// replace the built-in control codes, delay, line settings and NoWait.
// The codes go to their owner (frames.h), the rest to the run settings.
//
// Results: next_param gives 0 when a number was read, 1 at end of file
// before any digit, 2 when the file is not open or a read failed.
#pragma once

// The numbers of the file by position (index 0 is position 1), and
// whether one was read there.
struct PortNumbers {
    int values[30];
    bool read[30];
};

// Reads up to 30 numbers from path into their settings; a missing file
// changes nothing. What was read goes to *numbers as well, when given.
void DlCfg(const char *path, PortNumbers *numbers = nullptr);

// Reads the next number of path into *value (path is only used to open
// the file on the first call). A null path closes the file and returns 0.
int next_param(const char *path, int *value);
