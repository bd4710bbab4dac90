// The names of /etc/mtab's devices that the standby spins down: only a
// well-formed disk name may reach a shell command.
#ifndef KVN_KEYS_DISK_NAMES_H
#define KVN_KEYS_DISK_NAMES_H

namespace kvn {

// The drive letter of a mount entry's device when it is a well-formed SCSI
// disk name ("/dev/sd" + a letter a-z + optional partition digits), else 0.
char disk_letter(const char *device);

}  // namespace kvn

#endif
