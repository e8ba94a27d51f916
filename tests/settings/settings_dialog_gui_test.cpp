#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/qt/base_dialog.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "settings/ui/settings_dialog.h"
#include "settings/ui/show_settings.h"
#include "support/gui_app.h"
#include "thumbs/cache_fixture.h"
#include "thumbs/thumbnail_cache.h"
#include "view/core/target_box.h"

namespace fs = std::filesystem;

namespace {

// Calls act once a dialog with the title runs (polling, since dialogs run their own loops),
// for as long as the timer lives.
class WhenDialog {
public:
    WhenDialog(const std::string& title, std::function<void(HWND)> act) {
        QObject::connect(&timer_, &QTimer::timeout, [this, title, act] {
            HWND dialog = GetActiveDialog();
            QWidget* widget = GetDialogWidget(dialog);
            if (!widget || !widget->isVisible() || widget->windowTitle().toStdString() != title)
                return;
            timer_.stop();
            ++seen;
            act(dialog);
        });
        timer_.start(5);
    }
    int seen = 0;

private:
    QTimer timer_;
};

// Answers the message box that shows while it lives, noting its text, caption and icon.
struct MessageBoxSeen {
    MessageBoxSeen() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            text = box->text().toStdString();
            caption = box->windowTitle().toStdString();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        timer.start(5);
    }
    QTimer timer;
    std::string text;
    std::string caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class SettingsDialogTest : public CacheFixture {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        GuiApp();
        fs::remove(SettingsFilePath());
    }
};

