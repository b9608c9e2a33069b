#include "scannersim/engine.h"
#include "scannersim/scannersim.h"

namespace scannersim {

Scanner::Scanner(Options options) : engine_(new Engine(options))
{
}

Scanner::~Scanner()
{
    stop();
}

bool Scanner::start(std::string *error)
{
    std::string ignored;
    if (started_)
        return true;
    if (used_) {
        // The engine's link and files are gone; a new Scanner starts afresh.
        (error != nullptr ? *error : ignored) = "scanner already stopped";
        return false;
    }
    used_ = true;
    if (!engine_->setUp(error != nullptr ? error : &ignored))
        return false;
    thread_ = std::thread([this] { engine_->run(); });
    started_ = true;
    return true;
}

void Scanner::stop()
{
    if (!started_)
        return;
    engine_->requestStop();
    thread_.join();
    engine_->finish();
    started_ = false;
}

void Scanner::refill(const std::vector<DeckEntry> &entries)
{
    engine_->requestRefill(entries);
}

std::string Scanner::device() const
{
    return engine_->device();
}
int Scanner::port() const
{
    return engine_->port();
}
std::vector<Frame> Scanner::frames() const
{
    return engine_->frames();
}
std::vector<Frame> Scanner::answers() const
{
    return engine_->answers();
}
std::vector<Sheet> Scanner::sheets() const
{
    return engine_->sheets();
}
std::string Scanner::formDefinition() const
{
    return engine_->formDefinition();
}
std::string Scanner::runtimeLine() const
{
    return engine_->runtimeLine();
}
char Scanner::mode() const
{
    return engine_->mode();
}
bool Scanner::lineSeen(LineSettings *out) const
{
    return engine_->lineSeen(out);
}

bool Scanner::waitForFrames(const std::string &name, size_t count, int timeoutMs) const
{
    return engine_->waitForFrames(name, count, timeoutMs);
}

}  // namespace scannersim
