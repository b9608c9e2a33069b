// The two preload libraries, watched in a real process on a real pty.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "scannersim.h"
#include "sim_util.h"

using namespace simtest;

namespace {

// Runs the probe with a preload; returns what it printed.
std::string runProbe(const std::string &preload, const std::vector<std::string> &args,
                     const std::vector<std::string> &env, double *seconds = nullptr)
{
    // The probe may be built with the address sanitizer, which refuses a
    // library preloaded ahead of its own runtime unless told not to mind.
    std::string command = "ASAN_OPTIONS=verify_asan_link_order=0 ";
    for (const std::string &e : env)
        command += e + " ";
    command += "LD_PRELOAD=" + preload + " " PROBE_PROGRAM;
    for (const std::string &a : args)
        command += " '" + a + "'";
    double started = nowSeconds();
    FILE *pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buf[256];
    while (pipe != nullptr && std::fgets(buf, sizeof buf, pipe) != nullptr)
        out += buf;
    if (pipe != nullptr)
        ::pclose(pipe);
    if (seconds != nullptr)
        *seconds = nowSeconds() - started;
    return out;
}

class Recorder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scanner_.start(nullptr));
        dir_ = tempDir();
        file_ = dir_ + "/line";
    }
    scannersim::Scanner scanner_{scannersim::Options()};
    std::string dir_, file_;
};

}  // namespace

TEST_F(Recorder, RecordsWhatWasAskedNotWhatThePtyKept)
{
    std::string out =
        runProbe(LINERECORDER, {"tcsetattr", scanner_.device(), "9600", "7", "E", "1"},
                 {"SCANNERSIM_LINE_FILE=" + file_});
    EXPECT_EQ(out, "tcsetattr=0\n");
    EXPECT_EQ(readFile(file_), "9600 7 E 1\n");
    runProbe(LINERECORDER, {"tcsetattr", scanner_.device(), "38400", "8", "N", "2"},
             {"SCANNERSIM_LINE_FILE=" + file_});
    EXPECT_EQ(readFile(file_), "38400 8 N 2\n");
    runProbe(LINERECORDER, {"tcsetattr", scanner_.device(), "19200", "7", "O", "2"},
             {"SCANNERSIM_LINE_FILE=" + file_});
    EXPECT_EQ(readFile(file_), "19200 7 O 2\n");
    EXPECT_EQ(::access((file_ + ".tmp").c_str(), F_OK), -1);
}

TEST_F(Recorder, OnlyTheNamedDeviceIsRecorded)
{
    std::string link = dir_ + "/scanner";
    ASSERT_EQ(::symlink(scanner_.device().c_str(), link.c_str()), 0);
    scannersim::Scanner other{scannersim::Options()};
    ASSERT_TRUE(other.start(nullptr));
    runProbe(LINERECORDER, {"tcsetattr", other.device(), "9600", "8", "N", "1"},
             {"SCANNERSIM_LINE_FILE=" + file_, "SCANNERSIM_LINE_DEVICE=" + link});
    EXPECT_EQ(::access(file_.c_str(), F_OK), -1);
    runProbe(LINERECORDER, {"tcsetattr", scanner_.device(), "9600", "8", "N", "1"},
             {"SCANNERSIM_LINE_FILE=" + file_, "SCANNERSIM_LINE_DEVICE=" + link});
    EXPECT_EQ(readFile(file_), "9600 8 N 1\n");
}

TEST(BlockOpen, TheNamedPathHangsUntilTheAlarm)
{
    std::string dir = tempDir();
    std::string path = dir + "/device";
    writeFile(path, "x");
    double seconds = 0;
    std::string out = runProbe(BLOCKOPEN, {"open", path}, {"BLOCKOPEN_PATH=" + path}, &seconds);
    EXPECT_EQ(out, "open=-1 errno=EINTR alarmed=1\n");
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 3.0);
}

TEST(BlockOpen, OtherPathsOpenAsUsual)
{
    std::string dir = tempDir();
    std::string path = dir + "/device";
    writeFile(path, "x");
    double seconds = 0;
    std::string out =
        runProbe(BLOCKOPEN, {"open", path}, {"BLOCKOPEN_PATH=" + dir + "/other"}, &seconds);
    EXPECT_EQ(out, "open=ok\n");
    EXPECT_LT(seconds, 0.9);
}
