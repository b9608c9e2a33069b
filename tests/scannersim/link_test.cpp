// The scanner over a real pseudo-terminal and real loopback TCP, seen from
// the host's side: the bytes that come back for the bytes sent.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "support/lines.h"
#include "support/scanner.h"

using namespace support;
using scannersim::Options;
using scannersim::Scanner;

namespace {

const std::string kIdle = "0000\r\n";

// The long status answer in this mode with this hopper flag.
std::string statusAnswer(char mode, char hopper = '0')
{
    return longStatus(mode, 'A', {{9, hopper}}) + "\r\n";
}

// scannersim on loopback TCP.
Sim tcpScanner(long dropAfter = 0)
{
    Options o;
    o.transport = scannersim::Transport::Tcp;
    o.dropAfter = dropAfter;
    return startScanner(o);
}

class PtyScanner : public ::testing::Test {
protected:
    void open(const std::function<void(Options &)> &setup) { open(optionsWith(setup)); }
    void open(const Options &options)
    {
        scanner_ = startScanner(options);
        fd_ = openDevice(scanner_.device);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    std::string ask(const std::string &bytes) { return support::ask(fd_, bytes); }
    TempDir dir_;
    Sim scanner_;
    int fd_ = -1;
};

}  // namespace

TEST_F(PtyScanner, ResetThenIdleAndStatus)
{
    open(Options());
    EXPECT_EQ(ask(resetBytes + "s3"), kIdle);
    EXPECT_EQ(ask("s0"), statusAnswer('w', '3'));  // stopped by the reset, no sheets
    EXPECT_EQ(ask("s1"), "000\r\n");
    EXPECT_EQ(frameList(scanner_->frames(), false),
              (Strings{"SelectScanner", "End", "Release", "Stop", "Display", "Status", "Status",
                       "Status"}));
    EXPECT_EQ(scanner_->frames().at(4).bytes, "\x07\x60\x04");
    EXPECT_EQ(scanner_->answers().at(1).bytes, statusAnswer('w', '3'));
}

TEST_F(PtyScanner, ScanningSessionFromTheHostSide)
{
    open(deckOptions("REC ONE\nREC\\x15TWO\\r\n"));
    sendBytes(fd_, std::string("ed\x04\r\n\x11"));
    EXPECT_EQ(ask("s0"), statusAnswer('d'));
    EXPECT_EQ(ask("\x11"), "GSCANNING\r\n");
    EXPECT_EQ(ask("\x11"), "REC ONE\r\n");
    sendBytes(fd_, frame('1', "00") + frame('2', "01/18/05 14:30 1234, 12") + "\x12");
    EXPECT_EQ(ask("\x11"), "REC\x15TWO\r\r\n");
    sendBytes(fd_, "\x1b");
    EXPECT_EQ(ask("s0"), statusAnswer('d', '2').replace(8, 1, "8"));
    ASSERT_TRUE(scanner_->waitForFrames("SheetRequest", 2, 2000));
    std::vector<scannersim::Sheet> sheets = scanner_->sheets();
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].hopper, scannersim::Hopper::Main);
    EXPECT_EQ(sheets[0].prints.at(0).text, "01/18/05 14:30 1234, 12");
    EXPECT_EQ(sheets[1].deckLine, 2);
    EXPECT_EQ(scanner_->mode(), 'd');
}

TEST_F(PtyScanner, CompressedAnswersUseRawCounts)
{
    open([](Options &o) { o.compress = true; });
    std::string got = ask("s3");
    EXPECT_EQ(got, std::string("\x15\x04"
                               "0\r\n"));
    got = ask("s0");
    EXPECT_EQ(got.substr(0, 3), std::string("\x15\x09"
                                            "0"));
}

TEST_F(PtyScanner, WrongSpeedGarblesEveryAnswerFast)
{
    open(Options());
    ASSERT_TRUE(setLine(fd_, 9600, 2));
    Timer started;
    std::string got = ask("s0");
    EXPECT_LT(started.seconds(), 1.0);
    EXPECT_TRUE(endsWith(got, "\r\n"));
    EXPECT_NE(got.size(), 52u);
    ASSERT_TRUE(setLine(fd_, 19200, 1));
    EXPECT_NE(ask("s3").size(), 6u);
    ASSERT_TRUE(setLine(fd_, 19200, 2));
    EXPECT_EQ(ask("s3"), kIdle);
    scannersim::LineSettings seen;
    ASSERT_TRUE(scanner_->lineSeen(&seen));
    EXPECT_EQ(seen.baud, 19200);
}

TEST_F(PtyScanner, LineFileDecidesSizeAndParity)
{
    open([this](Options &o) { o.lineFile = dir_.file("line"); });
    EXPECT_EQ(ask("s3"), kIdle);  // no file yet: speed and stops decide
    writeFile(dir_.file("line"), "19200 8 N 2\n");
    EXPECT_NE(ask("s3"), kIdle);
    writeFile(dir_.file("line"), "19200 7 O 2\n");
    EXPECT_EQ(ask("s3"), kIdle);
}

