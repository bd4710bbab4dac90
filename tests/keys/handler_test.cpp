// The framework keys every application hands to the default handler.
#include <gtest/gtest.h>

#include "host_stub.h"
#include "kvn_app_harness.h"
#include "kvn_trace.h"
#include "platform/imports.h"

using kvn_test::App;
using kvn_test::key_event;

namespace {

bool cleared(const DFBWindowEvent &e) { return e.type == 0 && e.key_symbol == DIKS_NULL; }

TEST(DefaultHandler, InstallingSoftwareSwallowsEveryEvent) {
    KVN_REQUIRE_SANDBOX();
    App browser(BROWSER);
    kvn_test::write_file("/tmp/vmk_installing", "");
    for (DFBWindowEvent e : {key_event(DIKS_POWER, DWET_KEYUP), key_event(DIKS_OK),
                             key_event(DIKS_NULL, DWET_GOTFOCUS)})
        EXPECT_TRUE(kvn_default_event_handling(&browser.record, &e) == 0 && cleared(e)) << e.type;
    kvn_test::remove_file("/tmp/vmk_installing");
    DFBWindowEvent up = key_event(DIKS_POWER, DWET_KEYUP);
    EXPECT_EQ(-1, kvn_default_event_handling(&browser.record, &up)) << "a key-up starts nothing";
    EXPECT_EQ(0, kvn_get_standby_mode());
    EXPECT_EQ(-2, kvn_default_event_handling(nullptr, &up) +
                      kvn_default_event_handling(&browser.record, nullptr));
}

// Every row of the key table, by focus, media player state and audio type; the effect is the host
// calls traced and the dialog commands sent ("owner command flags length text").
TEST(DefaultHandler, EveryKeyOfTheTable) {
    KVN_REQUIRE_SANDBOX();
    constexpr int kNone = -1;
    struct Row {
        DFBInputDeviceKeySymbol key;
        int focused, audio, player_active, photos_active, chinese, result;
        bool cleared;
        std::string effect;
    };
    const std::string kMenu = "the menu opens on its connection and closes after its time-out";
    const std::string not_allowed = "104 -3 0 0 |104 13 16384 16 -msg=Not allowed|104 -2 0 0 |";
    const Row rows[] = {
        {DIKS_CAPITAL_Q, BROWSER, 1, 1, 1, 0, 0, false, ""},
        {DIKS_CAPITAL_S, BROWSER, 1, 1, 1, 0, 0, false, ""},
        {DIKS_SMALL_Q, BROWSER, 1, 1, 1, 0, 0, false, ""},
        {DIKS_SMALL_S, BROWSER, 1, 1, 1, 0, 0, false, ""},
        {DIKS_SHUFFLE, BROWSER, 1, 1, 1, 0, 0, false, ""},
        {DIKS_SWAP, BROWSER, 1, 1, 1, 0, 0, false, ""},
        {DIKS_HOLD, BROWSER, 1, 1, 1, 0, -1, false, ""},  // counts only in standby
        {DIKS_OK, BROWSER, 1, 1, 1, 0, -1, false, ""},
        {DIKS_REDIAL, BROWSER, 1, 1, 1, 0, 0, false, "flash save_commit|"},  // and powers off
        {DIKS_TV, kNone, 1, 1, 1, 0, 0, false, ""},
        {DIKS_SETUP, kNone, 1, 1, 1, 0, 0, false, ""},
        {DIKS_CALL, kNone, 1, 1, 1, 0, 0, false, ""},
        {DIKS_TV, BROWSER, 1, 1, 1, 0, 0, true, kMenu},
        {DIKS_TV, PHOTO_PLAYER, 1, 1, 1, 0, 0, true, not_allowed},
        {DIKS_CALL, PHOTO_PLAYER, 1, 1, 1, 0, 0, true, not_allowed},
        {DIKS_CALL, PHOTO_PLAYER, 1, 1, 1, 1, 0, true,
         "104 -3 0 0 |104 13 16384 14 -msg=不允许|104 -2 0 0 |"},
        {DIKS_SETUP, PHOTO_PLAYER, 1, 1, 1, 0, 0, false, ""},
        {DIKS_SETUP, ADVANCE_MEDIA_PLAYER, 1, 1, 1, 0, 0, true,
         "host playback_setting_menu_spawn window|"},
        {DIKS_HOME, BROWSER, 1, 1, 1, 0, 0, true, "host VisualCtrl_Spawn 1|"},
        {DIKS_PROGRAM, BROWSER, 1, 0, 1, 0, 0, true, "host VisualCtrl_Spawn 1|"},
        {DIKS_HOME, BROWSER, 0, 1, 1, 0, 0, false, ""},     // the media player plays no audio
        {DIKS_PROGRAM, BROWSER, 1, 1, 0, 0, 0, false, ""},  // one application active
        {DIKS_LANGUAGE, BROWSER, 1, 1, 1, 0, 0, true, "host VisualCtrl_Spawn 0|"},
        {DIKS_LANGUAGE, BROWSER, 0, 1, 1, 0, 0, false, ""},
        {DIKS_LANGUAGE, kNone, 1, 0, 1, 0, 0, false, ""},
        {DIKS_LANGUAGE, BROWSER, 1, 0, 1, 0, 0, false,
         "102 -3 0 0 |102 13 16384 21 -msg=No music started|102 -2 0 0 |"},
    };
    kvn_set_time_divisor(100);  // the TV-mode menu's time-out
    App browser(BROWSER), photos(PHOTO_PLAYER), player(ADVANCE_MEDIA_PLAYER);
    for (App *a : {&browser, &photos, &player}) ASSERT_EQ(0, register_window(&a->record));
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.key) + " focused " + std::to_string(row.focused));
        for (App *a : {&browser, &photos, &player})
            a->record.on_focus = a->record.window_id == row.focused;
        host_stub_set_audio_type(row.audio);
        player.record.active = row.player_active;
        photos.record.active = row.photos_active;
        write_var("lang", row.chinese ? "chinese_lang" : "english_lang", 0);
        size_t dialogs = kvn_test::osd_calls().size();
        kvn_trace_clear();
        DFBWindowEvent e = key_event(row.key);
        EXPECT_EQ(row.result, kvn_default_event_handling(&browser.record, &e));
        EXPECT_EQ(row.cleared, cleared(e));
        EXPECT_TRUE(row.cleared || e.key_symbol == row.key);
        std::string effect;
        for (const std::string &line : kvn_test::trace_lines())
            if (line.rfind("host ", 0) == 0 || line.rfind("flash s", 0) == 0) effect += line + "|";
        std::vector<osd_call> calls = kvn_test::osd_calls();
        for (size_t i = dialogs; i < calls.size(); ++i)
            effect += std::to_string(calls[i].owner) + " " + std::to_string(calls[i].command) +
                      " " + std::to_string(calls[i].flags) + " " + std::to_string(calls[i].length) +
                      " " + calls[i].text + "|";
        if (row.effect == kMenu)
            EXPECT_TRUE(effect.rfind("0 -3 0 0 |0 9 ", 0) == 0 &&
                        effect.substr(effect.size() - 11) == "|0 -2 0 0 |")
                << effect;
        else
            EXPECT_EQ(row.effect, effect);
    }
    EXPECT_EQ(21, vctrl_osd_msg_len);
    EXPECT_STREQ("-msg=No music started", vctrl_osd_message);
}

}  // namespace
