#pragma once

// The drives of the file browser: the mounted file systems a user keeps files on (the root, a
// separate /home, removable media and mounts under /media, /run/media and /mnt), each as its
// mount path with a trailing "/", and their volume labels, fetched by a worker thread.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "platform/window.h"

struct MountedDrive {
    std::string root;    // mount path with a trailing "/"
    std::string source;  // the mounted device or resource
    dev_t device = 0;    // the file system's device number
};

// The drives in the text of /proc/self/mountinfo, in plain byte order of their roots; "/" is
// always one of them. A path mounted more than once counts once, as its last mount.
std::vector<MountedDrive> ParseMountedDrives(const std::string& mountInfo);
// The drives of this process's mount table, read without touching any of them.
std::vector<MountedDrive> ReadMountedDrives(const std::string& table = "/proc/self/mountinfo");

// The volume's name from the labels folder (/dev/disk/by-label): the entry that is the drive's
// device, found by device number or by the source's path; "" when none is.
std::string VolumeLabel(const MountedDrive& drive, const std::string& labelsFolder);

// Labels of one drive list, fetched on a worker thread that posts WM_DRIVE_LABEL (drive index,
// generation) to the list for every drive, whether it found a label or not. The job is freed
// only once its thread has ended (the destructor waits for it).
class CDriveLabelJob {
public:
    CDriveLabelJob(std::vector<MountedDrive> drives, uint32_t generation, HWND list,
                   std::string labelsFolder = "/dev/disk/by-label");
    ~CDriveLabelJob();
    CDriveLabelJob(const CDriveLabelJob&) = delete;
    CDriveLabelJob& operator=(const CDriveLabelJob&) = delete;

    void Start();
    // Asks the worker to stop and waits, polling every 100 ms, until it has.
    void CancelAndWait();

    // Element i is the root of drive i, or root + " - " + label once the worker found one. The
    // worker writes element i before it posts notice i; the list reads it only when it has that
    // notice.
    std::vector<std::string> texts;
    const uint32_t generation;

private:
    void Run();

    std::vector<MountedDrive> drives_;
    HWND list_;
    std::string labelsFolder_;
    std::atomic<uint8_t> cancel_{0};
    CWorkerThread thread_;
};
