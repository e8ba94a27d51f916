#pragma once

#include <filesystem>
#include <string>

// A folder that exists for the lifetime of the object and is removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "lumora-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Path of a file inside the folder, as a string ready for the image and settings calls.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Writes bytes to a file, replacing it.
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Reads a whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// Path of a test image in tests/data/corpus (format folder, then its own folder and name).
std::string CorpusPath(const std::string& relative);
