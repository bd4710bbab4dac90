// Texts cut to fit the dialog's fixed buffers.
#include "tvmode/mode_parse.h"

#include <gtest/gtest.h>

namespace {

TEST(TextCut, NeverSplitsACharacter) {
    const struct {
        std::string text;
        size_t limit, kept;
    } rows[] = {{"Frequency  50hz", 12, 12}, {"ab\xc3\xa9", 3, 2},
                {"ab\xc3\xa9", 4, 4},        {"\xe9\xa2\x91\xe7\x8e\x87", 5, 3},
                {"a\xf0\x9f\x93\xba", 4, 1}, {"\x80\x80\x80", 2, 2}};
    for (const auto &row : rows)
        EXPECT_EQ(row.kept, kvn::utf8_cut(row.text.data(), row.limit))
            << row.text << ", " << row.limit;
}

}  // namespace
