// Script and command-line language of the player simulator, kept apart from
// the program's I/O so it can be tested and fuzzed on its own.
#ifndef KVN_SIM_SCRIPT_H
#define KVN_SIM_SCRIPT_H

#include <directfb.h>

#include <string>
#include <vector>

namespace kvn_sim {

enum class CommandKind {
    Key,
    Wait,
    Shot,
    Pipe,
    File,
    Focus,
    ExpectFile,
    ExpectTrace,
    Quit,
    Setting,
    ExpectShot
};

// A line longer than this is malformed; no reader holds more of it.
constexpr size_t kMaxLineBytes = 4096;
// The longest wait a line may ask for: one hour of player time.
constexpr long kMaxWaitMs = 3600000;
// A script file larger than this is refused before it is read.
constexpr long kMaxScriptBytes = 16L << 20;
// The share of a screen's pixels that may differ from its stored picture
// when expect-shot is given none: none.  The player draws in software, so
// a screen drawn again is the same picture, and one changed digit of
// 24-pixel text is only about 110 pixels (0.012 %): a tolerance is for a
// screen with something that moves.
constexpr double kDefaultShotTolerance = 0;
// A pixel differs when one of its colours does by more than this (of 255):
// blending may round apart between processors and DirectFB's builds, a
// changed picture differs by far more.
constexpr int kShotColourSlack = 8;

struct Command {
    CommandKind kind = CommandKind::Quit;
    int line = 0;
    DFBInputDeviceKeySymbol key = DIKS_NULL;   // Key
    long milliseconds = 0;                     // Wait
    int window_id = -1;                        // Focus
    double tolerance = kDefaultShotTolerance;  // ExpectShot: percent of the pixels
    std::string path;                          // File, ExpectFile; Setting key
    std::string text;    // Shot name, Pipe/File/ExpectFile/Setting text, ExpectTrace regex
    std::string source;  // the line as written, for the transcript
};

enum class ParseResult { Command, Empty, Error };

// Parses one line; `error` explains an Error (without the line number).
ParseResult parse_line(const std::string &line, int line_number, Command &out, std::string &error);

// Reads lines from a descriptor holding at most kMaxLineBytes of a line at
// any time: a longer line is read to its end and thrown away.  Waiting can
// be cut short by a second descriptor becoming readable.
class LineReader {
  public:
    enum class Result { Line, TooLong, End, Stopped };
    explicit LineReader(int fd, int stop_fd = -1) : fd_(fd), stop_fd_(stop_fd) {}
    // The next line without its line end; TooLong for a line that was cut.
    Result next(std::string &line);

  private:
    bool fill();  // false at the end of the input or on a stop
    int fd_, stop_fd_;
    std::string pending_;
    bool skipping_ = false, end_ = false, stopped_ = false;
};

// Opens, reads and parses the script file at `path`: false with `error`
// for a folder, a missing or unreadable file, or any malformed line.
bool load_script(const std::string &path, std::vector<Command> &out, std::string &error);

// Reads and parses a whole script from a descriptor, with the limits above;
// on the first malformed line returns false with `error` naming its number.
bool read_script(int fd, std::vector<Command> &out, std::string &error);

// DirectFB key symbol for a name without the DIKS_ prefix ("POWER", "1",
// "CURSOR_DOWN", also "OK" for the remote's OK key); DIKS_NULL when unknown.
DFBInputDeviceKeySymbol key_from_name(const std::string &name);
// The name for a symbol, or the symbol in hex when it has none.
std::string key_name(DFBInputDeviceKeySymbol symbol);

// Application identifier for a window_id_str name, -1 when unknown.
int app_from_name(const std::string &name);

// True when a screenshot name is a plain file name (no path, no dot start).
bool valid_shot_name(const std::string &name);

// Fields of a dialog text ("-key=value\t..."), in order.
std::vector<std::pair<std::string, std::string>> dialog_fields(const std::string &text);

}  // namespace kvn_sim

#endif
