// The scannersim program as an administrator starts it.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <sstream>

#include "support/lines.h"
#include "support/scanner.h"

using namespace support;

namespace {

RunOptions scannersimWith(const Strings &args)
{
    RunOptions options = withInput(RunOptions::File);
    options.command = command(Program::Scannersim);
    options.args = args;
    return options;
}

// Value of "key: value" in what the program printed before "ready".
std::string bannerValue(const std::string &banner, const std::string &key)
{
    std::istringstream in(banner);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 2, key + ": ") == 0)
            return line.substr(key.size() + 2);
    return "";
}

}  // namespace

TEST(Program, HelpAndBadOptions)
{
    Process help(scannersimWith({"--help"}));
    EXPECT_EQ(help.wait(5), 0);
    EXPECT_FALSE(has(help.output(), "\nready\n"));
    EXPECT_TRUE(has(help.output(), "usage: scannersim"));
    for (Strings args : {Strings{"--bogus"},
                         {"--tcp"},
                         {"--tcp", "70000"},
                         {"--line", "19200:7Q2"},
                         {"--refuse", "everything"},
                         {"--handshake", "X"},
                         {"--pace=1"},
                         {"--deck", "/nonexistent/deck"}}) {
        Process bad(scannersimWith(args));
        EXPECT_EQ(bad.wait(5), 2) << args[0];
        EXPECT_FALSE(has(bad.output(), "\nready\n"));
        EXPECT_TRUE(has(bad.errors(), "usage: scannersim"));
    }
}

TEST(Program, BadDeckLineIsNamed)
{
    TempDir dir;
    writeFile(dir.file("deck"), "GOOD\n!jam later\n");
    Process bad(scannersimWith({"--deck", dir.file("deck")}));
    EXPECT_EQ(bad.wait(5), 2);
    EXPECT_TRUE(has(bad.errors(), "line 2"));
}

TEST(Program, PtyRunWithTranscriptAndSheetsUntilSigterm)
{
    TempDir dir;
    writeFile(dir.file("deck"), "# two sheets\nSHEET A\n\nSHEET B\n");
    Process sim(
        scannersimWith({"--link", dir.file("scanner"), "--deck", dir.file("deck"), "--transcript",
                        dir.file("transcript"), "--sheets", dir.file("sheets")}));
    ASSERT_TRUE(sim.waitForOutput("\nready\n", 5));
    std::string device = bannerValue(sim.output(), "device");
    EXPECT_EQ(device.rfind("/dev/pts/", 0), 0u) << sim.output();
    char target[256] = {0};
    ASSERT_GT(::readlink(dir.file("scanner").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(device, target);

    int fd = openDevice(dir.file("scanner"));
    ASSERT_GE(fd, 0);
    sendBytes(fd, std::string("ed\x04\r\n\x11"));
    EXPECT_EQ(ask(fd, "\x11"), "GSCANNING\r\n");
    EXPECT_EQ(ask(fd, "\x11"), "SHEET A\r\n");
    EXPECT_EQ(ask(fd, "\x1b\x11"), "SHEET B\r\n");
    sendBytes(fd, frame('1', "00") + frame('2', "OK"));
    readFor(fd, 0.3);
    ::close(fd);
    sim.kill(SIGTERM);
    EXPECT_EQ(sim.wait(5), 0);

    EXPECT_EQ(readFile(dir.file("sheets")),
              "sheet 1 line 2 hopper=alternate length=7\n"
              "sheet 2 line 4 hopper=print length=7 print=\"00:OK\"\n");
    std::string transcript = readFile(dir.file("transcript"));
    EXPECT_TRUE(has(transcript, "< ModeChange d | 65 64 04 0d 0a\n< Handshake | 11\n"));
    EXPECT_TRUE(has(transcript, "< Initiate | 11\n# host line 19200 baud, 2 stop bits matches "
                                "19200:7O2\n> Reply start \"GSCANNING\" | "
                                "47 53 43 41 4e 4e 49 4e 47 0d 0a\n"));
    EXPECT_TRUE(has(transcript, "< SheetRequest | 11\n> Record sheet 1 line 2 \"SHEET A\""));
    EXPECT_TRUE(has(transcript, "< AltHopper | 1b\n"));
    EXPECT_TRUE(has(transcript, "< PrintData \"OK\" | 32 4f 4b 04 0d 0a\n"));
    EXPECT_EQ(::access(dir.file("scanner").c_str(), F_OK), -1);
}

TEST(Program, TcpOnLoopbackWithCodesFromAConfigurationFile)
{
    TempDir dir;
    // Eoi 5 and status control 'S' (0x53); the rest as built in.
    writeFile(dir.file("d_net.cfg"), "5\n13\n10\n114\n14\n17\n17\n0x53\n");
    Process sim(scannersimWith({"--tcp", "0", "--cfg", dir.file("d_net.cfg"), "--handshake", "N"}));
    ASSERT_TRUE(sim.waitForOutput("\nready\n", 5));
    std::string where = bannerValue(sim.output(), "tcp");
    ASSERT_EQ(where.rfind("127.0.0.1:", 0), 0u) << sim.output();
    int fd = connectLoopback(std::stoi(where.substr(10)));
    ASSERT_GE(fd, 0);
    sendBytes(fd, "s3");  // not a status request with these codes
    EXPECT_EQ(readFor(fd, 0.3), "");
    sendBytes(fd, std::string("ei\x05\r\nS0"));
    std::string status = readRecord(fd);
    ASSERT_EQ(status.size(), 52u);
    EXPECT_EQ(status[34], '0');
    EXPECT_EQ(status[48], 'i');
    ::close(fd);
    sim.kill(SIGINT);
    EXPECT_EQ(sim.wait(5), 0);
}
