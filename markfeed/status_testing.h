// What only the tests call of status.cpp: a status answer as if the
// scanner had sent it, for the flag tests and DecodeStatus.
#pragma once

// Puts text (cut to fit) into statusback.
void setstatusback(const char *text);
