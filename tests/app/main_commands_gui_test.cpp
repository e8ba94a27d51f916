#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <filesystem>

#include "app/ui/main_form.h"
#include "app/ui/resources.h"
#include "image/loader.h"
#include "platform/qt/base_dialog.h"
#include "platform/qt/list_view.h"
#include "platform/qt/toolbar.h"
#include "settings/registry.h"
#include "support/bmp_builder.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"

namespace {

using Strings = std::vector<std::string>;

class MainCommandsTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        std::filesystem::remove(SettingsFilePath());
    }
    void TearDown() override { std::filesystem::current_path("/"); }
    std::string Folder() const { return dir_.path().string() + "/"; }
    // a.bmp to d.bmp, 4 x 2 grey pictures: a folder to browse.
    void WriteFourSmallBmps() const {
        BmpDesc desc;
        desc.width = 4;
        desc.height = 2;
        desc.pixels.assign(24, 0x40);
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"})
            WriteFileBytes(dir_.file(name), BuildBmp(desc));
    }

    // A key pressed in the file list, where the keyboard focus is at start.
    static void Press(const CMainForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(GetWindowWidget(form.fileView()->window())->focusWidget()
                                        ? GetWindowWidget(form.fileView()->window())->focusWidget()
                                        : GetWindowWidget(form.fileView()->window()),
                                    &event);
    }
    static QWidget* Button(const CMainForm& form, int command) {
        RECT r{};
        Toolbar_GetRect(form.toolbar(), command, &r);
        return GetWindowWidget(form.toolbar())
            ->childAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    static std::string Tip(CMainForm& form, int command) {
        NMTTDISPINFO info;
        info.hdr = NMHDR{form.toolbar(), static_cast<uintptr_t>(command), TTN_GETDISPINFO};
        form.window()->SendMessage(WM_NOTIFY, command, reinterpret_cast<LPARAM>(&info));
        return info.lpszText ? info.lpszText : info.szText;
    }
    static void Mouse(QWidget* widget, QEvent::Type type) {
        const QPointF at(widget->width() / 2, widget->height() / 2);
        QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &event);
    }

    TempDir dir_;
};

TEST_F(MainCommandsTest, TheSplitterKeepsTwentyFivePixelsOnEitherSide) {
    CMainForm form({}, SW_SHOWNORMAL);
    RECT client{};
    GetClientRect(form.window(), &client);
    form.window()->SendMessage(WM_SPLITTER_MOVED, static_cast<WPARAM>(intptr_t{-40}), 0);
    EXPECT_EQ(form.fileListWidth(), 110);
    form.window()->SendMessage(WM_SPLITTER_MOVED, static_cast<WPARAM>(intptr_t{-1000}), 0);
    EXPECT_EQ(form.fileListWidth(), 25);
    form.window()->SendMessage(WM_SPLITTER_MOVED, 100000, 0);
    EXPECT_EQ(form.fileListWidth(), client.right - 25);
    RECT list{};
    GetWindowRect(form.fileView()->window(), &list);
    EXPECT_EQ(list.right - list.left, client.right - 25);
}

