// The torrent daemon's report as the standby reads it: which torrents keep the disks busy, and
// whether they may sleep (the marker /tmp/bt_hdd_spindown).
#include "keys/torrent_report.h"

#include <chrono>
#include <functional>

#include "keys/torrent.h"
#include "kvn_test_support.h"

namespace {

std::string status_line(const std::string &status, const std::string &have,
                        const std::string &size) {
    return "1|2|" + have + "|4|5|6|0.5|" + status + "|x|10|11|12|13|14|" + size + "|rest|of line\n";
}

// Busy words are whole fields in any case; runs of separators count as one; no line is read past
// its end.
TEST(TorrentReport, EveryBusyWordAndEveryLineTooShortOrOdd) {
    const std::pair<std::string, bool> rows[] = {
        {status_line("Verifying", "5", "5"), true},
        {status_line("will verify", "5", "5"), true},
        {status_line("DOWNLOADING", "5", "5"), true},
        {status_line("Up & Down", "5", "5"), true},
        {status_line("seeding", "5", "5"), true},
        {status_line("Uploading", "5", "5"), true},
        {status_line("Seeding2", "5", "5"), false},
        {status_line("Stopped", "5", "9"), false},
        {status_line("idle", "100", "100"), false},
        {status_line("IDLE", "100", "200"), true},
        {"1||2|||3|4|5|6|7|Seeding|9|10|11|12|13|14|15\n", true},
        {"", false},
        {"1|2|3|4|5|6|7\n", false},
        {"1|2|3|4|5|6|7|Seeding\n", true},
        {"1|2|3|4|5|6|7|Idle|9|10\n", false},  // a busy word alone decides
        {"1|2|100|4|5|6|7|Idle|9|10|11|12|13|14|200\n", true},
        {std::string("1|2|3|4|5|6|7|See\0ding|9", 24), false}};
    for (const auto &[line, busy] : rows)
        EXPECT_EQ(busy, kvn::torrent_line_busy(line.data(), line.size())) << line.substr(0, 60);
    std::string cut = status_line("Seeding", "1", "1");
    EXPECT_FALSE(kvn::torrent_line_busy(cut.data(), 10)) << "only the given length is read";
    EXPECT_FALSE(kvn::torrent_line_busy(nullptr, 0));
}

// No readable report (missing, or no file) lets the disks sleep, and a report read to its end
// without a busy torrent; a busy one found however many lines before it, or a report that does not
// end in time, keeps them spinning. A missing report is tried seven times with five pauses of a
// second.
TEST(TorrentReport, TheMarkerUnlessAReportIsReadAsBusy) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::set_torrent_daemon_running(true);
    std::string many;
    for (int i = 0; i < 12000; ++i) many += "1|2|3|4|5|6|0.5|Stopped|x|10|11|12|13|14|3|t\n";
    many += "1|2|3|4|5|6|0.5|Downloading|x|10|11|12|13|14|9|t\n";
    auto report = [](const std::string &text) {
        return [text] { kvn_test::write_file("/tmp/bt_data", text); };
    };
    // The divisor of the player's time: 1 where the pauses are measured, 10 where a report is
    // read within its 10 s (1 s here, ample for a real one).
    struct Row {
        const char *what;
        bool marked;
        unsigned divisor;
        std::function<void()> plant;
    };
    const Row rows[] = {
        // The last line without its line end is read too.
        {"idle and complete, in any case", true, 1,
         report("1|2|100|4|5|6|0.5|iDLE|x|10|11|12|13|14|100|z\n1|2|3|4")},
        {"missing after every try", true, 1, [] {}},
        {"a downloading torrent after 12 000 stopped ones", false, 10, report(many)},
        {"a report that does not end within 10 s", false, 10,
         [] { kvn_test::write_file("/tmp/bt_data", ""), truncate("/tmp/bt_data", 1ll << 40); }},
        // The script has ended by the library's first look (1 s); the sixth read is 4 s later,
        // the seventh 5 s. A real machine's timing, not qemu-user's.
        {"written before the seventh read only", false, 1,
         [] {
             kvn_test::write_file(
                 "/vmk/apps/etc/transmission-remote-script",
                 "#!/bin/sh\n(sleep 5.5; echo '1|2|3|4|5|6|7|Seeding' > /tmp/bt_data) &\n");
         }},
    };
    std::vector<std::chrono::milliseconds> took(std::size(rows));
    for (size_t i = 0; i < std::size(rows) - (kvn_test::emulated() ? 1 : 0); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE(row.what);
        system("rm -rf /tmp/bt_data /tmp/bt_hdd_spindown");
        row.plant();
        kvn_set_time_divisor(row.divisor);
        auto start = std::chrono::steady_clock::now();
        kvn_test::captured_stderr([] { kvn::torrent_standby(1); });
        took[i] = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        EXPECT_EQ(row.marked, kvn_test::exists("/tmp/bt_hdd_spindown"));
        EXPECT_FALSE(kvn_test::exists("/tmp/cron_root_ori"));
        EXPECT_FALSE(kvn_test::exists("/tmp/cron_root_temp"));
        EXPECT_LT(took[i], std::chrono::milliseconds(20000 / row.divisor + 2000));
    }
    kvn_set_time_divisor(1);
    EXPECT_GE(took[3], std::chrono::milliseconds(950)) << "a report is read for its 10 s";
    if (kvn_test::emulated()) return;  // under qemu-user its shells alone outlast the pauses
    // Five pauses of a second; a sixth would be past the margin a loaded machine needs.
    EXPECT_GE(took[1] - took[0], std::chrono::milliseconds(4900));
    EXPECT_LT(took[1] - took[0], std::chrono::milliseconds(5900));
}

}  // namespace
