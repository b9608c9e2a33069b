// The port configuration file read against real files: which number lands
// in which of the 30 settings, and what the number format accepts; then line
// settings and control codes as they reach a serial line: built-in, from the
// file, and from -b and -w, which win over it. That line is a pseudo-terminal
// whose test side answers the first status request with a reply of the wrong
// length, so that the run ends at once (S6, 99) with the trace complete.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <termios.h>

#include <cstdio>
#include <map>

#include "markfeed/portcfg.h"
#include "tests/support/inside.h"
#include "tests/support/lines.h"
#include "tests/support/programs.h"

using namespace support;

namespace {

// The built-in settings with some positions (1 to 30) changed.
std::vector<int> builtInsWith(const std::map<int, int> &changes)
{
    std::vector<int> values = builtInSettings();
    for (const auto &change : changes)
        values[static_cast<size_t>(change.first - 1)] = change.second;
    return values;
}

// What next_param returns, and the value it leaves where 1234 was; no
// path ("") closes the file it reads, whatever it was.
using Got = std::pair<int, int>;
Got param(const std::string &path)
{
    int value = 1234;
    int result = next_param(path.empty() ? nullptr : path.c_str(), &value);
    return {result, value};
}

void closeParams()
{
    param("");
}

class PortConfig : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = portSettings();
        closeParams();
    }
    void TearDown() override
    {
        closeParams();
        setPortSettings(saved_);
    }
    // The settings after reading a file with this content.
    std::vector<int> read(const std::string &content)
    {
        std::string path = dir_.file("d_tty1a.cfg");
        writeFile(path, content);
        closeParams();
        setPortSettings(builtInSettings());
        DlCfg(path.c_str());
        return portSettings();
    }
    TempDir dir_;

private:
    std::vector<int> saved_;
};

TEST_F(PortConfig, BuiltInValuesBeforeAnyFile)
{
    EXPECT_EQ(portSettings(), builtInSettings());
}

