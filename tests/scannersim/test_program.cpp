// The scannersim program as an administrator starts it.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include "sim_util.h"

using namespace simtest;

TEST(Program, HelpAndVersion)
{
    Program help({"--help"});
    EXPECT_FALSE(help.ready());
    EXPECT_EQ(help.banner().rfind("usage: scannersim [options]\n", 0), 0u);
    EXPECT_NE(help.banner().find("  --version "), std::string::npos);
    EXPECT_EQ(help.wait(), 0);
    Program version({"--version"});
    EXPECT_EQ(version.banner(), "scannersim 1.0.0\n");
    EXPECT_EQ(version.wait(), 0);
    EXPECT_EQ(version.stderrText(), "");
}

TEST(Program, BadOptionsGetOneLineAndAPointerToHelp)
{
    std::string dir = tempDir();
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--bogus"}, "unrecognized option '--bogus'"},
        {{"foo"}, "unexpected argument 'foo'"},
        {{"--tcp", "0", "stray"}, "unexpected argument 'stray'"},
        {{"-q"}, "invalid option -- 'q'"},
        {{"--tcp"}, "option '--tcp' requires an argument"},
        {{"--pace=1"}, "option '--pace' doesn't allow an argument"},
        {{"--re", "start"}, "option '--re' is ambiguous"},
        {{"--tcp", "70000"}, "bad port '70000'"},
        {{"--line", "19200:7Q2"}, "bad line settings '19200:7Q2'"},
        {{"--refuse", "everything"},
         "bad step 'everything' (clearmem, definition, runtime or start)"},
        {{"--handshake", "X"}, "bad handshake 'X' (A, I or N)"},
        {{"--mode", "x"}, "unknown mode 'x' (w, d, t or i)"},
        {{"--mode", "wd"}, "unknown mode 'wd' (w, d, t or i)"},
        {{"--deck", "/nonexistent/deck"}, "/nonexistent/deck: No such file or directory"},
        {{"--deck", dir}, dir + ": is a directory, not a deck file"},
    };
    for (const auto &c : cases) {
        Program bad(c.args);
        EXPECT_FALSE(bad.ready());
        EXPECT_EQ(bad.wait(), 2) << c.args[0];
        EXPECT_EQ(bad.stderrText(),
                  "scannersim: " + c.message + "\nTry 'scannersim --help' for more information.\n");
    }
    // Options keep their meaning, abbreviated or with '='.
    Program good({"--tcp=0", "--mode", "d", "--hand=N", "--trans", dir + "/transcript"});
    ASSERT_TRUE(good.ready());
    int fd = connectTcp(std::stoi(bannerValue(good.banner(), "tcp").substr(10)));
    ASSERT_GE(fd, 0);
    sendBytes(fd, "s0");
    std::string status = readRecord(fd);
    ASSERT_EQ(status.size(), 52u);
    EXPECT_EQ(status[34], '0');
    EXPECT_EQ(status[48], 'd');
    ::close(fd);
    EXPECT_EQ(good.stop(SIGTERM), 0);
    EXPECT_NE(readFile(dir + "/transcript").find("< Status s0 | 73 30\n"), std::string::npos);
}

TEST(Program, BadDeckLineIsNamed)
{
    std::string dir = tempDir();
    writeFile(dir + "/deck", "GOOD\n!jam later\n");
    Program bad({"--deck", dir + "/deck"});
    EXPECT_EQ(bad.wait(), 2);
    EXPECT_NE(bad.stderrText().find("line 2"), std::string::npos);
}

