// The data output file that the host application imports: one line per
// accepted sheet (or the result of a communication test).
//
// Owner of the open data output file.
//
// Results: opendatafile gives 1 when the file is open, 0 when not;
// writedataline returns only when the line is on disk.
#pragma once

// Opens the file for writing, created or emptied.
int opendatafile(const char *path);

// Appends text and CR LF and flushes, so the line is on disk before the
// caller goes on (a stamped sheet must never lose its record). On failure
// shows S50 and ends the run with 88.
void writedataline(const char *text);
