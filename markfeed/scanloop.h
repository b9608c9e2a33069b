// The scanning loop: feed sheets, check them, write accepted records.
//
// Results: DlScan gives 0 when the batch ended at an empty hopper, 88 when
// the scanner would not start, 99 when the operator pressed <ESCAPE>.
#pragma once

int DlScan();
