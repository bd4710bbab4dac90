#include "common/numbers.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "platform/imports.h"

namespace kvn {

bool parse_number(const char *text, size_t n, int *value) {
    size_t i = 0;
    while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long magnitude = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
    }
    long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT_MAX || signed_value < INT_MIN) return false;
    *value = static_cast<int>(signed_value);
    return true;
}

bool stored_number(const char *key, int *value) {
    char *text = get_var_mem(key);
    if (text == nullptr) return false;
    bool ok = parse_number(text, strlen(text), value);
    free(text);
    return ok;
}

}  // namespace kvn
