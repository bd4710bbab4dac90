// What korvan-sim says on standard error: one line "korvan-sim: TEXT", with
// every control byte of the text escaped, since names, paths and values in
// it may come from a script, a plug-in, a file or a pipe.
#ifndef KVN_SIM_MESSAGES_H
#define KVN_SIM_MESSAGES_H

#include <string>

namespace kvn_sim {

void tell(const std::string &text);

// Tells `text` and returns `status`: a refusal's exit status.
int refuse(int status, const std::string &text);

}  // namespace kvn_sim

#endif
