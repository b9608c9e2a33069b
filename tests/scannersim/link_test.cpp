// The scanner over a real pseudo-terminal and real loopback TCP, seen from
// the host's side: the bytes that come back for the bytes sent; the program
// as an administrator starts it, and the two preload libraries watched in a
// real process on a real pty.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "tests/support/lines.h"
#include "tests/support/programs.h"
#include "tests/support/scanner.h"

using namespace support;
using scannersim::Options;

namespace {

const std::string IDLE = "0000\r\n";

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

TEST_F(PtyScanner, ResetThenIdleAndStatus)
{
    open(Options());
    EXPECT_EQ(ask(resetBytes + "s3"), IDLE);
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
    EXPECT_EQ(ask("s3"), std::string("\x15\x04"
                                     "0\r\n"));
    EXPECT_EQ(ask("s0").substr(0, 3), std::string("\x15\x09"
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
    EXPECT_EQ(ask("s3"), IDLE);
    scannersim::LineSettings seen;
    ASSERT_TRUE(scanner_->lineSeen(&seen));
    EXPECT_EQ(seen.baud, 19200);
}

TEST_F(PtyScanner, LineFileDecidesSizeAndParity)
{
    open([this](Options &o) { o.lineFile = dir_.file("line"); });
    EXPECT_EQ(ask("s3"), IDLE);  // no file yet: speed and stops decide
    writeFile(dir_.file("line"), "19200 8 N 2\n");
    EXPECT_NE(ask("s3"), IDLE);
    writeFile(dir_.file("line"), "19200 7 O 2\n");
    EXPECT_EQ(ask("s3"), IDLE);
}

TEST_F(PtyScanner, DeviceSurvivesManyReopens)
{
    open(Options());
    for (int i = 0; i < 40; ++i) {
        ::close(fd_);
        fd_ = openDevice(scanner_.device);
        ASSERT_GE(fd_, 0);
    }
    EXPECT_EQ(ask("s3"), IDLE);
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
    EXPECT_EQ(ask("s3"), IDLE);
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
    EXPECT_EQ(readFor(fd_, 0.5), "");
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
    EXPECT_EQ(ask("s3"), IDLE);
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
    ASSERT_GT(sim->port(), 0);
    int fd = connectLoopback(sim->port());
    ASSERT_GE(fd, 0);
    sendBytes(fd, std::string("et\x04\r\n\x11"));
    EXPECT_EQ(ask(fd, "s0"), statusAnswer('t', '2'));
    ::close(fd);
    fd = connectLoopback(sim->port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "s0"), statusAnswer('t', '2'));
    ::close(fd);
}

TEST(TcpScanner, DropAfterClosesTheSocketAndTheNextClientIsServed)
{
    Sim sim = tcpScanner(2);
    int fd = connectLoopback(sim->port());
    sendBytes(fd, "s3s3");
    EXPECT_EQ(readFor(fd, 1.0), IDLE);  // the first request is answered, then the line drops
    ::close(fd);
    fd = connectLoopback(sim->port());
    EXPECT_EQ(ask(fd, "s3"), IDLE);
    ::close(fd);
}

TEST(TcpScanner, PartialFrameIsDroppedWithTheConnection)
{
    Sim sim = tcpScanner();
    int fd = connectLoopback(sim->port());
    sendBytes(fd, "\x1c"
                  "half a form");
    ::close(fd);
    fd = connectLoopback(sim->port());
    EXPECT_EQ(ask(fd, "s3"), IDLE);
    ::close(fd);
    std::vector<scannersim::Frame> frames = sim->frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].name, "Unknown");
    EXPECT_EQ(frames[0].detail, "incomplete");
}

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

TEST(Program, HelpAndVersion)
{
    Process help(scannersimWith({"--help"}));
    EXPECT_EQ(help.wait(5), 0);
    EXPECT_EQ(help.output().rfind("usage: scannersim [options]\n", 0), 0u);
    EXPECT_TRUE(has(help.output(), "  --version "));
    Process version(scannersimWith({"--version"}));
    EXPECT_EQ(version.wait(5), 0);
    EXPECT_EQ(version.output(), "scannersim 1.0.0\n");
    EXPECT_EQ(version.errors(), "");
}

