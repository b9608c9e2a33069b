// Opening the station's files in a directory that other users may write.
// A symbolic link is followed only when its owner is the user running
// markfeed or the owner of the directory that holds it (administrators
// link the data file to where the host imports it, or the trace to
// /dev/null), every link on the way, at most 8; the link judged is the
// link followed, however the names change meanwhile. Nothing blocks on a
// FIFO; only a regular file is accepted, or a character device such as
// /dev/null where the caller allows one.
//
// Results: opensafely gives the open descriptor (blocking, as usual), or
// SAFE_FAILED when the open itself failed, or SAFE_REFUSED when the file
// is not one to trust; *reason then says why.
#pragma once

constexpr int SAFE_FAILED = -1;
constexpr int SAFE_REFUSED = -2;

constexpr int REGULAR_ONLY = 0;
constexpr int ALLOW_DEVICE = 1;

// flags are open's; O_NOFOLLOW in them refuses a link as the last part of
// the name, O_TRUNC cuts back only a file that is accepted. Files are
// created with mode 0666 less the umask.
int opensafely(const char *path, int flags, int kinds, const char **reason);

// Cuts a regular file back to length bytes; other files are left alone.
void cutback(int fd, long length);
