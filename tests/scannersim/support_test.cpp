// The two preload libraries, watched in a real process on a real pty.
#include <gtest/gtest.h>

#include <unistd.h>

#include "support/programs.h"
#include "support/scanner.h"

using namespace support;

namespace {

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

}  // namespace

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
