// Loading the scanner: memory initialisation, the form definition (.dlf)
// and the runtime parameters (.rtp).
//
// Results: DlClearMem and DlDef give 1 when the scanner took it, 0 on a
// failure already shown; DlRunTime gives 0 accepted, -1 failure already
// shown, -2 rejected by the scanner (silent) or a reload forced by -r.
#pragma once

constexpr int DEFINITION_LIMIT = 24000;  // bytes of the .dlf sent at most
constexpr int RUNTIME_LINE = 50;         // first .rtp line, NUL included

// The commas of a runtime parameter line; the scanner takes nine
// parameters, so a line needs RUNTIME_COMMAS.
constexpr int RUNTIME_COMMAS = 8;
int countcommas(const char *line);

// Initialises the scanner's memory ('V' expected).
int DlClearMem();

// Downloads the form definition ('G' expected).
int DlDef();

// Sends the runtime parameters (flag 1 shows a progress message first).
int DlRunTime(int flag);
