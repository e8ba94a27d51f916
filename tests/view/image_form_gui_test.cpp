#include "view/image_form.h"

#include <gtest/gtest.h>

#include <QColorDialog>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <functional>
#include <thread>

#include "app/ui/resources.h"
#include "image/reader.h"
#include "image/resample.h"
#include "settings/registry.h"
#include "support/bmp_builder.h"
#include "support/gui_app.h"
#include "support/recording_form.h"
#include "support/temp_dir.h"

namespace {

constexpr COLORREF kBackground = 0x4D3837;

struct Colour {
    uint8_t r, g, b;
};

// Quadrants: red top-left, green top-right, blue bottom-left, white bottom-right.
Colour Quadrant(int x, int y, int w, int h) {
    const bool right = x >= w / 2;
    const bool bottom = y >= h / 2;
    if (!bottom) return right ? Colour{0, 255, 0} : Colour{255, 0, 0};
    return right ? Colour{255, 255, 255} : Colour{0, 0, 255};
}

std::string QuadrantBmp(int w, int h, bool bottomUp = true, int bitCount = 24) {
    const int bpp = bitCount / 8;
    const int stride = static_cast<int>(DibStride(w, bitCount));
    BmpDesc desc;
    desc.width = w;
    desc.height = bottomUp ? h : -h;
    desc.bitCount = static_cast<uint16_t>(bitCount);
    desc.pixels.assign(static_cast<size_t>(stride) * h, 0);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = &desc.pixels[static_cast<size_t>(bottomUp ? h - 1 - y : y) * stride];
        for (int x = 0; x < w; ++x) {
            const Colour c = Quadrant(x, y, w, h);
            row[x * bpp] = c.b;
            row[x * bpp + 1] = c.g;
            row[x * bpp + 2] = c.r;
        }
    }
    return BuildBmp(desc);
}

bool Near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
           std::abs(a.blue() - b.blue()) <= 2;
}

QColor Q(COLORREF c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

class ImagePaneTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        BuildGammaTables();
        SetScrollBarExtent(17);
        g_adjustType = 0;
        WindowStyle style;
        style.topLevel = true;
        parent_ = CreateFormWindow(&parentForm_, nullptr, "", style);
        SetWindowForm(AsHandle(parent_), &parentForm_);
        MoveWindow(AsHandle(parent_), 0, 0, 1000, 800);
        pane_ = std::make_unique<CImageForm>(AsHandle(parent_));
        Place(1000, 800);
        ShowWindow(pane_->window(), SW_SHOW);
    }
    void TearDown() override {
        pane_.reset();
        SetScrollBarExtent(0);
    }

    void Place(int w, int h) { MoveWindow(pane_->window(), 0, 0, w, h); }
    std::string File(const std::string& name, const std::string& bytes) {
        const std::string path = dir_.file(name);
        WriteFileBytes(path, bytes);
        return path;
    }
    // Shows the file and waits until the pane has handled its completion.
    void ShowAndWait(const std::string& path, const std::string& preload = "") {
        pane_->Show(path, preload, false);
        ASSERT_TRUE(PumpUntil([&] { return pane_->currentImage()->done.load(); }));
        PumpFor(30);
    }
    QImage Grab() { return GetClientWidget(pane_->window())->grab().toImage(); }
    SCROLLINFO Bar(int bar) {
        SCROLLINFO info;
        info.fMask = SIF_ALL;
        GetScrollInfo(pane_->window(), bar, &info);
        return info;
    }

    TempDir dir_;
    RecordingForm parentForm_;
    UniqueWindow parent_;
    std::unique_ptr<CImageForm> pane_;
};

