// The library's own words to standard error, one style for all: a line
// "korvan_framework_lib: WHO: TEXT" naming the operation or the part that
// speaks.  The texts that the design fixes (the guarded-call report,
// "fopen pipe failed", "WARNING!: ...", the standard-output lines) keep
// their own form and do not come through here.
#ifndef KVN_COMMON_WARN_H
#define KVN_COMMON_WARN_H

#include <string>

namespace kvn {

// The source module that the guarded-call report and every warning name.
constexpr char kModuleName[] = "korvan_framework_lib";

// Every control byte of the text escaped, so that paths and values from
// outside cannot act on the terminal that shows them: \n, \t, \r by name,
// the others (ESC, DEL, the C1 controls, bytes that are no UTF-8) as \xHH.
// Valid UTF-8 text otherwise stays as it is.
std::string printable(const std::string &text);

// Writes one whole line (its line end added) to standard error, so that two
// threads' lines never mix; `who` may be null for a line about no one
// operation.  The text is made printable first.
void warn(const char *who, const char *format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace kvn

#endif
