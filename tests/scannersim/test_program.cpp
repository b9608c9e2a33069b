// The scannersim program as an administrator starts it.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include "sim_util.h"

using namespace simtest;

TEST(Program, HelpAndBadOptions)
{
    Program help({"--help"});
    EXPECT_FALSE(help.ready());
    EXPECT_NE(help.banner().find("usage: scannersim"), std::string::npos);
    EXPECT_EQ(help.wait(), 0);
    for (std::vector<std::string> args : {std::vector<std::string>{"--bogus"},
                                          {"--tcp"},
                                          {"--tcp", "70000"},
                                          {"--line", "19200:7Q2"},
                                          {"--refuse", "everything"},
                                          {"--handshake", "X"},
                                          {"--pace=1"},
                                          {"--deck", "/nonexistent/deck"}}) {
        Program bad(args);
        EXPECT_FALSE(bad.ready());
        EXPECT_EQ(bad.wait(), 2) << args[0];
        EXPECT_NE(bad.stderrText().find("usage: scannersim"), std::string::npos);
    }
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
