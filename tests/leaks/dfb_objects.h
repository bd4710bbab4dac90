// Counts the DirectFB interfaces alive in this process from outside the
// library: the test program takes DirectFBCreate over and counts AddRef and
// Release of every interface made from it, which no leak checker's
// suppression of DirectFB's own allocations can hide.
#ifndef KVN_DFB_OBJECTS_H
#define KVN_DFB_OBJECTS_H

#include <stddef.h>

#include <string>

namespace kvn_test {

// Interfaces made and not yet released; `which` gets their kinds.
size_t dfb_objects_alive(std::string *which = nullptr);

}  // namespace kvn_test

#endif
