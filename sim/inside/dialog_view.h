// The dialog service's pictures: menu pages, the countdown and notices,
// drawn from the dialog commands the stand-in receives.
#ifndef KVN_SIM_DIALOG_VIEW_H
#define KVN_SIM_DIALOG_VIEW_H

namespace kvn_sim {

void start_dialog_view();
void stop_dialog_view();
// Takes down a notice whose time is up; called by the platform watcher.
void expire_dialog_notice();
// The picture off (standby): a notice is taken down and none is shown until
// the picture is back; called by the platform watcher.
void set_dialog_dark(bool dark);

struct MenuState {
    bool pages = false;      // a page of the TV-mode menu is up
    bool countdown = false;  // the "Keep current setting?" countdown is up
};
MenuState menu_state();

}  // namespace kvn_sim

#endif