TEST_F(ImagePaneTest, AWideImageFitsTheWidthAndIsCentredOnTheBackground) {
    pane_->SetResampleMode(kResampleHorizontal);
    ShowAndWait(File("wide.bmp", QuadrantBmp(2000, 1000)));
    EXPECT_EQ(pane_->currentImage()->GetWidth(), 1000);
    EXPECT_EQ(pane_->currentImage()->GetHeight(), 500);
    const CImageForm::Layout& l = pane_->layout();
    EXPECT_EQ(l.topMargin, 150);
    EXPECT_EQ(l.leftMargin, 0);
    EXPECT_FALSE(l.horizontalBar || l.verticalBar || l.draggable);
    const QImage shot = Grab();
    EXPECT_EQ(shot.pixelColor(500, 149), Q(kBackground));
    EXPECT_TRUE(Near(shot.pixelColor(10, 150), QColor(255, 0, 0)));
    EXPECT_TRUE(Near(shot.pixelColor(990, 160), QColor(0, 255, 0)));
    EXPECT_TRUE(Near(shot.pixelColor(10, 649), QColor(0, 0, 255)));
    EXPECT_TRUE(Near(shot.pixelColor(990, 640), QColor(255, 255, 255)));
    EXPECT_EQ(shot.pixelColor(500, 650), Q(kBackground));
}

TEST_F(ImagePaneTest, ATallImageGetsAScrollBarAndStartsScrolledToItsCentre) {
    pane_->SetResampleMode(kResampleHorizontal);
    ShowAndWait(File("tall.bmp", QuadrantBmp(1000, 2000)));
    EXPECT_EQ(pane_->currentImage()->GetWidth(), 983);
    EXPECT_EQ(pane_->currentImage()->GetHeight(), 1966);
    const CImageForm::Layout& l = pane_->layout();
    EXPECT_TRUE(l.verticalBar);
    EXPECT_FALSE(l.horizontalBar);
    EXPECT_TRUE(l.draggable);
    EXPECT_EQ(l.verticalPosition, 583);
    EXPECT_EQ(l.leftMargin, 0);
    EXPECT_EQ(l.topMargin, 0);
    const SCROLLINFO v = Bar(SB_VERT);
    EXPECT_EQ(v.nMin, 0);
    EXPECT_EQ(v.nMax, 1965);
    EXPECT_EQ(v.nPage, 800u);
    EXPECT_EQ(v.nPos, 583);
    RECT client{};
    GetClientRect(pane_->window(), &client);
    EXPECT_EQ(client.right, 983);
    EXPECT_EQ(GetClassCursor(pane_->window())->shape(), LoadCursor(IDC_HAND)->shape());
    // Row 583 of the display is at the top: the top half (red, green) then the bottom half.
    const QImage shot = Grab();
    EXPECT_TRUE(Near(shot.pixelColor(10, 0), QColor(255, 0, 0)));
    EXPECT_TRUE(Near(shot.pixelColor(10, 982 - 583 - 2), QColor(255, 0, 0)));
    EXPECT_TRUE(Near(shot.pixelColor(10, 983 - 583 + 2), QColor(0, 0, 255)));
    EXPECT_TRUE(Near(shot.pixelColor(970, 799), QColor(255, 255, 255)));
}

TEST_F(ImagePaneTest, EveryBitmapLayoutShowsItsPixelsAtTheirPlace) {
    Place(400, 300);
    const struct {
        bool bottomUp;
        int bitCount;
    } layouts[] = {{true, 24}, {false, 24}, {true, 32}};
    int n = 0;
    for (const auto& layout : layouts) {
        SCOPED_TRACE(n);
        ShowAndWait(File("q" + std::to_string(n++) + ".bmp",
                         QuadrantBmp(200, 100, layout.bottomUp, layout.bitCount)));
        EXPECT_EQ(pane_->layout().leftMargin, 100);
        EXPECT_EQ(pane_->layout().topMargin, 100);
        const QImage shot = Grab();
        EXPECT_EQ(shot.pixelColor(99, 150), Q(kBackground));
        EXPECT_EQ(shot.pixelColor(150, 99), Q(kBackground));
        EXPECT_EQ(shot.pixelColor(100, 100), QColor(255, 0, 0));
        EXPECT_EQ(shot.pixelColor(299, 100), QColor(0, 255, 0));
        EXPECT_EQ(shot.pixelColor(100, 199), QColor(0, 0, 255));
        EXPECT_EQ(shot.pixelColor(299, 199), QColor(255, 255, 255));
        EXPECT_EQ(shot.pixelColor(300, 199), Q(kBackground));
        EXPECT_EQ(shot.pixelColor(299, 200), Q(kBackground));
        EXPECT_EQ(qAlpha(reinterpret_cast<const QRgb*>(shot.constScanLine(150))[150]), 255);
    }
}

