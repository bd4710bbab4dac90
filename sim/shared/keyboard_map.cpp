#include "keyboard_map.h"

#include <SDL2/SDL_keycode.h>
#include <ctype.h>

#include "sim_script.h"

namespace kvn_sim {

const std::vector<KeyboardKey> &keyboard_map() {
    // The rows of keyboard.tsv (sim/CMakeLists.txt).
    static const std::vector<KeyboardKey> map = {
#include "keyboard_table.inc"
    };
    return map;
}

const KeyboardKey *remote_key_for(int keycode) {
    for (const KeyboardKey &k : keyboard_map())
        if (k.keycode == keycode) return &k;
    return nullptr;
}

const KeyboardKey *remote_key_for_press(int keycode, bool repeat) {
    const KeyboardKey *key = remote_key_for(keycode);
    return key != nullptr && (!repeat || key->repeats) ? key : nullptr;
}

namespace {
// The keys a browser names by a word rather than by the character they type.
const struct {
    int keycode;
    const char *name;
} kBrowserWords[] = {
    {SDLK_LEFT, "ArrowLeft"}, {SDLK_RIGHT, "ArrowRight"}, {SDLK_UP, "ArrowUp"},
    {SDLK_DOWN, "ArrowDown"}, {SDLK_RETURN, "Enter"},     {SDLK_BACKSPACE, "Backspace"},
};
}  // namespace

std::string browser_key_name(int keycode) {
    for (const auto &w : kBrowserWords)
        if (w.keycode == keycode) return w.name;
    return keycode > 0 && keycode < 128 && isprint(keycode)
               ? std::string(1, static_cast<char>(keycode))
               : std::string();
}

int keycode_for_browser_key(const std::string &name) {
    for (const auto &w : kBrowserWords)
        if (name == w.name) return w.keycode;
    // A letter typed with Shift is the same key.
    unsigned char c = name.size() == 1 ? static_cast<unsigned char>(name[0]) : 0;
    return isprint(c) ? tolower(c) : 0;
}

std::vector<std::string> help_lines() {
    std::vector<std::string> lines = {"The keyboard is the remote"};
    for (const KeyboardKey &k : keyboard_map()) {
        lines.push_back(std::string(k.label) + "\t" + key_name(k.remote) + "\t" + k.meaning);
    }
    lines.push_back("? or F1\thelp\tthis help (Esc closes it)");
    lines.push_back("F12\tshot\tscreenshot window-N.png");
    return lines;
}

}  // namespace kvn_sim
