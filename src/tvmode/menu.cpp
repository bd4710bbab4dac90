// The TV-mode menu: resolution, frequency and confirmation pages drawn by
// the dialog service, keys read from the caller's window, and a
// "Keep current setting?" countdown that falls back to the starting row and
// frequency unless the user confirms the new mode.
#include "menu.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/clock.h"
#include "common/codes.h"
#include "common/numbers.h"
#include "keys/handover.h"
#include "menu_selection.h"
#include "mode_parse.h"
#include "platform/imports.h"

extern "C" {
int current_fip_mode = kvn::kFipModeMenuClosed;
}

namespace kvn {

namespace {

constexpr int kRowCount = 5;
const char *const kRowNames[kRowCount] = {"Auto", "720p", "1080i", "1080p", "4K"};
const int kRowGroups[kRowCount] = {kGroupAuto, kGroup720p, kGroup1080i, kGroup1080p, kGroup4K};
// By frequency index (kFrequency*).
const char *const kFrequencyNames[6] = {"Auto", "24hz", "50hz", "60hz", "25hz", "30hz"};

struct FrequencyList {
    int count;
    int indexes[3];
};
const FrequencyList k720And1080i = {2, {kFrequency50Hz, kFrequency60Hz, kFrequencyAuto}};
const FrequencyList k1080p = {3, {kFrequency24Hz, kFrequency50Hz, kFrequency60Hz}};
const FrequencyList k4K = {3, {kFrequency24Hz, kFrequency25Hz, kFrequency30Hz}};

const FrequencyList *list_for_group(int group) {
    switch (group) {
        case kGroup720p:
        case kGroup1080i:
            return &k720And1080i;
        case kGroup1080p:
            return &k1080p;
        case kGroup4K:
            return &k4K;
        default:
            return nullptr;
    }
}

// Row (-1: none, so "Auto") and frequency index of each mode code 1 to 22.
struct StartPoint {
    int row;
    int frequency;
};
constexpr int kAuto = kFrequencyAuto, k24 = kFrequency24Hz, k25 = kFrequency25Hz,
              k30 = kFrequency30Hz, k50 = kFrequency50Hz, k60 = kFrequency60Hz;
const StartPoint kModeToRow[kMode4K24 + 1] = {
    {-1, kAuto},                                         // 0: automatic
    {-1, k60},   {-1, k50},   {-1, k60},   {-1, k50},    // 480i 576i 480p 576p
    {1, k60},    {1, k50},                               // 720p 60 / 50
    {2, k60},    {2, k50},                               // 1080i 60 / 50
    {3, k60},    {3, k50},    {3, k24},                  // 1080p 60 / 50 / 24
    {-1, kAuto}, {-1, kAuto}, {-1, kAuto}, {-1, kAuto},  // 12-15
    {-1, kAuto}, {-1, kAuto}, {-1, kAuto}, {-1, kAuto},  // 16-19
    {4, k30},    {4, k25},    {4, k24},                  // 4K 30 / 25 / 24
};

enum class Page { kResolution, kFrequency, kConfirmation };
enum class Outcome { kStay, kLeave, kLeaveWithCountdown };

// snprintf into a fixed buffer, never splitting a UTF-8 character when the
// text has to be cut; returns the length written.
int compose(char *buffer, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, size, format, args);
    va_end(args);
    if (n < 0) {
        buffer[0] = '\0';
        return 0;
    }
    size_t length = static_cast<size_t>(n);
    if (length >= size) {
        length = utf8_cut(buffer, size - 1);
        buffer[length] = '\0';
    }
    return static_cast<int>(length);
}

class Menu {
  public:
    explicit Menu(kvn_window *window) : window_(window), events_(window->events) {}

    void run() {
        language_ = get_current_charset();
        int mode = -1;
        if (!stored_number("video_output", &mode)) mode = -1;
        StartPoint start =
            (mode >= kMode480i && mode <= kMode4K24) ? kModeToRow[mode] : StartPoint{-1, kAuto};
        row_ = start.row < 0 ? 0 : start.row;
        frequency_ = start.frequency;
        fallback_group_ = kRowGroups[row_];
        fallback_frequency_ = frequency_;

        send(kDialogOpen, kDialogNoFlags, kDialogShow, nullptr, 0);
        send_resolution_page();
        Outcome outcome = event_loop();
        if (outcome == Outcome::kStay) {  // time-out exit
            send(kDialogForm, kDialogFormFlags, kDialogTakeDown, nullptr, 0);
            send(kDialogClose, kDialogNoFlags, kDialogShow, nullptr, 0);
            return;
        }
        send(kDialogForm, kDialogFormFlags, kDialogTakeDown, nullptr, 0);
        current_fip_mode = kFipModeMenuClosed;
        if (outcome == Outcome::kLeaveWithCountdown) countdown();
        send(kDialogClose, kDialogNoFlags, kDialogShow, nullptr, 0);
    }