TEST(Program, BadOptionsGetOneLineAndAPointerToHelp)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const struct {
        Strings args;
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
        {{"--deck", dir.path()}, dir.path() + ": is a directory, not a deck file"},
        {{"--deck", dir.file("fifo")}, dir.file("fifo") + ": is a FIFO, not a deck file"},
    };
    for (const auto &c : cases) {
        Process bad(scannersimWith(c.args));
        EXPECT_EQ(bad.wait(5), 2) << c.args[0];
        EXPECT_FALSE(has(bad.output(), "\nready\n"));
        EXPECT_EQ(bad.errors(),
                  "scannersim: " + c.message + "\nTry 'scannersim --help' for more information.\n");
    }
    // Options keep their meaning, abbreviated or with '='.
    Process good(
        scannersimWith({"--tcp=0", "--mode", "d", "--hand=N", "--trans", dir.file("transcript")}));
    ASSERT_TRUE(good.waitForOutput("\nready\n", 5));
    int fd = connectLoopback(std::stoi(bannerValue(good.output(), "tcp").substr(10)));
    ASSERT_GE(fd, 0);
    std::string status = ask(fd, "s0");
    ASSERT_EQ(status.size(), 52u);
    EXPECT_EQ(status[34], '0');
    EXPECT_EQ(status[48], 'd');
    ::close(fd);
    good.kill(SIGTERM);
    EXPECT_EQ(good.wait(5), 0);
    EXPECT_TRUE(has(readFile(dir.file("transcript")), "< Status s0 | 73 30\n"));
}

TEST(Program, TranscriptOnStandardOutputIsALiveView)
{
    Process sim(scannersimWith({"--tcp", "0", "--transcript", "/dev/stdout"}));
    ASSERT_TRUE(sim.waitForOutput("\nready\n", 5));
    int fd = connectLoopback(std::stoi(bannerValue(sim.output(), "tcp").substr(10)));
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "s1"), "000\r\n");
    EXPECT_TRUE(sim.waitForOutput("> ShortStatus", 2));
    std::string live = sim.output().substr(sim.output().find("\nready\n") + 7);
    EXPECT_EQ(live.rfind("# connection from 127.0.0.1:", 0), 0u) << live;
    EXPECT_TRUE(has(live, "\n< Status s1 | 73 31\n> ShortStatus \"000\" | 30 30 30 0d 0a\n"));
    ::close(fd);
    sim.kill(SIGTERM);
    EXPECT_EQ(sim.wait(5), 0);
}

// The long status's hopper-empty flag (position 9, bit 0x02).
bool hopperEmpty(int fd)
{
    std::string status = ask(fd, "s0");
    return status.size() == 52u && (status[9] & 0x02) != 0;
}

bool hopperFilledWithin(int fd, double seconds)
{
    for (Timer timer; timer.seconds() < seconds; readFor(fd, 0.05))
        if (!hopperEmpty(fd))
            return true;
    return false;
}

