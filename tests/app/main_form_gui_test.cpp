#include "app/ui/main_form.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/core/start_path.h"
#include "image/loader.h"
#include "platform/qt/list_view.h"
#include "platform/qt/toolbar.h"
#include "app/ui/resources.h"
#include "settings/helpers.h"
#include "settings/registry.h"
#include "support/bmp_builder.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

std::string SettingsText() {
    std::ifstream in(SettingsFilePath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value names in the settings file, in file order.
std::vector<std::string> SettingNames() {
    std::vector<std::string> names;
    std::istringstream lines(SettingsText());
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 1 && line[0] == '"')
            names.push_back(line.substr(1, line.find('"', 1) - 1));
    return names;
}

std::string SmallBmp() {
    BmpDesc desc;
    desc.width = 4;
    desc.height = 2;
    desc.pixels.assign(24, 0x80);
    return BuildBmp(desc);
}

class MainFormTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        std::filesystem::remove(SettingsFilePath());
    }
    void TearDown() override { std::filesystem::current_path(dir_.path().parent_path()); }
    std::string Folder() const { return dir_.path().string() + "/"; }

    TempDir dir_;
};

TEST_F(MainFormTest, StartsMaximisedWithToolbarFileListAndImagePaneLaidOut) {
    CMainForm form({}, SW_SHOWNORMAL);
    QWidget* frame = GetWindowWidget(form.window());
    EXPECT_TRUE(frame->isMaximized());
    EXPECT_EQ(frame->windowTitle().toStdString(), "Lumora  -  [" + HomeFolder().substr(0, HomeFolder().size() - 1) + "]");
    RECT client{}, bar{}, list{}, pane{};
    GetClientRect(form.window(), &client);
    const int h = Toolbar_GetButtonHeight(form.toolbar());
    ASSERT_GT(h, 0);
    auto placed = [&](HWND w) {
        RECT r{};
        GetWindowRect(w, &r);
        POINT origin{0, 0};
        ClientToScreen(form.window(), &origin);
        return RECT{r.left - origin.x, r.top - origin.y, r.right - origin.x, r.bottom - origin.y};
    };
    bar = placed(form.toolbar());
    list = placed(form.fileView()->window());
    pane = placed(form.imagePane()->window());
    EXPECT_EQ(bar.top, 0);
    EXPECT_EQ(bar.bottom, h + 5);
    EXPECT_EQ(bar.right, client.right);
    EXPECT_EQ(list.left, 0);
    EXPECT_EQ(list.top, h + 5);
    EXPECT_EQ(list.right, 150);
    EXPECT_EQ(list.bottom, client.bottom);
    EXPECT_EQ(pane.left, 150);
    EXPECT_EQ(pane.top, h + 5);
    EXPECT_EQ(pane.right, client.right);
    EXPECT_TRUE(IsWindowVisible(form.imagePane()->window()));
    // The trackbar sits after the About button.
    RECT about{}, track{};
    Toolbar_GetRect(form.toolbar(), ID_ABOUT, &about);
    track = placed(form.trackbar());
    EXPECT_EQ(track.left - bar.left, about.right + 4);
    EXPECT_EQ(track.top - bar.top, 2);
    EXPECT_EQ(track.right - track.left, 150);
    // The file list takes the keyboard focus once the window is active.
    QWidget* focus = GetWindowWidget(form.window())->focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(GetWindowWidget(form.fileView()->window())->isAncestorOf(focus));
}

TEST_F(MainFormTest, SettingsAreWrittenAtExitInTheirOrder) {
    { CMainForm form({}, SW_SHOWNORMAL); }
    const std::vector<std::string> expected = {
        "InitialDirectory", "ImageResample", "AdjustVisible", "FileViewWidth",
        "ShowThumbnails",   "AdjustType",    "Upscale",       "BackgroundColor", "SortingType",
        "DoubleClickOpen"};
    EXPECT_EQ(SettingNames(), expected);
    EXPECT_EQ(ReadRegString("InitialDirectory", ""), HomeFolder());
    EXPECT_EQ(ReadRegDword("ImageResample", 0), ID_RESAMPLE_NONE);
    EXPECT_EQ(ReadRegDword("FileViewWidth", 0), 150);
    EXPECT_EQ(ReadRegDword("Upscale", -1), 0);
}

