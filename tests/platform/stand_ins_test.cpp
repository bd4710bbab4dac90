// The platform stand-ins keep the rules the framework relies on: the dialog
// service's connection words, the output daemon's /tmp/tvname, and one
// ordered trace of what they all saw.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <thread>
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

TEST(Trace, KeepsOneOrderAcrossTheStandInsAndThreads) {
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

    // Tabs and line ends in dialog texts stay on one line.
    kvn_trace_clear();
    osd_command(0, &word, 13, 0, 0, 9, "-msg=a\tb\n");
    EXPECT_NE(kvn_test::trace_lines().at(0).find("text=-msg=a\\tb\\n"), std::string::npos);

    // Lines from several threads are all kept, each whole.
    kvn_trace_clear();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) kvn_trace("thread %d line %d %s", t, i, std::string(600, 'x').c_str());
        });
    for (auto &th : threads) th.join();
    lines = kvn_test::trace_lines();
    ASSERT_EQ(lines.size(), 800u);
    for (auto &l : lines) EXPECT_EQ(l.size(), l.find(" x") + 601) << l.substr(0, 40);
    char small[8];
    EXPECT_GT(kvn_trace_get(0, small, sizeof small), 600);
    EXPECT_EQ(strlen(small), 7u);
    EXPECT_EQ(kvn_trace_get(800, small, sizeof small), -1);
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

    smpoutd_stub_set_auto_name("720p50");
    smpoutd_api_set_tvmode(0);
    EXPECT_EQ(kvn_test::read_file("/tmp/tvname"), "720p50\n");
    smpoutd_stub_set_auto_name("");
    kvn_test::remove_file("/tmp/tvname");
    smpoutd_api_set_tvmode(0);  // not decided yet: no file
    EXPECT_FALSE(kvn_test::exists("/tmp/tvname"));

    ASSERT_EQ(smpoutd_stub_count(), 5);
    EXPECT_EQ(smpoutd_stub_code(0), 0);
    EXPECT_EQ(smpoutd_stub_code(1), 28);
    EXPECT_EQ(smpoutd_stub_code(2), 5);
    EXPECT_EQ(smpoutd_stub_code(5), -1);
    EXPECT_EQ(smpoutd_stub_last_code(), 0);
    smpoutd_stub_clear();
    EXPECT_EQ(smpoutd_stub_last_code(), -1);
}