TEST_F(PtyScanner, DeviceSurvivesManyReopens)
{
    open(Options());
    for (int i = 0; i < 40; ++i) {
        ::close(fd_);
        fd_ = openDevice(scanner_.device);
        ASSERT_GE(fd_, 0);
    }
    EXPECT_EQ(ask("s3"), kIdle);
}

TEST_F(PtyScanner, LinkNamesTheDeviceAndGoesAwayAtStop)
{
    Options o;
    o.link = dir_.file("scanner");
    ASSERT_EQ(::symlink("/nonexistent", o.link.c_str()), 0);  // replaced
    open(o);
    ::close(fd_);
    fd_ = openDevice(o.link);
    ASSERT_GE(fd_, 0);
    EXPECT_EQ(ask("s3"), kIdle);
    scanner_->stop();
    struct stat st;
    EXPECT_NE(::lstat(o.link.c_str(), &st), 0);
}

TEST_F(PtyScanner, ReceivedFilesAreSavedByteForByte)
{
    open([this](Options &o) { o.saveDir = dir_.path(); });
    std::string dlf("FORM\r\n\x1a\x00\x7f"
                    "END",
                    12);
    sendBytes(fd_, frame('\x1c', dlf) + frame('\x1d', "a,b,c,d,e,f,g,h,i\n"));
    ASSERT_TRUE(scanner_->waitForFrames("RunParameters", 1, 2000));
    EXPECT_EQ(readFile(dir_.file("received.dlf")), dlf);
    EXPECT_EQ(readFile(dir_.file("received.rtp")), "a,b,c,d,e,f,g,h,i\n");
    EXPECT_EQ(scanner_->formDefinition(), dlf);
    EXPECT_EQ(scanner_->runtimeLine(), "a,b,c,d,e,f,g,h,i\n");
}

TEST_F(PtyScanner, DropAfterHangsUpTheLine)
{
    open([](Options &o) { o.dropAfter = 3; });
    sendBytes(fd_, resetBytes);
    std::string got = readFor(fd_, 0.5);
    EXPECT_EQ(got, "");
    char c;
    EXPECT_LE(::read(fd_, &c, 1), 0);  // the line is gone
}

TEST_F(PtyScanner, PacedAnswersTakeTheirLineTime)
{
    open([](Options &o) {
        scannersim::parseLineSpec("1200:8N1", &o.line);
        o.pace = true;
    });
    ASSERT_TRUE(setLine(fd_, 1200, 1));
    Timer started;
    EXPECT_EQ(ask("s0").size(), 52u);
    // 52 characters of 10 bits at 1200 bit/s.
    EXPECT_GE(started.seconds(), 0.4);
}

TEST_F(PtyScanner, ReplyDelayAndCharGap)
{
    open([](Options &o) {
        o.replyDelayMs = 300;
        o.charGapMs = 50;
    });
    Timer started;
    EXPECT_EQ(ask("s3"), kIdle);
    EXPECT_GE(started.seconds(), 0.3 + 5 * 0.05);
}

TEST_F(PtyScanner, SlowFeedDelaysTheRecord)
{
    open(deckOptions("!delay 0.6\nLATE\n"));
    EXPECT_EQ(ask(std::string("ed\x04\r\n\x11\x11")), "GSCANNING\r\n");
    Timer started;
    EXPECT_EQ(ask("\x11"), "LATE\r\n");
    EXPECT_GE(started.seconds(), 0.55);
}

TEST(TcpScanner, ServesOneConnectionAfterAnotherWithStateKept)
{
    Sim sim = tcpScanner();
    const Scanner &scanner = *sim;
    ASSERT_GT(scanner.port(), 0);
    int fd = connectLoopback(scanner.port());
    ASSERT_GE(fd, 0);
    sendBytes(fd, std::string("et\x04\r\n\x11"));
    EXPECT_EQ(ask(fd, "s0"), statusAnswer('t', '2'));
    ::close(fd);
    fd = connectLoopback(scanner.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "s0"), statusAnswer('t', '2'));
    ::close(fd);
}

TEST(TcpScanner, DropAfterClosesTheSocketAndTheNextClientIsServed)
{
    Sim sim = tcpScanner(2);
    const Scanner &scanner = *sim;
    int fd = connectLoopback(scanner.port());
    sendBytes(fd, "s3s3");
    std::string got = readFor(fd, 1.0);
    EXPECT_EQ(got, kIdle);  // the first request is answered, then the line drops
    ::close(fd);
    fd = connectLoopback(scanner.port());
    EXPECT_EQ(ask(fd, "s3"), kIdle);
    ::close(fd);
}

TEST(TcpScanner, PartialFrameIsDroppedWithTheConnection)
{
    Sim sim = tcpScanner();
    const Scanner &scanner = *sim;
    int fd = connectLoopback(scanner.port());
    sendBytes(fd, "\x1c"
                  "half a form");
    ::close(fd);
    fd = connectLoopback(scanner.port());
    EXPECT_EQ(ask(fd, "s3"), kIdle);
    ::close(fd);
    std::vector<scannersim::Frame> frames = scanner.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].name, "Unknown");
    EXPECT_EQ(frames[0].detail, "incomplete");
}
