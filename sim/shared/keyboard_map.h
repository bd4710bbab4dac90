// The desktop keyboard as the player's remote control, for the live window.
#ifndef KVN_SIM_KEYBOARD_MAP_H
#define KVN_SIM_KEYBOARD_MAP_H

#include <directfb.h>

#include <string>
#include <vector>

namespace kvn_sim {

struct KeyboardKey {
    int keycode;                     // SDL_Keycode of the desktop key
    const char *label;               // how the help overlay and the docs name it
    DFBInputDeviceKeySymbol remote;  // the remote key it stands for
    const char *meaning;             // what the key does on the player
    bool repeats;                    // held down, it repeats (the arrows only)
};

const std::vector<KeyboardKey> &keyboard_map();

// The row for a desktop key, or null when the key is no remote key.
const KeyboardKey *remote_key_for(int keycode);

// Lines of the help overlay, fields apart by tabs: the table, then the
// simulator's own keys.
std::vector<std::string> help_lines();

}  // namespace kvn_sim

#endif
