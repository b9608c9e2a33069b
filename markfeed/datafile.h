// The data output file that the host application imports: one line per
// accepted sheet (or the result of a communication test).
//
// Owner of the open data output file. The file is opened and locked before
// it is emptied, and the locks (flock and a byte-range lock of the whole
// file) are held for the whole run, so that two runs never write one file
// and a host that imports under either lock never sees a run empty it; a
// line that cannot be written whole is cut back.
//
// Results: opendatafile gives DATA_OPEN, DATA_UNLOCKED (open, but the file
// system cannot lock it), DATA_LOCKED (another process holds it either way;
// the file is closed again) or DATA_FAILED (*reason says why, and whether
// it was refused); writedataline returns only when the line is written.
#pragma once

constexpr int DATA_OPEN = 0;
constexpr int DATA_UNLOCKED = 1;
constexpr int DATA_LOCKED = 2;
constexpr int DATA_FAILED = 3;

// Opens the file for writing (created when missing, not yet emptied) and
// takes its locks.
int opendatafile(const char *path, const char **reason, int *refused);

// Empties the file the run has locked.
void emptydatafile();

// Appends text and CR LF, so the line is in the file before the caller goes
// on (a stamped sheet must never lose its record). When the line cannot be
// written whole, the file is cut back to its last whole line, S50 is shown
// and the run ends with 88.
void writedataline(const char *text);
