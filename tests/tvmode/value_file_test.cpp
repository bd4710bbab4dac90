// Numbers in the small files under /tmp, and the paths the shell could have been given.
#include "tvmode/value_file.h"

#include <gtest/gtest.h>
#include <limits.h>

#include "kvn_menu_harness.h"

namespace {

using namespace kvn_test;
using namespace std::string_literals;

class ValueFile : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        start_display();
    }
};

// The parser's every spelling is the fuzzer's.
TEST_F(ValueFile, ReadsTheNumberAtTheStartOfItsFirstTenBytes) {
    const struct {
        std::string text;
        int value;
    } rows[] = {{"7\n", 7},        {"", -1},
                {"\0005"s, -1},    {"abc", 0},
                {"  \t12x", 12},   {"1234567890123", 1234567890},
                {"12\00034"s, 12}, {"2147483647", INT_MAX},
                {"9999999999", -1}};
    for (const auto &row : rows) {
        write_file("/tmp/value", row.text);
        EXPECT_EQ(row.value, get_value_from_file("/tmp/value")) << row.text;
    }
    EXPECT_EQ(-1, get_value_from_file("/tmp/missing"));
    EXPECT_EQ(-1, get_value_from_file(nullptr));
}

TEST_F(ValueFile, WritesOnlyWhatTheShellCouldHavePassedSafely) {
    const struct {
        const char *path;  // "echo "5" > " leaves 19 characters for it
        int value, result;
    } rows[] = {{"/tmp/tvmode", 5, 0},
                {"/tmp/aAzZ09._-", 4, 0},
                {"/tmp/abcdefghijklmn", 5, 0},
                {"/tmp/abcdefghijklmno", 5, -1},
                {"/tmp/abcdefghijklmn", 10, -1},
                {"/tmp/x;touch /tmp/pwned", 1, -1},
                {"/tmp/\x1b]2;x\a", 1, -1},
                {"", 1, -1},
                {nullptr, 1, -1}};
    for (const auto &row : rows) {
        if (row.result == 0) remove_file(row.path);
        int result = 0;
        const std::string err =
            captured_stderr([&] { result = write_value_to_file(row.path, row.value); });
        EXPECT_EQ(row.result, result) << err;
        if (row.result == 0) {
            EXPECT_EQ(std::to_string(row.value) + "\n", read_file(row.path));
        }
        // One line, every control byte escaped: nothing of the path acts on the terminal.
        EXPECT_EQ(row.result != 0,
                  std::count_if(err.begin(), err.end(),
                                [](char c) { return iscntrl(static_cast<unsigned char>(c)); }))
            << err;
    }
    for (const char *made : {"/tmp/pwned", "/tmp/x", "/tmp/abcdefghijklmno"})
        EXPECT_FALSE(exists(made)) << made;
}

}  // namespace
