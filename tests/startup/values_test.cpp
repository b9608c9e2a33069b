// Option values that do not fit, and options whose value is missing: refused
// with S48 or S49 before any file is created or emptied.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/programs.h"

using namespace support;

namespace {

std::string tooLong(char letter)
{
    return std::string("S48:  Value of option -") + letter + " is too long.  Press <ENTER>.";
}

std::string needsValue(char letter)
{
    return std::string("S49:  Option -") + letter + " needs a value.  Press <ENTER>.";
}

// The files of a batch that a refused run must leave as they are.
void earlierBatch(const TempDir &dir)
{
    writeFile(dir.file("scantest.log"), "earlier trace");
    writeFile(dir.file("SCAN.DAT"), "earlier records\r\n");
}

void expectUntouched(const TempDir &dir)
{
    EXPECT_EQ(readFile(dir.file("scantest.log")), "earlier trace");
    EXPECT_EQ(readFile(dir.file("SCAN.DAT")), "earlier records\r\n");
    EXPECT_FALSE(fileExists(dir.file("LOCK_tty1a")));
    EXPECT_FALSE(fileExists(dir.file("LOCK_")));
}

// A run refused with one message that leaves the earlier batch alone.
void expectRefused(const Strings &args, const std::string &message)
{
    TempDir dir;
    earlierBatch(dir);
    auto run = runStation(dir, args);
    EXPECT_TRUE(ended(run, 88, {message}));
    expectUntouched(dir);
}

TEST(Values, OptionWithoutItsValueIsS49WithTheLetterAsTyped)
{
    for (std::string option : {"-d", "-L", "-f", "-O", "-b", "-W", "-m", "-u", "-Dx"}) {
        SCOPED_TRACE(option);
        expectRefused({"-x", "-d", "/dev/tty1a", option}, needsValue(option[1]));
    }
}

TEST(Values, RefusalWaitsForAKey)
{
    for (bool missing : {true, false}) {
        TempDir dir;
        earlierBatch(dir);
        Strings args = {"-x", "-U", std::string(20, '9')};
        if (missing)
            args.pop_back();
        Process station(markfeedIn(dir, args));
        std::string expected = missing ? needsValue('U') : tooLong('U');
        ASSERT_TRUE(waitsAt(station, expected));
        station.type("\r");
        EXPECT_EQ(station.wait(10), 88);
        expectUntouched(dir);
    }
}

TEST(Values, LongestValuesThatFitAreTaken)
{
    TempDir dir;
    // Device: 49 characters.
    std::string device = "/dev/" + std::string(44, 'd');
    auto run = runStation(dir, {"-x", "-d", device});
    EXPECT_EQ(run.status, 88);
    // The screen shows 79 columns of it; the trace has it whole.
    EXPECT_TRUE(has(run.trace,
                    "\nShowmsg:  S21:  Unable to open device " + device + ".  Press <ENTER>.\n"));
    EXPECT_EQ(readFile(dir.file("LOCK_" + std::string(44, 'd'))), "lock");

    // Service: 19 characters.
    std::string service(19, '7');
    run = runStation(dir, {"-d", "/dev/tty1a", "-u", service});
    EXPECT_EQ(run.status, 88);
    EXPECT_EQ(readFile(dir.file("LOCK_tty1a_" + service)), "lock");

    // Output name: 99 characters, taken as it is.
    std::string output(99, 'o');
    run = runStation(dir, {"-d", "/dev/tty1a", "-o", output});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(fileExists(dir.file(output)));

    // Form: 95 characters, so that the .dlf and .rtp paths have 99.
    std::string form(95, 'f');
    run = runStation(dir, {"-x", "-d", "/dev/tty1a", "-f", form});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(has(run.trace, "\nDownload file      = " + form + ".dlf\n"));
    EXPECT_TRUE(has(run.trace, "\nRuntime file       = " + form + ".rtp\n"));

    // Directory: 86 characters; with its "/" and scantest.log, 99.
    std::string directory(86, 'l');
    ASSERT_EQ(mkdir(dir.file(directory).c_str(), 0777), 0);
    run = runStation(dir, {"-d", "/dev/tty1a", "-l", directory});
    EXPECT_EQ(run.status, 88);
    EXPECT_TRUE(fileExists(dir.file(directory + "/scantest.log")));

    // Line settings and delay: 99 characters each.
    run = runStation(dir, {"-d", "/dev/tty1a", "-b", "9600:8N1" + std::string(91, ':'), "-w",
                           std::string(98, '0') + "1"});
    EXPECT_EQ(run.status, 88);
    EXPECT_FALSE(has(run.errors, "S48"));

    // The dataset is a number, with no buffer to outgrow.
    run = runStation(dir, {"-d", "/dev/tty1a", "-m", std::string(300, '1')});
    EXPECT_EQ(run.status, 88);
    EXPECT_FALSE(has(run.errors, "S48"));
}

TEST(Values, LongerValuesAreRefusedNotCut)
{
    struct Case {
        Strings args;
        char letter;
    };
    const Case cases[] = {
        {{"-d", "/dev/" + std::string(45, 'd')}, 'd'},
        {{"-D", "/dev/" + std::string(45, 'd')}, 'D'},
        {{"-d", "/dev/tty1a", "-u", std::string(20, '7')}, 'u'},
        {{"-d", "/dev/tty1a", "-o", std::string(100, 'o')}, 'o'},
        {{"-d", "/dev/tty1a", "-f", std::string(96, 'f')}, 'f'},
        {{"-d", "/dev/tty1a", "-F", std::string(100, 'f')}, 'F'},
        {{"-d", "/dev/tty1a", "-l", std::string(87, 'l')}, 'l'},
        {{"-d", "/dev/tty1a", "-L", std::string(100, 'l')}, 'L'},
        {{"-d", "/dev/tty1a", "-b", "9600:8N1" + std::string(92, ':')}, 'b'},
        {{"-d", "/dev/tty1a", "-w", std::string(99, '0') + "1"}, 'w'},
        {{"-d", "/dev/" + std::string(5000, 'd')}, 'd'},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[c.args.size() - 2]);
        expectRefused(c.args, tooLong(c.letter));
    }
}

}  // namespace
