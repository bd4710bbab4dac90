#include "screen.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "korvan_framework_lib.h"
#include "png_image.h"
#include "transcript.h"

namespace kvn_sim {

Screen g_screen;

namespace {

const char *kFont = "/opt/kvn/share/fonts/decker.ttf";

IDirectFBFont *font_of(int height) {
    IDirectFB *dfb = kvn_dfb_global_context.kvn_dfb;
    DFBFontDescription fd;
    memset(&fd, 0, sizeof fd);
    fd.flags = DFDESC_HEIGHT;
    fd.height = height;
    IDirectFBFont *font = nullptr;
    if (dfb->CreateFont(dfb, kFont, &fd, &font) != DFB_OK) return nullptr;
    return font;
}

// Copies a locked surface of a known format into words 0xAARRGGBB.
bool copy_pixels(const uint8_t *data, int pitch, DFBSurfacePixelFormat format, Picture &out) {
    for (int y = 0; y < out.height; ++y) {
        const uint8_t *row = data + static_cast<size_t>(y) * pitch;
        uint32_t *to = &out.pixels[static_cast<size_t>(y) * out.width];
        if (format == DSPF_ARGB || format == DSPF_RGB32 || format == DSPF_AiRGB) {
            memcpy(to, row, static_cast<size_t>(out.width) * 4);
            if (format == DSPF_RGB32)
                for (int x = 0; x < out.width; ++x) to[x] |= 0xff000000u;
        } else if (format == DSPF_RGB24) {
            for (int x = 0; x < out.width; ++x)
                to[x] = 0xff000000u | (uint32_t)row[x * 3 + 2] << 16 |
                        (uint32_t)row[x * 3 + 1] << 8 | row[x * 3];
        } else if (format == DSPF_RGB16) {
            for (int x = 0; x < out.width; ++x) {
                uint16_t p;
                memcpy(&p, row + x * 2, 2);
                to[x] = 0xff000000u | (uint32_t)((p >> 11) & 0x1f) << 19 |
                        (uint32_t)((p >> 5) & 0x3f) << 10 | (uint32_t)(p & 0x1f) << 3;
            }
        } else {
            return false;
        }
    }
    return true;
}

bool copy_surface(IDirectFBSurface *surface, Picture &out, std::string &error) {
    DFBSurfacePixelFormat format = DSPF_UNKNOWN;
    surface->GetSize(surface, &out.width, &out.height);
    surface->GetPixelFormat(surface, &format);
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    void *data = nullptr;
    int pitch = 0;
    if (surface->Lock(surface, DSLF_READ, &data, &pitch) != DFB_OK) {
        error = "cannot lock the layer surface";
        return false;
    }
    bool known = copy_pixels(static_cast<const uint8_t *>(data), pitch, format, out);
    surface->Unlock(surface);
    if (!known) error = "layer pixel format not supported for screenshots";
    return known;
}

bool write_png_file(const std::string &path, const Picture &picture) {
    std::string png;
    if (!encode_png(picture, Area(), false, png)) return false;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool written = fwrite(png.data(), 1, png.size(), f) == png.size();
    return fclose(f) == 0 && written;
}

}  // namespace

bool load_fonts(std::string &error) {
    g_screen.big_font = font_of(48);
    g_screen.font = font_of(24);
    if (g_screen.big_font == nullptr || g_screen.font == nullptr) {
        error = std::string("cannot load the font ") + kFont;
        return false;
    }
    return true;
}

void release_fonts() {
    for (IDirectFBFont **f : {&g_screen.font, &g_screen.big_font}) {
        if (*f) (*f)->Release(*f);
        *f = nullptr;
    }
}

void text_at(IDirectFBSurface *s, IDirectFBFont *font, const std::string &text, int x, int y) {
    s->SetFont(s, font);
    s->DrawString(s, text.c_str(), -1, x, y, DSTF_TOPLEFT);
}

void Overlay::create(int x, int y, int width, int height) {
    w = width;
    h = height;
    DFBWindowDescription d;
    memset(&d, 0, sizeof d);
    d.flags = static_cast<DFBWindowDescriptionFlags>(DWDESC_POSX | DWDESC_POSY | DWDESC_WIDTH |
                                                     DWDESC_HEIGHT | DWDESC_PIXELFORMAT);
    d.posx = x;
    d.posy = y;
    d.width = width;
    d.height = height;
    d.pixelformat = DSPF_ARGB;
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    if (layer->CreateWindow(layer, &d, &window) != DFB_OK ||
        window->GetSurface(window, &surface) != DFB_OK) {
        fprintf(stderr, "korvan-sim: cannot create an overlay window\n");
        exit(3);
    }
    window->SetStackingClass(window, DWSC_UPPER);
    window->SetOpacity(window, 0);
}

void Overlay::show(bool on) { window->SetOpacity(window, on ? 0xff : 0); }

void Overlay::raise() { window->RaiseToTop(window); }

void Overlay::release() {
    if (surface) surface->Release(surface);
    if (window) window->Release(window);
    surface = nullptr;
    window = nullptr;
}

bool grab_screen(Picture &out, std::string &error) {
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    IDirectFBSurface *surface = nullptr;
    if (layer->GetSurface(layer, &surface) != DFB_OK) {
        error = "cannot get the layer surface";
        return false;
    }
    bool ok = copy_surface(surface, out, error);
    surface->Release(surface);
    return ok;
}

bool save_png(const std::string &dir, const std::string &name, const Picture &picture,
              std::string &error) {
    // Whoever watches the folder sees no half-written picture.
    std::string path = dir + "/" + name + ".png", part = dir + "/." + name + ".png.part";
    if (!write_png_file(part, picture) || rename(part.c_str(), path.c_str()) != 0) {
        unlink(part.c_str());
        error = "cannot write " + path;
        return false;
    }
    say("  saved " + path);
    return true;
}

bool take_shot(const std::string &dir, const std::string &name, std::string &error) {
    Picture picture;
    return grab_screen(picture, error) && save_png(dir, name, picture, error);
}

Picture render_panel(const std::vector<std::string> &lines) {
    Picture panel;
    IDirectFB *dfb = kvn_dfb_global_context.kvn_dfb;
    IDirectFBFont *font = font_of(18);
    size_t half = (lines.size() + 1) / 2;
    DFBSurfaceDescription d;
    memset(&d, 0, sizeof d);
    d.flags =
        static_cast<DFBSurfaceDescriptionFlags>(DSDESC_WIDTH | DSDESC_HEIGHT | DSDESC_PIXELFORMAT);
    d.width = 1240;
    d.height = static_cast<int>(half) * 24 + 40;
    d.pixelformat = DSPF_ARGB;
    IDirectFBSurface *s = nullptr;
    std::string error;
    if (font == nullptr || dfb->CreateSurface(dfb, &d, &s) != DFB_OK) {
        if (font) font->Release(font);
        return panel;
    }
    s->Clear(s, 0x10, 0x18, 0x40, 0xe0);
    s->SetColor(s, 0xff, 0xff, 0xff, 0xff);
    for (size_t i = 0; i < lines.size(); ++i) {
        int x = i < half ? 20 : 20 + d.width / 2,
            y = 20 + static_cast<int>(i < half ? i : i - half) * 24;
        size_t start = 0;
        for (int column : {0, 110, 280}) {
            size_t tab = lines[i].find('\t', start);
            text_at(s, font, lines[i].substr(start, tab == std::string::npos ? tab : tab - start),
                    x + column, y);
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
    }
    copy_surface(s, panel, error);
    s->Release(s);
    font->Release(font);
    return panel;
}

}  // namespace kvn_sim
