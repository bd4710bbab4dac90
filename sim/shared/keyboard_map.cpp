#include "keyboard_map.h"

#include <SDL2/SDL_keycode.h>

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
