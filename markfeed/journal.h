// The station's history in the system log: a "start" line when a run has
// its locks, a "message" line for each numbered message shown after that,
// and an "end" line from goodbye with the counts and the reason, each a
// fixed first word and key=value pairs (journalctl -t markfeed -o cat).
// A run refused before its locks logs its "end" line alone, with what it
// knows of the run. Nothing here touches the screen, the trace, the data
// output file or the exit status; a log that cannot be reached is ignored,
// as syslog(3) ignores it.
//
// Owner of the log's state: whether it is on, the run's counts, the stamp
// of the last accepted sheet and what the reason of the end will be. The
// modules report their events through the functions below.
//
// Results: logsetting gives LOG_SETTING_ON (the facility in *facility),
// LOG_SETTING_OFF, or LOG_SETTING_UNKNOWN (not a value it knows: the log
// stays on with LOG_USER); messagecode gives 1 when text is a numbered
// message (its code, such as "S21", in code), else 0; logvalue gives the
// length written into out.
#pragma once

#include <cstddef>

// The one environment variable that turns the log off or chooses its
// facility: "off", "user", "daemon", or "local0" to "local7".
constexpr const char LOG_VARIABLE[] = "MARKFEED_SYSLOG";

constexpr int LOG_SETTING_ON = 0;
constexpr int LOG_SETTING_OFF = 1;
constexpr int LOG_SETTING_UNKNOWN = 2;

// What value (null when unset) asks for.
int logsetting(const char *value, int *facility);

// The facility's name ("user", "local3"), for reports.
const char *facilityname(int facility);

// "S21" from "S21:  Unable to open ...", cut to fit code.
int messagecode(const char *text, char *code, size_t size);

// value as a log value: bare when it has no blank, quote, backslash or
// control byte and is not empty, else in double quotes with \" \\ and
// \xHH escapes. Cut to fit out (size at least 3).
size_t logvalue(const char *value, char *out, size_t size);

// Opens the log as the environment says and starts the run's clock; the
// arguments are kept for the start line.
void journalopen(int argc, char **argv);

// The start line, once the run has its locks; network is 1 for a network
// device, whose run dials port (-1 when its service has no entry).
void journalstart(int network, int port);

// A message shown to the operator: numbered ones are logged, and the last
// one's code is the reason of an end with 88 or 99.
void journalshown(const char *text);

// The operator quit with <ESCAPE>.
void journalescape();

// The line or connection gave end of file or an error on every attempt.
void journallinklost();

// A sheet record was read; a sheet was accepted and stamped with stamp; a
// sheet went to the alternate hopper.
void journalsheet();
void journalaccepted(const char *stamp);
void journalrejected();

// The run shows the usage screen.
void journalusage();

// The end line, for the exit status the run ends with; stopped is 1 when a
// stop signal ended it.
void journalend(int status, int stopped);