TEST_F(MainCommandsTest, TheKeyboardTableRunsItsCommands) {
    std::filesystem::create_directories(dir_.path() / "a");
    std::filesystem::create_directories(dir_.path() / "b");
    WriteRegString("DirHistory0", Folder() + "a/");
    WriteRegString("DirHistory1", Folder() + "b/");
    CMainForm form({}, SW_SHOWNORMAL);
    const std::pair<Qt::Key, int> modes[] = {{Qt::Key_B, ID_RESAMPLE_BOTH},
                                             {Qt::Key_H, ID_RESAMPLE_HORIZONTAL},
                                             {Qt::Key_V, ID_RESAMPLE_VERTICAL},
                                             {Qt::Key_A, ID_RESAMPLE_AUTO},
                                             {Qt::Key_N, ID_RESAMPLE_NONE}};
    for (const auto& [key, command] : modes) {
        Press(form, key, Qt::ControlModifier);
        EXPECT_EQ(form.resampleCommand(), command);
    }
    Press(form, Qt::Key_U, Qt::ControlModifier);
    EXPECT_TRUE(form.upscale());
    EXPECT_EQ(Toolbar_GetState(form.toolbar(), ID_UPSCALE), TBSTATE_ENABLED | TBSTATE_PRESSED);
    Press(form, Qt::Key_U, Qt::ControlModifier);
    EXPECT_FALSE(form.upscale());
    // Back and forward through the history: a, b with b current.
    Press(form, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(form.currentFolder(), Folder() + "a/");
    Press(form, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(form.currentFolder(), Folder() + "b/");
    // The trackbar keys stop at 99 and 0.
    Trackbar_SetPos(form.trackbar(), 97);
    Press(form, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(Trackbar_GetPos(form.trackbar()), 99);
    Press(form, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(Trackbar_GetPos(form.trackbar()), 94);
    Trackbar_SetPos(form.trackbar(), 3);
    Press(form, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(Trackbar_GetPos(form.trackbar()), 0);
    // Ctrl+T puts the thumbnails in the image's place, greying what only the image uses.
    Press(form, Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(IsWindowVisible(form.thumbnailList()));
    EXPECT_FALSE(IsWindowVisible(form.imagePane()->window()));
    EXPECT_EQ(Toolbar_GetState(form.toolbar(), ID_THUMBNAILS), TBSTATE_ENABLED | TBSTATE_PRESSED);
    EXPECT_EQ(Tip(form, ID_THUMBNAILS), "Hide thumbnails");
    for (int command = ID_FULLSCREEN; command <= ID_RESAMPLE_AUTO; ++command) {
        if (command == ID_THUMBNAILS) continue;
        EXPECT_FALSE(Toolbar_GetState(form.toolbar(), command) & TBSTATE_ENABLED) << command;
    }
    EXPECT_FALSE(IsWindowEnabled(form.trackbar()));
    Press(form, Qt::Key_T, Qt::ControlModifier);
    EXPECT_FALSE(IsWindowVisible(form.thumbnailList()));
    EXPECT_TRUE(IsWindowEnabled(form.trackbar()));
    // The adjust bar shows only in fullscreen.
    Press(form, Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(IsWindowVisible(form.fileView()->window()));
    EXPECT_TRUE(IsWindowVisible(form.imagePane()->window()));
    Press(form, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(form.fullscreen());
    EXPECT_FALSE(IsWindowVisible(form.fileView()->window()));
}

TEST_F(MainCommandsTest, ResampleButtonsPressOnlyTheChosenModeAndGreyWhatHasNoPane) {
    CMainForm form({}, SW_SHOWNORMAL);
    EXPECT_EQ(Toolbar_GetState(form.toolbar(), ID_RESAMPLE_NONE),
              TBSTATE_ENABLED | TBSTATE_PRESSED);
    static_cast<QAbstractButton*>(Button(form, ID_RESAMPLE_VERTICAL))->click();
    EXPECT_EQ(form.resampleCommand(), ID_RESAMPLE_VERTICAL);
    for (int command = ID_RESAMPLE_NONE; command <= ID_RESAMPLE_AUTO; ++command)
        EXPECT_EQ(Toolbar_GetState(form.toolbar(), command),
                  TBSTATE_ENABLED | (command == ID_RESAMPLE_VERTICAL ? TBSTATE_PRESSED : 0));
    EXPECT_TRUE(IsMenuItemChecked(form.imagePane()->imageMenu(), ID_RESAMPLE_VERTICAL));
    // A click does not press a button by itself.
    static_cast<QAbstractButton*>(Button(form, ID_RESAMPLE_VERTICAL))->click();
    EXPECT_EQ(Toolbar_GetState(form.toolbar(), ID_RESAMPLE_VERTICAL),
              TBSTATE_ENABLED | TBSTATE_PRESSED);
    EXPECT_EQ(Toolbar_GetState(form.toolbar(), ID_FULLSCREEN), TBSTATE_ENABLED);
    EXPECT_EQ(Toolbar_GetState(form.toolbar(), ID_THUMBNAILS), TBSTATE_ENABLED);
    EXPECT_EQ(Toolbar_GetState(form.toolbar(), ID_SETTINGS), TBSTATE_ENABLED);
    EXPECT_TRUE(IsWindowEnabled(form.trackbar()));
}

TEST_F(MainCommandsTest, AStoredModeThatIsNoCommandPressesNoButton) {
    WriteRegDword("ImageResample", 40099);
    CMainForm form({}, SW_SHOWNORMAL);
    for (int command = ID_RESAMPLE_NONE; command <= ID_RESAMPLE_AUTO; ++command)
        EXPECT_EQ(Toolbar_GetState(form.toolbar(), command), TBSTATE_ENABLED);
    EXPECT_TRUE(IsMenuItemChecked(form.imagePane()->imageMenu(), ID_RESAMPLE_NONE));
}

TEST_F(MainCommandsTest, TooltipsNameTheButtonsAndTheFoldersAHistoryStepReaches) {
    WriteRegString("DirHistory0", "/");
    WriteRegString("DirHistory1", Folder() + std::string(100, 'x') + "/");
    WriteRegString("DirHistory2", Folder());
    CMainForm form({}, SW_SHOWNORMAL);
    EXPECT_EQ(Tip(form, ID_HISTORY_FORWARD), "Next  -  /");
    const std::string previous = Tip(form, ID_HISTORY_BACK);
    EXPECT_EQ(previous.size(), 79u);
    EXPECT_EQ(previous, ("Previous  -  " + Folder() + std::string(100, 'x')).substr(0, 79));
    EXPECT_EQ(Tip(form, ID_FULLSCREEN), "View fullscreen");
    EXPECT_EQ(Tip(form, ID_THUMBNAILS), "Show thumbnails");
    EXPECT_EQ(Tip(form, ID_SETTINGS), "Settings");
    EXPECT_EQ(Tip(form, ID_RESAMPLE_NONE), "Resample none");
    EXPECT_EQ(Tip(form, ID_RESAMPLE_AUTO), "Resample automatic");
    EXPECT_EQ(Tip(form, ID_UPSCALE), "Upscale smaller images");
    EXPECT_EQ(Tip(form, ID_ABOUT), "About Lumora");
}

TEST_F(MainCommandsTest, HoldingPreviousOpensTheHistoryMenuAndAClickGoesBackOne) {
    for (const char* name : {"b", "C", "a"}) {
        std::filesystem::create_directories(dir_.path() / name);
    }
    WriteRegString("DirHistory0", Folder() + "b/");
    WriteRegString("DirHistory1", Folder() + "C/");
    WriteRegString("DirHistory2", Folder() + "a/");
    CMainForm form({}, SW_SHOWNORMAL);
    QWidget* back = Button(form, ID_HISTORY_BACK);
    ASSERT_NE(back, nullptr);
    Strings texts;
    QTimer::singleShot(800, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* action : menu->actions()) texts.push_back(action->text().toStdString());
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QCoreApplication::sendEvent(menu, &down);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(menu, &enter);
    });
    Mouse(back, QEvent::MouseButtonPress);
    PumpFor(1000);
    Mouse(back, QEvent::MouseButtonRelease);
    EXPECT_EQ(texts, (Strings{Folder() + "a", Folder() + "b", Folder() + "C"}));
    // The first entry, "a", was chosen: forward by its index + 1 makes it current.
    PumpUntil([&] { return form.currentFolder() == Folder() + "a/"; }, 2000);
    EXPECT_EQ(form.currentFolder(), Folder() + "a/");
    // A short click goes back one folder.
    const std::string expected = Folder() + "C/";
    Mouse(back, QEvent::MouseButtonPress);
    Mouse(back, QEvent::MouseButtonRelease);
    EXPECT_EQ(form.currentFolder(), expected);
    PumpFor(700);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(MainCommandsTest, TheAboutBoxNamesTheVersionAndTheLibraries) {
    CMainForm form({}, SW_SHOWNORMAL);
    std::string title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        title = box->windowTitle().toStdString();
        text = box->text().toStdString();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    form.window()->SendMessage(WM_COMMAND, ID_ABOUT, 0);
    EXPECT_EQ(title, "About Lumora 2.4");
    EXPECT_EQ(icon, QMessageBox::Information);
    for (const char* library : {"libpng", "LIBTIFF", "libjpeg-turbo", "giflib", "OpenJPEG",
                                "Little CMS", "zlib", "viewing images only"})
        EXPECT_NE(text.find(library), std::string::npos) << library;
}

// The settings button opens the settings dialog over the window; OK there stores the limits.
TEST_F(MainCommandsTest, TheSettingsButtonOpensTheSettingsDialog) {
    CMainForm form({}, SW_SHOWNORMAL);
    std::string title;
    QWidget* owner = nullptr;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        HWND dialog = GetActiveDialog();
        if (!dialog || !GetDialogWidget(dialog)->isVisible()) return;
        poll.stop();
        title = GetDialogWidget(dialog)->windowTitle().toStdString();
        owner = GetDialogWidget(dialog)->parentWidget();
        SetDlgItemText(dialog, 1002, "64");
        dialog->SendMessage(WM_COMMAND, IDOK, 0);
    });
    poll.start(5);
    static_cast<QAbstractButton*>(Button(form, ID_SETTINGS))->click();
    EXPECT_EQ(title, "Lumora settings");
    EXPECT_EQ(owner, GetWindowWidget(form.window()));
    EXPECT_EQ(ReadRegDword("MaxCacheSize", -1), 64);
}

TEST_F(MainCommandsTest, ChoosingAFileShowsItAndTheWheelOverTheImageStepsOn) {
    BmpDesc desc;
    desc.width = 4;
    desc.height = 2;
    desc.pixels.assign(24, 0x40);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        WriteFileBytes(dir_.file(name), BuildBmp(desc));
    WriteRegString("InitialDirectory", Folder());
    CMainForm form({}, SW_SHOWNORMAL);
    HWND list = form.fileView()->window();
    ListView_SetItemState(list, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(form.imagePane()->currentName(), dir_.file("a.bmp"));
    ASSERT_TRUE(
        PumpUntil([&] { return form.imagePane()->preloadImage()->path == dir_.file("b.bmp"); }));
    // A wheel step over the image pane reaches the list through the main window.
    RECT pane{};
    GetWindowRect(form.imagePane()->window(), &pane);
    form.imagePane()->window()->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA),
                                            MAKELPARAM(pane.left + 50, pane.top + 50));
    ASSERT_TRUE(PumpUntil([&] { return form.imagePane()->currentName() == dir_.file("b.bmp"); }));
    // The file's folder is now in the history, and its entry is what Reload shows again.
    EXPECT_EQ(form.fileView()->HistoryCount(), 1);
    form.fileView()->window()->SendMessage(WM_COMMAND, ID_RELOAD, 0);
    EXPECT_EQ(form.imagePane()->currentName(), dir_.file("b.bmp"));
}

TEST_F(MainCommandsTest, TheFileOnScreenSelectedAgainIsNotDecodedAgainUnlessItChanged) {
    BmpDesc desc;
    desc.width = 4;
    desc.height = 2;
    desc.pixels.assign(24, 0x40);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        WriteFileBytes(dir_.file(name), BuildBmp(desc));
    WriteRegString("InitialDirectory", Folder());
    CMainForm form({}, SW_SHOWNORMAL);
    HWND list = form.fileView()->window();
    CImageForm& pane = *form.imagePane();
    auto preloaded = [&] {
        return pane.preloadImage()->path == dir_.file("b.bmp") && pane.preloadImage()->done;
    };
    ListView_SetItemState(list, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ASSERT_TRUE(PumpUntil(preloaded));
    // A late size of the new window would load it again; let that pass first.
    PumpFor(300);
    ASSERT_TRUE(PumpUntil(preloaded));
    CImage* shown = pane.currentImage();
    // The picture on screen keeps its load. (The neighbour may be loaded again on a busy
    // machine: a late size of the window reaches it only when it is next wanted.)
    const int32_t serial = shown->loadSerial;
    // The listing rebuilt and sorted the other way round selects a.bmp again.
    for (int command : {ID_REFRESH, ID_SORT_BY_TYPE}) {
        SCOPED_TRACE(command);
        list->SendMessage(WM_COMMAND, command, 0);
        PumpFor(50);
        EXPECT_EQ(pane.currentName(), dir_.file("a.bmp"));
        EXPECT_EQ(pane.currentImage(), shown);
        EXPECT_TRUE(shown->done);
        EXPECT_EQ(pane.preloadImage()->path, dir_.file("b.bmp"));
        EXPECT_EQ(shown->loadSerial, serial);
    }
    // Reload reads it again, and so does a refresh once the file has changed on disk.
    list->SendMessage(WM_COMMAND, ID_RELOAD, 0);
    ASSERT_TRUE(PumpUntil([&] { return pane.currentImage()->done.load(); }));
    EXPECT_NE(pane.currentImage()->loadSerial, serial);
    ASSERT_TRUE(PumpUntil(preloaded));
    desc.width = 8;
    desc.pixels.assign(48, 0x40);
    WriteFileBytes(dir_.file("a.bmp"), BuildBmp(desc));
    list->SendMessage(WM_COMMAND, ID_REFRESH, 0);
    ASSERT_TRUE(PumpUntil([&] { return pane.currentImage()->done.load(); }));
    EXPECT_EQ(pane.currentImage()->GetWidth(), 8);
}

TEST_F(MainCommandsTest, DeletingTheFileOnScreenShowsTheOneThatTakesItsPlace) {
    BmpDesc desc;
    desc.width = 4;
    desc.height = 2;
    desc.pixels.assign(24, 0x40);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        WriteFileBytes(dir_.file(name), BuildBmp(desc));
    WriteRegString("InitialDirectory", Folder());
    CMainForm form({}, SW_SHOWNORMAL);
    HWND list = form.fileView()->window();
    // Yes to every question.
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Yes)->click();
    });
    answer.start();
    // The file after it moves into its place; after the last file, the one before it.
    const struct {
        int row;
        const char* after;
    } steps[] = {{2, "c.bmp"}, {2, "a.bmp"}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.after);
        ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
        ListView_SetItemState(list, step.row, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        const std::string deleted = form.imagePane()->currentName();
        list->SendMessage(WM_COMMAND, ID_DELETE_SELECTED, 0);
        EXPECT_FALSE(std::filesystem::exists(deleted));
        EXPECT_EQ(form.imagePane()->currentName(), dir_.file(step.after));
        EXPECT_EQ(form.fileView()->CurrentFilePath(), dir_.file(step.after));
        EXPECT_EQ(ListView_GetSelectedCount(list), 1);
    }
}

TEST_F(MainCommandsTest, AFileRemovedSinceTheListingShowsAnEmptyPane) {
    BmpDesc desc;
    desc.width = 2;
    desc.height = 2;
    desc.pixels.assign(16, 0x40);
    for (const char* name : {"a.bmp", "b.bmp"}) WriteFileBytes(dir_.file(name), BuildBmp(desc));
    WriteRegString("InitialDirectory", Folder());
    CMainForm form({}, SW_SHOWNORMAL);
    std::filesystem::remove(dir_.file("b.bmp"));
    ListView_SetItemState(form.fileView()->window(), 2, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(form.imagePane()->currentName(), dir_.file("b.bmp"));
    PumpFor(100);
    EXPECT_EQ(form.imagePane()->currentImage()->GetWidth(), 0);
    // The next refresh lists what exists.
    form.window()->SendMessage(WM_KEYDOWN, VK_F5, 0);
    EXPECT_EQ(form.fileView()->fileEnd() - form.fileView()->folderCount(), 1);
}

TEST_F(MainCommandsTest, TheTrackbarsContextMenuChoosesTheAdjustTypeAndAppliesIt) {
    CMainForm form({}, SW_SHOWNORMAL);
    QWidget* slider = GetClientWidget(form.trackbar())->findChild<QWidget*>();
    ASSERT_NE(slider, nullptr);
    Strings texts;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* action : menu->actions()) texts.push_back(action->text().toStdString());
        for (int i = 0; i < 2; ++i) {
            QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
            QCoreApplication::sendEvent(menu, &down);
        }
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(menu, &enter);
    });
    const QPoint at(slider->width() / 2, slider->height() / 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, slider->mapToGlobal(at));
    QCoreApplication::sendEvent(slider, &event);
    EXPECT_EQ(texts, (Strings{"Percentage of window", "Percentage of image"}));
    ASSERT_TRUE(PumpUntil([] { return g_adjustType == 1; }, 2000));
    EXPECT_TRUE(IsMenuItemChecked(form.adjustMenu(), ID_ADJUST_OF_IMAGE));
    EXPECT_FALSE(IsMenuItemChecked(form.adjustMenu(), ID_ADJUST_OF_WINDOW));
    g_adjustType = 0;
}

}  // namespace