TEST_F(MainFormTest, StoredSettingsAreAppliedAndWrittenBack) {
    WriteRegDword("AdjustType", 1);
    WriteRegDword("ImageResample", ID_RESAMPLE_HORIZONTAL);
    WriteRegDword("Upscale", 7);
    WriteRegDword("AdjustVisible", 5);
    WriteRegDword("FileViewWidth", 222);
    WriteRegDword("ShowThumbnails", 1);
    WriteRegString("InitialDirectory", Folder());
    {
        CMainForm form({}, SW_SHOWNORMAL);
        EXPECT_TRUE(IsMenuItemChecked(form.adjustMenu(), ID_ADJUST_OF_IMAGE));
        EXPECT_FALSE(IsMenuItemChecked(form.adjustMenu(), ID_ADJUST_OF_WINDOW));
        HMENU imageMenu = form.imagePane()->imageMenu();
        EXPECT_TRUE(IsMenuItemChecked(imageMenu, ID_RESAMPLE_HORIZONTAL));
        EXPECT_TRUE(IsMenuItemChecked(imageMenu, ID_UPSCALE));
        EXPECT_EQ(form.currentFolder(), Folder());
        EXPECT_TRUE(form.startFile().empty());
    }
    EXPECT_EQ(ReadRegDword("AdjustType", 0), 1);
    EXPECT_EQ(ReadRegDword("ImageResample", 0), ID_RESAMPLE_HORIZONTAL);
    EXPECT_EQ(ReadRegDword("Upscale", 0), 1);
    EXPECT_EQ(ReadRegDword("AdjustVisible", 0), 1);
    EXPECT_EQ(ReadRegDword("FileViewWidth", 0), 222);
    EXPECT_EQ(ReadRegDword("ShowThumbnails", 0), 1);
    EXPECT_EQ(ReadRegString("InitialDirectory", ""), Folder());
    // A stored id that is no resample command selects mode None and is kept as it was.
    WriteRegDword("ImageResample", 12345);
    { CMainForm form({}, SW_SHOWNORMAL); }
    EXPECT_EQ(ReadRegDword("ImageResample", 0), 12345);
    g_adjustType = 0;
}

TEST_F(MainFormTest, AStartFileOpensItsFolderAndIsShownSoonAfter) {
    WriteFileBytes(dir_.file("pic.bmp"), SmallBmp());
    WriteRegDword("ShowThumbnails", 1);
    std::filesystem::current_path(dir_.path());
    const int32_t loadsBefore = PeekLoadSerialCounter();
    {
        CMainForm form({"./sub/../pic.bmp"}, SW_SHOWNORMAL);
        EXPECT_EQ(form.startFile(), dir_.file("pic.bmp"));
        EXPECT_EQ(form.currentFolder(), Folder());
        // The window is on screen before the start file is selected and shown; its decode has
        // begun meanwhile, in the pane's pre-load image.
        EXPECT_TRUE(GetWindowWidget(form.window())->isVisible());
        EXPECT_TRUE(form.imagePane()->currentName().empty());
        EXPECT_EQ(form.imagePane()->preloadImage()->path, dir_.file("pic.bmp"));
        EXPECT_EQ(PeekLoadSerialCounter(), loadsBefore + 1);
        EXPECT_EQ(ListView_GetSelectedCount(form.fileView()->window()), 1);
        EXPECT_EQ(ListView_GetItemState(form.fileView()->window(), 0, LVIS_SELECTED),
                  LVIS_SELECTED);
        ASSERT_TRUE(
            PumpUntil([&] { return form.imagePane()->currentName() == dir_.file("pic.bmp"); }));
        // Shown through the file browser, which selected it: the one selection, decoded once,
        // by the load begun before the window was shown.
        EXPECT_EQ(form.fileView()->CurrentFilePath(), dir_.file("pic.bmp"));
        EXPECT_EQ(ListView_GetSelectedCount(form.fileView()->window()), 1);
        EXPECT_EQ(PeekLoadSerialCounter(), loadsBefore + 1);
    }
    // A start path shows no thumbnails for this run, and that is what is stored.
    EXPECT_EQ(ReadRegDword("ShowThumbnails", 1), 0);
    EXPECT_EQ(ReadRegString("InitialDirectory", ""), Folder());
}

