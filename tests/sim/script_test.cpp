#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "sim_script.h"

using namespace kvn_sim;

namespace {

Command parse_ok(const std::string &line) {
    Command c;
    std::string error;
    EXPECT_EQ(parse_line(line, 7, c, error), ParseResult::Command) << line << ": " << error;
    return c;
}

std::string parse_error(const std::string &line) {
    Command c;
    std::string error;
    EXPECT_EQ(parse_line(line, 1, c, error), ParseResult::Error) << line;
    return error;
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

TEST(SimKeys, NamesMapToTheRemoteSymbolsAndBack) {
    EXPECT_EQ(key_from_name("POWER"), DIKS_POWER);
    EXPECT_EQ(key_from_name("DIKS_POWER"), DIKS_POWER);
    EXPECT_EQ(key_from_name("TV"), DIKS_TV);
    EXPECT_EQ(key_from_name("CURSOR_DOWN"), DIKS_CURSOR_DOWN);
    EXPECT_EQ(key_from_name("RETURN"), DIKS_RETURN);
    EXPECT_EQ(key_from_name("BACKSPACE"), DIKS_BACKSPACE);
    EXPECT_EQ(key_from_name("EJECT"), DIKS_EJECT);
    EXPECT_EQ(key_from_name("CLEAR"), DIKS_CLEAR);
    EXPECT_EQ(key_from_name("RED"), DIKS_RED);
    EXPECT_EQ(key_from_name("1"), DIKS_1);
    EXPECT_EQ(key_from_name("OK"), DIKS_OK);
    // The remote's unnamed power key by number.
    EXPECT_EQ((unsigned)key_from_name("0xF072"), 0xF072u);
    // Names are exact: no case folding, no partial matches, no junk numbers.
    EXPECT_EQ(key_from_name("power"), DIKS_NULL);
    EXPECT_EQ(key_from_name("POWE"), DIKS_NULL);
    EXPECT_EQ(key_from_name(""), DIKS_NULL);
    EXPECT_EQ(key_from_name("0x"), DIKS_NULL);
    EXPECT_EQ(key_from_name("0x1FFFF"), DIKS_NULL);
    EXPECT_EQ(key_from_name("0xF0zz"), DIKS_NULL);
    EXPECT_EQ(key_name(DIKS_POWER), "POWER");
    EXPECT_EQ(key_name(DIKS_CURSOR_LEFT), "CURSOR_LEFT");
    EXPECT_EQ(key_name((DFBInputDeviceKeySymbol)0xF072), "0xF072");
}

TEST(SimScript, EachCommandKeepsItsArguments) {
    Command c = parse_ok("key CURSOR_DOWN");
    EXPECT_EQ(c.kind, CommandKind::Key);
    EXPECT_EQ(c.key, DIKS_CURSOR_DOWN);
    EXPECT_EQ(c.line, 7);
    c = parse_ok("  wait 2500  ");
    EXPECT_EQ(c.kind, CommandKind::Wait);
    EXPECT_EQ(c.milliseconds, 2500);
    c = parse_ok("shot 01-menu");
    EXPECT_EQ(c.text, "01-menu");
    // The text of a pipe command is the rest of the line, inner blanks kept.
    c = parse_ok("pipe tv=1080p24 save");
    EXPECT_EQ(c.kind, CommandKind::Pipe);
    EXPECT_EQ(c.text, "tv=1080p24 save");
    c = parse_ok("file /tmp/hdmi_changed 1 2");
    EXPECT_EQ(c.kind, CommandKind::File);
    EXPECT_EQ(c.path, "/tmp/hdmi_changed");
    EXPECT_EQ(c.text, "1 2");
    c = parse_ok("expect-file /tmp/tvmode 6");
    EXPECT_EQ(c.kind, CommandKind::ExpectFile);
    EXPECT_EQ(c.path, "/tmp/tvmode");
    EXPECT_EQ(c.text, "6");
    // An empty expected text means an empty file.
    c = parse_ok("expect-file /tmp/empty");
    EXPECT_EQ(c.text, "");
    c = parse_ok("focus FLASH_LITE");
    EXPECT_EQ(c.kind, CommandKind::Focus);
    EXPECT_EQ(c.window_id, 8);
    c = parse_ok("expect-trace ^smpoutd code=6$");
    EXPECT_EQ(c.kind, CommandKind::ExpectTrace);
    EXPECT_EQ(c.text, "^smpoutd code=6$");
    c = parse_ok("quit\r");
    EXPECT_EQ(c.kind, CommandKind::Quit);
}

TEST(SimScript, CommentsAndBlankLines) {
    Command c;
    std::string error;
    EXPECT_EQ(parse_line("", 1, c, error), ParseResult::Empty);
    EXPECT_EQ(parse_line("   \t ", 1, c, error), ParseResult::Empty);
    EXPECT_EQ(parse_line("# key POWER", 1, c, error), ParseResult::Empty);
    EXPECT_EQ(parse_line("   # indented", 1, c, error), ParseResult::Empty);
    c = parse_ok("key TV # opens the menu");
    EXPECT_EQ(c.key, DIKS_TV);
    // A '#' inside a word is text, not a comment.
    c = parse_ok("pipe tv=#1");
    EXPECT_EQ(c.text, "tv=#1");
}

TEST(SimScript, MalformedLinesAreRefusedWithAReason) {
    EXPECT_NE(parse_error("key").find("key name"), std::string::npos);
    EXPECT_NE(parse_error("key NOSUCHKEY").find("NOSUCHKEY"), std::string::npos);
    parse_error("key TV RETURN");
    parse_error("wait");
    parse_error("wait -5");
    parse_error("wait 10ms");
    parse_error("wait 99999999999999999999999");
    EXPECT_NE(parse_error("wait 3600001").find("at most 3600000"), std::string::npos);
    EXPECT_EQ(parse_ok("wait 3600000").milliseconds, 3600000);
    EXPECT_NE(parse_error("key " + std::string(kMaxLineBytes, 'A')).find("longer than 4096"), std::string::npos);
    parse_error("shot");
    parse_error("shot ../escape");
    parse_error("shot a/b");
    parse_error("shot .hidden");
    parse_error("pipe");
    parse_error("file relative/path x");
    parse_error("expect-file");
    parse_error("focus NOBODY");
    parse_error("focus");
    parse_error("expect-trace");
    parse_error("expect-trace ([unclosed");
    parse_error("quit now");
    EXPECT_NE(parse_error("press TV").find("press"), std::string::npos);
}

TEST(SimScript, WholeScriptStopsAtTheFirstBadLineAndNamesIt) {
    std::vector<Command> commands;
    std::string error;
    ASSERT_TRUE(parse_script("# tour\nkey TV\n\nwait 10\nshot menu", commands, error)) << error;
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].line, 2);
    EXPECT_EQ(commands[1].line, 4);
    EXPECT_EQ(commands[2].line, 5);
    EXPECT_FALSE(parse_script("key TV\nwait 10\nkey BOGUS\nkey POWER\n", commands, error));
    EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
    // Windows line ends are read like plain ones.
    ASSERT_TRUE(parse_script("key TV\r\nwait 5\r\n", commands, error)) << error;
    EXPECT_EQ(commands.size(), 2u);
}

TEST(SimDialog, FieldsOfADialogTextInOrder) {
    auto f = dialog_fields("-set=24\t-opts=Auto,720p\t-optdel=,\t-ntt=Next\t-acm=\t-fopt=Auto\t");
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[0], std::make_pair(std::string("set"), std::string("24")));
    EXPECT_EQ(f[1].second, "Auto,720p");
    EXPECT_EQ(f[2].second, ",");
    EXPECT_EQ(f[4], std::make_pair(std::string("acm"), std::string("")));
    EXPECT_EQ(f[5].second, "Auto");
    // A value may hold '='; pieces that are no field are skipped.
    f = dialog_fields("-msg=a=b\tjunk\t=x\t-\t");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].second, "a=b");
    EXPECT_TRUE(dialog_fields("").empty());
}
