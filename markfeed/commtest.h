// The communication test: find the line settings a serial scanner answers at.
//
// Results: checkcomm gives 1 when a trial answered (its settings written to
// the data output file, the operator told), 0 when none of the 36 did.
#pragma once

int checkcomm();
