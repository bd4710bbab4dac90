// The platform stand-ins keep the rules the framework relies on: the dialog
// service's connection words, the output daemon's /tmp/tvname, and one
// ordered trace of what they all saw.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "kvn_test_support.h"
#include "kvn_trace.h"
#include "osd_service.h"
#include "smpoutd_api.h"

TEST(DialogService, OpeningAlwaysGivesAFreshConnectionAndClosingIsHarmless) {
    osd_service_clear();
    int word = 0;
    EXPECT_EQ(osd_command(0, &word, -2, 0, 0, 0, nullptr), 0);  // never opened
    EXPECT_EQ(word, 0);
    EXPECT_EQ(osd_service_open_connections(), 0);

    word = 12345;  // garbage left in the word does not matter
    osd_command(0, &word, -3, 0, 0, 0, nullptr);
    int first = word;
    EXPECT_NE(first, 0);
    EXPECT_NE(first, 12345);
    osd_command(0, &word, -3, 0, 0, 0, nullptr);
    EXPECT_NE(word, first);
    EXPECT_EQ(osd_service_open_connections(), 2);
    osd_command(0, &word, -2, 0, 0, 0, nullptr);
    EXPECT_EQ(word, 0);
    EXPECT_EQ(osd_service_open_connections(), 1);

    // A command on a word never opened still takes effect and is recorded.
    int fresh = 0;
    const char *text = "-opts=720p\t-optdel=,\t";
    osd_command(3, &fresh, 40, 0x4000, 0, static_cast<unsigned short>(strlen(text)), text);
    auto calls = kvn_test::osd_calls();
    ASSERT_EQ(calls.size(), 5u);
    const osd_call &c = calls.back();
    EXPECT_EQ(c.owner, 3);
    EXPECT_EQ(c.connection, 0);
    EXPECT_EQ(c.command, 40);
    EXPECT_EQ(c.flags, 0x4000);
    EXPECT_EQ(c.length, strlen(text));
    EXPECT_STREQ(c.text, text);
    EXPECT_EQ(calls[1].connection, first);
    EXPECT_EQ(calls[3].connection, calls[2].connection);  // the close names what it closed

    // Only `length` bytes of the text count.
    osd_command(0, &fresh, 13, 0x4000, 0, 4, "-msg=Hello");
    EXPECT_STREQ(kvn_test::osd_calls().back().text, "-msg");
    EXPECT_EQ(osd_command(0, nullptr, 13, 0, 0, 0, nullptr), -1);
}

TEST(Trace, KeepsOneOrderAcrossTheStandIns) {
    kvn_trace_clear();
    int word = 0;
    osd_command(0, &word, -3, 0, 0, 0, nullptr);
    smpoutd_api_set_tvmode(28);
    osd_command(0, &word, -2, 0, 0, 0, nullptr);
    auto lines = kvn_test::trace_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("osd owner=0 conn=", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("cmd=-3"), std::string::npos);
    EXPECT_EQ(lines[1], "smpoutd code=28 (picture off)");
    EXPECT_NE(lines[2].find("cmd=-2"), std::string::npos);
}

TEST(OutputDaemon, NamesItsChoiceInTheAutomaticModeOnly) {
    KVN_REQUIRE_SANDBOX();
    smpoutd_stub_clear();
    smpoutd_api_set_tvmode(0);
    EXPECT_EQ(kvn_test::read_file("/tmp/tvname"), "1080i59\n");
    smpoutd_api_set_tvmode(28);  // picture off keeps the name
    EXPECT_TRUE(kvn_test::exists("/tmp/tvname"));
    EXPECT_EQ(smpoutd_stub_picture_on(), 0);
    smpoutd_api_set_tvmode(5);
    EXPECT_FALSE(kvn_test::exists("/tmp/tvname"));
    EXPECT_EQ(smpoutd_stub_picture_on(), 1);

    ASSERT_EQ(smpoutd_stub_count(), 3);
    EXPECT_EQ(smpoutd_stub_code(1), 28);
    EXPECT_EQ(smpoutd_stub_last_code(), 5);
}
