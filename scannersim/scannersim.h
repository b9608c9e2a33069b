// scannersim: an optical mark-reading sheet scanner in software.
//
// Interface summary
//   Options      everything the command line can set (see README.md).
//   Scanner      start() serves a pseudo-terminal or a loopback TCP port
//                from a background thread; stop() ends it and flushes the
//                transcript and sheet files. The accessors are thread-safe
//                and return copies.
//   parseDeck    turns deck text into entries (used for --deck).
//   readCodesFile / parseLineSpec   the --cfg and --line formats.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scannersim/codes.h"
#include "scannersim/deck.h"
#include "scannersim/line.h"

namespace scannersim {

enum class Transport { Pty, Tcp };

// The four replies that the Initiate command can ask for.
enum class Step { ClearMem, Definition, Runtime, Start };
constexpr int STEP_COUNT = 4;

struct Options {
    Transport transport = Transport::Pty;
    std::string link;         // pty: symbolic link made to the slave path
    int tcpPort = 0;          // tcp: 0 picks a free port
    Codes codes;              // control codes (defaults, or from --cfg)
    char mode = 'w';          // mode letter at start
    char handshake = 'A';     // 'A', 'I' or any other byte for "none"
    std::string refuseModes;  // mode changes into these letters are ignored
    bool loaded = false;      // a form definition is loaded at start
    bool refuse[STEP_COUNT] = {false, false, false, false};
    bool noReply[STEP_COUNT] = {false, false, false, false};
    std::string saveDir;  // received.dlf / received.rtp go here
    int busy = 0;         // first N download status answers say busy
    std::vector<DeckEntry> deck;
    std::string deckFile;  // where the deck came from, read again on SIGHUP
    bool atPrint = false;  // a sheet stands at the print position at start
    std::string sheetsFile;
    std::string transcriptFile;
    bool compress = false;
    bool pace = false;
    int replyDelayMs = 0;
    int charGapMs = 0;
    long dropAfter = 0;    // 0: never drop the connection
    LineSettings line;     // the scanner's own line settings
    std::string lineFile;  // written by the linerecorder preload
};

// One frame received from the host, or one answer sent to it.
struct Frame {
    std::string name;    // "Status", "ModeChange", "SheetRequest", ...
    std::string detail;  // human summary, e.g. "s0" or "w"
    std::string bytes;   // raw bytes as on the wire
};

enum class Hopper { AtPrint, Main, Alternate };

struct Print {
    std::string position;  // the two characters of the print position frame
    std::string text;
};

struct Sheet {
    int number = 0;    // 1 for the first sheet fed
    int deckLine = 0;  // line of the deck file; 0 for --at-print
    std::string record;
    Hopper hopper = Hopper::AtPrint;
    std::vector<Print> prints;
};

class Machine;
class Engine;

class Scanner {
public:
    explicit Scanner(Options options);
    ~Scanner();
    Scanner(const Scanner &) = delete;
    Scanner &operator=(const Scanner &) = delete;

    // Sets up the transport and starts the thread. false with *error set
    // when the pty or the port cannot be had.
    bool start(std::string *error);
    // Ends the thread, writes the sheets still standing and closes files.
    void stop();
    // Puts more sheets into the input hopper, behind those still waiting,
    // as an operator loading forms does; safe from any thread.
    void refill(const std::vector<DeckEntry> &entries);

    std::string device() const;  // pty slave path ("" on tcp)
    int port() const;            // tcp port (0 on pty)

    std::vector<Frame> frames() const;   // received, in order
    std::vector<Frame> answers() const;  // sent, in order
    std::vector<Sheet> sheets() const;   // fed so far, in order
    std::string formDefinition() const;  // payload of the last one
    std::string runtimeLine() const;     // payload of the last run frame
    char mode() const;
    // The line settings last seen from the host; false before any answer.
    bool lineSeen(LineSettings *out) const;
    // Waits until `count` frames named `name` have been received.
    bool waitForFrames(const std::string &name, size_t count, int timeoutMs) const;

private:
    std::unique_ptr<Engine> engine_;
    std::thread thread_;
    bool started_ = false;
    bool used_ = false;
};

}  // namespace scannersim
