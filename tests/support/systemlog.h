// The system log caught for real: a datagram socket of the test bound over
// /dev/log in a mount namespace of the program under test. A tmpfs covers
// /dev there, with the machine's devices linked back in, so that neither
// the machine's /dev nor its log is touched (a machine may have no /dev/log
// at all). Lines are read as syslog(3) sends them: "<priority>timestamp
// tag: text".
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"

namespace support {

struct LogLine {
    int priority = -1;  // facility * 8 + severity
    std::string tag;    // "markfeed[1234]"
    std::string text;   // after the tag's ": "
};

// A line's first word and its key=value pairs, values unquoted.
struct LogFields {
    std::string word;
    std::map<std::string, std::string> values;
};
LogFields fieldsOf(const std::string &text);

class SystemLog {
public:
    SystemLog();
    ~SystemLog();
    SystemLog(const SystemLog &) = delete;
    SystemLog &operator=(const SystemLog &) = delete;

    // Whether this machine lets a test make the namespace.
    static bool available();
    // The options with the command started where this log catches it.
    RunOptions around(RunOptions options) const;
    // The lines received so far, once count of them came or seconds passed.
    std::vector<LogLine> lines(size_t count = 0, double seconds = 0);

private:
    void drain();
    TempDir dir_;
    int socket_ = -1;
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::vector<LogLine> lines_;
    std::thread thread_;
};

}  // namespace support
