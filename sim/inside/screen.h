// The simulator's drawing on the player's screen: its fonts, its own
// windows above the applications, and copies of the composed screen (the
// OSD layer) for screenshots and the live window.
#ifndef KVN_SIM_SCREEN_H
#define KVN_SIM_SCREEN_H

#include <directfb.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "picture.h"

namespace kvn_sim {

struct Screen {
    int width = 1280, height = 720;
    IDirectFBFont *font = nullptr;      // 24 px
    IDirectFBFont *big_font = nullptr;  // 48 px
};
extern Screen g_screen;

// Loads the fonts; false with `error` when the player's font is missing.
bool load_fonts(std::string &error);
void release_fonts();

void text_at(IDirectFBSurface *s, IDirectFBFont *font, const std::string &text, int x, int y);

// A window of the simulator's own (not a player application): it stays
// above the applications, which the framework raises among themselves.
struct Overlay {
    IDirectFBWindow *window = nullptr;
    IDirectFBSurface *surface = nullptr;
    int w = 0, h = 0;
    void create(int x, int y, int width, int height);
    void show(bool on);
    void raise();
    void release();
};

// Copies the composed screen; false with `error` when it cannot.
bool grab_screen(Picture &out, std::string &error);
// Writes DIR/NAME.png of the composed screen.
bool take_shot(const std::string &dir, const std::string &name, std::string &error);
// Writes a picture as DIR/NAME.png, which appears whole or not at all.
bool save_png(const std::string &dir, const std::string &name, const Picture &picture,
              std::string &error);
// Draws lines of text (fields apart by tabs) in two columns on a
// translucent panel, off screen.
Picture render_panel(const std::vector<std::string> &lines);

}  // namespace kvn_sim

#endif