  private:
    const char *text(const char *const *table) const { return table[language_]; }

    void send(int command, int flags, int mode, const char *buffer, int length) {
        osd_command(kDialogFrameworkOwner, &connection_, command, flags, mode,
                    static_cast<unsigned short>(length), buffer);
    }

    void send_form(const char *format_args_done, int length) {
        send(kDialogForm, kDialogFormFlags, kDialogShow, format_args_done, length);
    }

    void send_resolution_page() {
        char rows[64];
        compose(rows, sizeof rows, "%s,%s,%s,%s,%s", kRowNames[0], kRowNames[1], kRowNames[2],
                kRowNames[3], kRowNames[4]);
        char buffer[170];
        int n =
            compose(buffer, sizeof buffer,
                    "-set=%d\t-opts=%s\t-optdel=%c\t-ntt=%s\t-rtt=%s\t-acm=%s\t-inm=%s\t-fset=%d\t-"
                    "fdis=%d\t-fopt=%s\t",
                    kPageResolution, rows, ',', text(lang_korvan_framework_next),
                    text(lang_korvan_framework_exit), "", "", kPageResolution, 0, kRowNames[row_]);
        send_form(buffer, n);
    }

    void send_frequency_page() {
        char options[20];
        if (list_->count == 2) {
            compose(options, sizeof options, "%s,%s", kFrequencyNames[list_->indexes[0]],
                    kFrequencyNames[list_->indexes[1]]);
        } else {
            compose(options, sizeof options, "%s,%s,%s", kFrequencyNames[list_->indexes[0]],
                    kFrequencyNames[list_->indexes[1]], kFrequencyNames[list_->indexes[2]]);
        }
        char heading[30];
        compose(heading, sizeof heading, "%s  %s", text(lang_korvan_framework_resolution),
                kRowNames[row_]);
        char buffer[170];
        int n = compose(buffer, sizeof buffer,
                        "-set=%d\t-opts=%s\t-optdel=%c\t-ntt=%s\t-rtt=%s\t-acm=%s\t-inm=%s\t-fset=%"
                        "d\t-fdis=%d\t-fopt=%s\t",
                        kPageFrequency, options, ',', text(lang_korvan_framework_select),
                        text(lang_korvan_framework_back), "", heading, kPageFrequency, 0,
                        kFrequencyNames[frequency_]);
        send_form(buffer, n);
    }

    void send_highlight(int page) {
        char buffer[170];
        const char *name = page == kPageResolution ? kRowNames[row_] : kFrequencyNames[frequency_];
        int n = compose(buffer, sizeof buffer, "-set=%d\t-fdis=%d\t-fopt=%s\t", page, 0, name);
        send_form(buffer, n);
    }

    void send_confirmation_page() {
        char heading[30];
        char line[20];
        if (frequency_ == kFrequencyAuto) {
            compose(heading, sizeof heading, "%s", text(lang_korvan_framework_TV_system));
            compose(line, sizeof line, "%s", kRowNames[row_]);
        } else {
            compose(heading, sizeof heading, "%s %s", text(lang_korvan_framework_resolution),
                    kRowNames[row_]);
            compose(line, sizeof line, "%s  %s", text(lang_korvan_framework_frequency),
                    kFrequencyNames[frequency_]);
        }
        char buffer[170];
        int n = compose(
            buffer, sizeof buffer, "-set=%d\t-opts=%s\t-ntt=%s\t-rtt=%s\t-acm=%s\t-inm=%s\t",
            kPageConfirmation, line, text(lang_korvan_framework_yes),
            text(lang_korvan_framework_no), text(lang_korvan_framework_apply_setting), heading);
        send_form(buffer, n);
    }