TEST_F(ImagePaneTest, UpscaleEnlargesASmallImageUpToTheLimit) {
    Place(800, 600);
    const std::string small = File("small.bmp", QuadrantBmp(100, 100));
    pane_->SetUpscale(true);
    EXPECT_TRUE(IsMenuItemChecked(pane_->imageMenu(), ID_UPSCALE));
    ShowAndWait(small);
    EXPECT_EQ(pane_->currentImage()->GetWidth(), 150);
    EXPECT_EQ(pane_->currentImage()->GetHeight(), 150);
    EXPECT_EQ(pane_->layout().leftMargin, 325);
    EXPECT_EQ(pane_->layout().topMargin, 225);
    g_maxUpscale = 100;
    pane_->Refresh();
    ASSERT_TRUE(PumpUntil([&] { return pane_->currentImage()->done.load(); }));
    EXPECT_EQ(pane_->currentImage()->GetWidth(), 100);
    g_maxUpscale = 150;
}

TEST_F(ImagePaneTest, PercentageOfImageMovesTheSizeFromTheWindowTowardsTheImage) {
    Place(200, 150);
    g_adjustType = 1;
    ShowAndWait(File("big.bmp", QuadrantBmp(800, 600)));
    // Under None the percentage waits for a mode that fits: nothing is loaded again.
    const int32_t serial = pane_->currentSerial();
    pane_->SetAdjust(50);
    EXPECT_EQ(pane_->currentSerial(), serial);
    pane_->SetResampleMode(kResampleBoth);
    ASSERT_TRUE(PumpUntil([&] { return pane_->currentImage()->done.load(); }));
    EXPECT_EQ(pane_->currentImage()->GetWidth(), 500);
    EXPECT_EQ(pane_->currentImage()->GetHeight(), 375);
    EXPECT_TRUE(pane_->layout().horizontalBar && pane_->layout().verticalBar);
    g_adjustType = 0;
}

// A picture held whole and shown at its own size is loaded again without decoding: the loader
// only hands its source to the display. The pane must not read the display meanwhile (the
// thread sanitizer sees it when this runs in a build with it).
TEST_F(ImagePaneTest, APictureShownAtItsOwnSizeStaysWholeThroughRefreshesAndResizes) {
    Place(400, 300);
    ShowAndWait(File("own.bmp", QuadrantBmp(200, 100)));
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        if (i % 2)
            pane_->Refresh();
        else
            Place(400 + i, 300);
        ASSERT_TRUE(PumpUntil([&] { return pane_->currentImage()->done.load(); }));
        EXPECT_EQ(pane_->currentImage()->GetWidth(), 200);
        const QImage shot = Grab();
        const int left = pane_->layout().leftMargin;
        EXPECT_EQ(shot.pixelColor(left, 100), QColor(255, 0, 0));
        EXPECT_EQ(shot.pixelColor(left + 199, 199), QColor(255, 255, 255));
    }
}

