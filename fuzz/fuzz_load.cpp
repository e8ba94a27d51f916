#include "fuzz/fuzz_load.h"

#include <fcntl.h>
#include <unistd.h>

#include "image/image.h"
#include "image/resample.h"

void FuzzLoadImage(const uint8_t* data, size_t size, const std::string& extension) {
    BuildGammaTables();
    // Readers open files by name; a file in memory-backed /dev/shm keeps that cheap.
    static const std::string base = [] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/lumora-fuzz-" + std::to_string(getpid());
    }();
    const std::string path = base + extension;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);

    CImage image;
    image.LoadNow(path, 1 << 30, 1 << 30);  // full size: direct path
    image.LoadNow(path, 37, 23);             // reduced: box path
    image.Open(path);
    image.SetSizeLimit(48, 48, false, true);  // enlarged (sinc path) when smaller than 48 x 48
    image.StartLoad(0);
    image.FinishLoad();
    CImage thumbnail;  // as thumbnails load: the reader may deliver the picture reduced
    thumbnail.reducedDecode = true;
    thumbnail.LoadNow(path, 128, 128);
    unlink(path.c_str());
}
