#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "support/bmp_builder.h"
#include "support/temp_dir.h"
#include "thumbs/cache_index.h"

// Root passes permission checks through two capabilities. Clearing them from this thread's
// effective set, which the threads it starts inherit, makes permissions bite until restored.
class PermissionsBite {
public:
    PermissionsBite() {
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        changed_ = syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~PermissionsBite() {
        if (changed_) syscall(SYS_capset, &header_, saved_);
    }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    bool changed_ = false;
};

// A cache root, an image folder and the means to lay out cache folders by hand.
class CacheFixture : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
        std::filesystem::create_directories(images_);
    }

    std::string IndexPath() const { return root_ + "/CacheList.txt"; }
    std::string Index() const { return ReadFileBytes(IndexPath()); }
    void WriteIndex(const std::vector<CacheEntry>& records) const {
        std::filesystem::create_directories(root_);
        WriteFileBytes(IndexPath(), FormatCacheIndex(records));
    }

    // An image file of the current folder, with a modification time to the nanosecond.
    std::string Image(const std::string& name, long seconds = 1500000000, long nanos = 123456789) {
        std::string path = images_ + "/" + name;
        WriteFileBytes(path, "not decoded here");
        SetTime(path, seconds, nanos);
        return path;
    }
    static void SetTime(const std::string& path, long seconds, long nanos) {
        const timespec times[2] = {{seconds, nanos}, {seconds, nanos}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    static timespec ModTime(const std::string& path) {
        struct stat st {};
        stat(path.c_str(), &st);
        return st.st_mtim;
    }

    // A cache subfolder holding files of the given sizes (sparse, so large caches are cheap).
    void MakeFolder(const std::string& key, const std::vector<int64_t>& sizes,
                    const std::string& prefix = "f") const {
        const std::string folder = root_ + "/" + key;
        std::filesystem::create_directories(folder);
        for (size_t i = 0; i < sizes.size(); ++i) {
            std::string path = folder + "/" + prefix + std::to_string(i) + ".png.jpg";
            int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(ftruncate(fd, sizes[i]), 0);
            close(fd);
        }
    }
    // Bytes of the thumbnails a subfolder holds; -1 when it is gone.
    int64_t BytesIn(const std::string& key) const {
        std::error_code error;
        std::filesystem::directory_iterator it(root_ + "/" + key, error);
        if (error) return -1;
        int64_t total = 0;
        for (const auto& entry : it)
            if (entry.path().extension() == ".jpg") total += entry.file_size();
        return total;
    }
    size_t FilesIn(const std::string& key) const {
        size_t count = 0;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(root_ + "/" + key, error)) {
            (void)entry;
            ++count;
        }
        return count;
    }

    // A small decoded picture to store as thumbnails.
    std::unique_ptr<CImage> Picture(int width = 40, int height = 30) {
        std::vector<std::vector<uint8_t>> rows(height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                rows[y].insert(rows[y].end(), {uint8_t(x * 6), uint8_t(y * 8), uint8_t(x ^ y)});
        BmpDesc desc;
        desc.width = width;
        desc.height = height;
        desc.pixels = PackRows(rows, true);
        const std::string path = dir_.file("picture.bmp");
        WriteFileBytes(path, BuildBmp(desc));
        auto image = std::make_unique<CImage>();
        image->LoadNow(path, 128, 128);
        return image;
    }

    TempDir dir_{"lumora-cache"};
    std::string root_ = dir_.file("LumoraCache");
    std::string images_ = dir_.file("Photos");
};
