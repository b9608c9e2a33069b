#include "markfeed/frames.h"

#include <cstdio>
#include <cstring>

#include "markfeed/journal.h"
#include "markfeed/link.h"
#include "markfeed/operator.h"

namespace {

// The codes others read; they see them through the const names of frames.h.
namespace own {
unsigned char Eor1 = 0x0D;
unsigned char Eor2 = 0x0A;
unsigned char StatusControlCode = 0x73;
unsigned char LongStatusRequest = 0x30;
unsigned char ShortStatusRequest = 0x31;
unsigned char CompressCode = 0x15;
unsigned char DownloadStatusRequest = 0x33;
}  // namespace own

unsigned char Eoi = 0x04;
unsigned char Start = 0x72;
unsigned char Stop = 0x0E;
unsigned char DisplayMode = 0x07;
unsigned char DisplayRelease = 0x60;
unsigned char Initiate = 0x11;
unsigned char PositiveResponse = 0x11;
unsigned char BarCodeRequest = 0x32;
unsigned char ScannerControlCode = 0x65;
unsigned char DownloadControlChar = 0x1C;
unsigned char RunCode = 0x1D;
unsigned char RelCode = 0x12;
unsigned char PrintPosCode = 0x31;
unsigned char PrintDataCode = 0x32;
unsigned char SelectScanner = 0x14;
unsigned char SelectAux = 0x13;
unsigned char AuxPortData = 0x19;
unsigned char SelectFromAux = 0x0D;
unsigned char SelectStacker = 0x1B;

unsigned char endstr[3];  // the three-byte frames of DlEnd and DlDisplay
char PosBuff[8];          // the print position of writedata

// The codes in the order of the port configuration file; the positions of
// its int settings (the delay and the line settings) hold none.
unsigned char *const configured[30] = {
    &Eoi,
    &own::Eor1,
    &own::Eor2,
    &Start,
    &Stop,
    &Initiate,
    &PositiveResponse,
    &own::StatusControlCode,
    &own::LongStatusRequest,
    &own::ShortStatusRequest,
    &BarCodeRequest,
    &ScannerControlCode,
    &DownloadControlChar,
    &RunCode,
    &RelCode,
    &PrintPosCode,
    &PrintDataCode,
    &own::CompressCode,
    &SelectScanner,
    &SelectAux,
    &AuxPortData,
    &SelectFromAux,
    nullptr,
    &own::DownloadStatusRequest,
    &SelectStacker,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// A one-byte command: its trace line, then the code as it is now.
void sendcode(unsigned char code, const char *name)
{
    trace("\nFunction call to %s().", name);
    linewrite(&code, 1);
}

// A three-byte frame in endstr: its trace line, then one write.
void sendtriple(unsigned char first, unsigned char second, unsigned char third, const char *name)
{
    endstr[0] = first;
    endstr[1] = second;
    endstr[2] = third;
    trace("\nFunction call to %s().", name);
    linewrite(endstr, 3);
}

}  // namespace

// constexpr: bound before any code runs, whatever order the files start in.
constexpr const unsigned char &Eor1 = own::Eor1;
constexpr const unsigned char &Eor2 = own::Eor2;
constexpr const unsigned char &CompressCode = own::CompressCode;
constexpr const unsigned char &StatusControlCode = own::StatusControlCode;
constexpr const unsigned char &LongStatusRequest = own::LongStatusRequest;
constexpr const unsigned char &ShortStatusRequest = own::ShortStatusRequest;
constexpr const unsigned char &DownloadStatusRequest = own::DownloadStatusRequest;

void DlDownload()
{
    sendcode(DownloadControlChar, "DlDownload");
}
void DlInit()
{
    sendcode(Initiate, "DlInit");
}
void DlAck()
{
    sendcode(PositiveResponse, "DlAck");
}
void DlStart()
{
    sendcode(Start, "DlStart");
}
void DlStop()
{
    sendcode(Stop, "DlStop");
}
void DlScanControl()
{
    sendcode(ScannerControlCode, "DlScanControl");
}
void DlRun()
{
    sendcode(RunCode, "DlRun");
}
void DlRel()
{
    sendcode(RelCode, "DlRel");
}
void DlSelectScanner()
{
    sendcode(SelectScanner, "DlSelectScanner");
}
void DlAltHopper()
{
    journalrejected();
    sendcode(SelectStacker, "DlAltHopper");
}

void DlEnd()
{
    sendtriple(Eoi, Eor1, Eor2, "DlEnd");
}

void DlDisplay()
{
    sendtriple(DisplayMode, DisplayRelease, Eoi, "DlDisplay");
}

void DlReset()
{
    trace("\nFunction call to DlReset().");
    DlSelectScanner();
    DlEnd();
    DlRel();
    DlStop();
    DlDisplay();
}

void writedata(int position, const char *text)
{
    trace("\nFunction call to writedata().");
    linewrite(&PrintPosCode, 1);
    snprintf(PosBuff, sizeof PosBuff, "%2.2d", position);
    linewrite(PosBuff, 2);
    DlEnd();
    linewrite(&PrintDataCode, 1);
    linewrite(text, static_cast<int>(strlen(text)));
    DlEnd();
}

int setcontrolcode(int position, int value)
{
    if (position < 1 || position > 30 || configured[position - 1] == nullptr)
        return 0;
    *configured[position - 1] = static_cast<unsigned char>(value & 0xFF);
    return 1;
}

int controlcode(int position)
{
    if (position < 1 || position > 30 || configured[position - 1] == nullptr)
        return -1;
    return *configured[position - 1];
}
