/* An application of your own inside the player simulator: a wall of eight
 * coloured tiles.  The arrows move the frame, RETURN opens the framed tile
 * full screen and BACKSPACE closes it again; every other key goes to the
 * framework's default handler, so the TV key, the power key and the rest
 * behave as in every application of the player.
 *
 * Build against an installed copy and run it as the photo player:
 *
 *     cc -shared -fPIC sim_app.c $(pkg-config --cflags --libs korvan_framework_lib) -o sim_app.so
 *     korvan-sim --app PHOTO_PLAYER=./sim_app.so
 */
#include <korvan_framework_lib.h>
#include <korvan_sim_app.h>
#include <string.h>

enum { COLUMNS = 4, ROWS = 2, TILE_W = 240, TILE_H = 200, GAP = 40, FRAME = 10, TOP = 200 };

static const unsigned int tile_colours[ROWS * COLUMNS] = {0xc03030, 0x30a040, 0x3060d0, 0xd0b020,
                                                          0x9040b0, 0x20a0a0, 0xe07020, 0x808080};

struct tiles {
    kvn_window record;
    IDirectFBFont *font;
    int width, height;
    int column, row;
    int opened; /* the framed tile is shown full screen */
};

static void set_colour(IDirectFBSurface *s, unsigned int rgb) {
    s->SetColor(s, (rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff, 0xff);
}

static void draw(struct tiles *t) {
    IDirectFBSurface *s = t->record.surface;
    int left = (t->width - (COLUMNS * TILE_W + (COLUMNS - 1) * GAP)) / 2;
    unsigned int framed = tile_colours[t->row * COLUMNS + t->column];
    if (t->opened) {
        set_colour(s, framed);
        s->FillRectangle(s, 0, 0, t->width, t->height);
    } else {
        set_colour(s, 0x202020);
        s->FillRectangle(s, 0, 0, t->width, t->height);
        for (int row = 0; row < ROWS; ++row) {
            for (int column = 0; column < COLUMNS; ++column) {
                int x = left + column * (TILE_W + GAP), y = TOP + row * (TILE_H + GAP);
                if (row == t->row && column == t->column) {
                    set_colour(s, 0xffffff);
                    s->FillRectangle(s, x - FRAME, y - FRAME, TILE_W + 2 * FRAME,
                                     TILE_H + 2 * FRAME);
                }
                set_colour(s, tile_colours[row * COLUMNS + column]);
                s->FillRectangle(s, x, y, TILE_W, TILE_H);
            }
        }
        if (t->font != NULL) {
            set_colour(s, 0xffffff);
            s->SetFont(s, t->font);
            s->DrawString(s, "Tiles: arrows move, RETURN opens, BACKSPACE closes", -1, left, 100,
                          DSTF_TOPLEFT);
        }
    }
    s->Flip(s, NULL, DSFLIP_NONE);
}

/* The application's own keys; 0 when the key is not one of them. */
static int own_key(struct tiles *t, DFBInputDeviceKeySymbol key) {
    switch (key) {
        case DIKS_CURSOR_LEFT:
            if (!t->opened && t->column > 0) t->column--;
            return 1;
        case DIKS_CURSOR_RIGHT:
            if (!t->opened && t->column < COLUMNS - 1) t->column++;
            return 1;
        case DIKS_CURSOR_UP:
            if (!t->opened && t->row > 0) t->row--;
            return 1;
        case DIKS_CURSOR_DOWN:
            if (!t->opened && t->row < ROWS - 1) t->row++;
            return 1;
        case DIKS_RETURN:
            t->opened = 1;
            return 1;
        case DIKS_BACKSPACE:
            t->opened = 0;
            return 1;
        default:
            return 0;
    }
}

int kvn_sim_app_main(const kvn_sim_app *app) {
    struct tiles t;
    memset(&t, 0, sizeof t);
    t.width = app->screen_width;
    t.height = app->screen_height;

    kvn_window *r = &t.record;
    r->window_id = app->window_id;
    r->active = 1;
    r->hide_others = 1;
    r->opacity = 0xff;
    r->osd_id = 200 + app->window_id;
    r->focus_on_window_callback = func_default_focus_on_window_callback;
    r->focus_next_window_callback = func_default_focus_next_window_callback;
    DFBWindowDescription desc;
    kvn_create_window_surface_events(r, &desc, 0, 0, t.width, t.height, DWCAPS_NONE, 0);

    IDirectFB *dfb = kvn_dfb_global_context.kvn_dfb;
    DFBFontDescription font;
    memset(&font, 0, sizeof font);
    font.flags = DFDESC_HEIGHT;
    font.height = 32;
    if (dfb->CreateFont(dfb, "/opt/kvn/share/fonts/decker.ttf", &font, &t.font) != DFB_OK)
        t.font = NULL;
    draw(&t);
    register_window(r);

    while (!app->stopping()) {
        if (r->events->WaitForEventWithTimeout(r->events, 0, 100) != DFB_OK) continue;
        DFBEvent event;
        while (!app->stopping() && r->events->GetEvent(r->events, &event) == DFB_OK) {
            if (event.clazz != DFEC_WINDOW || event.window.type != DWET_KEYDOWN) continue;
            if (!own_key(&t, event.window.key_symbol)) {
                /* The menu and the standby run inside this call. */
                kvn_default_event_handling(r, &event.window);
            }
            draw(&t);
        }
    }

    unregister_window(r);
    kvn_window_clean_up(r);
    if (t.font != NULL) t.font->Release(t.font);
    return 0;
}
