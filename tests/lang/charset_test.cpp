#include <gtest/gtest.h>

#include "kvn_test_support.h"
#include "platform/imports.h"

// The language names the settings store may hold: each gives its position; whole, case-sensitive
// names only (the others: English), and nothing gives 21.
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
    const char *others[] = {"Korean_lang", "korean_lang ", "\tkorean_lang", "", "chinese"};
    for (int i = 0; i < KVN_LANGUAGE_COUNT + 5; ++i) {
        const char *name = i < KVN_LANGUAGE_COUNT ? names[i] : others[i - KVN_LANGUAGE_COUNT];
        ASSERT_EQ(0, write_var("lang", name, 0));
        EXPECT_EQ(i == 21 || i >= KVN_LANGUAGE_COUNT ? 0 : i, get_current_charset()) << name;
    }
}
