// Texts and files as the tests see them: checks on a text, scratch
// directories, whole-file reads and writes, the parts of markfeed's trace
// that tests compare, and the port configuration file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace support {

using Strings = std::vector<std::string>;
// Whether part stands in text; either way the message shows the text.
::testing::AssertionResult has(const std::string &text, const std::string &part);
// Whether text ends with end; either way the message shows the text.
::testing::AssertionResult endsWith(const std::string &text, const std::string &end);
// How often part stands in text.
int occurrences(const std::string &text, const std::string &part);
// The words of first, then those of more.
Strings concat(Strings first, const Strings &more);
// The words quoted for sh, joined by spaces.
std::string shellWords(const Strings &words);

// A new empty directory under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string &path);  // "" when missing
void writeFile(const std::string &path, const std::string &content);
bool fileExists(const std::string &path);
int fileMode(const std::string &path);  // permission bits, or -1
// The names in a directory but "." and "..", sorted; none when it cannot be read.
Strings listDir(const std::string &path);
// Each entry of a directory as "name size mtime content" (the content of
// regular files only), to tell that nothing in it changed.
Strings directoryState(const std::string &path);
// Byte-for-byte comparison that reports the first difference readably.
::testing::AssertionResult sameBytes(const std::string &expected, const std::string &actual);

// The FILE PATHS block at the start of a trace, up to its closing line end.
std::string filePaths(const std::string &trace);
// The FILE PATHS block a run shows: dir is "" or ends in "/"; a form adds
// its two files.
std::string pathsBlock(const std::string &device, const std::string &dir, const std::string &port,
                       const std::string &lock, const std::string &form = "");
// The trace lines of these calls: "\nFunction call to DlEnd()." each.
std::string traceCalls(const Strings &calls);
// What follows a heading in the trace up to the next empty line:
// "\nBAUD: 9600\nSIZE: 8\nPARITY: Even\nSTOPS: 1"; "" without the heading.
std::string dumpAfter(const std::string &trace, const std::string &heading);
// The same dump for a line setting such as "9600:8E1".
std::string dumpOf(const std::string &setting);
extern const char portHeading[];   // "Port Communication Settings" and its rule
extern const char resetHeading[];  // "Resetting Scanner Port To Default Settings"

// The 30 settings of the port configuration file before any file is read,
// by position (index 0 is position 1).
const std::vector<int> &builtInSettings();
// A port configuration file of the built-in values with some positions
// (1 to 30) changed.
std::string cfgText(const std::vector<std::pair<int, long>> &changes = {});

}  // namespace support
