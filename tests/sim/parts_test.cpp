// The simulator's parts that need no display: its script language, the
// bounded line reader, the recorder's waits, the trace kept in memory, the
// folders never shared and the keyboard table.  (The shared screen is shown end to end by the
// live window's test.)
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "keyboard_map.h"
#include "kvn_trace.h"
#include "options.h"
#include "osd_service.h"
#include "recorder.h"
#include "sim_script.h"
#include "smpoutd_api.h"
#include "transcript.h"

using namespace kvn_sim;

TEST(SimLineReader, LongLinesAreCutWithoutHoldingThem) {
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    std::thread writer([&] {
        std::string text = "first\n" + std::string(3 * kMaxLineBytes, 'a') + "\n" +
                           std::string(kMaxLineBytes, 'b') + "\nlast without end";
        EXPECT_EQ(write(in[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(in[1]);
    });
    LineReader reader(in[0]);
    std::string line;
    std::vector<std::string> got;
    for (LineReader::Result r;
         got.size() < 9 && (r = reader.next(line)) != LineReader::Result::End;)
        got.push_back(r == LineReader::Result::TooLong ? "<too long>"
                      : line.size() == kMaxLineBytes   ? "<limit>"
                                                       : line);
    // exactly the limit is still a line
    EXPECT_EQ(got,
              (std::vector<std::string>{"first", "<too long>", "<limit>", "last without end"}));
    writer.join();
    close(in[0]);
}

// Nothing comes on the input: the stop descriptor ends the wait.
TEST(SimLineReader, TheStopDescriptorEndsTheWait) {
    int in[2], stop[2];
    ASSERT_TRUE(pipe(in) == 0 && pipe(stop) == 0);
    std::string line;
    LineReader waiting(in[0], stop[0]);
    ASSERT_EQ(write(stop[1], "x", 1), 1);
    EXPECT_EQ(waiting.next(line), LineReader::Result::Stopped);
    for (int fd : {in[0], in[1], stop[0], stop[1]}) close(fd);
}

// (That a recorded session replays is shown by the live window's test.)
TEST(SimRecorder, WaitsAreRoundedToATenthAndSplitAtTheLongestWait) {
    struct Row {
        long long real_ms;
        std::vector<long> waits;
    } rows[] = {
        {0, {}},
        {-5, {}},
        {40, {}},
        {50, {100}},
        {1234, {1200}},
        {1250, {1300}},
        {kMaxWaitMs + 500, {kMaxWaitMs, 500}},
    };
    for (const Row &r : rows) EXPECT_EQ(recorded_waits(r.real_ms), r.waits) << r.real_ms;
}

TEST(SimTrace, MemoryKeepsTheNewestLines) {
    TraceLog log(3);
    for (int i = 1; i <= 5; ++i) log.add("line " + std::to_string(i));
    std::string found;
    EXPECT_TRUE(log.size() == 3u && !log.search(std::regex("line 2"), found));
    EXPECT_TRUE(log.search(std::regex("line [0-9]"), found) && found == "line 3") << found;
}

TEST(SimTrace, TheStandInsAreEmptiedPastTheirLimit) {
    int word = 0;
    for (int i = 0; i < 11; ++i) {
        kvn_trace("x");
        osd_command(1, &word, 13, 0, 0, 0, "");
        smpoutd_api_set_tvmode(5);
    }
    bound_platform_records(10);
    EXPECT_TRUE(kvn_trace_count() == 0u && osd_service_count() + smpoutd_stub_count() == 0);
    kvn_trace("y");
    bound_platform_records(10);  // under the limit: kept
    EXPECT_EQ(kvn_trace_count(), 1u);
}

TEST(SimOptions, EveryPathIsPassedOnAbsolute) {
    Options o;
    bool help = false;
    std::string error;
    ASSERT_TRUE(parse_options(
        {"--app", "PHOTO_PLAYER=x.so", "--shots", "s", "--time-divisor", "5", "--quiet"}, o, help,
        error))
        << error;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(to_arguments(o),
              (std::vector<std::string>{"--shots", std::string(cwd) + "/s", "--app",
                                        "PHOTO_PLAYER=" + std::string(cwd) + "/x.so",
                                        "--time-divisor", "5", "--quiet"}));
}

TEST(SimKeyboard, EachDesktopKeyStandsForOneRemoteKey) {
    std::set<int> seen;
    for (const KeyboardKey &k : keyboard_map()) {
        EXPECT_TRUE(seen.insert(k.keycode).second) << k.label;
        EXPECT_EQ(remote_key_for(k.keycode), &k);
    }
    EXPECT_EQ(remote_key_for(0x7fffffff), nullptr);
    EXPECT_EQ(key_name((DFBInputDeviceKeySymbol)0xF072), "0xF072");
}

TEST(SimKeyboard, OnlyTheArrowsRepeat) {
    for (const KeyboardKey &k : keyboard_map()) {
        bool arrow = k.remote == DIKS_CURSOR_LEFT || k.remote == DIKS_CURSOR_RIGHT ||
                     k.remote == DIKS_CURSOR_UP || k.remote == DIKS_CURSOR_DOWN;
        EXPECT_EQ(k.repeats, arrow) << k.label;
    }
}

namespace {

// A parsed line in one text: "kind key ms window [path] [text]".
std::string parsed(const std::string &line, std::string *error_out = nullptr) {
    Command c;
    std::string error;
    ParseResult r = parse_line(line, 7, c, error);
    if (error_out) *error_out = error;
    if (r != ParseResult::Command) return r == ParseResult::Empty ? "empty" : "error";
    return std::to_string(static_cast<int>(c.kind)) + " " + std::to_string(c.key) + " " +
           std::to_string(c.milliseconds) + " " + std::to_string(c.window_id) + " [" + c.path +
           "] [" + c.text + "]";
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

TEST(SimScript, EveryCommandCommentAndMalformedLine) {
    const auto K = [](DFBInputDeviceKeySymbol k) { return std::to_string(k); };
    const std::pair<std::string, std::string> rows[] = {
        {"key CURSOR_DOWN", "0 " + K(DIKS_CURSOR_DOWN) + " 0 -1 [] []"},
        {"key TV # opens the menu", "0 " + K(DIKS_TV) + " 0 -1 [] []"},
        {"key DIKS_POWER", "0 " + K(DIKS_POWER) + " 0 -1 [] []"},
        {"key 0xF072", "0 61554 0 -1 [] []"},
        {"key 1", "0 " + K(DIKS_1) + " 0 -1 [] []"},
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
        {"", "empty"},
        {"   \t ", "empty"},
        {"# key POWER", "empty"},
        {"   # indented", "empty"},
    };
    for (const auto &r : rows) EXPECT_EQ(parsed(r.first), r.second) << r.first;
    const std::pair<std::string, const char *> bad[] = {
        {"key", "key name"},
        {"key NOSUCHKEY", "NOSUCHKEY"},
        {"key power", "power"},
        {"key POWE", ""},
        {"key 0x", ""},
        {"key 0x1FFFF", ""},
        {"key 0xF0zz", ""},
        {"wait 3600001", "at most 3600000"},
        {std::string("wait 5\0junk", 11), "NUL byte at byte 7"},
        {"key " + std::string(kMaxLineBytes, 'A'), "longer than 4096"},
        {"press TV", "press"},
        {"key TV RETURN", "key takes one key name"},
        {"wait", ""},
        {"wait -5", ""},
        {"wait 10ms", ""},
        {"wait 99999999999", "at most 3600000"},
        {"wait 99999999999999999999999", "at most 3600000"},
        {"wait 9223372036854775807", "at most 3600000"},
        {"shot", ""},
        {"shot ../escape", ""},
        {"shot a/b", ""},
        {"shot .hidden", ""},
        {"pipe", ""},
        {"file relative/path x", ""},
        {"expect-file", ""},
        {"focus NOBODY", ""},
        {"focus", ""},
        {"expect-trace", ""},
        {"expect-trace ([unclosed", ""},
        {"quit now", ""}};
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
