// The one way out of a run: every end, normal or not and from any module,
// goes through goodbye with the exit status the host application reads.
#pragma once

// Exit statuses: the run ended normally; the run failed; the operator quit,
// the scanner stopped answering, or there were no arguments.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 88;
constexpr int EXIT_QUIT = 99;

// Restores a serial scanner's line and the terminal, writes the
// termination lines to the trace and ends the process with code; with 99
// whatever the code when a stop signal came (the run was cut short).
[[noreturn]] void goodbye(int code);

// A safe point: when a stop signal has come, ends the run as goodbye(99).
void stoppoint();
