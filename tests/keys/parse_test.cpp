// The texts the standby reads come from other programs: the torrent status
// file, root's crontab and /etc/mtab.
#include <gtest/gtest.h>

#include <string>

#include "keys/power_parse.h"

namespace {

bool busy(const std::string &line) { return kvn::torrent_line_busy(line.data(), line.size()); }

std::string status_line(const std::string &status, const std::string &have, const std::string &size) {
    return "1|2|" + have + "|4|5|6|0.5|" + status + "|x|10|11|12|13|14|" + size + "|rest|of line\n";
}

TEST(TorrentStatus, BusyWordsAreWholeFieldsInAnyCase) {
    for (const char *word : {"Verifying", "will verify", "DOWNLOADING", "Up & Down", "seeding", "Uploading"})
        EXPECT_TRUE(busy(status_line(word, "5", "5"))) << word;
    EXPECT_FALSE(busy(status_line("Seeding2", "5", "5")));
    EXPECT_FALSE(busy(status_line("Stopped", "5", "9")));
    EXPECT_FALSE(busy(status_line("idle", "100", "100")));
    EXPECT_TRUE(busy(status_line("IDLE", "100", "200"))) << "an idle torrent not yet complete";
    // Runs of separators count as one.
    EXPECT_TRUE(busy("1||2|||3|4|5|6|7|Seeding|9|10|11|12|13|14|15\n"));
}

TEST(TorrentStatus, ShortLongAndBinaryLinesAreNeverReadPast) {
    EXPECT_FALSE(busy(""));
    EXPECT_FALSE(busy("\n"));
    EXPECT_FALSE(busy("1|2|3|4|5|6|7\n"));
    EXPECT_TRUE(busy("1|2|3|4|5|6|7|Seeding\n")) << "the status word alone decides for busy words";
    EXPECT_FALSE(busy("1|2|3|4|5|6|7|Idle|9|10\n")) << "idle without its size field";
    EXPECT_FALSE(busy(std::string(100000, '|')));
    EXPECT_FALSE(busy(std::string("1|2|3|4|5|6|7|See\0ding|9", 24)));
    std::string cut = status_line("Seeding", "1", "1");
    EXPECT_FALSE(kvn::torrent_line_busy(cut.data(), 10)) << "only the given length is read";
    EXPECT_FALSE(kvn::torrent_line_busy(nullptr, 0));
}

TEST(Crontab, ChecktorrentLinesAreCommentedAndRestoredWhole) {
    const std::string job = "*/5 * * * * /vmk/apps/etc/checktorrent.sh\n";
    EXPECT_EQ("#" + job, kvn::edit_crontab_line(job, true));
    EXPECT_EQ(job, kvn::edit_crontab_line("#" + job, false));
    EXPECT_EQ("#" + job, kvn::edit_crontab_line("#" + job, true)) << "already commented stays so";
    const std::string other = "0 3 * * * /bin/backup\n";
    EXPECT_EQ(other, kvn::edit_crontab_line(other, true));
    EXPECT_EQ("#" + other, kvn::edit_crontab_line("#" + other, false));
    EXPECT_EQ("\n", kvn::edit_crontab_line("\n", true));
    std::string long_job = std::string(400, ' ') + "checktorrent\n";
    EXPECT_EQ("#" + long_job, kvn::edit_crontab_line(long_job, true)) << "long lines are edited whole";
}

TEST(Mtab, OnlyWellFormedDiskNamesGiveALetter) {
    EXPECT_EQ('a', kvn::disk_letter("/dev/sda1"));
    EXPECT_EQ('b', kvn::disk_letter("/dev/sdb"));
    EXPECT_EQ('z', kvn::disk_letter("/dev/sdz15"));
    for (const char *bad : {"/dev/sd", "/dev/sdA1", "/dev/sd;reboot", "/dev/sda1;reboot", "/dev/sda 1",
                            "/dev/sda$(x)", "/dev/hda1", "sda1", "/dev/sd`", ""})
        EXPECT_EQ(0, kvn::disk_letter(bad)) << bad;
    EXPECT_EQ(0, kvn::disk_letter(nullptr));
}

}  // namespace
