// The data output file that the host application imports: one line per
// accepted sheet (or the result of a communication test).
//
// Owner of the open data output file.
#pragma once

// Opens the file for writing, created or emptied: 1 open, 0 not.
int opendatafile(const char *path);

// Appends text and CR LF and flushes, so the line is on disk before the
// caller goes on (a stamped sheet must never lose its record). On failure
// shows S50 and ends the run with 88.
void writedataline(const char *text);
