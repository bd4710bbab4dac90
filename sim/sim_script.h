// Script and command-line language of the player simulator, kept apart from
// the program's I/O so it can be tested and fuzzed on its own.
#ifndef KVN_SIM_SCRIPT_H
#define KVN_SIM_SCRIPT_H

#include <string>
#include <vector>

#include <directfb.h>

namespace kvn_sim {

enum class CommandKind { Key, Wait, Shot, Pipe, File, Focus, ExpectFile, ExpectTrace, Quit };

struct Command {
    CommandKind kind = CommandKind::Quit;
    int line = 0;
    DFBInputDeviceKeySymbol key = DIKS_NULL;  // Key
    long milliseconds = 0;                    // Wait
    int window_id = -1;                       // Focus
    std::string path;                         // File, ExpectFile
    std::string text;                         // Shot name, Pipe/File/ExpectFile text, ExpectTrace regex
};

enum class ParseResult { Command, Empty, Error };

// Parses one line; `error` explains an Error (without the line number).
ParseResult parse_line(const std::string &line, int line_number, Command &out, std::string &error);

// Parses a whole script; on the first malformed line returns false with
// `error` naming its line number.
bool parse_script(const std::string &text, std::vector<Command> &out, std::string &error);

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
