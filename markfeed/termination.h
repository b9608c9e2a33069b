// The one way out of a run: every end, normal or not and from any module,
// goes through goodbye with the exit status the host application reads.
#pragma once

// Exit statuses: the run ended normally; the run failed; the operator quit,
// the scanner stopped answering, or there were no arguments.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 88;
constexpr int EXIT_QUIT = 99;

// Restores a serial scanner's line and the terminal, writes the
// termination lines to the trace and ends the process with code. A stop
// signal does not change it: a run on its way out with 88 (or 0) keeps
// that status, even when the signal cut its last prompt short.
[[noreturn]] void goodbye(int code);

// A safe point: when a stop signal has come, ends the run as goodbye(99),
// for the run would otherwise have gone on.
void stoppoint();

// Ends the run unless DlOpenComm's result says the link is open: with 88
// after the link's own message, with 99 when a stop signal cut it short.
void requireopen(int opened);