TEST_F(SettingsDialogTest, OkChecksEachFieldInOrderAndStoresWhatPassed) {
    const std::string tooLong(5000, '9');
    struct Case {
        std::map<int, std::string> typed;  // over the fields as filled from the store
        const char* message;               // "" when OK succeeds
        const char* estimate;
        int32_t storedMinPerc, storedUpscale;
        std::string folder;  // what OK takes for the cache folder
        int32_t cacheSize = 0, thumbnails = 1000;
    } cases[] = {
        {{{IDC_MAX_CACHE_SIZE, "12a"}, {IDC_MIN_PERC_LOAD, "30"}},
         "The max. cache size field must contain a valid number.",
         "Approx. 46 MB.",
         5,
         150,
         "/x/LumoraCache"},
        // Beyond 32 bits: a wrapped or capped value would quietly change the limit.
        {{{IDC_MAX_CACHE_SIZE, "99999999999"}},
         "The max. cache size field must contain a valid number.",
         "Approx. 46 MB.",
         5,
         150,
         "/x/LumoraCache"},
        {{{IDC_MAX_CACHE_SIZE, "2147483647"}, {IDC_MAX_THUMBS, "2000"}},
         "",
         "Approx. 93 MB.",
         5,
         150,
         "/x/LumoraCache",
         2147483647,
         2000},
        {{{IDC_MAX_THUMBS, "-5"}},
         "The max. thumbnails to load field must contain a valid number.",
         "Approx. 46 MB.",
         5,
         150,
         "/x/LumoraCache"},
        {{{IDC_MAX_THUMBS, tooLong}},
         "The max. thumbnails to load field must contain a valid number.",
         "Approx. 46 MB.",
         5,
         150,
         "/x/LumoraCache"},
        // 32-bit arithmetic would wrap here and show a negative estimate.
        {{{IDC_MAX_THUMBS, "100000"}}, "", "Approx. 4687 MB.", 5, 150, "/x/LumoraCache", 0, 100000},
        {{{IDC_MAX_THUMBS, ""}, {IDC_MAX_CACHE_SIZE, ""}},
         "",
         "Approx. 0 MB.",
         5,
         150,
         "/x/LumoraCache",
         0,
         0},
        {{{IDC_MIN_PERC_LOAD, " 7"}},
         "The min. perc. load field must contain a valid number.",
         "Approx. 46 MB.",
         5,
         150,
         "/x/LumoraCache"},
        // The minimum percentage is stored before the upscaling field fails.
        {{{IDC_MIN_PERC_LOAD, "30"}, {IDC_MAX_UPSCALE, "1e3"}},
         "The max. upscaling field must contain a valid number.",
         "Approx. 46 MB.",
         30,
         150,
         "/x/LumoraCache"},
        {{{IDC_MIN_PERC_LOAD, "030"}, {IDC_MAX_UPSCALE, "200"}, {IDC_CACHE_DIR, "/data/Pics"}},
         "",
         "Approx. 46 MB.",
         30,
         200,
         "/data/Pics/LumoraCache"},
        {{{IDC_CACHE_DIR, "/data/"}}, "", "Approx. 46 MB.", 5, 150, "/data/LumoraCache"},
        {{{IDC_CACHE_DIR, "/y/LumoraCache"}}, "", "Approx. 46 MB.", 5, 150, "/y/LumoraCache"},
        {{{IDC_CACHE_DIR, ""}}, "", "Approx. 46 MB.", 5, 150, ""},
    };
    for (const Case& c : cases) {
        const std::string what = c.typed.begin()->second.substr(0, 20);
        fs::remove(SettingsFilePath());
        WriteSetting(settings::kCacheDir, "/x/LumoraCache");
        WriteSetting(settings::kMinPercLoad, 5);
        g_minLoadPercentage = 5;
        g_maxUpscale = 150;
        CThumbnailDlg dialog;
        MessageBoxSeen box;
        std::string estimate, keptText;
        bool openAfterOk = false;
        WhenDialog run("Lumora settings", [&](HWND d) {
            for (const auto& [id, text] : c.typed) SetDlgItemText(d, id, text);
            estimate = GetDlgItemText(d, IDC_MEMORY_ESTIMATE);
            d->SendMessage(WM_COMMAND, IDOK, 0);
            openAfterOk = GetDialogWidget(d)->isVisible();
            keptText = GetDlgItemText(d, c.typed.begin()->first);
            if (openAfterOk) d->SendMessage(WM_COMMAND, IDCANCEL, 0);
        });
        const intptr_t code = dialog.DoModal(nullptr);
        const bool fails = *c.message != '\0';
        EXPECT_EQ(code, fails ? IDCANCEL : IDOK) << what;
        EXPECT_EQ(openAfterOk, fails) << what;
        EXPECT_EQ(box.text, c.message) << what;
        EXPECT_EQ(keptText, c.typed.begin()->second) << what;
        EXPECT_EQ(estimate, c.estimate) << what;
        EXPECT_EQ(ReadSetting(settings::kMinPercLoad), c.storedMinPerc) << what;
        EXPECT_EQ(g_minLoadPercentage.load(), c.storedMinPerc) << what;
        EXPECT_EQ(ReadSetting(settings::kMaxUpscale), c.storedUpscale) << what;
        EXPECT_EQ(g_maxUpscale.load(), c.storedUpscale) << what;
        // The rest reaches the store only through the settings command.
        EXPECT_EQ(ReadSetting(settings::kCacheDir), "/x/LumoraCache") << what;
        if (fails) {
            EXPECT_EQ(box.caption, "Lumora");
            EXPECT_EQ(box.icon, QMessageBox::Critical);
        } else {
            EXPECT_EQ(dialog.cacheFolder(), c.folder) << what;
            EXPECT_EQ(dialog.maxCacheSize(), c.cacheSize) << what;
            EXPECT_EQ(dialog.maxThumbnails(), c.thumbnails) << what;
        }
    }
}

TEST_F(SettingsDialogTest, CurrentCacheEndsOnlyWithItsThreeButtons) {
    CNewCacheDlg dialog;
    bool stillOpen = false;
    WhenDialog run("Current cache", [&](HWND d) {
        QWidget* widget = GetDialogWidget(d);
        EXPECT_FALSE(widget->windowFlags() & Qt::WindowCloseButtonHint);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &escape);
        widget->close();
        d->SendMessage(WM_COMMAND, IDCANCEL, 0);
        stillOpen = widget->isVisible();
        d->SendMessage(WM_COMMAND, IDC_DELETE_CACHE, 0);
    });
    EXPECT_EQ(dialog.DoModal(nullptr), IDC_DELETE_CACHE);
    EXPECT_TRUE(stillOpen);
}

