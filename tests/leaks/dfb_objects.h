// Counts the DirectFB interfaces alive in this process, seen from outside
// the library: DirectFBCreate is taken over by the test program, and every
// interface made from the main one (screens, layers, windows, surfaces,
// event buffers, fonts, image providers, input devices) has its AddRef and
// Release counted.  Unlike the leak checkers, nothing here can be hidden by
// their suppressions of DirectFB's own allocations.
#ifndef KVN_DFB_OBJECTS_H
#define KVN_DFB_OBJECTS_H

#include <stddef.h>

#include <string>

namespace kvn_test {

// Interfaces made and not yet released; `which` gets their kinds.
size_t dfb_objects_alive(std::string *which = nullptr);

}  // namespace kvn_test

#endif
