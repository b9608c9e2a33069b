// In-process tests of markfeed's modules over a real descriptor pair: the
// module's end is Comm, the test plays the scanner on the other end.
// Standard input reads end of file (no operator) and standard error is
// captured, so messages that wait for a key go on at once.
#pragma once

#include <string>

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
