#include "tests/support/programs.h"

#include <cstdlib>
#include <sstream>

namespace support {

namespace {

const char *programPath(Program program)
{
    switch (program) {
    case Program::Markfeed: return MARKFEED_PATH;
    case Program::Scannersim: return SCANNERSIM_PATH;
    case Program::Probe: return PROBE_PATH;
    }
    return "";
}

}  // namespace

Strings command(Program program)
{
    // A program built for another machine is started by its emulator: the
    // kernel here cannot start it (no binfmt_misc).
    Strings words;
    std::istringstream emulator(EMULATOR);
    for (std::string word; std::getline(emulator, word);)
        words.push_back(word);
    words.push_back(programPath(program));
    return words;
}

bool emulated()
{
    return EMULATOR[0] != '\0';
}

std::map<std::string, std::string> preload(Preload library)
{
    // A sanitized program refuses a library loaded ahead of its runtime.
    const char *asan = getenv("ASAN_OPTIONS");
    std::string options = asan != nullptr && asan[0] != '\0' ? std::string(asan) + ":" : "";
    const char *path = library == Preload::LineRecorder ? LINERECORDER_PATH
                       : library == Preload::BlockOpen  ? BLOCKOPEN_PATH
                                                        : FIXEDCLOCK_PATH;
    return {{"LD_PRELOAD", path}, {"ASAN_OPTIONS", options + "verify_asan_link_order=0"}};
}

std::map<std::string, std::string> recordLine(const std::string &file, const std::string &device)
{
    auto env = preload(Preload::LineRecorder);
    env["SCANNERSIM_LINE_FILE"] = file;
    env["SCANNERSIM_LINE_DEVICE"] = device;
    return env;
}

std::map<std::string, std::string> clockAt(long long seconds)
{
    auto env = preload(Preload::FixedClock);
    env["CLOCK_SECONDS"] = std::to_string(seconds);
    env["TZ"] = "UTC";
    return env;
}

RunOptions markfeedIn(const TempDir &dir, const Strings &args, RunOptions::Input input)
{
    RunOptions options;
    options.command = command(Program::Markfeed);
    options.cwd = dir.path();
    options.args = args;
    options.input = input;
    return options;
}

::testing::AssertionResult ended(const Result &run, int status, const Strings &messages)
{
    if (run.status == status && run.messages == messages)
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    failure << "ended with " << run.status << ", expected " << status << "; shown:";
    for (const std::string &line : run.messages)
        failure << "\n  " << line;
    failure << "\nexpected:";
    for (const std::string &line : messages)
        failure << "\n  " << line;
    return failure;
}

Result runStation(const TempDir &dir, const Strings &args,
                  const std::map<std::string, std::string> &env, double limit)
{
    RunOptions options = markfeedIn(dir, args, RunOptions::File);
    options.env = env;
    Process station(options);
    return finish(station, dir, limit);
}

Result runStation(const Strings &args, const std::map<std::string, std::string> &env, double limit)
{
    TempDir dir;
    return runStation(dir, args, env, limit);
}

Result finish(Process &station, const TempDir &dir, double limit)
{
    Timer timer;
    Result run;
    run.status = station.wait(limit);
    run.seconds = timer.seconds();
    run.errors = station.errors();
    run.messages = messages(run.errors);
    run.trace = readFile(dir.file("scantest.log"));
    run.data = readFile(dir.file("SCAN.DAT"));
    return run;
}

}  // namespace support