TEST_F(MainCommandsTest, FullscreenBrowsesTheFolderAndEscReturnsWithTheLastPictureSelected) {
    WriteFourSmallBmps();
    WriteRegString("InitialDirectory", Folder());
    CMainForm form({}, SW_SHOWNORMAL);
    HWND list = form.fileView()->window();
    CImageForm& pane = *form.imagePane();
    QWidget* frame = GetWindowWidget(form.window());
    frame->showNormal();
    frame->setGeometry(40, 30, 700, 500);
    PumpFor(20);
    const QRect windowed = frame->geometry();
    ListView_SetItemState(list, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ASSERT_EQ(pane.currentName(), dir_.file("a.bmp"));

    // A double-click in the pane goes fullscreen.
    pane.window()->SendMessage(WM_LBUTTONDBLCLK, 0, 0);
    ASSERT_TRUE(form.fullscreen());
    EXPECT_TRUE(pane.fullscreen());
    const RECT screen = GetScreenRect(form.window());
    RECT r{};
    GetWindowRect(pane.window(), &r);
    EXPECT_EQ(r.right - r.left, screen.right - screen.left);
    EXPECT_EQ(r.bottom - r.top, screen.bottom - screen.top);
    EXPECT_FALSE(IsWindowVisible(form.toolbar()));
    EXPECT_FALSE(IsWindowVisible(list));
    EXPECT_EQ(GetFocus(), pane.window());
    EXPECT_EQ(pane.fileList.size(), 4u);
    EXPECT_EQ(pane.currentIndex, 0);

    auto key = [&](QEvent::Type type, Qt::Key k) {
        QKeyEvent event(type, k, Qt::NoModifier);
        QCoreApplication::sendEvent(GetClientWidget(pane.window()), &event);
    };
    key(QEvent::KeyPress, Qt::Key_PageDown);
    key(QEvent::KeyPress, Qt::Key_PageDown);
    EXPECT_EQ(pane.currentName(), dir_.file("c.bmp"));
    // Delete relayed through the frame: gone from the file list too, the next picture shows.
    ASSERT_TRUE(PumpUntil([&] { return pane.currentImage()->done.load(); }));
    key(QEvent::KeyPress, Qt::Key_Delete);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("c.bmp")));
    EXPECT_EQ(form.fileView()->FindEntry(dir_.file("c.bmp"), CFileView::kFile), -1);
    EXPECT_EQ(pane.currentName(), dir_.file("d.bmp"));

    key(QEvent::KeyRelease, Qt::Key_Escape);
    ASSERT_FALSE(form.fullscreen());
    EXPECT_FALSE(pane.fullscreen());
    EXPECT_EQ(frame->geometry(), windowed);
    EXPECT_FALSE(frame->isFullScreen());
    EXPECT_TRUE(IsWindowVisible(form.toolbar()));
    EXPECT_TRUE(IsWindowVisible(list));
    EXPECT_EQ(form.fileView()->CurrentFilePath(), dir_.file("d.bmp"));
    EXPECT_EQ(form.fileView()->SelectedFileCount(), 1);
    EXPECT_EQ(GetMenuItemText(pane.imageMenu(), ID_FULLSCREEN), "Fullscreen");
    // Outside fullscreen the browsing keys belong to the file list, not the pane.
    pane.window()->SendMessage(WM_KEYDOWN, VK_HOME, 0);
    EXPECT_EQ(pane.currentName(), dir_.file("d.bmp"));
}

