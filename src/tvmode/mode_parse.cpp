#include "mode_parse.h"

#include <string.h>

#include "common/codes.h"

namespace kvn {

namespace {

struct ModeRow {
    int code;
    ModeStrings strings;
};

const char kFallbackPayload[] = "<tvmode>1080i 60Hz</tvmode>";

const ModeRow kModes[] = {
    {kModeAuto, {"Auto", nullptr}},
    {kMode480i, {"NTSC", "<tvmode>480i</tvmode>"}},
    {kMode576i, {"PAL", "<tvmode>576i</tvmode>"}},
    {kMode480p, {"720p 60Hz", "<tvmode>480p</tvmode>"}},
    {kMode576p, {"720p 60Hz", "<tvmode>576p</tvmode>"}},
    {kMode720p60, {"720p 60Hz", "<tvmode>720p 60Hz</tvmode>"}},
    {kMode720p50, {"720p 50Hz", "<tvmode>720p 50Hz</tvmode>"}},
    {kMode1080i60, {"1080i 60Hz", "<tvmode>1080i 60Hz</tvmode>"}},
    {kMode1080i50, {"1080i 50Hz", "<tvmode>1080i 50Hz</tvmode>"}},
    {kMode1080p60, {"1080p 60Hz", "<tvmode>1080p 60Hz</tvmode>"}},
    {kMode1080p50, {"1080p 50Hz", "<tvmode>1080p 50Hz</tvmode>"}},
    {kMode1080p24, {"1080p 24Hz", "<tvmode>1080p 24Hz</tvmode>"}},
    {kMode4K30, {"4K 30Hz", kFallbackPayload}},
    {kMode4K25, {"4K 25Hz", kFallbackPayload}},
    {kMode4K24, {"4K 24Hz", kFallbackPayload}},
};

struct ModeWord {
    const char *word;
    int code;
    const char *reply;
};

// Compared in this order; the first word the text begins with wins.
const ModeWord kWords[] = {
    {"auto", kModeAuto, "tv=auto"},        {"480i", kMode480i, "tv=480i"},
    {"576i", kMode576i, "tv=576i"},        {"480p", kMode480p, "tv=480p"},
    {"576p", kMode576p, "tv=576p"},        {"720p60", kMode720p60, "tv=720p"},
    {"720p50", kMode720p50, "tv=720p"},    {"1080i60", kMode1080i60, "tv=1080i"},
    {"1080i50", kMode1080i50, "tv=1080i"}, {"1080p60", kMode1080p60, "tv=1080p"},
    {"1080p50", kMode1080p50, "tv=1080p"}, {"1080p24", kMode1080p24, "tv=1080p"},
};

}  // namespace

ModeStrings mode_strings(int code) {
    for (const ModeRow &row : kModes) {
        if (row.code == code) return row.strings;
    }
    return {"720p 60Hz", kFallbackPayload};
}

ModeCommand parse_mode_command(const char *text) {
    ModeCommand command;
    if (text == nullptr) return command;
    command.save = strstr(text, "save") != nullptr;
    if (strncmp(text, "tv=", 3) != 0) return command;
    command.has_prefix = true;
    const char *word = text + 3;
    for (const ModeWord &w : kWords) {
        if (strncmp(word, w.word, strlen(w.word)) == 0) {
            command.code = w.code;
            command.reply = w.reply;
            break;
        }
    }
    return command;
}

void map_tvname(char *text, size_t size) {
    if (text == nullptr || size == 0) return;
    text[size - 1] = '\0';
    static const struct {
        const char *seen;
        const char *known;
    } kNames[] = {{"1080i59", "1080i60"}, {"1080p59", "1080p60"}, {"720p59", "720p60"}};
    for (const auto &name : kNames) {
        if (strncmp(text, name.seen, strlen(name.seen)) == 0) {
            size_t n = strlen(name.known);
            if (n >= size) n = size - 1;
            memcpy(text, name.known, n);
            text[n] = '\0';
            return;
        }
    }
}

size_t utf8_cut(const char *text, size_t length) {
    // Back over at most three continuation bytes to the last lead byte.
    size_t lead = length;
    while (lead > 0 && length - lead < 4 &&
           (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0) return length;
    unsigned char c = static_cast<unsigned char>(text[lead - 1]);
    size_t needed = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    return length - (lead - 1) < needed ? lead - 1 : length;
}

}  // namespace kvn