TEST_F(PortConfig, NumberFormat)
{
    const struct {
        const char *content;
        std::map<int, int> changes;
    } cases[] = {
        {"", {}},
        {"1\n2\n3\n", {{1, 1}, {2, 2}, {3, 3}}},
        {"4\n13\n10\n", {}},
        {"0x04,0x0d,0x0A", {}},
        {"0x1C,0x0d,0XfF", {{1, 28}, {2, 13}, {3, 255}}},
        {"0xAbC", {{1, 0xBC}}},
        // A label is a separator; a digit in it is a number of its own.
        {"Stop=14\n", {{1, 14}}},
        {"Eor1=13\n", {{1, 1}, {2, 13}}},
        {"# end of text, no digits here\n\n   5", {{1, 5}}},
        // A minus sign is a separator.
        {"-5", {{1, 5}}},
        // An x before any digit is a separator; C cannot go on in decimal.
        {"x1C 7", {{1, 1}, {2, 7}}},
        // The value before the x is carried on.
        {"1x2", {{1, 18}}},
        // The first byte that cannot go on ends the number.
        {"0x1g5", {{1, 1}, {2, 5}}},
        {"0x1x2", {{1, 1}, {2, 2}}},
        {"1.5", {{1, 1}, {2, 5}}},
        {"12ab", {{1, 12}}},
        // The last number needs no line end.
        {"7 8 9", {{1, 7}, {2, 8}, {3, 9}}},
        // Control codes keep the low 8 bits.
        {"0x141 511 256", {{1, 0x41}, {2, 0xFF}, {3, 0}}},
        // A short file leaves the rest.
        {"1 2", {{1, 1}, {2, 2}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content);
        EXPECT_EQ(read(c.content), builtInsWith(c.changes));
    }
}

TEST_F(PortConfig, AllThirtyPositionsInOrderAndNothingAfterThem)
{
    // Labels without digits; the codes alternate hexadecimal and decimal,
    // and 300 + p keeps only its low 8 bits (44 + p).
    std::string content;
    std::vector<int> expected;
    char hex[16];
    for (int position = 1; position <= 22; position++) {
        snprintf(hex, sizeof hex, "0x%X", 300 + position);
        content +=
            "control code: " + (position % 2 ? std::string(hex) : std::to_string(300 + position)) +
            "\n";
        expected.push_back(44 + position);
    }
    content += "delay, seconds: 3\n";
    expected.push_back(3);
    content += "download status: 0x134\nstacker: 0x1B\n";
    expected.push_back(0x34);
    expected.push_back(0x1B);
    content +=
        "speed: 9600\nsize: 8\nparity (one even, two odd, three none): 3\nstops: 1\nno wait: 0\n";
    for (int value : {9600, 8, 3, 1, 0})
        expected.push_back(value);
    content += "and a thirty-first: 42\n";
    // DisplayMode and DisplayRelease have no position: the display frame
    // keeps them on the wire (protocol frames test).
    EXPECT_EQ(read(content), expected);
    // The file stays open after DlCfg: the next read goes on after the 30th.
    EXPECT_EQ(param(dir_.file("d_tty1a.cfg")), Got(0, 42));
}

TEST_F(PortConfig, SampleFileHoldsTheBuiltInValues)
{
    // The commented sample that ships with the station: its comments must
    // hold no digit, or every later value would move one position.
    std::string sample = readFile(SAMPLE_PORT_CFG);
    ASSERT_NE(sample.find("position thirty"), std::string::npos);
    EXPECT_EQ(read(sample), builtInSettings());
    // Nothing after the thirtieth number either.
    EXPECT_EQ(param(dir_.file("d_tty1a.cfg")).first, 1);
}

TEST_F(PortConfig, WholeNumbersAtTheIntegerPositions)
{
    // Twenty-five placeholders, then the line settings: no 8-bit cut there.
    std::string content;
    for (int i = 0; i < 22; i++)
        content += std::to_string(builtInSettings()[static_cast<size_t>(i)]) + "\n";
    content += "300\n51\n27\n0x141 0x1C200 9 0x100 70000\n";
    std::map<int, int> whole = {{23, 300}, {24, 51}, {25, 27}, {26, 0x141}};
    whole.insert({{27, 0x1C200}, {28, 9}, {29, 0x100}, {30, 70000}});
    EXPECT_EQ(read(content), builtInsWith(whole));
}

TEST_F(PortConfig, MissingOrUnreadableFileChangesNothing)
{
    setPortSettings(builtInSettings());
    DlCfg(dir_.file("d_none.cfg").c_str());
    EXPECT_EQ(portSettings(), builtInSettings());
    EXPECT_FALSE(fileExists(dir_.file("d_none.cfg")));

    // A directory is not a file to read.
    closeParams();
    ASSERT_EQ(mkdir(dir_.file("d_dir.cfg").c_str(), 0777), 0);
    DlCfg(dir_.file("d_dir.cfg").c_str());
    EXPECT_EQ(portSettings(), builtInSettings());
}

TEST_F(PortConfig, NextParamResults)
{
    std::string path = dir_.file("numbers");
    writeFile(path, "12 then text");
    EXPECT_EQ(param(path), Got(0, 12));
    EXPECT_EQ(param(path), Got(1, 0));  // end of file before a digit
    EXPECT_EQ(param(path), Got(1, 0));

    closeParams();
    EXPECT_EQ(param(dir_.file("missing")), Got(2, 1234));
    EXPECT_EQ(param(path), Got(2, 1234));  // the failed open sticks

    closeParams();
    ASSERT_EQ(mkdir(dir_.file("folder").c_str(), 0777), 0);
    // Not a regular file: not read, as a missing one.
    EXPECT_EQ(param(dir_.file("folder")), Got(2, 1234));
}

TEST_F(PortConfig, PathIsOnlyUsedToOpenAndNoPathCloses)
{
    std::string first = dir_.file("first"), second = dir_.file("second");
    writeFile(first, "1 2 3");
    writeFile(second, "7 8 9");
    EXPECT_EQ(param(first), Got(0, 1));
    EXPECT_EQ(param(second), Got(0, 2));
    EXPECT_EQ(param("").first, 0);
    EXPECT_EQ(param(second), Got(0, 7));
}

const char s6[] = "S6:  No communication with scanner.  Press <ENTER>.";
const char s7[] = "S7:  No Communication with scanner.  Press <ENTER>.";

// markfeed on the line, whose port configuration file holds cfg (none when
// empty); the line answers the first request so, or not at all.
Result onLine(ScriptedLine &line, const std::string &cfg, Strings args,
              const std::string &request = "s3", const std::string &answer = "x\r\n")
{
    TempDir dir;
    if (!cfg.empty())
        writeFile(dir.file("d_" + portName(line.device()) + ".cfg"), cfg);
    writeFile(dir.file("SCAN.DAT"), "earlier records\r\n");
    line.on(request, {answer});
    line.start();
    args.insert(args.begin(), {"-d", line.device()});
    Result run = runStation(dir, args);
    EXPECT_EQ(readFile(dir.file("LOCK_" + portName(line.device()))), "lock");
    return run;
}

TEST(LineSettings, BuiltInSettingsAndThePortGivenBackAtTheEnd)
{
    ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Terminal);
    // What the port had before: 9600 and two stop bits (a pty is always 8N).
    struct termios before;
    ASSERT_EQ(tcgetattr(line.slave(), &before), 0);
    cfsetispeed(&before, B9600);
    cfsetospeed(&before, B9600);
    before.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(line.slave(), TCSANOW, &before), 0);

    auto run = onLine(line, "", {"-x"});
    ASSERT_GE(line.sinceRequest(), 0) << run.errors;
    EXPECT_TRUE(ended(run, 99, {s6}));
    EXPECT_EQ(dumpAfter(run.trace, portHeading), dumpOf("19200:7O2"));
    EXPECT_EQ(dumpAfter(run.trace, resetHeading), dumpOf("9600:8N2"));
    EXPECT_TRUE(has(run.trace, "\n\nPROGRAM TERMINATED.  RETURN VALUE = "
                               "99.\n=======================================\n"));

    struct termios after;
    ASSERT_EQ(tcgetattr(line.slave(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
    EXPECT_TRUE(after.c_lflag & ICANON);
    EXPECT_TRUE(after.c_lflag & ECHO);
    EXPECT_TRUE(after.c_oflag & OPOST);
}

// The file's settings for the tests below: its own status request codes,
// and 38400 baud, 8 bits, even parity, one stop bit.
const std::string fileSettings =
    cfgText({{8, 'S'}, {24, '4'}, {26, 38400}, {27, 8}, {28, 1}, {29, 1}});

TEST(LineSettings, FileSettingsReachTheLineAndSpeedOptionWinsOverThem)
{
    const struct {
        Strings options;
        std::string expected;
    } cases[] = {
        {{}, "38400:8E1"},  // the file's
        {{"-b", "9600"}, "9600:8E1"},
        {{"-B", "19200:7o2"}, "19200:7O2"},
        {{"-b", "9600:8n1"}, "9600:8N1"},
        // An unknown parity letter keeps the file's; 0 keeps size and stops.
        {{"-b", "19200:7X2"}, "19200:7E2"},
        {{"-b", "9600:0N0"}, "9600:8N1"},
        // Empty pieces between colons do not count; the suffix ends at a colon.
        {{"-b", "19200::7O2"}, "19200:7O2"},
        {{"-b", "9600:7n2:8e1"}, "9600:7N2"},
        {{"-b", ":7O2"}, "38400:8E1"},
        // A later -b without a suffix keeps the earlier suffix.
        {{"-b", "19200:7O2", "-b", "9600"}, "9600:7O2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Terminal);
        auto run = onLine(line, fileSettings, concat({"-x"}, c.options), "S4");
        ASSERT_GE(line.sinceRequest(), 0) << run.errors << line.received();
        EXPECT_EQ(run.status, 99);
        EXPECT_EQ(dumpAfter(run.trace, portHeading), dumpOf(c.expected));
        // The file's status request codes, whatever the line settings.
        EXPECT_TRUE(endsWith(line.received(), "S4"));
        EXPECT_FALSE(has(line.received(), "s3"));
    }
}

// Nobody answers: the first status request waits 5 seconds plus the delay.
// The seconds from the request to the end, with this file delay and -w.
double unanswered(long fileDelay, const std::string &option)
{
    ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Terminal);
    auto run = onLine(line, cfgText({{23, fileDelay}}), {"-w", option}, "s3", "");
    EXPECT_TRUE(ended(run, 99, {s7}));
    return line.sinceRequest();
}

TEST(LineSettings, DelayOptionWinsOverTheFile)
{
    double seconds = unanswered(3, "-5");
    EXPECT_GE(seconds, 0);
    EXPECT_LT(seconds, 2.5);
}

TEST(LineSettings, DelayOfZeroKeepsTheFilesDelay)
{
    EXPECT_GE(unanswered(1, "0"), 5.8);
}

TEST(LineSettings, DownloadOnlyRunEndsWithZeroOnceTheScannerIsIdle)
{
    // -r without a form: no download, no scanning, and an emptied data file.
    ScriptedLine line(ScriptedLine::Pty, ScriptedLine::Terminal);
    auto run = onLine(line, "", {"-r"}, "s3", "a0bc\r\n");
    ASSERT_GE(line.sinceRequest(), 0) << run.errors;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.data, "");
}

}  // namespace
