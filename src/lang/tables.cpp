// The framework's dialog texts, one entry per interface language:
//   0 English, 1 Simplified Chinese, 2 Traditional Chinese, 3 German, 4 Greek,
//   5 Dutch, 6 Russian, 7 French, 8 Italian, 9 Czech, 10 Swedish, 11 Spanish,
//   12 Polish, 13 Portuguese, 14 Bulgarian, 15 Norwegian, 16 Hungarian,
//   17 Slovenian, 18 Japanese, 19 Turkish, 20 Vietnamese, 21 (no language),
//   22 Danish, 23 Hebrew, 24 Korean, 25 Romanian.
// A language without a text of its own shows the English one.
#include "korvan_framework_lib.h"

// Entries 3 to 23, all the English text.
#define KVN_ENGLISH_3_TO_23(t) t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t, t

extern "C" {

const char *lang_korvan_framework_no_music[KVN_LANGUAGE_COUNT] = {
    "No music started", "没有音乐开始",    "沒有音樂開始", KVN_ENGLISH_3_TO_23("No music started"),
    "No music started", "No music started"};
const char *lang_korvan_framework_not_allowed[KVN_LANGUAGE_COUNT] = {
    "Not allowed", "不允许",     "不允許", KVN_ENGLISH_3_TO_23("Not allowed"),
    "Not allowed", "Not allowed"};
const char *lang_korvan_framework_TV_mode[KVN_LANGUAGE_COUNT] = {
    "TV Mode", "电视模式", "電視模式", KVN_ENGLISH_3_TO_23("TV Mode"), "TV Mode", "TV Mode"};
const char *lang_korvan_framework_TV_system[KVN_LANGUAGE_COUNT] = {
    "TV System", "电视系统", "電視系統", KVN_ENGLISH_3_TO_23("TV System"),
    "TV System", "TV System"};
const char *lang_korvan_framework_resolution[KVN_LANGUAGE_COUNT] = {
    "Resolution", "分辨率",    "分辨率", KVN_ENGLISH_3_TO_23("Resolution"),
    "Resolution", "Resolution"};
const char *lang_korvan_framework_frequency[KVN_LANGUAGE_COUNT] = {
    "Frequency", "频率", "頻率", KVN_ENGLISH_3_TO_23("Frequency"), "Frequency", "Frequency"};
const char *lang_korvan_framework_select[KVN_LANGUAGE_COUNT] = {
    "Select", "选择", "選擇", KVN_ENGLISH_3_TO_23("Select"), "Select", "Select"};
const char *lang_korvan_framework_back[KVN_LANGUAGE_COUNT] = {
    "Back", "返回", "返回", KVN_ENGLISH_3_TO_23("Back"), "Back", "Back"};
const char *lang_korvan_framework_next[KVN_LANGUAGE_COUNT] = {
    "Next", "下一个", "下一個", KVN_ENGLISH_3_TO_23("Next"), "다음", "Next"};
const char *lang_korvan_framework_exit[KVN_LANGUAGE_COUNT] = {
    "Exit", "退出", "退出", KVN_ENGLISH_3_TO_23("Exit"), "나가기", "Exit"};
const char *lang_korvan_framework_apply_setting[KVN_LANGUAGE_COUNT] = {
    "Apply Setting?", "使用设置？",    "使用設置？", KVN_ENGLISH_3_TO_23("Apply Setting?"),
    "Apply Setting?", "Apply Setting?"};
const char *lang_korvan_framework_yes[KVN_LANGUAGE_COUNT] = {
    "Yes", "是", "是", KVN_ENGLISH_3_TO_23("Yes"), "Yes", "Yes"};
const char *lang_korvan_framework_no[KVN_LANGUAGE_COUNT] = {
    "No", "不是", "不是", KVN_ENGLISH_3_TO_23("No"), "No", "No"};
const char *lang_korvan_framework_keep_setting[KVN_LANGUAGE_COUNT] = {
    "Keep current setting?", "保持目前的设定吗？",
    "保持目前的設定嗎？",    KVN_ENGLISH_3_TO_23("Keep current setting?"),
    "Keep current setting?", "Keep current setting?"};
const char *lang_korvan_framework_seconds[KVN_LANGUAGE_COUNT] = {
    "seconds", "秒", "秒", KVN_ENGLISH_3_TO_23("seconds"), "seconds", "seconds"};
const char *lang_korvan_framework_invalid_mode[KVN_LANGUAGE_COUNT] = {
    "Invalid mode", "无效的模式",  "無效的模式", KVN_ENGLISH_3_TO_23("Invalid mode"),
    "Invalid mode", "Invalid mode"};
const char *lang_dsd_unknown_title[KVN_LANGUAGE_COUNT] = {
    "Unknown Title",  "Unknown Title", "Unknown Title", KVN_ENGLISH_3_TO_23("Unknown Title"),
    "앨범 제목 미상", "Unknown Title"};
const char *lang_dsd_unknown_artist[KVN_LANGUAGE_COUNT] = {
    "Unknown Artist", "Unknown Artist", "Unknown Artist", KVN_ENGLISH_3_TO_23("Unknown Artist"),
    "아티스트 미상",  "Unknown Artist"};
const char *lang_navigator_genre[KVN_LANGUAGE_COUNT] = {
    "GENRE", "GENRE", "GENRE", KVN_ENGLISH_3_TO_23("GENRE"), "장르", "GENRE"};
const char *lang_navigator_album[KVN_LANGUAGE_COUNT] = {
    "ALBUM", "ALBUM", "ALBUM", KVN_ENGLISH_3_TO_23("ALBUM"), "앨범", "ALBUM"};
const char *lang_navigator_artist[KVN_LANGUAGE_COUNT] = {
    "ARTIST", "ARTIST", "ARTIST", KVN_ENGLISH_3_TO_23("ARTIST"), "아티스트", "ARTIST"};
const char *lang_navigator_nowplaying[KVN_LANGUAGE_COUNT] = {
    "NOW PLAYING",  "NOW PLAYING", "NOW PLAYING", KVN_ENGLISH_3_TO_23("NOW PLAYING"),
    "현재 재생 중", "NOW PLAYING"};

}  // extern "C"
