#include "keyboard_map.h"

#include <SDL2/SDL_keycode.h>

#include "sim_script.h"

namespace kvn_sim {

const std::vector<KeyboardKey> &keyboard_map() {
    // A held power key would put the player to sleep and wake it again at
    // the keyboard's repeat rate: only the arrows repeat, as on the remote.
    static const std::vector<KeyboardKey> map = {
        {SDLK_LEFT, "Left", DIKS_CURSOR_LEFT, "menu: previous row or frequency", true},
        {SDLK_RIGHT, "Right", DIKS_CURSOR_RIGHT, "menu: next row or frequency", true},
        {SDLK_UP, "Up", DIKS_CURSOR_UP, "up", true},
        {SDLK_DOWN, "Down", DIKS_CURSOR_DOWN, "down", true},
        {SDLK_RETURN, "Enter", DIKS_RETURN, "enter, confirm, keep the mode", false},
        {SDLK_BACKSPACE, "Backspace", DIKS_BACKSPACE, "back, go back to the old mode", false},
        {SDLK_SPACE, "Space", DIKS_OK, "OK", false},
        {SDLK_0, "0", DIKS_0, "digit (menu: Auto)", false},
        {SDLK_1, "1", DIKS_1, "digit (menu: Auto)", false},
        {SDLK_2, "2", DIKS_2, "digit (menu: Auto)", false},
        {SDLK_3, "3", DIKS_3, "digit (menu: invalid mode)", false},
        {SDLK_4, "4", DIKS_4, "digit (menu: 720p 60Hz)", false},
        {SDLK_5, "5", DIKS_5, "digit (menu: 1080i 60Hz)", false},
        {SDLK_6, "6", DIKS_6, "digit (menu: 1080p 60Hz)", false},
        {SDLK_7, "7", DIKS_7, "digit (menu: 720p 60Hz)", false},
        {SDLK_8, "8", DIKS_8, "digit (menu: 1080i 60Hz)", false},
        {SDLK_9, "9", DIKS_9, "digit (menu: 1080p 60Hz)", false},
        {SDLK_p, "p", DIKS_POWER, "standby, wake-up", false},
        {SDLK_t, "t", DIKS_TV, "TV mode menu", false},
        {SDLK_e, "e", DIKS_EJECT, "eject; p then e in standby: reboot", false},
        {SDLK_c, "c", DIKS_CLEAR, "clear; p then c in standby: off", false},
        {SDLK_o, "o", DIKS_REDIAL, "power-off", false},
        {SDLK_w, "w", DIKS_HOLD, "hold: wakes up from standby", false},
        {SDLK_r, "r", DIKS_RED, "red (menu: Auto)", false},
        {SDLK_g, "g", DIKS_GREEN, "green (menu: 720p 60Hz)", false},
        {SDLK_y, "y", DIKS_YELLOW, "yellow (menu: 1080p 50Hz)", false},
        {SDLK_b, "b", DIKS_BLUE, "blue (menu: 4K 30Hz)", false},
        {SDLK_s, "s", DIKS_SELECT, "menu: TV system switch", false},
        {SDLK_x, "x", DIKS_STOP, "stop: leaves the menu", false},
        {SDLK_h, "h", DIKS_HOME, "home: visual controller", false},
        {SDLK_m, "m", DIKS_LANGUAGE, "music: visual controller", false},
        {SDLK_u, "u", DIKS_SETUP, "media player setup", false},
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
