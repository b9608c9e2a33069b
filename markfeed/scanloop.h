// The scanning loop: feed sheets, check them, write accepted records.
//
// Owner of sheetnum, the number shown for the next sheet.
#pragma once

extern int sheetnum;

// 0 the batch ended at an empty hopper; 88 the scanner would not start;
// 99 the operator pressed <ESCAPE>.
int DlScan();
