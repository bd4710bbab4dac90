#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "sim_script.h"

using namespace kvn_sim;

namespace {

// A parsed line in one text: "kind key ms window [path] [text]".
std::string parsed(const std::string &line, std::string *error_out = nullptr) {
    Command c;
    std::string error;
    ParseResult r = parse_line(line, 7, c, error);
    if (error_out) *error_out = error;
    if (r != ParseResult::Command) return r == ParseResult::Empty ? "empty" : "error";
    return std::to_string(static_cast<int>(c.kind)) + " " + std::to_string(c.key) + " " +
           std::to_string(c.milliseconds) + " " + std::to_string(c.window_id) + " [" + c.path + "] [" + c.text + "]";
}

bool parse_script(const std::string &text, std::vector<Command> &out, std::string &error) {
    int fd = memfd_create("script", 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    lseek(fd, 0, SEEK_SET);
    bool ok = read_script(fd, out, error);
    close(fd);
    return ok;
}

}  // namespace

TEST(SimKeys, NamesAreExactAndMapBothWays) {
    const std::pair<const char *, unsigned> rows[] = {
        {"POWER", DIKS_POWER}, {"DIKS_POWER", DIKS_POWER}, {"TV", DIKS_TV}, {"CURSOR_DOWN", DIKS_CURSOR_DOWN},
        {"RETURN", DIKS_RETURN}, {"EJECT", DIKS_EJECT}, {"RED", DIKS_RED}, {"1", DIKS_1}, {"0xF072", 0xF072},
        {"power", DIKS_NULL}, {"POWE", DIKS_NULL}, {"", DIKS_NULL}, {"0x", DIKS_NULL}, {"0x1FFFF", DIKS_NULL},
        {"0xF0zz", DIKS_NULL}};
    for (const auto &r : rows) EXPECT_EQ(static_cast<unsigned>(key_from_name(r.first)), r.second) << r.first;
    EXPECT_EQ(key_name(DIKS_CURSOR_LEFT), "CURSOR_LEFT");
    EXPECT_EQ(key_name((DFBInputDeviceKeySymbol)0xF072), "0xF072");
}

TEST(SimScript, EveryCommandCommentAndMalformedLine) {
    const auto K = [](DFBInputDeviceKeySymbol k) { return std::to_string(k); };
    const std::pair<std::string, std::string> rows[] = {
        {"key CURSOR_DOWN", "0 " + K(DIKS_CURSOR_DOWN) + " 0 -1 [] []"},
        {"key TV # opens the menu", "0 " + K(DIKS_TV) + " 0 -1 [] []"},
        {"  wait 2500  ", "1 0 2500 -1 [] []"},
        {"wait 3600000", "1 0 3600000 -1 [] []"},
        {"shot 01-menu", "2 0 0 -1 [] [01-menu]"},
        {"pipe tv=1080p24 save", "3 0 0 -1 [] [tv=1080p24 save]"},
        {"pipe tv=#1", "3 0 0 -1 [] [tv=#1]"},
        {"file /tmp/hdmi_changed 1 2", "4 0 0 -1 [/tmp/hdmi_changed] [1 2]"},
        {"focus FLASH_LITE", "5 0 0 8 [] []"},
        {"expect-file /tmp/tvmode 6", "6 0 0 -1 [/tmp/tvmode] [6]"},
        {"expect-file /tmp/empty", "6 0 0 -1 [/tmp/empty] []"},
        {"expect-trace ^smpoutd code=6$", "7 0 0 -1 [] [^smpoutd code=6$]"},
        {"quit\r", "8 0 0 -1 [] []"},
        {"", "empty"}, {"   \t ", "empty"}, {"# key POWER", "empty"}, {"   # indented", "empty"},
    };
    for (const auto &r : rows) EXPECT_EQ(parsed(r.first), r.second) << r.first;
    const std::pair<std::string, const char *> bad[] = {
        {"key", "key name"}, {"key NOSUCHKEY", "NOSUCHKEY"}, {"wait 3600001", "at most 3600000"},
        {"key " + std::string(kMaxLineBytes, 'A'), "longer than 4096"}, {"press TV", "press"},
        {"key TV RETURN", ""}, {"wait", ""}, {"wait -5", ""}, {"wait 10ms", ""}, {"wait 99999999999999999999999", ""},
        {"shot", ""}, {"shot ../escape", ""}, {"shot a/b", ""}, {"shot .hidden", ""}, {"pipe", ""},
        {"file relative/path x", ""}, {"expect-file", ""}, {"focus NOBODY", ""}, {"focus", ""},
        {"expect-trace", ""}, {"expect-trace ([unclosed", ""}, {"quit now", ""}};
    for (const auto &b : bad) {
        std::string error;
        EXPECT_EQ(parsed(b.first, &error), "error") << b.first;
        EXPECT_NE(error.find(b.second), std::string::npos) << b.first << ": " << error;
    }
}

TEST(SimScript, WholeScriptStopsAtTheFirstBadLineAndNamesIt) {
    std::vector<Command> commands;
    std::string error;
    ASSERT_TRUE(parse_script("# tour\nkey TV\n\nwait 10\r\nshot menu", commands, error)) << error;
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].line, 2);
    EXPECT_EQ(commands[2].line, 5);
    EXPECT_FALSE(parse_script("key TV\nwait 10\nkey BOGUS\nkey POWER\n", commands, error));
    EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
}

TEST(SimDialog, FieldsOfADialogTextInOrder) {
    using Fields = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(dialog_fields("-set=24\t-opts=Auto,720p\t-optdel=,\t-acm=\t"),
              (Fields{{"set", "24"}, {"opts", "Auto,720p"}, {"optdel", ","}, {"acm", ""}}));
    EXPECT_EQ(dialog_fields("-msg=a=b\tjunk\t=x\t-\t"), (Fields{{"msg", "a=b"}}));
    EXPECT_TRUE(dialog_fields("").empty());
}
