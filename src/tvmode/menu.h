// The TV-mode menu (kvn_tvmode, in the public header).
#ifndef KVN_TVMODE_MENU_H
#define KVN_TVMODE_MENU_H

#include "korvan_framework_lib.h"

namespace kvn {

// The menu on the caller's window, run to its end; always 0.
int tvmode_menu(kvn_window *window);

}  // namespace kvn

#endif
