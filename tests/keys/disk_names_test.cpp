// The disks the standby spins down, by the names /etc/mtab gives: each drive once, however many,
// and only "/dev/sd", a letter a-z and digits reach the shell.
#include "keys/disk_names.h"

#include "keys/standby.h"
#include "kvn_test_support.h"

namespace {

TEST(DiskNames, EachWellFormedDriveIsSpunDownOnce) {
    KVN_REQUIRE_SANDBOX();
    std::string mtab =
        "/dev/sda1 /mnt/HD_a1 ext3 rw 0 0\n/dev/sda2 /mnt/HD_a2 ext3 rw 0 0\n"
        "/dev/sdb1 /tmp/usbmounts/USB_DRIVE_B ext3 rw 0 0\n/dev/sdd1 /mnt/HD_d ext3 rw 0 0\n"
        "/dev/sde1 /tmp/USB_DRIVE_E vfat rw 0 0\n/dev/sdf1 /tmp/USB_DRIVE_F vfat rw 0 0\n"
        "/dev/sdg1 /tmp/USB_DRIVE_G vfat rw 0 0\n/dev/sdh1 /mnt/HD_h ext3 rw 0 0\n"
        "/dev/root / ext4 rw 0 0\n";
    for (const char *bad : {"/dev/sd", "/dev/sdA1", "/dev/sdc1;reboot", "/dev/sdc\\0401",
                            "/dev/sdc:", "/dev/sdc$(x)", "/dev/hdc1", "sdc1", "/dev/sd`"})
        mtab += bad + std::string(" /tmp/USB_DRIVE_X vfat rw 0 0\n");
    kvn_test::write_file("/etc/mtab", mtab);
    for (const char *node : {"/dev/sta", "/dev/std"})
        kvn_test::write_file(node, "");  // internal disks; sdh has no tape node
    kvn_test::clear_fake_calls();
    EXPECT_EQ(0, kvn::spin_down_disks());
    EXPECT_EQ((std::vector<std::string>{"hdparm -y /dev/sda", "sdparm -C stop /dev/sdb",
                                        "hdparm -y /dev/sdd", "sdparm -C stop /dev/sde",
                                        "sdparm -C stop /dev/sdf", "sdparm -C stop /dev/sdg"}),
              kvn_test::fake_calls());
    kvn_test::clear_fake_calls();
    kvn_test::remove_file("/etc/mtab");
    EXPECT_EQ(0, kvn::spin_down_disks());
    EXPECT_TRUE(kvn_test::fake_calls().empty());
}

}  // namespace
