#include "scannersim/transcript.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace scannersim {

bool LineFile::open(const std::string &path, std::string *error)
{
    close();
    // Appending, so that /dev/stdout redirected to a file does not write
    // over the banner that the program prints there.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0)
        file_ = ::fdopen(fd, "a");
    if (file_ == nullptr) {
        *error = path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    return true;
}

void LineFile::write(const std::string &line)
{
    if (file_ == nullptr)
        return;
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

void LineFile::close()
{
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
}

std::string receivedLine(const Frame &frame)
{
    std::string line = "< " + frame.name;
    if (!frame.detail.empty())
        line += " " + frame.detail;
    return line + " | " + hexBytes(frame.bytes);
}

std::string sentLine(const std::string &name, const std::string &detail, const std::string &text,
                     const std::string &bytes)
{
    std::string line = "> " + name;
    if (!detail.empty())
        line += " " + detail;
    return line + " \"" + quoteText(text) + "\" | " + hexBytes(bytes);
}

std::string sheetLine(const Sheet &sheet)
{
    const char *hopper = sheet.hopper == Hopper::Main        ? "main"
                         : sheet.hopper == Hopper::Alternate ? "alternate"
                                                             : "print";
    std::string line = "sheet " + std::to_string(sheet.number) + " line " +
                       std::to_string(sheet.deckLine) + " hopper=" + hopper +
                       " length=" + std::to_string(sheet.record.size());
    for (const Print &print : sheet.prints)
        line += " print=\"" + quoteText(print.position) + ":" + quoteText(print.text) + "\"";
    return line;
}

}  // namespace scannersim
