// The framework keys every application hands to the default handler.
#include <gtest/gtest.h>

#include "common/standby_flag.h"
#include "host_stub.h"
#include "platform/imports.h"
#include "standby_harness.h"

using kvn_test::App;
using kvn_test::key_event;
using Journal = std::vector<std::string>;

namespace {

Journal notice(int owner, const std::string &text, int length) {
    const std::string who = "osd owner=" + std::to_string(owner);
    return {who + " cmd=-3 flags=0 mode=0 len=0 text=",
            who + " cmd=13 flags=16384 mode=0 len=" + std::to_string(length) + " text=-msg=" + text,
            who + " cmd=-2 flags=0 mode=0 len=0 text="};
}

// Every row of the key table, by focus, media player state and audio type, handed in by the photo
// player (so the TV-mode menu opens for a caller that is not focused); then, while a standby is
// under way, the keys that act are consumed without acting and the power keys kept; last, while
// software is installed.
TEST(DefaultHandler, EveryKeyOfTheTable) {
    KVN_REQUIRE_SANDBOX();
    constexpr int kNone = -1;
    struct Row {
        DFBInputDeviceKeySymbol key;
        int focused, audio, player_active, photos_active, result;
        bool cleared;
        Journal journal;
        const char *lang = "english_lang";
    };
    const Journal kMenu = {"the menu opens on its connection and closes after its time-out"};
    const Journal kNotAllowed = notice(104, "Not allowed", 16),
                  kOff = {"flash save_commit", "smpoutd code=28 (picture off)", "/etc/shutdown.sh"};
    const Journal kSettings = {"host playback_setting_menu_spawn window"};
    const Row rows[] = {
        {DIKS_CAPITAL_Q, BROWSER, 1, 1, 1, 0, false, {}},
        {DIKS_CAPITAL_S, BROWSER, 1, 1, 1, 0, false, {}},
        {DIKS_SMALL_Q, BROWSER, 1, 1, 1, 0, false, {}},
        {DIKS_SMALL_S, BROWSER, 1, 1, 1, 0, false, {}},
        {DIKS_SHUFFLE, BROWSER, 1, 1, 1, 0, false, {}},
        {DIKS_SWAP, BROWSER, 1, 1, 1, 0, false, {}},
        {DIKS_HOLD, BROWSER, 1, 1, 1, -1, false, {}},  // counts only in standby
        {DIKS_OK, BROWSER, 1, 1, 1, -1, false, {}},
        {DIKS_REDIAL, BROWSER, 1, 1, 1, 0, false, kOff},
        {DIKS_TV, kNone, 1, 1, 1, 0, false, {}},
        {DIKS_SETUP, kNone, 1, 1, 1, 0, false, {}},
        {DIKS_CALL, kNone, 1, 1, 1, 0, false, {}},
        {DIKS_TV, BROWSER, 1, 1, 1, 0, true, kMenu},
        {DIKS_TV, FLASH_LITE, 1, 1, 1, 0, true, kMenu},
        {DIKS_TV, PHOTO_PLAYER, 1, 1, 1, 0, true, kNotAllowed},
        {DIKS_CALL, PHOTO_PLAYER, 1, 1, 1, 0, true, kNotAllowed},
        {DIKS_CALL, PHOTO_PLAYER, 1, 1, 1, 0, true, notice(104, "不允许", 14), "chinese_lang"},
        {DIKS_SETUP, PHOTO_PLAYER, 1, 1, 1, 0, false, {}},
        {DIKS_SETUP, ADVANCE_MEDIA_PLAYER, 1, 1, 1, 0, true, kSettings},
        {DIKS_HOME, BROWSER, 1, 1, 1, 0, true, {"host VisualCtrl_Spawn 1"}},
        {DIKS_PROGRAM, BROWSER, 1, 0, 1, 0, true, {"host VisualCtrl_Spawn 1"}},
        {DIKS_HOME, BROWSER, 0, 1, 1, 0, false, {}},     // the media player plays no audio
        {DIKS_PROGRAM, BROWSER, 1, 1, 0, 0, false, {}},  // one application active
        {DIKS_LANGUAGE, BROWSER, 1, 1, 1, 0, true, {"host VisualCtrl_Spawn 0"}},
        {DIKS_LANGUAGE, BROWSER, 0, 1, 1, 0, false, {}},
        {DIKS_LANGUAGE, kNone, 1, 0, 1, 0, false, {}},
        {DIKS_LANGUAGE, BROWSER, 1, 0, 1, 0, false, notice(102, "No music started", 21)},
    };
    kvn_set_time_divisor(100);  // the TV-mode menu's time-out
    standby_test::journal_on();
    App browser(BROWSER), photos(PHOTO_PLAYER), player(ADVANCE_MEDIA_PLAYER), flash(FLASH_LITE);
    ASSERT_TRUE(kvn_test::register_all({&browser, &photos, &player, &flash}));
    flash.record.active = 0;  // the visual controller counts the active players
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.key) + " focused " + std::to_string(row.focused));
        for (App *a : {&browser, &photos, &player, &flash})
            a->record.on_focus = a->record.window_id == row.focused;
        host_stub_set_audio_type(row.audio);
        player.record.active = row.player_active;
        photos.record.active = row.photos_active;
        write_var("lang", row.lang, 0);
        kvn_test::clear_fake_calls();
        DFBWindowEvent e = key_event(row.key);
        EXPECT_EQ(row.result, kvn_default_event_handling(&photos.record, &e));
        EXPECT_EQ(row.cleared ? 0 : DWET_KEYDOWN, e.type);
        EXPECT_EQ(row.cleared ? DIKS_NULL : row.key, e.key_symbol);
        Journal journal = standby_test::journal(true);
        if (row.journal != kMenu) {
            EXPECT_EQ(row.journal, journal);
            continue;
        }
        ASSERT_LE(2u, journal.size());
        EXPECT_EQ("osd owner=0 cmd=-3 flags=0 mode=0 len=0 text=", journal.front());
        EXPECT_EQ("osd owner=0 cmd=-2 flags=0 mode=0 len=0 text=", journal.back());
    }
    EXPECT_EQ(21, vctrl_osd_msg_len);
    EXPECT_STREQ("-msg=No music started", vctrl_osd_message);

    kvn::standby_flag_store(1);
    browser.record.on_focus = 1;
    for (int key :
         std::initializer_list<int>{DIKS_REDIAL, DIKS_TV, DIKS_CALL, DIKS_HOME, DIKS_PROGRAM,
                                    DIKS_LANGUAGE, DIKS_SETUP, DIKS_POWER, 0xF072}) {
        kvn_test::clear_fake_calls();
        DFBWindowEvent e = key_event(static_cast<DFBInputDeviceKeySymbol>(key));
        const bool power = key == DIKS_POWER || key == 0xF072;
        EXPECT_EQ(0, kvn_default_event_handling(&photos.record, &e)) << key;
        EXPECT_EQ(power ? key : DIKS_NULL, e.key_symbol) << key;
        EXPECT_EQ(Journal(), standby_test::journal(true)) << key;
    }
    kvn::standby_flag_store(0);

    // While software is being installed every event is consumed: key-up, key-down, no key.
    kvn_test::write_file("/tmp/vmk_installing", "");
    for (DFBWindowEvent e : {key_event(DIKS_POWER, DWET_KEYUP), key_event(DIKS_OK),
                             key_event(DIKS_NULL, DWET_GOTFOCUS)}) {
        EXPECT_EQ(0, kvn_default_event_handling(&photos.record, &e)) << e.type;
        EXPECT_EQ(0, e.type);
        EXPECT_EQ(DIKS_NULL, e.key_symbol);
    }
    kvn_test::remove_file("/tmp/vmk_installing");
    DFBWindowEvent up = key_event(DIKS_POWER, DWET_KEYUP);
    EXPECT_EQ(-1, kvn_default_event_handling(&photos.record, &up)) << "a key-up starts nothing";
    EXPECT_EQ(0, kvn_get_standby_mode());
    EXPECT_EQ(-1, kvn_default_event_handling(nullptr, &up));
}

}  // namespace
