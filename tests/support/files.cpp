#include "tests/support/files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace support {

Strings concat(Strings first, const Strings &more)
{
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

std::string shellWords(const Strings &words)
{
    std::string line;
    for (const std::string &word : words) {
        line += line.empty() ? "'" : " '";
        for (char c : word)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += "'";
    }
    return line;
}

::testing::AssertionResult has(const std::string &text, const std::string &part)
{
    auto result = text.find(part) != std::string::npos ? ::testing::AssertionSuccess()
                                                       : ::testing::AssertionFailure();
    return result << "\"" << part << "\" in \"" << text << "\"";
}

::testing::AssertionResult endsWith(const std::string &text, const std::string &end)
{
    bool ends =
        text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    return (ends ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
           << "\"" << text << "\" ends with \"" << end << "\"";
}

int occurrences(const std::string &text, const std::string &part)
{
    int found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        found++;
    return found;
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/markfeed-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0)
        return;
}

Strings directoryState(const std::string &path)
{
    Strings entries;
    for (const std::string &name : listDir(path)) {
        struct stat entry;
        if (lstat((path + "/" + name).c_str(), &entry) != 0)
            continue;
        entries.push_back(name + " " + std::to_string(entry.st_size) + " " +
                          std::to_string(entry.st_mtim.tv_sec) + "." +
                          std::to_string(entry.st_mtim.tv_nsec) + " " +
                          (S_ISREG(entry.st_mode) ? readFile(path + "/" + name) : ""));
    }
    return entries;
}

std::string readFile(const std::string &path)
{
    // A FIFO planted under a file's name would block the reader.
    struct stat file;
    if (stat(path.c_str(), &file) == 0 && S_ISFIFO(file.st_mode))
        return "";
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

int fileMode(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

Strings listDir(const std::string &path)
{
    Strings names;
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (dirent *entry = readdir(dir))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

::testing::AssertionResult sameBytes(const std::string &expected, const std::string &actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        at++;
    auto context = [&](const std::string &s) {
        std::string piece = s.substr(std::min(at >= 20 ? at - 20 : 0, s.size()), 50);
        for (char &c : piece)
            c = c == '\r' || c == '\n' ? '|' : c;
        return "\"" + piece + "\"";
    };
    return ::testing::AssertionFailure()
           << "expected " << expected.size() << " bytes, got " << actual.size()
           << "; first difference at byte " << at << "\n  expected " << context(expected)
           << "\n  actual   " << context(actual);
}

std::string filePaths(const std::string &trace)
{
    size_t end = trace.find("\n\n");
    return trace.substr(0, end == std::string::npos ? std::string::npos : end + 1);
}

std::string pathsBlock(const std::string &device, const std::string &dir, const std::string &port,
                       const std::string &lock, const std::string &form)
{
    std::string block = "\nFILE PATHS\n==========\nScanner device     = " + device +
                        "\nCfg config file    = " + dir + "d_" + port +
                        ".cfg\nSemifore lock file = " + dir + "LOCK_" + lock +
                        "\nData output file   = " + dir + "SCAN.DAT";
    if (!form.empty())
        block += "\nDownload file      = " + dir + form + ".dlf\nRuntime file       = " + dir +
                 form + ".rtp";
    return block + "\nDebug file         = " + dir + "scantest.log\n";
}

std::string traceCalls(const Strings &calls)
{
    std::string lines;
    for (const std::string &call : calls)
        lines += "\nFunction call to " + call + ".";
    return lines;
}

const char portHeading[] = "Port Communication Settings\n===========================";
const char resetHeading[] =
    "Resetting Scanner Port To Default Settings\n==========================================";

std::string dumpAfter(const std::string &trace, const std::string &heading)
{
    size_t at = trace.find(heading);
    if (at == std::string::npos)
        return "";
    at += heading.size();
    size_t end = trace.find("\n\n", at);
    return trace.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string dumpOf(const std::string &setting)
{
    size_t colon = setting.find(':');
    char parity = setting.at(colon + 2);
    return "\nBAUD: " + setting.substr(0, colon) + "\nSIZE: " + setting.substr(colon + 1, 1) +
           "\nPARITY: " +
           (parity == 'O'   ? "Odd"
            : parity == 'E' ? "Even"
                            : "None") +
           "\nSTOPS: " + setting.substr(colon + 3);
}

const std::vector<int> &builtInSettings()
{
    static const std::vector<int> values = {
        0x04, 0x0D, 0x0A, 0x72, 0x0E, 0x11, 0x11, 0x73, 0x30, 0x31, 0x32,  0x65, 0x1C, 0x1D, 0x12,
        0x31, 0x32, 0x15, 0x14, 0x13, 0x19, 0x0D, 0,    0x33, 0x1B, 19200, 7,    2,    2,    1};
    return values;
}

std::string cfgText(const std::vector<std::pair<int, long>> &changes)
{
    std::vector<long> values(builtInSettings().begin(), builtInSettings().end());
    for (const auto &change : changes)
        values.at(static_cast<size_t>(change.first - 1)) = change.second;
    std::string text;
    for (long value : values)
        text += std::to_string(value) + "\n";
    return text;
}

}  // namespace support
