// What only the tests call of runsettings.cpp: one process reads options
// more than once, and switches the trace without reading any.
#pragma once

// Empties the text settings and paths and clears the option flags, so that
// the next readoptions starts from none. The line settings, DlDelay and
// NoWait keep what they were last given (built in, port configuration
// file, -b, -w, -c).
void clearoptions();

// Turns the trace on (1) or off (0), as -x does and its absence.
void setdebugflag(int on);