TEST_F(MainCommandsTest, InFullscreenTheTrackbarRidesTheAdjustBarWhichCtrlROrEscShowsAndHides) {
    WriteRegDword("AdjustVisible", 1);
    CMainForm form({}, SW_SHOWNORMAL);
    HWND bar = form.adjustBar();
    ASSERT_TRUE(GetWindowWidget(form.window())->isMaximized());
    EXPECT_EQ(GetWindowWidget(bar)->windowTitle().toStdString(), "Adjust resampling");
    EXPECT_TRUE(GetWindowWidget(bar)->windowFlags() & Qt::Tool);
    EXPECT_FALSE(IsWindowVisible(bar));
    EXPECT_EQ(GetParent(form.trackbar()), form.toolbar());

    form.window()->SendMessage(WM_COMMAND, ID_FULLSCREEN, 0);
    EXPECT_TRUE(IsWindowVisible(bar));
    EXPECT_EQ(GetParent(form.trackbar()), bar);
    EXPECT_TRUE(IsWindowVisible(form.trackbar()));
    EXPECT_FALSE(IsMenuItemEnabled(form.imagePane()->imageMenu(), ID_ADJUST_BAR));
    // The trackbar on the bar still reaches the image pane through the main window.
    Trackbar_SetPos(form.trackbar(), 40);
    Press(form, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(Trackbar_GetPos(form.trackbar()), 45);

    // Esc on the bar closes it like Ctrl+R, and the visibility goes with it.
    bar->SendMessage(WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(IsWindowVisible(bar));
    EXPECT_FALSE(form.adjustBarVisible());
    EXPECT_TRUE(IsMenuItemEnabled(form.imagePane()->imageMenu(), ID_ADJUST_BAR));
    form.window()->SendMessage(WM_COMMAND, ID_ADJUST_BAR, 0);
    EXPECT_TRUE(IsWindowVisible(bar));
    // Deactivating the application hides it; activating shows it again.
    form.window()->SendMessage(WM_ACTIVATEAPP, 0, 0);
    EXPECT_FALSE(IsWindowVisible(bar));
    form.window()->SendMessage(WM_ACTIVATEAPP, 1, 0);
    EXPECT_TRUE(IsWindowVisible(bar));

    form.window()->SendMessage(WM_COMMAND, ID_FULLSCREEN, 0);
    // A maximised window returns maximised.
    EXPECT_TRUE(GetWindowWidget(form.window())->isMaximized());
    EXPECT_FALSE(IsWindowVisible(bar));
    EXPECT_EQ(GetParent(form.trackbar()), form.toolbar());
    EXPECT_TRUE(IsWindowVisible(form.trackbar()));
    // Outside fullscreen Ctrl+R changes nothing.
    form.window()->SendMessage(WM_COMMAND, ID_ADJUST_BAR, 0);
    EXPECT_FALSE(IsWindowVisible(bar));
    EXPECT_TRUE(form.adjustBarVisible());
}

namespace {

// Notes, at each paint of the image pane, whether its picture was complete, and its width.
class PanePaints : public QObject {
public:
    explicit PanePaints(const CImageForm& pane) : pane_(pane) {
        GetClientWidget(pane.window())->installEventFilter(this);
    }
    std::vector<std::pair<bool, int32_t>> paints;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const CImage& image = *pane_.currentImage();
        if (event->type() == QEvent::Paint)
            paints.emplace_back(image.done && !image.IsLoading(), image.GetWidth());
        return false;
    }

private:
    const CImageForm& pane_;
};

// A folder of photos larger than any pane here, so that each switch sizes the picture anew; the
// window at 700 x 500 showing the first, complete.
void ShowFirstPhoto(const TempDir& dir, std::initializer_list<const char*> names,
                    std::unique_ptr<CMainForm>* form) {
    BmpDesc desc;
    desc.width = 1600;
    desc.height = 1200;
    desc.pixels.assign(static_cast<size_t>(desc.width) * 3 * desc.height, 0x80);
    for (const char* name : names) WriteFileBytes(dir.file(name), BuildBmp(desc));
    WriteRegString("InitialDirectory", dir.path().string() + "/");
    WriteRegDword("ImageResample", ID_RESAMPLE_BOTH);
    *form = std::make_unique<CMainForm>(Strings{}, SW_SHOWNORMAL);
    GetWindowWidget((*form)->window())->showNormal();
    GetWindowWidget((*form)->window())->setGeometry(40, 30, 700, 500);
    PumpFor(20);
    ListView_SetItemState((*form)->fileView()->window(), 1, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    PumpUntil([&] { return (*form)->imagePane()->currentImage()->done.load(); });
}

}  // namespace

TEST_F(MainCommandsTest, EachSwitchPaintsThePaneOnceWithThePictureAtItsNewSize) {
    std::unique_ptr<CMainForm> form;
    ShowFirstPhoto(dir_, {"a.bmp"}, &form);
    const CImage& image = *form->imagePane()->currentImage();
    ASSERT_TRUE(image.done);
    const int32_t windowedWidth = image.GetWidth();
    const RECT screen = GetScreenRect(form->window());
    // Fitted to the 800 x 600 screen, then back to the pane's width.
    for (const int32_t width : {static_cast<int32_t>(screen.right - screen.left), windowedWidth}) {
        PanePaints watch(*form->imagePane());
        form->window()->SendMessage(WM_COMMAND, ID_FULLSCREEN, 0);
        PumpFor(300);
        // Not the picture before scaled as a stand-in, nor rows arriving in bands.
        EXPECT_EQ(watch.paints, (std::vector<std::pair<bool, int32_t>>{{true, width}}));
    }
}

// A switch holds the event loop until its picture is ready; what the user typed meanwhile waits
// behind it and goes, as the window system delivers it, to the widget focused by then.
TEST_F(MainCommandsTest, KeysTypedDuringASwitchAreEachHandledOnceInTheModeTheyArriveIn) {
    std::unique_ptr<CMainForm> form;
    ShowFirstPhoto(dir_, {"a.bmp", "b.bmp", "c.bmp"}, &form);
    CImageForm& pane = *form->imagePane();
    ASSERT_TRUE(pane.currentImage()->done);
    const int32_t windowedWidth = pane.currentImage()->GetWidth();
    struct Key {
        QEvent::Type type;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* after;  // the mode and the picture on screen once the key is handled
    };
    // All typed at once: in; the picture there, complete since the switch waited for it, to the
    // trash; a step; out; in and out again; a step up in the file list.
    const Key keys[] = {
        {QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier, "fullscreen a.bmp"},
        {QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, "fullscreen b.bmp"},
        {QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier, "fullscreen c.bmp"},
        {QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier, "window c.bmp"},
        {QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier, "fullscreen c.bmp"},
        {QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier, "window c.bmp"},
        {QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, "window b.bmp"},
    };
    std::vector<std::string> seen;
    for (const Key& k : keys)
        QMetaObject::invokeMethod(
            qApp,
            [&, k] {
                QKeyEvent event(k.type, k.key, k.modifiers);
                if (QWidget* focus = QApplication::focusWidget())
                    QCoreApplication::sendEvent(focus, &event);
                seen.push_back(std::string(form->fullscreen() ? "fullscreen " : "window ") +
                               std::filesystem::path(pane.currentName()).filename().string());
            },
            Qt::QueuedConnection);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == std::size(keys); }));
    for (size_t i = 0; i < std::size(keys); ++i) EXPECT_EQ(seen[i], keys[i].after) << i;
    EXPECT_FALSE(std::filesystem::exists(dir_.file("a.bmp")));
    EXPECT_EQ(form->fileView()->SelectedFileCount(), 1);
    ASSERT_TRUE(PumpUntil([&] { return pane.currentImage()->done.load(); }));
    EXPECT_EQ(pane.currentImage()->GetWidth(), windowedWidth);
}