TEST_F(ImagePaneTest, ProgressBandsOfTheCurrentLoadAreRepaintedAndStaleRecordsIgnored) {
    // The pane's window stays hidden, so what a message invalidates is still there to be seen.
    Place(400, 300);
    ShowAndWait(File("band.bmp", QuadrantBmp(200, 100)));
    CImage* current = pane_->currentImage();
    HWND window = pane_->window();
    ValidateRect(window, nullptr);

    auto post = [&](CImage* image, int32_t first, int32_t last) {
        window->PostMessage(WM_IMAGE_PROGRESS, reinterpret_cast<WPARAM>(image),
                            reinterpret_cast<LPARAM>(new ProgressRecord{first, last}));
        PumpFor(10);
    };
    // Another image's record, and one of an image the pane does not own: freed, nothing painted.
    post(pane_->preloadImage(), 10, 20);
    CImage stranger;
    post(&stranger, 10, 20);
    EXPECT_FALSE(GetUpdateRect(window, nullptr));

    // The whole picture with no band before it: the whole pane.
    RECT band{};
    post(current, 0, 0);
    ASSERT_TRUE(GetUpdateRect(window, &band));
    EXPECT_EQ(band.top, 0);
    EXPECT_EQ(band.bottom, 300);
    ValidateRect(window, nullptr);

    // A bottom-up display: memory rows 10 to 20 are screen rows 79 to 89, below a margin of 100.
    post(current, 10, 20);
    ASSERT_TRUE(GetUpdateRect(window, &band));
    EXPECT_EQ(band.left, 0);
    EXPECT_EQ(band.right, 400);
    EXPECT_EQ(band.top, 179);
    EXPECT_EQ(band.bottom, 189);
    ValidateRect(window, nullptr);
    // After that band, the end of its pass repaints only the picture's rows no band painted
    // (screen rows 100 to 179 and 189 to 200), not the margins.
    post(current, 0, 0);
    ASSERT_TRUE(GetUpdateRect(window, &band));
    EXPECT_EQ(band.top, 100);
    EXPECT_EQ(band.bottom, 200);
    ValidateRect(window, nullptr);
    // A band wholly below the view paints nothing.
    Place(400, 50);
    PumpFor(30);
    ValidateRect(window, nullptr);
    post(current, 10, 20);
    EXPECT_FALSE(GetUpdateRect(window, nullptr));
}

TEST_F(ImagePaneTest, TheNeighbourIsPreloadedAfterTheCurrentImageAndSwappedInWhenShown) {
    const std::string a = File("a.bmp", QuadrantBmp(300, 200));
    const std::string b = File("b.bmp", QuadrantBmp(320, 200));
    const std::string c = File("c.bmp", QuadrantBmp(2000, 1000));
    pane_->Show(a, b, false);
    // Nothing is pre-loaded before the current image is complete.
    EXPECT_NE(pane_->preloadImage()->path, b);
    ASSERT_TRUE(
        PumpUntil([&] { return pane_->preloadImage()->path == b && pane_->preloadImage()->done; }));
    CImage* preloaded = pane_->preloadImage();
    const int32_t serial = preloaded->loadSerial;

    pane_->Show(b, c, false);
    // The pre-loaded image is shown as it is, without loading it again.
    EXPECT_EQ(pane_->currentImage(), preloaded);
    EXPECT_EQ(preloaded->loadSerial, serial);
    EXPECT_EQ(pane_->currentSerial(), serial);
    EXPECT_EQ(pane_->currentName(), b);
    EXPECT_EQ(preloaded->notifyWindow.load(), pane_->window());
    EXPECT_EQ(pane_->preloadImage()->notifyWindow.load(), nullptr);
    EXPECT_EQ(pane_->currentImage()->GetWidth(), 320);
    EXPECT_EQ(pane_->layout().leftMargin, (1000 - 320) / 2);
    ASSERT_TRUE(
        PumpUntil([&] { return pane_->preloadImage()->path == c && pane_->preloadImage()->done; }));

    // After a change of mode the pre-loaded image is sized again before it is shown.
    pane_->SetResampleMode(kResampleBoth);
    CImage* next = pane_->preloadImage();
    const int32_t oldSerial = next->loadSerial;
    pane_->Show(c, "", false);
    EXPECT_EQ(pane_->currentImage(), next);
    EXPECT_NE(next->loadSerial, oldSerial);
    ASSERT_TRUE(PumpUntil([&] { return next->done.load(); }));
    EXPECT_EQ(next->GetWidth(), 1000);
}

