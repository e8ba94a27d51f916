#pragma once

#include <cstdint>
#include <string>

// The per-user settings store: one named value at a time, opened, touched and closed on each
// call. Numbers are signed 32-bit, texts are byte strings. No call reports failure: a read that
// cannot find a value of its type returns the default, a write that cannot be done is lost.
int32_t ReadRegDword(const std::string& name, int32_t defaultValue);
void WriteRegDword(const std::string& name, int32_t value);
std::string ReadRegString(const std::string& name, const std::string& defaultValue);
void WriteRegString(const std::string& name, const std::string& value);

// Where the store lives: $XDG_CONFIG_HOME/Lumora/Lumora.reg (default ~/.config/Lumora/Lumora.reg).
std::string SettingsFilePath();
