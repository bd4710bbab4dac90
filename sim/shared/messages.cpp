#include "messages.h"

#include <stdio.h>

#include "common/warn.h"

namespace kvn_sim {

void tell(const std::string &text) {
    // One write of the whole line, so that lines of two threads never mix.
    std::string line = "korvan-sim: " + kvn::printable(text) + "\n";
    fputs(line.c_str(), stderr);
}

int refuse(int status, const std::string &text) {
    tell(text);
    return status;
}

}  // namespace kvn_sim
