// The usage screen and what a run without arguments leaves behind.
#include <gtest/gtest.h>

#include "support/programs.h"

using namespace support;

namespace {

const char usagescreen[] =
    "\r\nusage -- markfeed [options] [-dlfobwmxrsupc]               Updated: 1/18/2005"
    "\r\n==========================================================================="
    "\r\n[-d devicename]   Scanner device name /dev/tty# /net/#.#.#.# /net/hostname."
    "\r\n[-l pathname]     Directory that all markfeed files will be maintained."
    "\r\n[-f filename]     Dlf filename for download definition file."
    "\r\n[-o datafile]     Filename for output data returned from scanner."
    "\r\n[-b baudrate]     Baud rate with optional size/parity/stops (Ex: 9600:8N1)"
    "\r\n[-w waittime]     Add n second delay for slow communication networks."
    "\r\n[-m dataset]      Vantorel dataset that form belongs to."
    "\r\n[-x]              Output debug information to file scantest.log."
    "\r\n[-r]              Initialize scanner, download form definition file."
    "\r\n[-s]              Test scanner communications/return communication config."
    "\r\n[-u]              Assign socket port /etc/service name or number."
    "\r\n[-p]              Check networking that stores the sign in different order."
    "\r\n[-c]              Activate continous feed mode."
    "\r\n[-t]              Process read head alignment form."
    "\r\n===========================================================================\r\n\r\n";

TEST(UsageScreen, NoArgumentsShowsTheScreenAndTouchesNoFile)
{
    TempDir dir;
    for (auto input : {RunOptions::Terminal, RunOptions::File}) {
        Process station(markfeedIn(dir, {}, input));
        EXPECT_EQ(station.wait(10), 99);
        EXPECT_EQ(station.errors(), usagescreen);
        EXPECT_FALSE(fileExists(dir.file("scantest.log")));
        EXPECT_FALSE(fileExists(dir.file("SCAN.DAT")));
        EXPECT_FALSE(fileExists(dir.file("LOCK_")));
    }
}

}  // namespace