TEST_F(ImagePaneTest, ScrollRequestsStayWithinTheBarAndDraggingMovesTheImage) {
    pane_->SetResampleMode(kResampleHorizontal);
    ShowAndWait(File("tall.bmp", QuadrantBmp(1000, 2000)));
    HWND window = pane_->window();
    for (int i = 0; i < 20; ++i) window->SendMessage(WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(pane_->layout().verticalPosition, 1966 - 800);
    EXPECT_EQ(Bar(SB_VERT).nPos, 1966 - 800);
    window->SendMessage(WM_VSCROLL, SB_PAGEUP, 0);
    EXPECT_EQ(pane_->layout().verticalPosition, 1166 - 393);
    window->SendMessage(WM_VSCROLL, SB_PAGEUP, 0);
    EXPECT_EQ(pane_->layout().verticalPosition, 0);  // less than a page step from the top
    window->SendMessage(WM_VSCROLL, SB_ENDSCROLL, 0);
    EXPECT_EQ(pane_->layout().verticalPosition, 0);

    window->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(500, 400));
    EXPECT_EQ(GetClassCursor(window)->shape(), LoadCursor(IDC_GRAB)->shape());
    window->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(480, 300));
    EXPECT_EQ(pane_->layout().verticalPosition, 100);
    EXPECT_EQ(pane_->layout().horizontalPosition, 0);  // nothing to move sideways
    EXPECT_EQ(Bar(SB_VERT).nPos, 100);
    // Above the pane: read as a large unsigned value, so the last position stands.
    window->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(480, -20));
    EXPECT_EQ(pane_->layout().verticalPosition, 100);
    window->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(480, 700));
    EXPECT_EQ(pane_->layout().verticalPosition, 0);
    window->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(480, 700));
    EXPECT_EQ(GetClassCursor(window)->shape(), LoadCursor(IDC_HAND)->shape());
    window->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(480, 100));
    EXPECT_EQ(pane_->layout().verticalPosition, 0);
}

TEST_F(ImagePaneTest, AButtonReleasedOverAPictureThatFitsStillEndsTheDrag) {
    pane_->SetResampleMode(kResampleHorizontal);
    const std::string tall = File("tall.bmp", QuadrantBmp(1000, 2000));
    ShowAndWait(tall);
    HWND window = pane_->window();
    window->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(500, 400));
    // The wheel steps on to a picture that fits while the button is held.
    ShowAndWait(File("small.bmp", QuadrantBmp(100, 100)));
    ASSERT_FALSE(pane_->layout().draggable);
    window->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(500, 400));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(GetClassCursor(window)->shape(), LoadCursor(IDC_ARROW)->shape());
    ShowAndWait(tall);
    const int32_t position = pane_->layout().verticalPosition;
    window->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(500, 100));
    EXPECT_EQ(pane_->layout().verticalPosition, position);
}

TEST_F(ImagePaneTest, TheImageMenuTicksTheModeAndPassesItsCommandsToTheFrame) {
    HMENU popup = GetSubMenu(pane_->imageMenu(), 0);
    const int ids[] = {40010, 40011, -1,    40012, 40013, 40014, 40015,
                       40016, -1,    40023, -1,    40017, 40018};
    ASSERT_EQ(GetMenuItemCount(popup), 13);
    for (int i = 0; i < 13; ++i) EXPECT_EQ(GetMenuItemID(popup, i), ids[i]) << i;
    pane_->SetResampleMode(kResampleVertical);
    for (int id = 40012; id <= 40016; ++id)
        EXPECT_EQ(IsMenuItemChecked(popup, id), id == 40015) << id;

    HWND window = pane_->window();
    window->SendMessage(WM_COMMAND, 40013, 0);
    window->SendMessage(WM_COMMAND, ID_WALLPAPER, 0);
    window->SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    window->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, -120), MAKELPARAM(50, 60));
    const auto commands = parentForm_.Of(WM_COMMAND);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].wParam, 40013u);
    EXPECT_EQ(commands[1].wParam, 40010u);
    ASSERT_EQ(parentForm_.Of(WM_MOUSEWHEEL).size(), 1u);
    EXPECT_EQ(parentForm_.Of(WM_MOUSEWHEEL)[0].wParam, MAKEWPARAM(0, -120));

    // Without a file on screen there is nothing to make the wallpaper of.
    auto openAndCloseMenu = [&] {
        QTimer::singleShot(50, [] {
            if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
        });
        window->SendMessage(WM_CONTEXTMENU, 0, MAKELPARAM(100, 100));
    };
    ShowWindow(AsHandle(parent_), SW_SHOW);
    openAndCloseMenu();
    EXPECT_FALSE(IsMenuItemEnabled(popup, ID_WALLPAPER));
    ShowAndWait(File("w.bmp", QuadrantBmp(10, 10)));
    openAndCloseMenu();
    EXPECT_TRUE(IsMenuItemEnabled(popup, ID_WALLPAPER));
}

