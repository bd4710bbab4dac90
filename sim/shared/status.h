// The simulator's exit statuses, which scripts and CI rely on.
#ifndef KVN_SIM_STATUS_H
#define KVN_SIM_STATUS_H

namespace kvn_sim {

enum ExitStatus {
    kStatusOk = 0,            // every expectation met
    kStatusExpectation = 1,   // an expectation failed
    kStatusBadInput = 2,      // a bad option, script line or folder
    kStatusCannotAct = 3,     // a command or the window could not be carried out
    kStatusPluginStart = 4,   // a plug-in did not load or did not start
    kStatusPluginFailed = 5,  // a plug-in crashed, failed or did not stop
    kStatusShotDiffers = 6,   // a screen differs from its stored picture
    kStatusSandbox = 125,     // no sandbox, or the sandbox refused
    kStatusSignalBase = 128,  // 128 + the signal that stopped the run
};

}  // namespace kvn_sim

#endif
