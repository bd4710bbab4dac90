// Every dialog text in every language: a language without a text of its own shows the English one.
#include <gtest/gtest.h>

#include "korvan_framework_lib.h"

TEST(StringTables, EveryTableHasEveryLanguage) {
    const struct {
        const char *const *entries;
        const char *english, *zh, *tw, *ko;  // simplified, traditional Chinese, Korean ({}: none)
    } tables[] = {
        {lang_korvan_framework_no_music, "No music started", "没有音乐开始", "沒有音樂開始", {}},
        {lang_korvan_framework_not_allowed, "Not allowed", "不允许", "不允許", {}},
        {lang_korvan_framework_TV_mode, "TV Mode", "电视模式", "電視模式", {}},
        {lang_korvan_framework_TV_system, "TV System", "电视系统", "電視系統", {}},
        {lang_korvan_framework_resolution, "Resolution", "分辨率", "分辨率", {}},
        {lang_korvan_framework_frequency, "Frequency", "频率", "頻率", {}},
        {lang_korvan_framework_select, "Select", "选择", "選擇", {}},
        {lang_korvan_framework_back, "Back", "返回", "返回", {}},
        {lang_korvan_framework_next, "Next", "下一个", "下一個", "다음"},
        {lang_korvan_framework_exit, "Exit", "退出", "退出", "나가기"},
        {lang_korvan_framework_apply_setting, "Apply Setting?", "使用设置？", "使用設置？", {}},
        {lang_korvan_framework_yes, "Yes", "是", "是", {}},
        {lang_korvan_framework_no, "No", "不是", "不是", {}},
        {lang_korvan_framework_keep_setting, "Keep current setting?", "保持目前的设定吗？",
         "保持目前的設定嗎？", nullptr},
        {lang_korvan_framework_seconds, "seconds", "秒", "秒", {}},
        {lang_korvan_framework_invalid_mode, "Invalid mode", "无效的模式", "無效的模式", {}},
        {lang_dsd_unknown_title, "Unknown Title", {}, {}, "앨범 제목 미상"},
        {lang_dsd_unknown_artist, "Unknown Artist", {}, {}, "아티스트 미상"},
        {lang_navigator_genre, "GENRE", {}, {}, "장르"},
        {lang_navigator_album, "ALBUM", {}, {}, "앨범"},
        {lang_navigator_artist, "ARTIST", {}, {}, "아티스트"},
        {lang_navigator_nowplaying, "NOW PLAYING", {}, {}, "현재 재생 중"},
    };
    for (const auto &t : tables)
        for (int i = 0; i < KVN_LANGUAGE_COUNT; ++i) {
            const char *own = i == 1 ? t.zh : i == 2 ? t.tw : i == 24 ? t.ko : nullptr;
            EXPECT_STREQ(own ? own : t.english, t.entries[i]) << t.english << " entry " << i;
        }
}
