#include "dialog_view.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "korvan_framework_dev.h"
#include "osd_service.h"
#include "screen.h"
#include "sim_script.h"

namespace kvn_sim {
namespace {

struct DialogState {
    std::mutex mutex;
    bool page_up = false;
    int page = 0;
    std::vector<std::string> options;
    std::string highlight, ok_label, back_label, question, heading;
    bool countdown_up = false;
    std::string title, message;
    std::string notice;
    long long notice_until = 0;
    bool dark = false;  // the picture is off: no notice is seen, now or later
    Overlay overlay;
} g_dialog;

long long now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A notice's time on screen, in player time like every other wait.
long long notice_end(long long player_ms) {
    unsigned divisor = kvn_get_time_divisor();
    return now_ms() + player_ms / (divisor == 0 ? 1 : divisor);
}

std::vector<std::string> split(const std::string &text, char by) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(by, start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string squeeze(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    return out;
}

// Draws with g_dialog.mutex held.
void draw_dialog_locked() {
    DialogState &d = g_dialog;
    IDirectFBSurface *s = d.overlay.surface;
    IDirectFBFont *font = g_screen.font, *big = g_screen.big_font;
    bool notice = !d.notice.empty() && now_ms() < d.notice_until;
    if (!d.page_up && !d.countdown_up && !notice) {
        d.overlay.show(false);
        return;
    }
    s->SetColor(s, 0x10, 0x18, 0x40, 0xff);
    s->FillRectangle(s, 0, 0, d.overlay.w, d.overlay.h);
    s->SetColor(s, 0xc0, 0xc0, 0xff, 0xff);
    s->DrawRectangle(s, 0, 0, d.overlay.w, d.overlay.h);
    int y = 16;
    s->SetColor(s, 0xff, 0xff, 0xff, 0xff);
    if (d.countdown_up) {
        text_at(s, big, d.title, 24, y);
        y += 60;
        text_at(s, font, squeeze(d.message), 24, y);
        y += 60;
        s->SetColor(s, 0xff, 0xe0, 0x40, 0xff);
        text_at(s, font, "[OK/RETURN] " + d.ok_label + "    [BACKSPACE] " + d.back_label, 24, y);
    } else if (d.page_up) {
        std::string heading = d.page == 24 ? "Resolution" : d.page == 25 ? "Frequency" : "Confirm";
        if (!d.heading.empty()) heading = d.heading;
        text_at(s, big, heading, 24, y);
        y += 56;
        if (!d.question.empty()) {
            text_at(s, font, d.question, 24, y);
            y += 34;
        }
        for (const auto &option : d.options) {
            bool lit = option == d.highlight || (d.page == 28 && d.options.size() == 1);
            if (lit) {
                s->SetColor(s, 0x40, 0x80, 0xff, 0xff);
                s->FillRectangle(s, 18, y - 2, d.overlay.w - 36, 30);
            }
            s->SetColor(s, 0xff, 0xff, 0xff, 0xff);
            text_at(s, font, (lit ? "> " : "  ") + option, 30, y);
            y += 34;
        }
        s->SetColor(s, 0xff, 0xe0, 0x40, 0xff);
        text_at(s, font, "[RETURN] " + d.ok_label + "    [BACKSPACE] " + d.back_label, 24,
                d.overlay.h - 40);
    }
    if (notice) {
        s->SetColor(s, 0xff, 0x80, 0x80, 0xff);
        text_at(s, font, d.notice, 24, d.overlay.h - 80);
    }
    s->Flip(s, nullptr, DSFLIP_NONE);
    d.overlay.show(true);
}

void osd_renderer(const osd_call *call, void *) {
    DialogState &d = g_dialog;
    std::lock_guard<std::mutex> lock(d.mutex);
    std::string text(call->text, strnlen(call->text, sizeof call->text));
    auto fields = dialog_fields(text);
    auto field = [&](const char *key, std::string &out) {
        for (auto &f : fields)
            if (f.first == key) {
                out = f.second;
                return true;
            }
        return false;
    };
    std::string value;
    switch (call->command) {
        case 9:
            if (call->mode == 1) {
                d.page_up = false;
                break;
            }
            if (field("set", value)) d.page = atoi(value.c_str());
            if (field("opts", value)) {
                std::string del = ",";
                field("optdel", del);
                d.options = split(value, del.empty() ? ',' : del[0]);
                d.highlight.clear();
                d.ok_label = d.back_label = d.question = d.heading = "";
                field("ntt", d.ok_label);
                field("rtt", d.back_label);
                field("acm", d.question);
                field("inm", d.heading);
            }
            field("fopt", d.highlight);
            d.page_up = true;
            break;
        case 13:
            if (field("msg", value) && !d.dark) {
                d.notice = value;
                d.notice_until = notice_end(3000);
            }
            break;
        case 40:
            if (call->mode == 0 && field("opts", value) && !value.empty() && !d.dark) {
                d.notice = "TV mode: " + split(value, ',').front();
                d.notice_until = notice_end(2000);
            }
            break;
        case 42:
            if (call->mode == 1) {
                d.countdown_up = false;
                break;
            }
            field("tit", d.title);
            field("msg", d.message);
            field("ntt", d.ok_label);
            field("rtt", d.back_label);
            d.countdown_up = true;
            break;
        default:
            return;
    }
    draw_dialog_locked();
}

}  // namespace

void start_dialog_view() {
    g_dialog.overlay.create(g_screen.width / 2 - 320, g_screen.height / 2 - 200, 640, 400);
    osd_service_set_renderer(osd_renderer, nullptr);
}

void stop_dialog_view() {
    osd_service_set_renderer(nullptr, nullptr);
    std::lock_guard<std::mutex> lock(g_dialog.mutex);
    g_dialog.overlay.release();
}

void expire_dialog_notice() {
    std::lock_guard<std::mutex> lock(g_dialog.mutex);
    if (!g_dialog.notice.empty() && now_ms() >= g_dialog.notice_until) {
        g_dialog.notice.clear();
        draw_dialog_locked();
    }
}

void set_dialog_dark(bool dark) {
    std::lock_guard<std::mutex> lock(g_dialog.mutex);
    g_dialog.dark = dark;
    if (dark && !g_dialog.notice.empty()) {
        g_dialog.notice.clear();
        draw_dialog_locked();
    }
}

MenuState menu_state() {
    std::lock_guard<std::mutex> lock(g_dialog.mutex);
    return MenuState{g_dialog.page_up, g_dialog.countdown_up};
}

}  // namespace kvn_sim