TEST(Program, PtyRunWithTranscriptAndSheetsUntilSigterm)
{
    std::string dir = tempDir();
    writeFile(dir + "/deck", "# two sheets\nSHEET A\n\nSHEET B\n");
    Program sim({"--link", dir + "/scanner", "--deck", dir + "/deck", "--transcript",
                 dir + "/transcript", "--sheets", dir + "/sheets"});
    ASSERT_TRUE(sim.ready());
    std::string device = bannerValue(sim.banner(), "device");
    EXPECT_EQ(device.rfind("/dev/pts/", 0), 0u) << sim.banner();
    char target[256] = {0};
    ASSERT_GT(::readlink((dir + "/scanner").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(device, target);

    int fd = openDevice(dir + "/scanner");
    ASSERT_GE(fd, 0);
    sendBytes(fd, std::string("ed\x04\r\n\x11"));
    sendBytes(fd, "\x11");
    EXPECT_EQ(readRecord(fd), "GSCANNING\r\n");
    sendBytes(fd, "\x11");
    EXPECT_EQ(readRecord(fd), "SHEET A\r\n");
    sendBytes(fd, "\x1b\x11");
    EXPECT_EQ(readRecord(fd), "SHEET B\r\n");
    sendBytes(fd, "100\x04\r\n"
                  "2OK\x04\r\n");
    readFor(fd, 0.3);
    ::close(fd);
    EXPECT_EQ(sim.stop(SIGTERM), 0);

    EXPECT_EQ(readFile(dir + "/sheets"), "sheet 1 line 2 hopper=alternate length=7\n"
                                         "sheet 2 line 4 hopper=print length=7 print=\"00:OK\"\n");
    std::string transcript = readFile(dir + "/transcript");
    EXPECT_NE(transcript.find("< ModeChange d | 65 64 04 0d 0a\n< Handshake | 11\n"),
              std::string::npos)
        << transcript;
    EXPECT_NE(transcript.find("< Initiate | 11\n# host line 19200 baud, 2 stop bits matches "
                              "19200:7O2\n> Reply start \"GSCANNING\" | "
                              "47 53 43 41 4e 4e 49 4e 47 0d 0a\n"),
              std::string::npos)
        << transcript;
    EXPECT_NE(transcript.find("< SheetRequest | 11\n> Record sheet 1 line 2 \"SHEET A\""),
              std::string::npos);
    EXPECT_NE(transcript.find("< AltHopper | 1b\n"), std::string::npos);
    EXPECT_NE(transcript.find("< PrintData \"OK\" | 32 4f 4b 04 0d 0a\n"), std::string::npos);
    EXPECT_EQ(::access((dir + "/scanner").c_str(), F_OK), -1);
}

TEST(Program, TranscriptOnStandardOutputIsALiveView)
{
    Program sim({"--tcp", "0", "--transcript", "/dev/stdout"});
    ASSERT_TRUE(sim.ready());
    int fd = connectTcp(std::stoi(bannerValue(sim.banner(), "tcp").substr(10)));
    ASSERT_GE(fd, 0);
    sendBytes(fd, "s1");
    EXPECT_EQ(readRecord(fd), "000\r\n");
    std::string live = sim.stdoutText();
    EXPECT_EQ(live.rfind("# connection from 127.0.0.1:", 0), 0u) << live;
    EXPECT_NE(live.find("\n< Status s1 | 73 31\n> ShortStatus \"000\" | 30 30 30 0d 0a\n"),
              std::string::npos)
        << live;
    ::close(fd);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(Program, TcpOnLoopbackWithCodesFromAConfigurationFile)
{
    std::string dir = tempDir();
    // Eoi 5 and status control 'S' (0x53); the rest as built in.
    writeFile(dir + "/d_net.cfg", "5\n13\n10\n114\n14\n17\n17\n0x53\n");
    Program sim({"--tcp", "0", "--cfg", dir + "/d_net.cfg", "--handshake", "N"});
    ASSERT_TRUE(sim.ready());
    std::string where = bannerValue(sim.banner(), "tcp");
    ASSERT_EQ(where.rfind("127.0.0.1:", 0), 0u) << sim.banner();
    int port = std::stoi(where.substr(10));
    int fd = connectTcp(port);
    ASSERT_GE(fd, 0);
    sendBytes(fd, "s3");  // not a status request with these codes
    EXPECT_EQ(readFor(fd, 0.3), "");
    sendBytes(fd, std::string("ei\x05\r\nS0"));
    std::string status = readRecord(fd);
    ASSERT_EQ(status.size(), 52u);
    EXPECT_EQ(status[34], '0');
    EXPECT_EQ(status[48], 'i');
    ::close(fd);
    EXPECT_EQ(sim.stop(SIGINT), 0);
}

namespace {

// The long status's hopper-empty flag (position 9, bit 0x02).
bool hopperEmpty(int fd)
{
    sendBytes(fd, "s0");
    std::string status = readRecord(fd);
    return status.size() == 52u && (status[9] & 0x02) != 0;
}

bool hopperFilledWithin(int fd, double seconds)
{
    for (double end = nowSeconds() + seconds; nowSeconds() < end; readFor(fd, 0.05))
        if (!hopperEmpty(fd))
            return true;
    return false;
}

}  // namespace

TEST(Program, SighupLoadsTheDeckFileAgainAsItNowReads)
{
    std::string dir = tempDir();
    writeFile(dir + "/deck", "!empty\nSHEET A\n");
    Program sim(
        {"--link", dir + "/scanner", "--deck", dir + "/deck", "--transcript", dir + "/transcript"});
    ASSERT_TRUE(sim.ready());
    int fd = openDevice(dir + "/scanner");
    ASSERT_GE(fd, 0);
    sendBytes(fd, std::string("ed\x04\r\n\x11\x11"));
    EXPECT_EQ(readRecord(fd), "GSCANNING\r\n");
    // The empty hopper of the deck's first line lasts until forms are loaded.
    EXPECT_TRUE(hopperEmpty(fd));
    sendBytes(fd, "\x11");
    EXPECT_EQ(readFor(fd, 0.3), "");

    writeFile(dir + "/deck", "SHEET B\n");
    ::kill(sim.pid(), SIGHUP);
    ASSERT_TRUE(hopperFilledWithin(fd, 2.0));
    sendBytes(fd, "\x11");
    EXPECT_EQ(readRecord(fd), "SHEET A\r\n");
    sendBytes(fd, "\x11");
    EXPECT_EQ(readRecord(fd), "SHEET B\r\n");
    EXPECT_TRUE(hopperEmpty(fd));

    // A deck that no longer parses leaves the hopper as it is.
    writeFile(dir + "/deck", "!bogus\n");
    ::kill(sim.pid(), SIGHUP);
    readFor(fd, 0.3);
    EXPECT_TRUE(hopperEmpty(fd));
    EXPECT_EQ(sim.stderrText(),
              "scannersim: SIGHUP: " + dir +
                  "/deck: line 1: unknown condition '!bogus'; hopper unchanged\n");
    ::close(fd);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    std::string transcript = readFile(dir + "/transcript");
    EXPECT_NE(transcript.find("# hopper refilled (sheets: 1, deck entries: 1)\n# empty cleared\n"),
              std::string::npos)
        << transcript;
    EXPECT_NE(transcript.find("> Record sheet 2 line 1 \"SHEET B\""), std::string::npos);
}
