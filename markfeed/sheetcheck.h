// Sheet record checking and the output record.
//
// Owner of outrec (the sheet record, turned in place into the output
// record) and printstr (the date stamp printed on an accepted sheet).
#pragma once

constexpr int OUTREC_SIZE = 1250;
constexpr int OUTPUT_LENGTH = 1218;  // every output record
constexpr int STAMP_OFFSET = 1191;   // where the stamp's 27 characters go
constexpr int STAMP_LENGTH = 27;
constexpr int PRINTSTR_SIZE = 100;

extern char outrec[OUTREC_SIZE];
extern char printstr[PRINTSTR_SIZE];

// 1 the sheet is accepted (record holds the output record, printstr the
// stamp); 0 rejected, after the alternate hopper command and the message.
int editform(char *record);

// The number of one bits of value: the voucher checksum.
int binarycnt(unsigned int value);
