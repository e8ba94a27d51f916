#include "settings/settings.h"

#include <cstdlib>

#include "settings/helpers.h"
#include "settings/registry.h"

std::string DirHistoryName(int index) {
    return std::string(settings::kDirHistoryPrefix) + std::to_string(index);
}

std::string DefaultOf(const TextSetting& setting) {
    if (setting.kind == TextDefault::kHomeFolder) return HomeFolder();
    if (setting.kind == TextDefault::kCacheFolder) {
        const char* cacheHome = std::getenv("XDG_CACHE_HOME");
        const std::string base = cacheHome && cacheHome[0] == '/' ? std::string(cacheHome) + "/"
                                                                  : HomeFolder() + ".cache/";
        return base + "LumoraCache";
    }
    return std::string(setting.fixedDefault);
}

int32_t ReadSetting(const NumberSetting& setting) {
    return ReadRegDword(std::string(setting.name), setting.defaultValue);
}

void WriteSetting(const NumberSetting& setting, int32_t value) {
    WriteRegDword(std::string(setting.name), value);
}

std::string ReadSetting(const TextSetting& setting) {
    return ReadRegString(std::string(setting.name), DefaultOf(setting));
}

void WriteSetting(const TextSetting& setting, const std::string& value) {
    WriteRegString(std::string(setting.name), value);
}
