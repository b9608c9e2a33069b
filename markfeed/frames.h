// Scanner command frames: the control codes and one sender per command.
//
// Owner of the 26 control codes. Each sender reads its code at the moment
// of sending (the port configuration file may have replaced it), writes
// its trace line, and hands its whole frame to the link in one write.
//
// Results: the senders report nothing (a failed write shows up as a
// missing answer); setcontrolcode gives 1 when the position holds a code.
#pragma once

// The codes the response reader and the status requests use, read-only
// (setcontrolcode changes them); the others are read only by the senders
// here.
extern const unsigned char &Eor1;
extern const unsigned char &Eor2;
extern const unsigned char &CompressCode;
extern const unsigned char &StatusControlCode;
extern const unsigned char &LongStatusRequest;
extern const unsigned char &ShortStatusRequest;
extern const unsigned char &DownloadStatusRequest;

// Replaces the control code at position (1 to 30) of the port
// configuration file with the low 8 bits of value.
int setcontrolcode(int position, int value);

// The control code at position (1 to 30) of the port configuration file,
// or -1 when that position holds another setting.
int controlcode(int position);

void DlDownload();       // download frame lead
void DlEnd();            // end-of-frame triple Eoi Eor1 Eor2
void DlInit();           // initiate
void DlAck();            // positive response
void DlStart();          // start feeding
void DlStop();           // stop
void DlScanControl();    // mode-change frame lead
void DlRun();            // runtime parameter frame lead
void DlRel();            // release the sheet at the print position
void DlSelectScanner();  // select the scanner
void DlAltHopper();      // send the sheet to the alternate hopper
void DlDisplay();        // display release frame

// The reset sequence: select scanner, end of frame, release, stop, display.
void DlReset();

// Prints text on the sheet at the print position: position frame, text frame.
void writedata(int position, const char *text);
