// A choice of the TV-mode menu made a mode: told to the main user-interface
// application, stored and applied.
#ifndef KVN_TVMODE_MENU_SELECTION_H
#define KVN_TVMODE_MENU_SELECTION_H

namespace kvn {

// Turns a menu choice (resolution group, frequency index: kGroup*,
// kFrequency* of common/codes.h) into a mode, replies to /tmp/tolu_cgi,
// stores and applies it.  -1 when /tmp/tolu_cgi cannot be opened.
int apply_tvmode_selection(int group, int frequency);

}  // namespace kvn

#endif
