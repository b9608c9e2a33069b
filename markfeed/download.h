// Loading the scanner: memory initialisation, the form definition (.dlf)
// and the runtime parameters (.rtp).
//
// Owner of the download buffers.
#pragma once

constexpr int DEFINITION_LIMIT = 24000;  // bytes of the .dlf sent at most
constexpr int RUNTIME_LINE = 50;         // first .rtp line, NUL included

extern char definitionbuf[DEFINITION_LIMIT];
extern char runtimeline[RUNTIME_LINE];

// 1 the scanner took the memory initialisation ('V'); 0 failure, shown.
int DlClearMem();

// 1 the scanner took the form definition ('G'); 0 failure, shown.
int DlDef();

// Sends the runtime parameters (flag 1 shows a progress message first).
// 0 accepted; -1 failure, shown; -2 rejected or reload forced by -r.
int DlRunTime(int flag);
