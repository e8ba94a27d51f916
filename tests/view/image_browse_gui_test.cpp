#include <gtest/gtest.h>

#include <QWidget>
#include <filesystem>

#include "app/ui/resources.h"
#include "image/resample.h"
#include "support/bmp_builder.h"
#include "support/fake_reader.h"
#include "support/gui_app.h"
#include "support/recording_form.h"
#include "support/temp_dir.h"
#include "view/image_form.h"

namespace {

using Strings = std::vector<std::string>;

TEST(SeriesKeyTest, TheNameBeforeItsLastRunOfDigits) {
    const struct {
        const char* path;
        const char* key;
    } cases[] = {
        {"/p/IMG_0012.jpg", "IMG_"},
        {"/p/trip12_a.png", "trip"},
        {"/p/2010.jpg", ""},
        {"/p/photo.jpg", ""},
        {"/p/README", ""},
        {"IMG_0012.jpg", "IMG_"},
        {"/p/a1b22.c3.jpg", "a1b22.c"},
        // Digits and dots of the folder are not the file's.
        {"/p/v1.2/README", ""},
        {"/p/2010/photo.jpg", ""},
        {"/p/x9/2010.jpg", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(SeriesKey(c.path), c.key) << c.path;
}

class ImageBrowseTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        BuildGammaTables();
        WindowStyle style;
        style.topLevel = true;
        parent_ = CreateFormWindow(&parentForm_, nullptr, "", style);
        SetWindowForm(AsHandle(parent_), &parentForm_);
        MoveWindow(AsHandle(parent_), 0, 0, 400, 300);
        pane_ = std::make_unique<CImageForm>(AsHandle(parent_));
        MoveWindow(pane_->window(), 0, 0, 400, 300);
        ShowWindow(pane_->window(), SW_SHOW);
        pane_->SetFullscreen(true);
    }
    void TearDown() override {
        pane_.reset();
        ClearFakePictures();
    }

    Strings Files(const Strings& names) {
        Strings paths;
        for (const std::string& name : names) {
            paths.push_back(dir_.file(name));
            BmpDesc pixel;
            pixel.pixels.assign(4, 0x40);
            WriteFileBytes(paths.back(), BuildBmp(pixel));
        }
        return paths;
    }
    void WaitDone() {
        ASSERT_TRUE(PumpUntil([&] { return pane_->currentImage()->done.load(); }));
        PumpFor(20);
    }
    // The pane showing file `index` of its list, complete.
    void ShowIndex(int32_t index) {
        pane_->currentIndex = index;
        pane_->Show(pane_->fileList[static_cast<size_t>(index)], "", false);
        WaitDone();
    }
    std::vector<RecordingForm::Message> Deleted() const { return parentForm_.Of(WM_FILE_DELETED); }

    TempDir dir_;
    RecordingForm parentForm_;
    UniqueWindow parent_;
    std::unique_ptr<CImageForm> pane_;
};

TEST_F(ImageBrowseTest, NavigateStepsByFileAndBySeriesAndPreloadsTheNeighbour) {
    // Keys: IMG_ IMG_ IMG_ trip trip "" zoo.
    const Strings files = Files({"IMG_0001.bmp", "IMG_0002.bmp", "IMG_0003.bmp", "trip1.bmp",
                                 "trip2.bmp", "photo.bmp", "zoo9.bmp"});
    const struct {
        int32_t from;
        WPARAM key;
        bool shift;
        int32_t to;       // -2: nothing happens, not even a reload
        int32_t preload;  // -1: none
    } cases[] = {
        {2, VK_NEXT, false, 3, 4},
        {2, VK_PRIOR, false, 1, 0},
        {0, VK_PRIOR, false, -2, 0},
        {6, VK_NEXT, false, -2, 0},
        {0, VK_PRIOR, true, -2, 0},
        {1, VK_END, false, 6, 5},
        {3, VK_HOME, false, 0, 1},
        {-1, VK_NEXT, false, 0, 1},
        {9, VK_F5, false, 6, 5},
        {6, VK_F5, false, 6, 5},
        // Shift+Page Up from the second file of a series, then from its first.
        {4, VK_PRIOR, true, 3, 2},
        {3, VK_PRIOR, true, 0, 1},
        {2, VK_PRIOR, true, 0, 1},
        {6, VK_PRIOR, true, 5, 4},
        // Shift+Page Down goes past the series; on an empty key it stays.
        {0, VK_NEXT, true, 3, 4},
        {3, VK_NEXT, true, 5, 6},
        {5, VK_NEXT, true, 5, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "from " << c.from << " key " << c.key << " shift " << c.shift);
        pane_->fileList = files;
        if (c.from >= 0 && c.from < 7) {
            ShowIndex(c.from);
        } else {
            pane_->currentIndex = c.from;
        }
        const int32_t serial = pane_->currentSerial();
        pane_->Navigate(c.key, c.shift);
        if (c.to == -2) {
            EXPECT_EQ(pane_->currentIndex, c.from);
            EXPECT_EQ(pane_->currentSerial(), serial);
            continue;
        }
        EXPECT_EQ(pane_->currentIndex, c.to);
        EXPECT_EQ(pane_->currentName(), files[static_cast<size_t>(c.to)]);
        WaitDone();
        EXPECT_EQ(pane_->preloadImage()->path, files[static_cast<size_t>(c.preload)]);
    }
    // A list of one: Home shows it with nothing to pre-load.
    pane_->fileList = {files[3]};
    pane_->currentIndex = 0;
    pane_->Navigate(VK_HOME, false);
    EXPECT_EQ(pane_->currentName(), files[3]);
    WaitDone();
    EXPECT_EQ(pane_->preloadImage()->path, "");
    // An empty list does nothing.
    pane_->fileList.clear();
    pane_->Navigate(VK_END, false);
    EXPECT_EQ(pane_->currentIndex, 0);
}

TEST_F(ImageBrowseTest, DeleteWaitsForTheDecodeOnScreenThenTrashesAndTheRelayShowsTheNext) {
    // The parent relays single deletes back, as the main frame does.
    parentForm_.handler = [&](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_FILE_DELETED) pane_->window()->SendMessage(message, wParam, lParam);
        return DefWindowProc(window, message, wParam, lParam);
    };
    Strings files = Files({"a1.bmp", "b.fake", "c.bmp"});
    std::atomic<bool> release{false};
    auto picture = std::make_shared<FakePicture>();
    picture->rows = TestPicture(50, 50, 3);
    picture->holdAtRow = 10;
    picture->release = &release;
    RegisterFakePictureAt(files[1], picture);
    pane_->fileList = files;
    pane_->currentIndex = 1;
    pane_->Show(files[1], files[2], true);
    ASSERT_TRUE(PumpUntil([&] { return picture->held.load(); }));

