#include "support/programs.h"

#include <cstdlib>

namespace support {

Strings command(Program program)
{
    switch (program) {
    case Program::Markfeed: return {MARKFEED_PATH};
    case Program::Scannersim: return {SCANNERSIM_PATH};
    case Program::Probe: return {PROBE_PATH};
    }
    return {};
}

std::map<std::string, std::string> preload(Preload library)
{
    // A sanitized program refuses a library loaded ahead of its runtime.
    const char *asan = getenv("ASAN_OPTIONS");
    std::string options = asan != nullptr && asan[0] != '\0' ? std::string(asan) + ":" : "";
    return {{"LD_PRELOAD", library == Preload::LineRecorder ? LINERECORDER_PATH : BLOCKOPEN_PATH},
            {"ASAN_OPTIONS", options + "verify_asan_link_order=0"}};
}

std::map<std::string, std::string> recordLine(const std::string &file, const std::string &device)
{
    auto env = preload(Preload::LineRecorder);
    env["SCANNERSIM_LINE_FILE"] = file;
    env["SCANNERSIM_LINE_DEVICE"] = device;
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
