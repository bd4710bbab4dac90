#include "power_parse.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <vector>

namespace kvn {

namespace {

long long to_int64(const std::string &field) { return strtoll(field.c_str(), nullptr, 10); }

}  // namespace

bool torrent_line_busy(const char *line, size_t length) {
    if (line == nullptr) return false;
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < length && line[i] != '\n' && fields.size() < 16) {
        while (i < length && line[i] == '|') ++i;
        size_t start = i;
        if (fields.size() == 15) {
            // The 16th field is the rest of the line.
            while (i < length && line[i] != '\n') ++i;
        } else {
            while (i < length && line[i] != '|' && line[i] != '\n') ++i;
        }
        if (i > start) fields.emplace_back(line + start, i - start);
    }
    if (fields.size() < 8) return false;
    const std::string &status = fields[7];
    if (status.find('\0') != std::string::npos) return false;
    static const char *const kBusy[] = {"Verifying", "Will Verify", "Downloading",
                                        "Up & Down", "Seeding",     "Uploading"};
    for (const char *word : kBusy) {
        if (strcasecmp(status.c_str(), word) == 0) return true;
    }
    if (strcasecmp(status.c_str(), "Idle") == 0 && fields.size() >= 15) {
        return to_int64(fields[2]) != to_int64(fields[14]);
    }
    return false;
}

std::string edit_crontab_line(const std::string &line, bool entering) {
    bool mentions = line.find("checktorrent") != std::string::npos;
    bool commented = !line.empty() && line[0] == '#';
    bool empty = line.empty() || line == "\n";
    if (entering) return (!commented && !empty && mentions) ? "#" + line : line;
    return (commented && mentions) ? line.substr(1) : line;
}

char disk_letter(const char *device) {
    if (device == nullptr || strncmp(device, "/dev/sd", 7) != 0) return 0;
    char letter = device[7];
    if (letter < 'a' || letter > 'z') return 0;
    for (const char *p = device + 8; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 0;
    }
    return letter;
}

}  // namespace kvn
