#include "mode_parse.h"

#include <string.h>

namespace kvn {

namespace {

struct ModeRow {
    int code;
    ModeStrings strings;
};

const char kFallbackPayload[] = "<tvmode>1080i 60Hz</tvmode>";

const ModeRow kModes[] = {
    {0, {"Auto", nullptr}},
    {1, {"NTSC", "<tvmode>480i</tvmode>"}},
    {2, {"PAL", "<tvmode>576i</tvmode>"}},
    {3, {"720p 60Hz", "<tvmode>480p</tvmode>"}},
    {4, {"720p 60Hz", "<tvmode>576p</tvmode>"}},
    {5, {"720p 60Hz", "<tvmode>720p 60Hz</tvmode>"}},
    {6, {"720p 50Hz", "<tvmode>720p 50Hz</tvmode>"}},
    {7, {"1080i 60Hz", "<tvmode>1080i 60Hz</tvmode>"}},
    {8, {"1080i 50Hz", "<tvmode>1080i 50Hz</tvmode>"}},
    {9, {"1080p 60Hz", "<tvmode>1080p 60Hz</tvmode>"}},
    {10, {"1080p 50Hz", "<tvmode>1080p 50Hz</tvmode>"}},
    {11, {"1080p 24Hz", "<tvmode>1080p 24Hz</tvmode>"}},
    {20, {"4K 30Hz", kFallbackPayload}},
    {21, {"4K 25Hz", kFallbackPayload}},
    {22, {"4K 24Hz", kFallbackPayload}},
};

struct ModeWord {
    const char *word;
    int code;
    const char *reply;
};

// Compared in this order; the first word the text begins with wins.
const ModeWord kWords[] = {
    {"auto", 0, "tv=auto"},       {"480i", 1, "tv=480i"},       {"576i", 2, "tv=576i"},
    {"480p", 3, "tv=480p"},       {"576p", 4, "tv=576p"},       {"720p60", 5, "tv=720p"},
    {"720p50", 6, "tv=720p"},     {"1080i60", 7, "tv=1080i"},   {"1080i50", 8, "tv=1080i"},
    {"1080p60", 9, "tv=1080p"},   {"1080p50", 10, "tv=1080p"},  {"1080p24", 11, "tv=1080p"},
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
    while (lead > 0 && length - lead < 4 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0) return length;
    unsigned char c = static_cast<unsigned char>(text[lead - 1]);
    size_t needed = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    return length - (lead - 1) < needed ? lead - 1 : length;
}

}  // namespace kvn