// Another program removes and renames files of the folder being browsed fullscreen: F5 lists it
// again, and the steps go through what is there.
TEST_F(MainCommandsTest, F5InFullscreenStepsThroughTheFilesThereNow) {
    WriteFourSmallBmps();
    WriteRegString("InitialDirectory", Folder());
    CMainForm form({}, SW_SHOWNORMAL);
    CImageForm& pane = *form.imagePane();
    PumpFor(20);
    ListView_SetItemState(form.fileView()->window(), 2, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    form.window()->SendMessage(WM_COMMAND, ID_FULLSCREEN, 0);
    ASSERT_EQ(pane.currentName(), dir_.file("b.bmp"));
    auto key = [&](Qt::Key k) {
        QKeyEvent event(QEvent::KeyPress, k, Qt::NoModifier);
        QCoreApplication::sendEvent(GetClientWidget(pane.window()), &event);
    };

    std::filesystem::remove(dir_.file("a.bmp"));
    std::filesystem::rename(dir_.file("d.bmp"), dir_.file("e.bmp"));
    key(Qt::Key_F5);
    EXPECT_EQ(pane.fileList, (Strings{dir_.file("b.bmp"), dir_.file("c.bmp"), dir_.file("e.bmp")}));
    EXPECT_EQ(pane.currentIndex, 0);
    EXPECT_EQ(pane.currentName(), dir_.file("b.bmp"));
    key(Qt::Key_End);
    EXPECT_EQ(pane.currentName(), dir_.file("e.bmp"));
    // The file on screen gone too: the one that took its place; the folder emptied: no step.
    std::filesystem::remove(dir_.file("e.bmp"));
    key(Qt::Key_F5);
    EXPECT_EQ(pane.currentIndex, 1);
    EXPECT_EQ(pane.currentName(), dir_.file("c.bmp"));
    for (const char* name : {"b.bmp", "c.bmp"}) std::filesystem::remove(dir_.file(name));
    key(Qt::Key_F5);
    EXPECT_TRUE(pane.fileList.empty());
    EXPECT_EQ(pane.currentIndex, -1);
    key(Qt::Key_PageDown);
    EXPECT_EQ(pane.currentIndex, -1);
}
