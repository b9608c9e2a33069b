// Included before ndxmode.cpp in the fuzz build: ndxmode leaves a file it
// refuses for the system to close, which in one long process would leak a
// stream per input. Its fopen is routed here so the target can close it.
#pragma once

#include <cstdio>

FILE *ndxmodeOpen(const char *path, const char *mode);
#define fopen ndxmodeOpen
