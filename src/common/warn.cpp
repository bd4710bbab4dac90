#include "common/warn.h"

#include <stdarg.h>
#include <stdio.h>

#include <string>

namespace kvn {

namespace {

// The length of the UTF-8 sequence of printable text at `at`, or 0.
size_t printable_sequence(const std::string &text, size_t at) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                    : lead >= 0xe0 && lead <= 0xef ? 3
                    : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                   : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xc0) != 0x80) return 0;
    // U+0080 to U+009F are the C1 controls (CSI among them).
    if (lead == 0xc2 && static_cast<unsigned char>(text[at + 1]) < 0xa0) return 0;
    return length;
}

}  // namespace

std::string printable(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[at]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
            ++at;
        } else if (size_t length = c >= 0x80 ? printable_sequence(text, at) : 0) {
            out.append(text, at, length);
            at += length;
        } else {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : escaped;
            ++at;
        }
    }
    return out;
}

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
    line += printable(text) + "\n";
    fputs(line.c_str(), stderr);
}

}  // namespace kvn
