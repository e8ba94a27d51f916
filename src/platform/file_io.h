#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// Small POSIX file helpers that retry interrupted calls and short transfers.

// Writes all bytes; false on the first error.
bool WriteAll(int fd, const void* data, size_t bytes);
inline bool WriteAll(int fd, const std::string& data) { return WriteAll(fd, data.data(), data.size()); }

// Reads up to `bytes` at `offset`; returns how many arrived (fewer at the end of the file or on
// an error).
size_t ReadAt(int fd, uint64_t offset, void* into, size_t bytes);

// Opens a regular file for reading (close-on-exec, blocking reads), or returns -1. The open
// itself does not wait, so a FIFO or device named like a picture cannot hang the caller; anything
// but a regular file is refused. `size`, when given, receives the file's size.
int OpenRegularFile(const std::string& path, uint64_t* size = nullptr);

// The same as a stdio stream, for libraries that read one; nullptr when refused.
std::FILE* OpenRegularFileStream(const std::string& path);

// The file a write to `path` replaces: symbolic links are followed to the file they finally
// name (relative targets from the link's folder), so that a link survives a write that renames a
// new file into place. A link whose target is missing gives that target; nothing for links that
// loop or targets too long to read.
std::optional<std::string> FileToReplace(const std::string& path);

// The whole file, or nothing when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Little-endian fields of file formats.
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