TEST_F(ImagePaneTest, AChosenBackgroundIsPaintedToldToTheFrameAndStored) {
    Place(400, 300);
    ShowAndWait(File("bg.bmp", QuadrantBmp(200, 100)));
    QTimer::singleShot(50, [] {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        dialog->setCurrentColor(QColor(10, 20, 30));
        dialog->accept();
    });
    pane_->window()->SendMessage(WM_COMMAND, ID_BACKGROUND, 0);
    EXPECT_EQ(pane_->backgroundColour(), RGB(10, 20, 30));
    ASSERT_EQ(parentForm_.Of(WM_BACKGROUND_CHANGED).size(), 1u);
    EXPECT_EQ(parentForm_.Of(WM_BACKGROUND_CHANGED)[0].wParam, RGB(10, 20, 30));
    EXPECT_EQ(Grab().pixelColor(50, 50), QColor(10, 20, 30));
    pane_.reset();
    EXPECT_EQ(ReadRegDword("BackgroundColor", 0), static_cast<int32_t>(RGB(10, 20, 30)));
    WriteRegDword("BackgroundColor", static_cast<int32_t>(kBackground));
}

// A reader whose header is known only once it has decoded, as the one-shot decoders are.
class LateHeaderReader : public CImageReader {
public:
    LateHeaderReader(int32_t w, int32_t h) : CImageReader("late.jp2") {
        deferredHeader = true;
        DeclareHeader(w, -h, 24);
    }
    void OpenFile() override {}
    void CloseFile() override {}
    int NextLine(uint8_t**) override { return ++lineCounter; }
};

TEST_F(ImagePaneTest, AnImageAskingForItsSizeFromItsLoaderGetsItsOwnBox) {
    Place(400, 300);
    pane_->SetResampleMode(kResampleBoth);
    ShowAndWait(File("cur.bmp", QuadrantBmp(200, 100)));
    CImage* current = pane_->currentImage();
    const int32_t currentWidth = current->GetWidth();

    // The pre-load image's decode reveals a header: its box is computed for it, on its thread,
    // and the image on screen is left alone.
    CImage* other = pane_->preloadImage();
    LateHeaderReader reader(800, 600);
    std::thread([&] {
        other->AdoptHeader(&reader);
        other->sizeLimitOwner->SetMaxDim();
    }).join();
    EXPECT_EQ(other->GetWidth(), 400);
    EXPECT_EQ(other->GetHeight(), 300);
    EXPECT_EQ(current->GetWidth(), currentWidth);

    // The current image's: the pane lays it out once the loader's notice arrives.
    LateHeaderReader tall(300, 900);
    std::thread([&] {
        current->AdoptHeader(&tall);
        current->sizeLimitOwner->SetMaxDim();
    }).join();
    EXPECT_EQ(current->GetWidth(), 100);
    EXPECT_EQ(current->GetHeight(), 300);
    ASSERT_TRUE(PumpUntil([&] { return pane_->layout().leftMargin == 150; }));
    EXPECT_EQ(pane_->layout().topMargin, 0);
}

TEST_F(ImagePaneTest, ANewPaneSizeSizesTheImageAgain) {
    pane_->SetResampleMode(kResampleHorizontal);
    ShowAndWait(File("wide.bmp", QuadrantBmp(2000, 1000)));
    Place(500, 400);
    ASSERT_TRUE(PumpUntil(
        [&] { return pane_->currentImage()->done && pane_->currentImage()->GetWidth() == 500; }));
    EXPECT_EQ(pane_->currentImage()->GetHeight(), 250);
    EXPECT_EQ(pane_->layout().topMargin, 75);

    // One row taller than the image: no margin above it, and the row below is background.
    Place(1000, 501);
    ASSERT_TRUE(PumpUntil(
        [&] { return pane_->currentImage()->done && pane_->currentImage()->GetWidth() == 1000; }));
    EXPECT_EQ(pane_->layout().topMargin, 0);
    const QImage shot = Grab();
    EXPECT_TRUE(Near(shot.pixelColor(10, 499), QColor(0, 0, 255)));
    EXPECT_EQ(shot.pixelColor(10, 500), Q(kBackground));
    EXPECT_EQ(shot.pixelColor(990, 500), Q(kBackground));
}