    void send_invalid_mode() {
        char buffer[170];
        int n = compose(buffer, sizeof buffer, "%s%s",
                        "-msg=", text(lang_korvan_framework_invalid_mode));
        send(kDialogNotice, kDialogMessageFlags, kDialogShow, buffer, n);
    }

    void go_to_frequency_page() {
        list_ = list_for_group(kRowGroups[row_]);
        bool held = false;
        for (int i = 0; i < list_->count; ++i) held = held || list_->indexes[i] == frequency_;
        if (!held) frequency_ = list_->indexes[0];
        send_frequency_page();
        send_highlight(kPageFrequency);
        page_ = Page::kFrequency;
    }

    void go_to_resolution_page() {
        send_resolution_page();
        send_highlight(kPageResolution);
        page_ = Page::kResolution;
    }

    void move_frequency(int step) {
        int position = 0;
        for (int i = 0; i < list_->count; ++i) {
            if (list_->indexes[i] == frequency_) position = i;
        }
        position += step;
        if (position < 0) position = 0;
        if (position >= list_->count) position = list_->count - 1;
        frequency_ = list_->indexes[position];
    }

    Outcome select(int group, int frequency) {
        apply_tvmode_selection(group, frequency);
        return Outcome::kLeave;
    }

    // Keys that act the same on every page; kStay with `handled` false when
    // the key is the page's own.
    Outcome common_key(DFBInputDeviceKeySymbol key, bool *handled) {
        *handled = true;
        switch (key) {
            case DIKS_0:
            case DIKS_RED:
                return select(kGroupAuto, kFrequencyAuto);
            // Mode codes where a group belongs, as the player has always had
            // them: neither is a group, so both mean the automatic mode.
            case DIKS_1:
                return select(kMode720p50, kFrequencyAuto);
            case DIKS_2:
                return select(kMode1080i50, kFrequencyAuto);
            case DIKS_3:
                send_invalid_mode();
                return Outcome::kStay;
            case DIKS_4:
            case DIKS_7:
            case DIKS_GREEN:
                return select(kGroup720p, kFrequency60Hz);
            case DIKS_5:
            case DIKS_8:
                return select(kGroup1080i, kFrequency60Hz);
            case DIKS_6:
            case DIKS_9:
                return select(kGroup1080p, kFrequency60Hz);
            case DIKS_YELLOW:
                return select(kGroup1080p, kFrequency50Hz);
            case DIKS_BLUE:
                return select(kGroup4K, kFrequency30Hz);
            case DIKS_SELECT:
                SwitchTvSystem();
                return Outcome::kLeave;
            case DIKS_TV:
            case DIKS_STOP:
                return Outcome::kLeave;
            default:
                *handled = false;
                return Outcome::kStay;
        }
    }

    Outcome key(DFBInputDeviceKeySymbol key) {
        bool handled = false;
        Outcome outcome = common_key(key, &handled);
        if (handled) return outcome;
        switch (page_) {
            case Page::kResolution:
                if (key == DIKS_CURSOR_LEFT || key == DIKS_CURSOR_RIGHT) {
                    row_ += key == DIKS_CURSOR_LEFT ? -1 : 1;
                    if (row_ < 0) row_ = 0;
                    if (row_ >= kRowCount) row_ = kRowCount - 1;
                    send_highlight(kPageResolution);
                } else if (key == DIKS_RETURN) {
                    if (row_ == 0) {
                        frequency_ = kFrequencyAuto;
                        send_confirmation_page();
                        page_ = Page::kConfirmation;
                    } else {
                        go_to_frequency_page();
                    }
                } else if (key == DIKS_BACKSPACE) {
                    return Outcome::kLeave;
                } else {
                    send_highlight(kPageResolution);
                }
                return Outcome::kStay;
            case Page::kFrequency:
                if (key == DIKS_CURSOR_LEFT || key == DIKS_CURSOR_RIGHT) {
                    move_frequency(key == DIKS_CURSOR_LEFT ? -1 : 1);
                    send_highlight(kPageFrequency);
                } else if (key == DIKS_RETURN) {
                    send_confirmation_page();
                    page_ = Page::kConfirmation;
                } else if (key == DIKS_BACKSPACE) {
                    go_to_resolution_page();
                } else {
                    send_highlight(kPageFrequency);
                }
                return Outcome::kStay;
            case Page::kConfirmation:
                if (key == DIKS_RETURN) {
                    apply_tvmode_selection(kRowGroups[row_], frequency_);
                    return Outcome::kLeaveWithCountdown;
                }
                if (key == DIKS_BACKSPACE) {
                    if (frequency_ == kFrequencyAuto) {
                        go_to_resolution_page();
                    } else {
                        list_ = list_for_group(kRowGroups[row_]);
                        send_frequency_page();
                        send_highlight(kPageFrequency);
                        page_ = Page::kFrequency;
                    }
                } else {
                    send_confirmation_page();
                }
                return Outcome::kStay;
        }
        return Outcome::kStay;
    }