TEST(Program, SighupLoadsTheDeckFileAgainAsItNowReads)
{
    TempDir dir;
    writeFile(dir.file("deck"), "!empty\nSHEET A\n");
    Process sim(scannersimWith({"--link", dir.file("scanner"), "--deck", dir.file("deck"),
                                "--transcript", dir.file("transcript")}));
    ASSERT_TRUE(sim.waitForOutput("\nready\n", 5));
    int fd = openDevice(dir.file("scanner"));
    ASSERT_GE(fd, 0);
    sendBytes(fd, std::string("ed\x04\r\n\x11"));
    EXPECT_EQ(ask(fd, "\x11"), "GSCANNING\r\n");
    // The empty hopper of the deck's first line lasts until forms are loaded.
    EXPECT_TRUE(hopperEmpty(fd));
    sendBytes(fd, "\x11");
    EXPECT_EQ(readFor(fd, 0.3), "");

    writeFile(dir.file("deck"), "SHEET B\n");
    sim.kill(SIGHUP);
    ASSERT_TRUE(hopperFilledWithin(fd, 2.0));
    EXPECT_EQ(ask(fd, "\x11"), "SHEET A\r\n");
    EXPECT_EQ(ask(fd, "\x11"), "SHEET B\r\n");
    EXPECT_TRUE(hopperEmpty(fd));

    // A deck that no longer parses leaves the hopper as it is.
    writeFile(dir.file("deck"), "!bogus\n");
    sim.kill(SIGHUP);
    readFor(fd, 0.3);
    EXPECT_TRUE(hopperEmpty(fd));
    // Nor does a FIFO put in its place, which is never waited on.
    ASSERT_EQ(unlink(dir.file("deck").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("deck").c_str(), 0600), 0);
    sim.kill(SIGHUP);
    readFor(fd, 0.3);
    EXPECT_TRUE(hopperEmpty(fd));
    EXPECT_EQ(sim.errors(), "scannersim: SIGHUP: " + dir.file("deck") +
                                ": line 1: unknown condition '!bogus'; hopper unchanged\n"
                                "scannersim: SIGHUP: " +
                                dir.file("deck") +
                                ": is a FIFO, not a deck file; hopper unchanged\n");
    ::close(fd);
    sim.kill(SIGTERM);
    EXPECT_EQ(sim.wait(5), 0);
    std::string transcript = readFile(dir.file("transcript"));
    EXPECT_TRUE(
        has(transcript, "# hopper refilled (sheets: 1, deck entries: 1)\n# empty cleared\n"));
    EXPECT_TRUE(has(transcript, "> Record sheet 2 line 1 \"SHEET B\""));
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

// Runs the probe with a preload and more environment; what it printed.
std::string runProbe(Preload library, const Strings &args,
                     const std::map<std::string, std::string> &env, double *seconds = nullptr)
{
    RunOptions options = withInput(RunOptions::File);
    options.command = command(Program::Probe);
    options.args = args;
    options.env = preload(library);
    options.env.insert(env.begin(), env.end());
    Timer timer;
    Process probe(options);
    probe.wait(10);
    if (seconds != nullptr)
        *seconds = timer.seconds();
    return probe.output();
}

class Recorder : public ::testing::Test {
protected:
    // The probe asks the scanner's line for these settings.
    std::string ask(const std::string &device, const Strings &line, const std::string &only = "")
    {
        std::map<std::string, std::string> env = {{"SCANNERSIM_LINE_FILE", file_}};
        if (!only.empty())
            env["SCANNERSIM_LINE_DEVICE"] = only;
        return runProbe(Preload::LineRecorder, concat({"tcsetattr", device}, line), env);
    }
    TempDir dir_;
    std::string file_ = dir_.file("line");
    Sim sim_ = startScanner({});
};

TEST_F(Recorder, RecordsWhatWasAskedNotWhatThePtyKept)
{
    EXPECT_EQ(ask(sim_->device(), {"9600", "7", "E", "1"}), "tcsetattr=0\n");
    EXPECT_EQ(readFile(file_), "9600 7 E 1\n");
    ask(sim_->device(), {"38400", "8", "N", "2"});
    EXPECT_EQ(readFile(file_), "38400 8 N 2\n");
    ask(sim_->device(), {"19200", "7", "O", "2"});
    EXPECT_EQ(readFile(file_), "19200 7 O 2\n");
    EXPECT_EQ(::access((file_ + ".tmp").c_str(), F_OK), -1);
}

TEST_F(Recorder, OnlyTheNamedDeviceIsRecorded)
{
    Sim other = startScanner({});
    ask(other->device(), {"9600", "8", "N", "1"}, sim_.device);
    EXPECT_EQ(::access(file_.c_str(), F_OK), -1);
    ask(sim_->device(), {"9600", "8", "N", "1"}, sim_.device);
    EXPECT_EQ(readFile(file_), "9600 8 N 1\n");
}

// The probe opens a file while the open of `blocked` in the same directory
// hangs: what it printed, and how long it took.
std::string openWhileBlocked(const std::string &blocked, double *seconds)
{
    TempDir dir;
    writeFile(dir.file("device"), "x");
    return runProbe(Preload::BlockOpen, {"open", dir.file("device")},
                    {{"BLOCKOPEN_PATH", dir.file(blocked)}}, seconds);
}

TEST(BlockOpen, TheNamedPathHangsUntilTheAlarm)
{
    double seconds = 0;
    EXPECT_EQ(openWhileBlocked("device", &seconds), "open=-1 errno=EINTR alarmed=1\n");
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 3.0);
}

TEST(BlockOpen, OtherPathsOpenAsUsual)
{
    double seconds = 0;
    EXPECT_EQ(openWhileBlocked("other", &seconds), "open=ok\n");
    EXPECT_LT(seconds, 0.9);
}

}  // namespace
