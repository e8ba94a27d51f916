#include "browser/drives.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <filesystem>

#include "support/gui_app.h"
#include "support/recording_form.h"
#include "support/temp_dir.h"

namespace {

using Strings = std::vector<std::string>;

Strings Roots(const std::vector<MountedDrive>& drives) {
    Strings roots;
    for (const MountedDrive& d : drives) roots.push_back(d.root);
    return roots;
}

TEST(DrivesTest, TheMountTableGivesTheRootHomeAndRemovableMediaInByteOrder) {
    const std::string table =
        "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
        "23 22 0:5 / /proc rw - proc proc rw\n"
        "24 22 0:22 / /run rw shared:5 - tmpfs tmpfs rw\n"
        "25 22 8:3 / /home rw shared:9 - ext4 /dev/sda3 rw\n"
        "26 22 8:17 / /media/ann/USB\\040STICK rw shared:12 master:3 - vfat /dev/sdb1 rw\n"
        "27 22 8:33 / /run/media/ann/CAMERA rw - exfat /dev/sdc1 rw\n"
        "28 22 0:40 / /mnt/auto rw - autofs systemd-1 rw\n"
        "29 22 0:41 / /mnt/nas rw - nfs4 nas:/share rw\n"
        "30 22 8:4 / /srv rw - ext4 /dev/sda4 rw\n"
        "31 22 8:17 / /media/ann/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
        "broken line\n";
    const auto drives = ParseMountedDrives(table);
    EXPECT_EQ(Roots(drives), (Strings{"/", "/home/", "/media/ann/USB STICK/", "/mnt/nas/",
                                      "/run/media/ann/CAMERA/"}));
    EXPECT_EQ(drives[1].source, "/dev/sda3");
    EXPECT_EQ(drives[1].device, makedev(8, 3));
    // The root is always there, even when the table says nothing of it.
    EXPECT_EQ(Roots(ParseMountedDrives("")), Strings{"/"});
}

TEST(DrivesTest, AVolumeLabelIsFoundByTheSourcesPathAndUnescaped) {
    TempDir dir;
    TempDir labels;
    WriteFileBytes(dir.file("disk"), "");
    WriteFileBytes(dir.file("other"), "");
    std::filesystem::create_symlink(dir.file("other"), labels.file("Other"));
    std::filesystem::create_symlink(dir.file("disk"), labels.file("My\\x20Photos"));
    MountedDrive drive{"/media/x/", dir.file("disk"), 0};
    EXPECT_EQ(VolumeLabel(drive, labels.path().string()), "My Photos");
    drive.source = "tmpfs";
    EXPECT_EQ(VolumeLabel(drive, labels.path().string()), "");
    EXPECT_EQ(VolumeLabel(drive, "/no/such/folder"), "");
}

TEST(DrivesTest, TheLabelJobPostsANoticePerDriveWithItsGeneration) {
    GuiApp();
    TempDir dir;
    TempDir labels;
    WriteFileBytes(dir.file("disk"), "");
    std::filesystem::create_symlink(dir.file("disk"), labels.file("Backup"));
    RecordingForm form;
    UniqueWindow window = CreateFormWindow(&form, nullptr, "", WindowStyle{});
    SetWindowForm(AsHandle(window), &form);
    {
        CDriveLabelJob job({{"/", "", 0}, {"/mnt/b/", dir.file("disk"), 0}}, 7, AsHandle(window),
                           labels.path().string());
        EXPECT_EQ(job.texts, (Strings{"/", "/mnt/b/"}));
        job.Start();
        ASSERT_TRUE(PumpUntil([&] { return form.Of(WM_DRIVE_LABEL).size() == 2; }));
        const auto notices = form.Of(WM_DRIVE_LABEL);
        EXPECT_EQ(notices[0].wParam, 0u);
        EXPECT_EQ(notices[1].wParam, 1u);
        EXPECT_EQ(notices[1].lParam, 7);
        EXPECT_EQ(job.texts, (Strings{"/", "/mnt/b/ - Backup"}));
    }
    // A cancelled job stops before its next drive; its destructor waits for it.
    CDriveLabelJob cancelled({{"/", "", 0}, {"/mnt/b/", dir.file("disk"), 0}}, 8, AsHandle(window),
                             labels.path().string());
    cancelled.CancelAndWait();
    cancelled.Start();
    cancelled.CancelAndWait();
}

}  // namespace
