// Former names of shared helpers, kept for the files that still use them.
#ifndef KVN_CONTEXT_TEST_UTIL_H
#define KVN_CONTEXT_TEST_UTIL_H

#include "kvn_test_support.h"

namespace ctx_test {
using kvn_test::has;
inline int open_descriptor_count() { return kvn_test::open_descriptors(); }
}  // namespace ctx_test

#endif