TEST_F(MainFormTest, HiddenThumbnailsAreGivenTheFolderListedLastWhenTheyAreShown) {
    std::filesystem::create_directory(dir_.path() / "b");
    WriteFileBytes(dir_.file("a.bmp"), SmallBmp());
    WriteFileBytes(dir_.file("b/b1.bmp"), SmallBmp());
    WriteFileBytes(dir_.file("b/b2.bmp"), SmallBmp());
    WriteRegString("InitialDirectory", Folder());
    CMainForm form({}, SW_SHOWNORMAL);
    // Hidden, they are not listed (nor probed in the cache) at start.
    EXPECT_EQ(ListView_GetItemCount(form.thumbnailList()), 0);
    form.window()->SendMessage(WM_COMMAND, ID_THUMBNAILS, 0);
    EXPECT_EQ(ListView_GetItemCount(form.thumbnailList()), 1);
    form.window()->SendMessage(WM_COMMAND, ID_THUMBNAILS, 0);
    // A folder opened while they are hidden is theirs once they are shown again.
    ASSERT_TRUE(form.fileView()->SelectFile(Folder() + "b", CFileView::kFolder));
    NMHDR open{form.fileView()->window(), 0, NM_RETURN};
    form.window()->SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&open));
    ASSERT_EQ(form.currentFolder(), Folder() + "b/");
    form.window()->SendMessage(WM_COMMAND, ID_THUMBNAILS, 0);
    EXPECT_EQ(ListView_GetItemCount(form.thumbnailList()), 2);
}

TEST_F(MainFormTest, AFolderOrSeveralWordsShowNothingAndAnOldDriveRootMeansHome) {
    std::filesystem::create_directory(dir_.path() / "inner");
    {
        CMainForm form({dir_.file("inner")}, SW_SHOWNORMAL);
        EXPECT_EQ(form.currentFolder(), Folder() + "inner/");
        PumpFor(400);
        EXPECT_TRUE(form.imagePane()->currentName().empty());
        // The listing's own selection stays, as it does for a file that is not there.
        EXPECT_EQ(ListView_GetSelectedCount(form.fileView()->window()), 1);
        EXPECT_EQ(ListView_GetItemState(form.fileView()->window(), 0, LVIS_SELECTED),
                  LVIS_SELECTED);
    }
    {
        CMainForm form({dir_.file("missing.bmp")}, SW_SHOWNORMAL);
        EXPECT_EQ(form.currentFolder(), Folder());
        PumpFor(400);
        EXPECT_EQ(ListView_GetItemState(form.fileView()->window(), 0, LVIS_SELECTED),
                  LVIS_SELECTED);
    }
    WriteRegString("InitialDirectory", "C:\\");
    {
        CMainForm form({dir_.file("inner"), "second"}, SW_SHOWNORMAL);
        EXPECT_TRUE(form.startFile().empty());
        EXPECT_EQ(form.currentFolder(), HomeFolder());
    }
}

TEST_F(MainFormTest, CloseEndsTheMessageLoopAndTheKeyboardTableReachesTheFrame) {
    CMainForm form({}, SW_SHOWNORMAL);
    QKeyEvent ctrlB(QEvent::KeyPress, Qt::Key_B, Qt::ControlModifier);
    QCoreApplication::sendEvent(GetClientWidget(form.imagePane()->window()), &ctrlB);
    EXPECT_EQ(form.resampleCommand(), ID_RESAMPLE_BOTH);
    EXPECT_TRUE(IsMenuItemChecked(form.imagePane()->imageMenu(), ID_RESAMPLE_BOTH));

    bool closed = false;
    QTimer::singleShot(20, [&] {
        closed = true;
        GetWindowWidget(form.window())->close();  // the close button
    });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(closed);
}

// The program itself, asked to end by a signal as at logout or with Ctrl+C.
TEST_F(MainFormTest, TheProgramEndsNormallyOnTerminationSignalsAndWritesItsSettings) {
    const std::string image = dir_.file("pic.bmp");
    WriteFileBytes(image, SmallBmp());
    const std::string log = dir_.file("stderr.txt");
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        std::filesystem::remove(SettingsFilePath());
        std::filesystem::remove(log);
        const std::string binary = LUMORA_BINARY_PATH;
        char* argv[] = {const_cast<char*>(binary.c_str()), const_cast<char*>(image.c_str()),
                        nullptr};
        // The paint log says when the start file is on screen: by then the loop runs.
        setenv("LUMORA_PAINT_LOG", "1", 1);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        unsetenv("LUMORA_PAINT_LOG");
        ASSERT_EQ(spawned, 0);
        // (The start file may be decoded whole before it is shown: no progress is then told.)
        for (int i = 0; i < 600 && ReadFileBytes(log).find("lumora-show") == std::string::npos;
             ++i)
            usleep(50 * 1000);
        kill(pid, sig);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(ReadRegString("InitialDirectory", ""), Folder());
        EXPECT_EQ(SettingNames().size(), 11u);  // the folder viewed went into the history
    }
}

}  // namespace