    // A power key read here in the flash player's window may be one that
    // another application handed over: it is spent, and the hand-over waits
    // for whoever takes it next.
    bool key_down(const DFBEvent &event) {
        if (event.clazz != DFEC_WINDOW || event.window.type != DWET_KEYDOWN) return false;
        if (event.window.key_symbol == DIKS_POWER) handover().meet(window_);
        return true;
    }

    // kStay means the time-out exit.
    Outcome event_loop() {
        // A wait that fails at once (an interrupted wait, or a buffer that
        // has gone bad) is tried again after a short pause; once it has
        // failed for as long as the page time-out, the pages are left as on
        // a time-out instead of spinning for ever.
        constexpr int kRetryPauseUs = 10000;
        constexpr int kMaxFailedWaits = 10 * 1000000 / kRetryPauseUs;
        int failed_waits = 0;
        for (;;) {
            DFBResult waited = wait_for_event(events_, 10, 0);
            if (waited == DFB_TIMEOUT) return Outcome::kStay;
            if (waited != DFB_OK) {
                if (++failed_waits >= kMaxFailedWaits) return Outcome::kStay;
                sleep_us(kRetryPauseUs);
                continue;
            }
            failed_waits = 0;
            // One event at a time: the events behind a leaving key stay in
            // the buffer for the countdown or the application.
            DFBEvent event;
            while (events_->GetEvent(events_, &event) == DFB_OK) {
                if (!key_down(event)) continue;
                Outcome outcome = key(event.window.key_symbol);
                if (outcome != Outcome::kStay) return outcome;
            }
        }
    }

    void countdown() {
        const std::string format = std::string(20, ' ') + "%s" + std::string(51, ' ') + "%d %s....";
        int counter = 200;
        bool keep = false;
        while (counter > 0) {
            if (counter % 10 == 0) {
                char line[200];
                compose(line, sizeof line, format.c_str(), text(lang_korvan_framework_keep_setting),
                        counter / 10, text(lang_korvan_framework_seconds));
                char buffer[170];
                int n = compose(buffer, sizeof buffer, "-tit=%s\t-msg=%s\t-ntt=%s\t-rtt=%s\t",
                                text(lang_korvan_framework_TV_mode), line,
                                text(lang_korvan_framework_yes), text(lang_korvan_framework_no));
                send(kDialogCountdown, kDialogCountdownFlags, kDialogShow, buffer, n);
            }
            wait_for_event(events_, 0, 10);
            --counter;
            DFBEvent event;
            while (events_->GetEvent(events_, &event) == DFB_OK) {
                if (!key_down(event)) continue;
                if (event.window.key_symbol == DIKS_BACKSPACE) {
                    counter = 0;
                } else if (event.window.key_symbol == DIKS_RETURN) {
                    keep = true;
                    counter = 0;
                }
            }
            if (counter > 0) sleep_us(100000);
        }
        send(kDialogCountdown, kDialogCountdownFlags, kDialogTakeDown, nullptr, 0);
        if (!keep) apply_tvmode_selection(fallback_group_, fallback_frequency_);
    }

    const kvn_window *window_;
    IDirectFBEventBuffer *events_;
    int language_ = 0;
    int connection_ = 0;
    Page page_ = Page::kResolution;
    int row_ = 0;
    int frequency_ = 0;
    const FrequencyList *list_ = nullptr;
    int fallback_group_ = 0;
    int fallback_frequency_ = 0;
};

}  // namespace

int tvmode_menu(kvn_window *window) {
    // Without an event buffer no key could ever reach the menu.
    if (window == nullptr || window->events == nullptr) return 0;
    Menu menu(window);
    menu.run();
    return 0;
}

}  // namespace kvn

extern "C" int kvn_tvmode(kvn_window *window) {
    kvn::tvmode_menu(window);
    return 0;
}