// The settings command on a cache with a thumbnail in it: each answer to "Current cache" does
// what it says to the old folder, and the thumbnail shows from the new place after a move.
TEST_F(SettingsDialogTest, TheAnswersToCurrentCacheAreCarriedOut) {
    const std::string image = Image("a.bmp");
    struct Case {
        int answer;  // 0: the folder is left as it was, and nobody is asked
        bool oldKept, thumbnailAtNew;
    } cases[] = {{IDC_MOVE_CACHE, false, true},
                 {IDC_DELETE_CACHE, false, false},
                 {IDC_LEAVE_CACHE, true, false},
                 {0, true, false}};
    for (const Case& c : cases) {
        fs::remove_all(dir_.file("new"));
        fs::remove_all(root_);
        fs::create_directories(dir_.file("new"));
        const std::string newRoot = dir_.file("new/LumoraCache");
        WriteSetting(settings::kCacheDir, root_);
        auto cache = std::make_unique<CThumbnailCache>(root_);
        cache->SetDirectory(images_);
        cache->Store(image, *Picture());
        const std::string thumbnail = cache->Lookup(image);
        ASSERT_FALSE(thumbnail.empty());
        const CThumbnailCache* before = cache.get();

        WhenDialog settingsDialog("Lumora settings", [&](HWND d) {
            if (c.answer) SetDlgItemText(d, IDC_CACHE_DIR, dir_.file("new"));
            SetDlgItemText(d, IDC_MAX_CACHE_SIZE, "5");
            d->SendMessage(WM_COMMAND, IDOK, 0);
        });
        WhenDialog currentCache("Current cache",
                                [&](HWND d) { d->SendMessage(WM_COMMAND, c.answer, 0); });
        int changes = 0;
        ASSERT_TRUE(ShowSettingsDialog(nullptr, cache, images_, [&] { ++changes; }));
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(currentCache.seen, c.answer ? 1 : 0) << c.answer;
        EXPECT_EQ(ReadSetting(settings::kMaxCacheSize), 5);
        ASSERT_TRUE(cache && cache->IsAvailable());
        if (!c.answer) {
            EXPECT_EQ(cache.get(), before);
            EXPECT_EQ(ReadSetting(settings::kCacheDir), root_);
            EXPECT_EQ(cache->Lookup(image), thumbnail);
            continue;
        }
        EXPECT_EQ(ReadSetting(settings::kCacheDir), newRoot) << c.answer;
        EXPECT_EQ(cache->Root(), newRoot) << c.answer;
        EXPECT_EQ(fs::exists(thumbnail), c.oldKept) << c.answer;
        const std::string found = cache->Lookup(image);
        EXPECT_EQ(!found.empty(), c.thumbnailAtNew) << c.answer;
        if (c.thumbnailAtNew) {
            EXPECT_EQ(found.rfind(newRoot + "/", 0), 0u) << found;
        }
        EXPECT_EQ((fs::status(newRoot).permissions() & fs::perms::all), fs::perms::owner_all);
        cache.reset();
    }
}

}  // namespace

