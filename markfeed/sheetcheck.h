// Sheet record checking and the output record.
//
// Owner of printstr, the date stamp printed on an accepted sheet: only
// editform writes it.
//
// The verdict is a pure function of the record, the settings and the time;
// editform acts on it: it sends a rejected sheet to the alternate hopper
// and shows why.
//
// Results: 1 the sheet is accepted, 0 rejected.
#pragma once

#include <ctime>

#include "markfeed/runsettings.h"

constexpr int OUTREC_SIZE = 1250;
constexpr int OUTPUT_LENGTH = 1218;  // every output record
constexpr int STAMP_OFFSET = 1191;   // where the stamp's 27 characters go
constexpr int STAMP_LENGTH = 27;
constexpr int PRINTSTR_SIZE = 100;

extern const char (&printstr)[PRINTSTR_SIZE];  // read-only

struct Verdict {
    int accepted;               // 1 accepted, 0 rejected
    char message[MSG_SIZE];     // why it was rejected; empty when accepted
    char output[OUTREC_SIZE];   // the output record of an accepted sheet
    char stamp[PRINTSTR_SIZE];  // the date stamp; empty until a layout is found
};

// Judges one sheet record against the form's dataset (-m); alignment (-t)
// skips the dataset and checksum checks; when is the time to stamp.
int sheetverdict(const char *record, int dataset, int alignment, time_t when, Verdict *verdict);

// Judges a sheet record (a buffer of OUTREC_SIZE) as this run's settings
// and the clock say. On
// acceptance record holds the output record and printstr the stamp; on
// rejection the alternate hopper command and the message have been sent.
int editform(char *record);

// The number of one bits of value: the voucher checksum.
int binarycnt(unsigned int value);
