// markfeed's modules in the test process. Every test that sets one of
// markfeed's globals does it through here, and here through the owning
// module's functions (markfeed's globals are read-only elsewhere).
#pragma once

#include <string>
#include <vector>

namespace support {

// A real descriptor pair: the module's end is the link, the test plays the
// scanner on the other end. No delay and no trace; standard input reads end
// of file (no operator) and standard error is captured, so messages that
// wait for a key go on at once.
class Wire {
public:
    Wire();
    ~Wire();
    Wire(const Wire &) = delete;
    Wire &operator=(const Wire &) = delete;

    void send(const std::string &bytes);  // as the scanner
    std::string received();               // what markfeed wrote so far
    std::string messages();               // what went to standard error

private:
    int scanner_ = -1;
    int savedin_ = -1;
    int savederr_ = -1;
    std::string errfile_;
};

// The seconds added to every wait (-w).
void setDelay(int seconds);
// Writes the trace to path from now on (-x).
void openTrace(const std::string &path);
// Flushes the trace, so that what was traced is in the file; the trace
// stays open and on.
void closeTrace();
// The last status answer read.
void setStatusBack(const std::string &text);
std::string statusBack();

// The 30 settings of the port configuration file, by position (index 0 is
// position 1).
std::vector<int> portSettings();
void setPortSettings(const std::vector<int> &values);

}  // namespace support