// One cache folder inside the other, reached through a link or a ".." so that only resolved
// paths show it: the choices that would move a folder into itself, delete the new folder with
// the old, or leave two caches in one tree are refused with an error and change nothing. A name
// that merely starts like the old folder's is no nesting.
TEST_F(SettingsDialogTest, NestedCacheFoldersAreRefusedForTheChoicesTheyWouldSpoil) {
    const std::string image = Image("a.bmp");
    const std::string base = dir_.file("n");
    enum Relation { kNewInsideOld, kOldInsideNew, kUnrelated };
    struct Case {
        Relation relation;
        int answer;
        bool refused;
    } cases[] = {
        {kNewInsideOld, IDC_MOVE_CACHE, true},    {kNewInsideOld, IDC_DELETE_CACHE, true},
        {kNewInsideOld, IDC_LEAVE_CACHE, true},   {kOldInsideNew, IDC_MOVE_CACHE, true},
        {kOldInsideNew, IDC_DELETE_CACHE, false}, {kOldInsideNew, IDC_LEAVE_CACHE, true},
        {kUnrelated, IDC_MOVE_CACHE, false},      {kUnrelated, IDC_DELETE_CACHE, false},
        {kUnrelated, IDC_LEAVE_CACHE, false},
    };
    auto listing = [&] {
        std::vector<std::string> paths;
        for (const auto& entry : fs::recursive_directory_iterator(base))
            paths.push_back(entry.path().string());
        std::sort(paths.begin(), paths.end());
        return paths;
    };
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.relation) + "/" + std::to_string(c.answer);
        fs::remove_all(base);
        const std::string oldRoot = c.relation == kNewInsideOld ? base + "/LumoraCache"
                                    : c.relation == kOldInsideNew
                                        ? base + "/x/LumoraCache/LumoraCache"
                                        : base + "/ab/LumoraCache";
        fs::create_directories(oldRoot);
        WriteSetting(settings::kCacheDir, oldRoot);
        auto cache = std::make_unique<CThumbnailCache>(oldRoot);
        cache->SetDirectory(images_);
        cache->Store(image, *Picture());
        const std::string thumbnail = cache->Lookup(image);
        ASSERT_FALSE(thumbnail.empty()) << what;
        std::string picked;  // what "Browse..." puts into the folder field
        if (c.relation == kNewInsideOld) {
            // The thumbnails' own subfolder, through a link: a delete of the old cache took it.
            fs::create_directory_symlink(oldRoot, base + "/link");
            picked = base + "/link/" + fs::path(cache->CurrentSubfolder()).filename().string();
        } else if (c.relation == kOldInsideNew) {
            fs::create_directories(base + "/x/y");
            picked = base + "/x/y/../LumoraCache";
        } else {
            fs::create_directories(base + "/ab/LumoraCache2");
            picked = base + "/ab/LumoraCache2";
        }
        const std::string newRoot =
            picked.ends_with("LumoraCache") ? picked : picked + "/LumoraCache";
        const std::vector<std::string> before = listing();
        const CThumbnailCache* opened = cache.get();

        WhenDialog settingsDialog("Lumora settings", [&](HWND d) {
            SetDlgItemText(d, IDC_CACHE_DIR, picked);
            d->SendMessage(WM_COMMAND, IDOK, 0);
        });
        WhenDialog currentCache("Current cache",
                                [&](HWND d) { d->SendMessage(WM_COMMAND, c.answer, 0); });
        MessageBoxSeen box;
        ASSERT_TRUE(ShowSettingsDialog(nullptr, cache, images_)) << what;
        EXPECT_EQ(currentCache.seen, 1) << what;
        ASSERT_TRUE(cache && cache->IsAvailable()) << what;
        if (c.refused) {
            EXPECT_EQ(box.caption, "Lumora") << what;
            EXPECT_EQ(box.icon, QMessageBox::Critical) << what;
            EXPECT_NE(box.text.find("not changed"), std::string::npos) << what << box.text;
            EXPECT_EQ(ReadSetting(settings::kCacheDir), oldRoot) << what;
            EXPECT_EQ(listing(), before) << what;
            EXPECT_EQ(cache.get(), opened) << what;
            EXPECT_EQ(cache->Lookup(image), thumbnail) << what;
        } else {
            EXPECT_EQ(box.text, "") << what;
            EXPECT_EQ(ReadSetting(settings::kCacheDir), newRoot) << what;
            EXPECT_EQ(cache->Root(), newRoot) << what;
            EXPECT_EQ(fs::exists(oldRoot), c.answer == IDC_LEAVE_CACHE) << what;
            if (c.answer == IDC_MOVE_CACHE) {
                EXPECT_EQ(cache->Lookup(image).rfind(newRoot + "/", 0), 0u) << what;
            }
        }
        cache.reset();
    }
}
