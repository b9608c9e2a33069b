// Line-oriented output files: the transcript of the link and the list of
// sheets. Each line is flushed as written so a reader sees it at once.
#pragma once

#include <cstdio>
#include <string>

#include "scannersim/scannersim.h"

namespace scannersim {

class LineFile {
public:
    LineFile() = default;
    ~LineFile() { close(); }
    LineFile(const LineFile &) = delete;
    LineFile &operator=(const LineFile &) = delete;

    bool open(const std::string &path, std::string *error);
    void write(const std::string &line);  // adds the newline
    void close();

private:
    FILE *file_ = nullptr;
};

// "< Status \"s0\" | 73 30"
std::string receivedLine(const Frame &frame);
// "> LongStatus \"0000...\" | 30 30 ... 0d 0a"
std::string sentLine(const std::string &name, const std::string &detail, const std::string &text,
                     const std::string &bytes);
// "sheet 3 line 5 hopper=alternate length=1038 print=\"00:01/18/05 ...\""
std::string sheetLine(const Sheet &sheet);

}  // namespace scannersim
