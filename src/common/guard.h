/*
 * Every DirectFB result is tested; a failure ends the process with a report
 * naming this module and the line, then DirectFB's own fatal report quoting
 * the call as written.  Nothing after a failed guarded call is relied on.
 */
#ifndef KVN_COMMON_GUARD_H
#define KVN_COMMON_GUARD_H

#include <directfb.h>
#include <stdio.h>

#include "common/warn.h"

// A macro, so that the report names the line of the call and quotes its text.
#define KVN_DFB_CHECK(call, text)                                        \
    do {                                                                 \
        DFBResult kvn_guard_result_ = (DFBResult)(call);                 \
        if (kvn_guard_result_ != DFB_OK) {                               \
            fprintf(stderr, "%s <%d>:\n\t", kvn::kModuleName, __LINE__); \
            DirectFBErrorFatal(text, kvn_guard_result_);                 \
        }                                                                \
    } while (0)

#endif
