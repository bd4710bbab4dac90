// The one road by which the framework changes the television output mode
// (change_tvmode, in the public header), and its event line for the
// applications.
#ifndef KVN_TVMODE_CHANGE_TVMODE_H
#define KVN_TVMODE_CHANGE_TVMODE_H

namespace kvn {

// Writes one "change_tvmode" event line to /tmp/kvn_framework_pipe; null
// payload writes the line without one.  0 written, 1 not written (no FIFO
// there, no reader, or the pipe full).
int notify_tvmode_change(const char *payload);

}  // namespace kvn

#endif
