#include "settings/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "settings/registry.h"
#include "support/temp_dir.h"

namespace {

class SettingsTest : public testing::Test {
protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1); }
    TempDir dir_{"lumora-settings"};
};

TEST_F(SettingsTest, EveryValueReadsItsDefaultFromAnEmptyStoreAndWritesBackUnchanged) {
    const std::pair<NumberSetting, int32_t> numbers[] = {
        {settings::kApplyOrientation, 1},
        {settings::kAdjustType, 0},
        {settings::kAdjustVisible, 0},
        {settings::kBackgroundColor, 0x004D3837},
        {settings::kDoubleClickOpen, 1},
        {settings::kFileViewWidth, 150},
        {settings::kImageResample, 40012},
        {settings::kMaxCacheSize, 0},
        {settings::kMaxThumbsLoad, 0},
        {settings::kMaxUpscale, 150},
        {settings::kMinPercLoad, 0},
        {settings::kShowThumbnails, 0},
        {settings::kSortingType, 0},
        {settings::kUpscale, 0},
    };
    ASSERT_EQ(std::size(numbers), settings::kNumberSettings.size());
    std::set<std::string_view> names;
    for (const auto& [setting, expected] : numbers) {
        EXPECT_EQ(ReadSetting(setting), expected) << setting.name;
        names.insert(setting.name);
    }
    for (const NumberSetting& setting : settings::kNumberSettings)
        EXPECT_TRUE(names.count(setting.name)) << setting.name << " missing from the test";

    const std::string home = getenv("HOME");
    const char* cacheHome = getenv("XDG_CACHE_HOME");
    const std::string cacheDir =
        (cacheHome && cacheHome[0] == '/' ? std::string(cacheHome) : home + "/.cache") +
        "/LumoraCache";
    EXPECT_EQ(ReadSetting(settings::kCacheDir), cacheDir);
    EXPECT_EQ(ReadSetting(settings::kInitialDirectory), home + "/");
    for (int i = 0; i < settings::kDirHistoryCount; ++i)
        EXPECT_EQ(ReadRegString(DirHistoryName(i), "x"), "x");

    // Written back, every value reads as it was, and as the value itself rather than by default.
    for (const NumberSetting& setting : settings::kNumberSettings)
        WriteSetting(setting, ReadSetting(setting));
    for (const TextSetting& setting : settings::kTextSettings)
        WriteSetting(setting, ReadSetting(setting));
    for (const auto& [setting, expected] : numbers)
        EXPECT_EQ(ReadRegDword(std::string(setting.name), expected + 1), expected) << setting.name;
    EXPECT_EQ(ReadRegString("CacheDir", "default"), cacheDir);
    EXPECT_EQ(ReadRegString("InitialDirectory", "default"), home + "/");
    EXPECT_EQ(settings::kMaxThumbsLoadDialogDefault, 1000);
}

TEST_F(SettingsTest, NamesAndComputedDefaults) {
    EXPECT_EQ(DirHistoryName(0), "DirHistory0");
    EXPECT_EQ(DirHistoryName(14), "DirHistory14");
    const std::string home = getenv("HOME");
    setenv("HOME", (dir_.path() / "no-such-home").c_str(), 1);
    EXPECT_EQ(DefaultOf(settings::kInitialDirectory), "/");
    setenv("HOME", (dir_.path().string() + "/").c_str(), 1);
    EXPECT_EQ(DefaultOf(settings::kInitialDirectory), dir_.path().string() + "/");
    setenv("HOME", home.c_str(), 1);
    // A stored value wins over the default, also when it is empty.
    WriteSetting(settings::kInitialDirectory, "");
    EXPECT_EQ(ReadSetting(settings::kInitialDirectory), "");
}

}  // namespace
