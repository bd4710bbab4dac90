#include "common/warn.h"

#include <stdarg.h>
#include <stdio.h>

#include <string>

namespace kvn {

void warn(const char *who, const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(nullptr, 0, format, args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    va_end(args);
    std::string line = std::string(kModuleName) + ": ";
    if (who != nullptr) line += std::string(who) + ": ";
    line += text + "\n";
    fputs(line.c_str(), stderr);
}

}  // namespace kvn
