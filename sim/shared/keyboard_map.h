// The desktop keyboard as the player's remote control, for the live window
// and the web page alike.
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

// The row for a desktop key pressed, or null when it is no remote key or
// the repeat of one held down that does not repeat.
const KeyboardKey *remote_key_for_press(int keycode, bool repeat);

// A browser's name of a desktop key (KeyboardEvent.key), and the key of a
// name (0 for none): the web page sends the keys pressed by these names.
std::string browser_key_name(int keycode);
int keycode_for_browser_key(const std::string &name);

// Lines of the help overlay, fields apart by tabs: the table, then the
// simulator's own keys.
std::vector<std::string> help_lines();

}  // namespace kvn_sim

#endif
