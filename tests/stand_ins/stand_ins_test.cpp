// The platform stand-ins keep the rules the framework's tests rely on: the dialog service's
// connection words, its record of every command, and one ordered trace of what all the stand-ins
// saw.
#include <gtest/gtest.h>

#include "kvn_test_support.h"
#include "kvn_trace.h"
#include "osd_service.h"
#include "smpoutd_api.h"

TEST(DialogService, OpeningAlwaysGivesAFreshConnectionAndClosingIsHarmless) {
    osd_service_clear();
    kvn_trace_clear();
    int word = 0;
    EXPECT_TRUE(osd_command(0, &word, -2, 0, 0, 0, nullptr) == 0 && word == 0);  // never opened
    word = 12345;  // garbage left in the word does not matter
    osd_command(0, &word, -3, 0, 0, 0, nullptr);
    const int first = word;
    EXPECT_TRUE(first != 0 && first != 12345);
    osd_command(0, &word, -3, 0, 0, 0, nullptr);
    EXPECT_TRUE(word != first && osd_service_open_connections() == 2);
    smpoutd_api_set_tvmode(28);
    osd_command(0, &word, -2, 0, 0, 0, nullptr);
    EXPECT_TRUE(word == 0 && osd_service_open_connections() == 1);
    // A command on a word never opened still takes effect and is recorded;
    // only `length` bytes of the text count.
    int fresh = 0;
    const char *text = "-opts=720p\t-optdel=,\t";
    osd_command(3, &fresh, 40, 0x4000, 1, static_cast<unsigned short>(strlen(text)), text);
    osd_command(0, &fresh, 13, 0x4000, 0, 4, "-msg=Hello");
    EXPECT_EQ(osd_command(0, nullptr, 13, 0, 0, 0, nullptr), -1);
    auto calls = kvn_test::osd_calls();
    ASSERT_EQ(calls.size(), 6u);
    const osd_call &c = calls[4];
    EXPECT_EQ((std::vector<int>{3, 0, 40, 0x4000, 1, static_cast<int>(strlen(text))}),
              (std::vector<int>{c.owner, c.connection, c.command, c.flags, c.mode, c.length}));
    EXPECT_TRUE(std::string(c.text) == text && std::string(calls[5].text) == "-msg");
    EXPECT_TRUE(calls[1].connection == first &&
                calls[3].connection == calls[2].connection);  // a close names what it closed
    // One trace, in the order the stand-ins saw their calls.
    auto lines = kvn_test::trace_lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1].rfind("osd owner=0 conn=" + std::to_string(first) + " cmd=-3", 0), 0u)
        << lines[1];
    EXPECT_EQ(lines[3], "smpoutd code=28 (picture off)");
}
