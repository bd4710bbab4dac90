// The standby flag: 1 while a power key is being handled or a standby is
// under way.  Several application threads read and write it, so every
// access goes through the atomic helpers below; the word itself stays a
// plain int.  Not exported: applications read it through
// kvn_get_standby_mode.
#ifndef KVN_COMMON_STANDBY_FLAG_H
#define KVN_COMMON_STANDBY_FLAG_H

namespace kvn {

inline int standby_mode = 0;

inline int standby_flag_load() { return __atomic_load_n(&standby_mode, __ATOMIC_SEQ_CST); }
inline void standby_flag_store(int value) {
    __atomic_store_n(&standby_mode, value, __ATOMIC_SEQ_CST);
}
// Sets the flag to 1 if it was 0; true when this call set it, so that two
// power keys at the same instant start one standby.
inline bool standby_flag_claim() {
    int expected = 0;
    return __atomic_compare_exchange_n(&standby_mode, &expected, 1, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
}

}  // namespace kvn

#endif
