// The numbers that the library shares with the player's other programs and
// that its code uses as names: the dialog service's commands, flags and
// modes, the TV mode codes, and the TV-mode menu's pages and choices.  No
// other file of the library spells one of them out.
#ifndef KVN_COMMON_CODES_H
#define KVN_COMMON_CODES_H

namespace kvn {

// --- osd_command: the owner of the framework's own dialogs, and of those
// shown while no window has the focus.
constexpr int kDialogFrameworkOwner = 0;

// --- osd_command: the command.
constexpr int kDialogOpen = -3;   // opens a connection into the caller's word
constexpr int kDialogClose = -2;  // closes it; harmless on a word never opened
constexpr int kDialogForm = 9;    // a page of the TV-mode menu
constexpr int kDialogNotice = 13;
constexpr int kDialogModeChanging = 34;  // before the output mode changes
constexpr int kDialogFocusLeaving = 35;  // to the application losing the focus
constexpr int kDialogModeLabel = 40;     // the label of a mode just set
constexpr int kDialogCountdown = 42;     // the menu's "Keep current setting?"

// --- osd_command: the flags of each command.
constexpr int kDialogNoFlags = 0;
constexpr int kDialogFormFlags = 0x8002;
constexpr int kDialogMessageFlags = 0x4000;  // notices and the mode label
constexpr int kDialogCountdownFlags = 0x8000;
constexpr int kDialogFocusFlags = -1;

// --- osd_command: the mode.  0 shows the dialog or puts the text in it (the
// commands without a dialog of their own carry it too), 1 takes it down.
constexpr int kDialogShow = 0;
constexpr int kDialogTakeDown = 1;
constexpr int kDialogFocusMode = -1;

// --- write_var: the kind of the value given.
constexpr int kStoreText = 0;    // a NUL-terminated string
constexpr int kStoreNumber = 1;  // a pointer to an int

// --- TV mode codes, as the output daemon, /tmp/tvmode and the settings key
// video_output have them.  12 to 19 and 23 to 27 name no mode.
constexpr int kModeAuto = 0;  // the output side chooses
constexpr int kMode480i = 1;
constexpr int kMode576i = 2;
constexpr int kMode480p = 3;
constexpr int kMode576p = 4;
constexpr int kMode720p60 = 5;
constexpr int kMode720p50 = 6;
constexpr int kMode1080i60 = 7;
constexpr int kMode1080i50 = 8;
constexpr int kMode1080p60 = 9;
constexpr int kMode1080p50 = 10;
constexpr int kMode1080p24 = 11;
constexpr int kMode4K30 = 20;
constexpr int kMode4K25 = 21;
constexpr int kMode4K24 = 22;
constexpr int kModePictureOff = 28;  // for the output daemon only: no picture

// True for the codes that show a picture.
constexpr bool is_picture_mode(int code) {
    return (code >= kModeAuto && code <= kMode1080p24) || (code >= kMode4K30 && code <= kMode4K24);
}

// --- The TV-mode menu: its dialog pages ("-set=", "-fset=")...
constexpr int kPageResolution = 24;
constexpr int kPageFrequency = 25;
constexpr int kPageConfirmation = 28;

// ...the resolution groups of its rows (every other value means the
// automatic mode)...
constexpr int kGroupAuto = 0;
constexpr int kGroup720p = 10;
constexpr int kGroup1080i = 11;
constexpr int kGroup1080p = 12;
constexpr int kGroup4K = 13;

// ...the positions of its frame-rate names...
constexpr int kFrequencyAuto = 0;
constexpr int kFrequency24Hz = 1;
constexpr int kFrequency50Hz = 2;
constexpr int kFrequency60Hz = 3;
constexpr int kFrequency25Hz = 4;
constexpr int kFrequency30Hz = 5;

// ...and the word it leaves in current_fip_mode when it closes (what the
// applications make of it is theirs).
constexpr int kFipModeMenuClosed = 28;

}  // namespace kvn

#endif
