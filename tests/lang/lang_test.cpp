// Every dialog text in every language, and the language names the store
// may hold.
#include <gtest/gtest.h>

#include "korvan_framework_lib.h"
#include "kvn_platform.h"
#include "kvn_test_support.h"

namespace {

struct Table {
    const char *const *entries;
    const char *english, *simplified, *traditional, *korean;
};

TEST(StringTables, EveryTableHasEveryLanguage) {
    const Table tables[] = {
        {lang_korvan_framework_no_music, "No music started", "没有音乐开始", "沒有音樂開始", nullptr},
        {lang_korvan_framework_not_allowed, "Not allowed", "不允许", "不允許", nullptr},
        {lang_korvan_framework_TV_mode, "TV Mode", "电视模式", "電視模式", nullptr},
        {lang_korvan_framework_TV_system, "TV System", "电视系统", "電視系統", nullptr},
        {lang_korvan_framework_resolution, "Resolution", "分辨率", "分辨率", nullptr},
        {lang_korvan_framework_frequency, "Frequency", "频率", "頻率", nullptr},
        {lang_korvan_framework_select, "Select", "选择", "選擇", nullptr},
        {lang_korvan_framework_back, "Back", "返回", "返回", nullptr},
        {lang_korvan_framework_next, "Next", "下一个", "下一個", "다음"},
        {lang_korvan_framework_exit, "Exit", "退出", "退出", "나가기"},
        {lang_korvan_framework_apply_setting, "Apply Setting?", "使用设置？", "使用設置？", nullptr},
        {lang_korvan_framework_yes, "Yes", "是", "是", nullptr},
        {lang_korvan_framework_no, "No", "不是", "不是", nullptr},
        {lang_korvan_framework_keep_setting, "Keep current setting?", "保持目前的设定吗？", "保持目前的設定嗎？", nullptr},
        {lang_korvan_framework_seconds, "seconds", "秒", "秒", nullptr},
        {lang_korvan_framework_invalid_mode, "Invalid mode", "无效的模式", "無效的模式", nullptr},
        {lang_dsd_unknown_title, "Unknown Title", nullptr, nullptr, "앨범 제목 미상"},
        {lang_dsd_unknown_artist, "Unknown Artist", nullptr, nullptr, "아티스트 미상"},
        {lang_navigator_genre, "GENRE", nullptr, nullptr, "장르"},
        {lang_navigator_album, "ALBUM", nullptr, nullptr, "앨범"},
        {lang_navigator_artist, "ARTIST", nullptr, nullptr, "아티스트"},
        {lang_navigator_nowplaying, "NOW PLAYING", nullptr, nullptr, "현재 재생 중"},
    };
    for (const Table &t : tables) {
        for (int i = 0; i < KVN_LANGUAGE_COUNT; ++i) {
            ASSERT_NE(nullptr, t.entries[i]) << t.english << " entry " << i;
            const char *expected = t.english;
            if (i == 1 && t.simplified) expected = t.simplified;
            if (i == 2 && t.traditional) expected = t.traditional;
            if (i == 24 && t.korean) expected = t.korean;
            EXPECT_STREQ(expected, t.entries[i]) << t.english << " entry " << i;
        }
    }
}

TEST(Language, EveryStoredNameGivesItsIndexAndAnythingElseEnglish) {
    KVN_REQUIRE_SANDBOX();
    EXPECT_EQ(0, get_current_charset()) << "no value";
    const struct {
        const char *name;
        int index;
    } cases[] = {
        {"english_lang", 0},   {"chinese_lang", 1},   {"chinese_lang_trad", 2}, {"german_lang", 3},
        {"greek_lang", 4},     {"dutch_lang", 5},     {"russian_lang", 6},      {"french_lang", 7},
        {"italian_lang", 8},   {"czech_lang", 9},     {"swedish_lang", 10},     {"spanish_lang", 11},
        {"polish_lang", 12},   {"pt_lang", 13},       {"bulg_lang", 14},        {"norwegian_lang", 15},
        {"hu_lang", 16},       {"sl_lang", 17},       {"japanese_lang", 18},    {"tr_lang", 19},
        {"vi_lang", 20},       {"da_lang", 22},       {"he_lang", 23},          {"korean_lang", 24},
        {"romanian_lang", 25},
        // Whole, case-sensitive names only; nothing gives 21.  (The store
        // refuses values with line ends, so none can reach the library.)
        {"Korean_lang", 0},    {"korean_lang ", 0},   {"\tkorean_lang", 0},     {"", 0},
        {"chinese", 0},        {"chinese_lang_tra", 0}, {"21", 0},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(0, write_var("lang", c.name, 0));
        EXPECT_EQ(c.index, get_current_charset()) << '"' << c.name << '"';
    }
    // The value's copy is freed on every call.
    write_var("lang", "romanian_lang", 0);
    get_current_charset();
    size_t before = kvn_test::heap_in_use();
    for (int i = 0; i < 500; ++i) get_current_charset();
    EXPECT_LT(kvn_test::heap_in_use(), before + 1000);
}

}  // namespace