// A start file decoded before the pane has its size: the pane grows from nothing to its size,
// then the file is shown. The load is taken over when the size it was started for gives the
// box the pane needs now, and sized again otherwise.
TEST_F(ImagePaneTest, AnEarlyPreloadIsTakenOverWhenItsBoxStillFits) {
    const std::string wide = File("wide.bmp", QuadrantBmp(2000, 1000));
    struct Case {
        int mode;
        int32_t width, height;  // the pane size the load was started for
        bool kept;
        int32_t shownWidth;
    } const cases[] = {
        {kResampleHorizontal, 1000, 800, true, 1000},
        {kResampleHorizontal, 600, 400, false, 1000},
        // Shown at its own size: any pane gives the same box.
        {kResampleNone, 600, 400, true, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", " << c.width << "x" << c.height);
        pane_->Show("", "", false);
        pane_->SetResampleMode(c.mode);
        Place(0, 0);
        pane_->PreloadAt(wide, c.width, c.height);
        CImage* early = pane_->preloadImage();
        ASSERT_EQ(early->path, wide);
        const int32_t serial = early->loadSerial;
        Place(1000, 800);
        pane_->Show(wide, "", false);
        EXPECT_EQ(pane_->currentImage(), early);
        EXPECT_EQ(early->loadSerial == serial, c.kept);
        EXPECT_EQ(pane_->currentSerial(), early->loadSerial.load());
        ASSERT_TRUE(PumpUntil([&] { return early->done.load(); }));
        EXPECT_EQ(early->GetWidth(), c.shownWidth);
    }
}

}  // namespace

// A new box decodes the picture again; until that load's rows are handled, the picture shown
// before stands in for them, scaled to the new rectangle, rather than the fresh black buffer.
TEST_F(ImagePaneTest, APictureSizedAgainShowsTheOldOneScaledUntilItsRowsArrive) {
    pane_->SetResampleMode(kResampleHorizontal);
    ShowAndWait(File("large.bmp", QuadrantBmp(3000, 2000)));
    ASSERT_EQ(pane_->currentImage()->GetWidth(), 1000);
    Place(600, 800);
    // Held before any of its progress reaches the pane.
    pane_->currentImage()->StopLoad();
    ASSERT_EQ(pane_->currentImage()->GetWidth(), 600);
    ASSERT_EQ(pane_->layout().topMargin, 200);
    const QImage shot = Grab();
    EXPECT_TRUE(Near(shot.pixelColor(150, 300), QColor(255, 0, 0)));
    EXPECT_TRUE(Near(shot.pixelColor(450, 300), QColor(0, 255, 0)));
    EXPECT_TRUE(Near(shot.pixelColor(150, 500), QColor(0, 0, 255)));
    EXPECT_TRUE(Near(shot.pixelColor(450, 500), QColor(255, 255, 255)));
    EXPECT_EQ(shot.pixelColor(300, 150), Q(kBackground));
    EXPECT_EQ(shot.pixelColor(300, 650), Q(kBackground));
}

