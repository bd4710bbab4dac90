// The user's interface language, as the settings store names it.
#include <stdlib.h>
#include <string.h>

#include "korvan_framework_lib.h"
#include "platform/imports.h"

namespace kvn {

namespace {

// Index 21 has no name: no call gives it.
struct Language {
    const char *name;
    int index;
};
const Language kLanguages[] = {
    {"english_lang", 0},   {"chinese_lang", 1}, {"chinese_lang_trad", 2}, {"german_lang", 3},
    {"greek_lang", 4},     {"dutch_lang", 5},   {"russian_lang", 6},      {"french_lang", 7},
    {"italian_lang", 8},   {"czech_lang", 9},   {"swedish_lang", 10},     {"spanish_lang", 11},
    {"polish_lang", 12},   {"pt_lang", 13},     {"bulg_lang", 14},        {"norwegian_lang", 15},
    {"hu_lang", 16},       {"sl_lang", 17},     {"japanese_lang", 18},    {"tr_lang", 19},
    {"vi_lang", 20},       {"da_lang", 22},     {"he_lang", 23},          {"korean_lang", 24},
    {"romanian_lang", 25},
};

}  // namespace

}  // namespace kvn

extern "C" int get_current_charset(void) {
    char *value = get_var_mem("lang");
    if (value == nullptr) return 0;
    int index = 0;
    for (const kvn::Language &language : kvn::kLanguages) {
        if (strcmp(value, language.name) == 0) {
            index = language.index;
            break;
        }
    }
    free(value);
    return index;
}
