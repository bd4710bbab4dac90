/*
 * Every DirectFB result is tested; a failure ends the process with a report
 * naming this module and the line, then DirectFB's own fatal report quoting
 * the call as written.  Nothing after a failed guarded call is relied on.
 */
#ifndef KVN_GUARD_H
#define KVN_GUARD_H

#include <stdio.h>

#include <directfb.h>

#define KVN_MODULE_NAME "korvan_framework_lib"

#define KVN_DFB_CHECK(call, text)                                                  \
    do {                                                                           \
        DFBResult kvn_guard_result_ = (DFBResult)(call);                                      \
        if (kvn_guard_result_ != DFB_OK) {                                         \
            fprintf(stderr, "%s <%d>:\n\t", KVN_MODULE_NAME, __LINE__);            \
            DirectFBErrorFatal(text, kvn_guard_result_);                           \
        }                                                                          \
    } while (0)

#endif
