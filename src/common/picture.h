// The picture as the library last set it: every code for the output daemon
// goes through here, so that a standby taken over later knows whether
// something (the TV-mode menu) switched the picture back on meanwhile.
#ifndef KVN_COMMON_PICTURE_H
#define KVN_COMMON_PICTURE_H

namespace kvn {

// Gives the output daemon `code`.
void set_output_mode(int code);

// True while the last code the library gave the daemon switched the picture
// off.
bool picture_is_off();

}  // namespace kvn

#endif
