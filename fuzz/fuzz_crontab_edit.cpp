// Root's crontab as the standby edits it, from the copy's descriptor to the
// new private file: whatever the crontab holds, the wake-up gives back what
// the standby entry found (less the crontab program's header), and nothing
// else.
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "context/kvn_files.h"
#include "keys/power_parse.h"

namespace {

std::string g_temp;

void remove_folder() {
    unlink(g_temp.c_str());
    rmdir(g_temp.substr(0, g_temp.rfind('/')).c_str());
}

const std::string &temp_path() {
    if (g_temp.empty()) {
        char folder[] = "/tmp/kvn-fuzz-cron-XXXXXX";
        if (mkdtemp(folder) == nullptr) abort();
        g_temp = std::string(folder) + "/cron_root_temp";
        atexit(remove_folder);
    }
    return g_temp;
}

// One edit through the real reading and writing; false when it refused.
bool edit(const std::string &text, bool entering, kvn::CronSuspension *noted, std::string *out) {
    int copy = memfd_create("cron_root_ori", MFD_CLOEXEC);
    if (copy < 0) abort();
    if (!text.empty() && write(copy, text.data(), text.size()) != static_cast<ssize_t>(text.size())) abort();
    bool ok = kvn::rewrite_crontab(copy, temp_path().c_str(), entering, noted, "fuzz");
    close(copy);
    if (!ok) return false;
    int fd = open(temp_path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !kvn::read_all(fd, out, 1 << 22)) abort();
    close(fd);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string crontab(reinterpret_cast<const char *>(data), size);
    kvn::CronSuspension noted;
    std::string suspended;
    std::string restored;
    if (!edit(crontab, true, &noted, &suspended)) return 0;
    // The crontab as it stands, less the crontab program's header.
    kvn::CronSuspension none;
    const std::string plain = kvn::edit_crontab(crontab, false, &none);
    // Only active checktorrent jobs were commented, each by one sign.
    if (suspended.size() != plain.size() + noted.lines.size()) abort();
    for (const auto &line : noted.lines) {
        if (line.second.empty() || line.second[0] == '#') abort();
        if (line.second.find("checktorrent") == std::string::npos) abort();
    }
    if (!edit(suspended, false, &noted, &restored)) abort();
    if (!noted.lines.empty()) abort();
    if (restored != plain) abort();
    return 0;
}
