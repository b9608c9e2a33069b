// Status answers and records as the scanner sends them, from a scripted line:
// answers of the wrong length or none at all, and the bytes a record is
// pieced together from.
#include <gtest/gtest.h>

#include "support/lines.h"
#include "support/scanner.h"

using namespace support;

namespace {

const std::string idle = "0000\r\n";

// A run-length group: the count byte, then the byte repeated.
std::string group(int count, char byte = '0')
{
    return std::string("\x15") + static_cast<char>(count) + byte;
}

}  // namespace

TEST(StatusAnswers, WrongLengthOrNoAnswerEndsTheRunWith99)
{
    const std::string s6 = "S6:  No communication with scanner.  Press <ENTER>.";
    const std::string s7 = "S7:  No Communication with scanner.  Press <ENTER>.";
    struct Case {
        std::string name;
        Strings args;
        std::string idleAnswer;  // to the download status request
        std::string longAnswer;  // to the long status request
        std::string requests;    // after the reset sequence
        std::string message;
    } cases[] = {
        {"short download status", {"-r"}, "000\r\n", "", "s3", s6},
        {"long download status", {"-r"}, "00000\r\n", "", "s3", s6},
        {"no download status", {"-r", "-w", "-3"}, "", "", "s3", s7},
        {"long status of 49", {}, idle, longStatus('w', 'A', {}, 49) + "\r\n", "s3s0", s6},
        {"long status of 51", {}, idle, longStatus('w', 'A', {}, 51) + "\r\n", "s3s0", s6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line(ScriptedLine::Pty);
        line.on("s3", {c.idleAnswer});
        line.on("s0", {c.longAnswer});
        line.start();
        Result run = runStation(concat({"-d", line.device(), "-x"}, c.args));
        EXPECT_TRUE(ended(run, 99, {c.message}));
        EXPECT_EQ(line.received(), resetBytes + c.requests);
        EXPECT_TRUE(has(run.trace, "\nShowmsg:  " + c.message +
                                       "\n\nResetting Scanner Port To Default Settings"));
        EXPECT_TRUE(endsWith(run.trace, "\n\nPROGRAM TERMINATED.  RETURN VALUE = "
                                        "99.\n=======================================\n"));
        if (c.message == s7) {
            // -w -3 makes the five-second wait for a character two seconds.
            EXPECT_GE(run.seconds, 2.0);
            EXPECT_LT(run.seconds, 4.5);
        }
    }
}

TEST(ScannerRecords, AnswerIsPiecedTogetherFromTheBytesAsReceived)
{
    struct Case {
        std::string name;
        std::string answer;  // to the download status request
        std::string record;  // as the station read it
    } cases[] = {
        {"leading line feed skipped", "\n0000\r\n", "0000"},
        {"carriage return and the byte after it dropped", "00\rX00\r\n", "0000"},
        {"run-length group", group(0x44) + "\r\n", "0000"},
        {"group of three in the middle", "0" + group(3) + "\r\n", "0000"},
        {"group of none", "0\x15\x40Z000\r\n", "0000"},
        {"control byte in a group is data", "\x15\x01\r000\r\n", "\r000"},
        {"top bit cleared", "\xb0\xb0\xb0\xb0\x8d\x8a", "0000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line(ScriptedLine::Tcp);
        line.on("s3", {c.answer});
        line.start();

        Result run = runStation(
            {"-d", "/net/127.0.0.1", "-u", std::to_string(line.port()), "-p", "-r", "-x"});
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_TRUE(endsWith(run.trace, traceCalls({"getstatus(s3)", "readrecord()"}) +
                                            "\nReadrecord OK:  " + c.record));
    }
}

// A serial port starts with signal characters on; the station must turn
// them off, or the line swallows run-length counts of 3, 26 and 28.
TEST(ScannerRecords, ControlBytesAsRunLengthCountsSurviveTheSerialLine)
{
    ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Signals);
    line.on("s3", {"0" + group(3) + "\r\n"});
    const std::string thirteen = group(13) + "w0\r\n";  // wait mode
    line.on("s0", {group(28) + std::string(6, '0') + "N" + thirteen,
                   group(26) + std::string(8, '0') + "N" + thirteen,
                   std::string(34, '0') + "N" + std::string(13, '0') + "d0\r\n"});
    line.on("\x11", {"E\r\n"});
    line.start();

    Result run = runStation({"-d", line.device()});
    EXPECT_TRUE(ended(run, 0, {"S26:  Scanner Initialization failed [E].  Press <ENTER>."}));
    EXPECT_EQ(line.received(), resetBytes + "s3s0s0ed\x04\r\ns0\x11");
}
