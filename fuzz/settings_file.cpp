// The settings file is plain text that the user, another program or a crash can damage. Whatever
// it holds, reading must not fail, and a value written must read back as written while every
// other value keeps what it read before.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_read.h"
#include "settings/registry.h"

namespace {

// Names the seeds and the dictionary use, in the cases the store must treat as one name.
constexpr const char* kNames[] = {"AdjustType", "CacheDir", "cachedir", "MinPercLoad", "Sort"};
constexpr int kNameCount = sizeof(kNames) / sizeof(kNames[0]);

struct Reading {
    std::string text;
    int32_t number;
};

Reading Read(const char* name) {
    return {ReadRegString(name, "\x01missing"), ReadRegDword(name, 0x5a5a5a5a)};
}

bool SameName(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzUseScratchSettings();
    const std::string path = SettingsFilePath();
    // Any read makes the folder (and an empty store) the first time.
    static const int32_t made = ReadRegDword("AdjustType", 0);
    (void)made;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    const bool whole = write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (!whole) return 0;

    Reading before[kNameCount];
    for (int i = 0; i < kNameCount; ++i) before[i] = Read(kNames[i]);

    // A number under one name and a text (the input's last bytes: quotes, escapes, line breaks,
    // zero bytes) under another, both chosen by the input.
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    const char* numberName = kNames[hash % kNameCount];
    const char* textName = kNames[(hash / kNameCount) % kNameCount];
    if (SameName(numberName, textName)) textName = "Other";
    const int32_t number = static_cast<int32_t>(hash);
    const size_t tail = size < 12 ? size : 12;
    const std::string text(reinterpret_cast<const char*>(data) + size - tail, tail);
    WriteRegDword(numberName, number);
    WriteRegString(textName, text);

    if (ReadRegDword(numberName, 0) != number) std::abort();
    if (ReadRegString(textName, "") != text.substr(0, text.find('\0'))) std::abort();
    for (int i = 0; i < kNameCount; ++i) {
        if (SameName(kNames[i], numberName) || SameName(kNames[i], textName)) continue;
        const Reading after = Read(kNames[i]);
        if (after.text != before[i].text || after.number != before[i].number) std::abort();
    }
    return 0;
}