    for (int press = 0; press < 3; ++press) pane_->window()->SendMessage(WM_KEYDOWN, VK_DELETE, 0);
    pane_->DeleteSeries();  // b.fake has no key: the current file alone, still decoding
    EXPECT_TRUE(std::filesystem::exists(files[1]));
    EXPECT_EQ(pane_->fileList.size(), 3u);
    EXPECT_TRUE(Deleted().empty());

    release = true;
    WaitDone();
    pane_->window()->SendMessage(WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_FALSE(std::filesystem::exists(files[1]));
    EXPECT_EQ(pane_->fileList, (Strings{files[0], files[2]}));
    ASSERT_EQ(Deleted().size(), 1u);
    EXPECT_EQ(Deleted()[0].wParam, 1u);
    EXPECT_EQ(Deleted()[0].lParam, 0);
    EXPECT_EQ(pane_->currentIndex, 1);
    EXPECT_EQ(pane_->currentName(), files[2]);
    const std::string trash =
        std::string(std::getenv("XDG_DATA_HOME")) + "/Trash/files/" + "b.fake";
    EXPECT_TRUE(std::filesystem::exists(trash));

    // The last file deleted: the one before it shows.
    WaitDone();
    pane_->DeleteFile(1, true);
    EXPECT_EQ(pane_->currentName(), files[0]);
    EXPECT_EQ(pane_->currentIndex, 0);
}

TEST_F(ImageBrowseTest, ASeriesGoesFromItsLastFileAndTheFileAfterItShows) {
    const Strings files = Files({"a.bmp", "s1.bmp", "s2.bmp", "s3.bmp", "t.bmp", "u.bmp", "v.bmp"});
    pane_->fileList = files;
    ShowIndex(3);
    pane_->DeleteSeries();
    for (int i = 1; i <= 3; ++i) EXPECT_FALSE(std::filesystem::exists(files[i]));
    const auto deleted = Deleted();
    ASSERT_EQ(deleted.size(), 3u);
    for (size_t n = 0; n < 3; ++n) {
        EXPECT_EQ(deleted[n].wParam, 3 - n);
        EXPECT_EQ(deleted[n].lParam, 1);
    }
    EXPECT_EQ(pane_->fileList, (Strings{files[0], files[4], files[5], files[6]}));
    // The file after the series, not one beyond it.
    EXPECT_EQ(pane_->currentName(), files[4]);
    EXPECT_EQ(pane_->currentIndex, 1);
}

TEST_F(ImageBrowseTest, AFailedDeleteKeepsTheFileInTheList) {
    Strings files = Files({"a.bmp", "b.bmp"});
    files.push_back(dir_.file("gone.bmp"));  // never there: the trash cannot take it
    pane_->fileList = files;
    ShowIndex(0);
    pane_->DeleteFile(2, true);
    EXPECT_EQ(pane_->fileList.size(), 3u);
    EXPECT_TRUE(Deleted().empty());
}

TEST_F(ImageBrowseTest, TheCursorHidesOnceTheMouseRestsAndReturnsOnAMove) {
    QWidget* client = GetClientWidget(pane_->window());
    pane_->window()->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    PumpFor(1000);
    EXPECT_NE(client->cursor().shape(), Qt::BlankCursor);
    PumpFor(700);
    EXPECT_EQ(client->cursor().shape(), Qt::BlankCursor);
    pane_->window()->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(6, 5));
    EXPECT_EQ(client->cursor().shape(), Qt::ArrowCursor);
    // Leaving fullscreen stops the timer, shows the cursor and takes the Adjust item out.
    HMENU popup = GetSubMenu(pane_->imageMenu(), 0);
    EXPECT_EQ(GetMenuItemID(popup, 9), ID_ADJUST_BAR);
    EXPECT_EQ(GetMenuItemText(pane_->imageMenu(), ID_FULLSCREEN), "Browser");
    EXPECT_FALSE(IsMenuItemEnabled(pane_->imageMenu(), ID_THUMBNAILS));
    pane_->SetFullscreen(false);
    EXPECT_EQ(GetMenuItemID(popup, 9), ID_UPSCALE);
    EXPECT_EQ(GetMenuItemCount(popup), 13);
    EXPECT_EQ(GetMenuItemText(pane_->imageMenu(), ID_FULLSCREEN), "Fullscreen");
    PumpFor(1700);
    EXPECT_EQ(client->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ImageBrowseTest, ArrowKeysScrollAnOverflowingImageByAStepAndStopAtItsEdges) {
    BmpDesc big;
    big.width = 600;
    big.height = 340;
    big.bitCount = 24;
    big.pixels.assign(static_cast<size_t>(DibStride(600, 24)) * 340, 0x80);
    const std::string path = dir_.file("big.bmp");
    WriteFileBytes(path, BuildBmp(big));
    pane_->fileList = {path};
    ShowIndex(0);
    const CImageForm::Layout& l = pane_->layout();
    ASSERT_EQ(l.horizontalPosition, 100);
    ASSERT_EQ(l.verticalPosition, 20);
    pane_->window()->SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(l.horizontalPosition, 110);  // 5 % of the 200 pixels it overflows by
    for (int i = 0; i < 20; ++i) pane_->window()->SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_EQ(l.horizontalPosition, 200);
    for (int i = 0; i < 30; ++i) pane_->window()->SendMessage(WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(l.verticalPosition, 0);
    pane_->window()->SendMessage(WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(l.verticalPosition, 2);
}

}  // namespace
