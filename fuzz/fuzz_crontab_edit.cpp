// Root's crontab through the standby's edit and back: the wake-up gives back what the standby
// found (less the crontab program's header); only active checktorrent jobs get one sign each.
#include <fcntl.h>

#include "common/files.h"
#include "fuzz.h"
#include "keys/crontab_edit.h"

// One edit through the real reading and writing; false when it refused.
static bool edit(const std::string &text, bool entering, kvn::CronSuspension *noted,
                 std::string *out) {
    static const std::string g_temp = [] {
        char folder[] = "/tmp/kvn-fuzz-cron-XXXXXX";
        must(mkdtemp(folder) != nullptr);
        return std::string(folder) + "/cron_root_temp";
    }();
    int copy = file_holding(text.data(), text.size());
    must(copy >= 0);
    bool ok = kvn::rewrite_crontab(copy, g_temp.c_str(), entering, noted, "fuzz");
    close(copy);
    if (!ok) return false;
    int fd = open(g_temp.c_str(), O_RDONLY | O_CLOEXEC);
    must(fd >= 0 && kvn::read_all(fd, out, 1 << 22));
    close(fd);
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string crontab(reinterpret_cast<const char *>(data), size), suspended, restored;
    kvn::CronSuspension noted, none;
    if (!edit(crontab, true, &noted, &suspended)) return 0;
    const std::string plain = kvn::edit_crontab(crontab, false, &none);
    must(suspended.size() == plain.size() + noted.lines.size());
    for (const auto &line : noted.lines)  // a commented job: active, and a checktorrent one
        must(line.second[0] != '#' && line.second.find("checktorrent") != std::string::npos);
    kvn::CronSuspension kept;  // the note through its file's text, and any text as a note
    must(kvn::read_note(kvn::note_text(noted, "boot"), "boot", &kept) && kept.lines == noted.lines);
    kvn::read_note(kvn::note_text(kvn::CronSuspension{}, "") + crontab, "", &kept);
    must(edit(suspended, false, &noted, &restored) && noted.lines.empty() && restored == plain);
    return 0;
}
