// markfeed --check: what a run with the same options would use and whether
// it could start, one line a fact on standard output, for an administrator
// before the first batch of a new station. It touches nothing: no file is
// created, emptied or written, no lock is taken, and the scanner's device
// is never opened (its modem lines stay as they are); files, devices and
// locks are judged by stat, access and /proc.
//
// No globals of its own: it fills the run settings as a run would.
//
// Result: checkstation gives 0 when a run could start, 88 when something
// would stop it; each problem is a line that starts with "error:" (a run
// would stop) or "warning:" (a run would start, but not as meant).
#pragma once

int checkstation(int argc, char **argv);
