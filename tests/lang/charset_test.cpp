// The language names the settings store may hold, and anything else.
#include <gtest/gtest.h>

#include "kvn_test_support.h"
#include "platform/imports.h"

// Each name gives its position; whole, case-sensitive names only, and nothing gives 21.
TEST(Language, EveryStoredNameGivesItsIndexAndAnythingElseEnglish) {
    KVN_REQUIRE_SANDBOX();
    EXPECT_EQ(0, get_current_charset()) << "no value";
    const char *names[] = {"english_lang", "chinese_lang", "chinese_lang_trad", "german_lang",
                           "greek_lang",   "dutch_lang",   "russian_lang",      "french_lang",
                           "italian_lang", "czech_lang",   "swedish_lang",      "spanish_lang",
                           "polish_lang",  "pt_lang",      "bulg_lang",         "norwegian_lang",
                           "hu_lang",      "sl_lang",      "japanese_lang",     "tr_lang",
                           "vi_lang",      "21",           "da_lang",           "he_lang",
                           "korean_lang",  "romanian_lang"};
    for (int i = 0; i < KVN_LANGUAGE_COUNT; ++i) {
        ASSERT_EQ(0, write_var("lang", names[i], 0));
        EXPECT_EQ(i == 21 ? 0 : i, get_current_charset()) << names[i];
    }
    for (const char *other :
         {"Korean_lang", "korean_lang ", "\tkorean_lang", "", "chinese", "chinese_lang_tra"}) {
        ASSERT_EQ(0, write_var("lang", other, 0));
        EXPECT_EQ(0, get_current_charset()) << '"' << other << '"';
    }
}