// Rows of the new load replacing the stand-in band by band would show a picture part old, part
// new: it stays whole through the load's bands and its coarse-pass notice, and the complete
// picture then replaces it in one paint.
TEST_F(ImagePaneTest, AStandInStaysWholeUntilItsLoadIsComplete) {
    pane_->SetResampleMode(kResampleHorizontal);
    ShowAndWait(File("large.bmp", QuadrantBmp(3000, 2000)));
    Place(600, 800);
    CImage* image = pane_->currentImage();
    image->StopLoad();
    ASSERT_EQ(image->GetWidth(), 600);
    // What the new load has written: grey, unlike any of the old picture's quadrants.
    std::memset(image->displayBuffer, 0x80, image->displayBytes);
    const QColor grey(0x80, 0x80, 0x80);
    auto post = [&](int32_t first, int32_t last) {
        pane_->window()->PostMessage(WM_IMAGE_PROGRESS, reinterpret_cast<WPARAM>(image),
                                     reinterpret_cast<LPARAM>(new ProgressRecord{first, last}));
        PumpFor(10);
    };
    const int points[][2] = {{150, 210}, {450, 210}, {150, 590}, {450, 590}, {300, 400}};
    for (const auto& band : {std::pair{0, 100}, std::pair{100, 399}, std::pair{0, 0}}) {
        post(band.first, band.second);
        const QImage shot = Grab();
        for (const auto& p : points)
            EXPECT_FALSE(Near(shot.pixelColor(p[0], p[1]), grey))
                << "at " << p[0] << "," << p[1] << " after the band " << band.first << "-"
                << band.second;
    }
    image->done = true;
    pane_->window()->PostMessage(WM_IMAGE_DONE, reinterpret_cast<WPARAM>(image), 0);
    PumpFor(30);
    const QImage shot = Grab();
    for (const auto& p : points) EXPECT_TRUE(Near(shot.pixelColor(p[0], p[1]), grey));
    EXPECT_EQ(shot.pixelColor(300, 150), Q(kBackground));
}

// A coarse pass and then the final one, each in bands and ended by its whole-picture notice:
// bands repaint only their rows and each notice only the rows no band painted, so a row missed
// by both would keep its coarse pixels on screen. What the window shows must be the final rows.
TEST_F(ImagePaneTest, AfterACoarsePassEveryRowOnScreenIsTheFinalOne) {
    ShowWindow(AsHandle(parent_), SW_SHOW);
    Place(400, 300);
    QWidget* paneWidget = GetClientWidget(pane_->window());
    for (const bool bottomUp : {true, false}) {
        SCOPED_TRACE(bottomUp);
        ShowAndWait(File(bottomUp ? "up.bmp" : "down.bmp", QuadrantBmp(200, 103, bottomUp)));
        CImage* image = pane_->currentImage();
        ASSERT_EQ(image->GetHeight(), 103);
        const std::vector<uint8_t> finalRows(image->displayBuffer,
                                             image->displayBuffer + image->displayBytes);
        auto pass = [&] {
            // As the loader posts a pass of 103 rows in steps of 25 % (memory rows).
            for (const auto& [first, last] : {std::pair{0, 24}, {24, 49}, {49, 74}, {74, 99}})
                pane_->window()->PostMessage(
                    WM_IMAGE_PROGRESS, reinterpret_cast<WPARAM>(image),
                    reinterpret_cast<LPARAM>(new ProgressRecord{first, last}));
            pane_->window()->PostMessage(WM_IMAGE_PROGRESS, reinterpret_cast<WPARAM>(image),
                                         reinterpret_cast<LPARAM>(new ProgressRecord{0, 0}));
            PumpFor(30);
        };
        // The display cleared before the first pass (here grey, the coarse pass's colour),
        // announced whole, as the loader does for a picture shown at its own size.
        std::memset(image->displayBuffer, 0x80, image->displayBytes);
        pane_->window()->PostMessage(WM_IMAGE_PROGRESS, reinterpret_cast<WPARAM>(image),
                                     reinterpret_cast<LPARAM>(new ProgressRecord{0, 0}));
        pass();
        std::memcpy(image->displayBuffer, finalRows.data(), finalRows.size());
        pass();
        const QPoint at = paneWidget->mapTo(paneWidget->window(), QPoint(0, 0));
        const QImage screen = paneWidget->screen()
                                  ->grabWindow(paneWidget->window()->winId())
                                  .toImage()
                                  .copy(at.x(), at.y(), 400, 300);
        const auto& l = pane_->layout();
        int wrong = 0;
        for (int y = 0; y < 103; ++y)
            for (int x : {0, 60, 140, 199}) {
                const Colour c = Quadrant(x, y, 200, 103);
                if (!Near(screen.pixelColor(l.leftMargin + x, l.topMargin + y),
                          QColor(c.r, c.g, c.b)))
                    ++wrong;
            }
        EXPECT_EQ(wrong, 0);
    }
}
