#include <gtest/gtest.h>

#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>

#include "platform/qt/base_dialog.h"
#include "platform/qt/win32.h"
#include "support/bmp_builder.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/ui/make_thumbnails_dialog.h"

namespace {

std::string Bmp(int width, int height) {
    BmpDesc desc;
    desc.width = width;
    desc.height = height;
    desc.pixels.assign(static_cast<size_t>(((width * 3 + 3) & ~3) * height), 0x40);
    return BuildBmp(desc);
}

class MakeThumbnailsTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        std::filesystem::create_directories(folder_);
        // Small pictures are stored too: the user asked for the whole folder.
        const int sizes[][2] = {{300, 200}, {8, 8}, {200, 300}};
        for (int i = 0; i < 3; ++i) {
            files_.push_back(folder_ + "/p" + std::to_string(i) + ".bmp");
            WriteFileBytes(files_.back(), Bmp(sizes[i][0], sizes[i][1]));
        }
        cache_ = std::make_unique<CThumbnailCache>(dir_.file("cache"));
        ASSERT_TRUE(cache_->IsAvailable());
        cache_->SetDirectory(folder_);
    }

    // Runs the dialog; act is called on the first turn after it shows and gets the dialog.
    intptr_t Run(const std::function<void(HWND, CMakeThumbnailsDlg&)>& act) {
        CMakeThumbnailsDlg dialog(*cache_, files_);
        QTimer timer;
        bool acted = false;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            HWND running = GetActiveDialog();
            QWidget* widget = GetDialogWidget(running);
            if (acted || !widget || !widget->isVisible()) return;
            acted = true;
            act(running, dialog);
        });
        timer.start(1);
        return dialog.DoModal(nullptr);
    }

    TempDir dir_;
    std::string folder_ = dir_.file("images");
    std::vector<std::string> files_;
    std::unique_ptr<CThumbnailCache> cache_;
};

TEST_F(MakeThumbnailsTest, StoresEveryFileThenAnAllCachedFolderEndsAtOnce) {
    std::string buttonAtEnd;
    const intptr_t result = Run([&](HWND dialog, CMakeThumbnailsDlg&) {
        ASSERT_TRUE(PumpUntil([&] { return GetDlgItemText(dialog, IDCANCEL) == "Ok"; }));
        EXPECT_EQ(GetDlgItemPos(dialog, 1000), 100);
        dialog->SendMessage(WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(result, 2);
    for (const std::string& file : files_) EXPECT_NE(cache_->Lookup(file), "") << file;

    Run([&](HWND dialog, CMakeThumbnailsDlg& made) {
        // Nothing to decode: done as it shows.
        EXPECT_EQ(GetDlgItemText(dialog, IDCANCEL), "Ok");
        EXPECT_EQ(GetDlgItemPos(dialog, 1000), 100);
        EXPECT_EQ(made.index(), 3);
        dialog->SendMessage(WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(MakeThumbnailsTest, CancelWhileDecodingStoresNothing) {
    // A first picture large enough to be still decoding when the dialog first turns, most times.
    WriteFileBytes(files_[0], Bmp(2400, 1800));
    size_t decoding = 0;
    const intptr_t result = Run([&](HWND dialog, CMakeThumbnailsDlg& made) {
        // A picture whose decode ended meanwhile is stored only when its image-done is handled,
        // on this thread, so nothing from this one on may be stored after the cancel.
        decoding = static_cast<size_t>(made.index());
        dialog->SendMessage(WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(result, 2);
    PumpFor(50);  // a late image-done finds the dialog gone
    EXPECT_LT(decoding, files_.size());
    for (size_t i = decoding; i < files_.size(); ++i)
        EXPECT_EQ(cache_->Lookup(files_[i]), "") << files_[i];
}

}  // namespace
