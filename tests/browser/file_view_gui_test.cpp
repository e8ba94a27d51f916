#include "browser/file_view.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <fstream>

#include "app/ui/resources.h"
#include "browser/file_view_fixture.h"
#include "settings/helpers.h"
#include "settings/registry.h"

namespace {

using Strings = std::vector<std::string>;

TEST_F(FileViewTest, ListsParentFoldersAndImageFilesInTheirOrderAndKinds) {
    for (const char* folder : {"b", "A", ".git"}) MakeFolder(folder);
    for (const char* file : {"b.jpg", "A.jpg", "a2.jpg", ".hidden.png", "x.JPG", "y.jpeg", "z.tiff",
                             "jpg", "c.Tif", "d.bmp", "notes.txt"})
        Touch(file);
    std::filesystem::create_symlink(dir_.file("d.bmp"), dir_.file("link.png"));
    std::filesystem::create_directory_symlink(dir_.file("b"), dir_.file("lf"));
    ASSERT_EQ(mkfifo(dir_.file("pipe.jpg").c_str(), 0600), 0);
    Open(Folder());

    EXPECT_EQ(Entries(), (Strings{"..", "A", "b", "lf", ".hidden.png", "A.jpg", "a2.jpg", "b.jpg",
                                  "c.Tif", "d.bmp", "link.png", "x.JPG"}));
    EXPECT_EQ(view_->folderCount(), 4);
    EXPECT_EQ(Kind(0), CFileView::kParent);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(Kind(i), CFileView::kFolder);
    for (int i = 4; i < view_->fileEnd(); ++i) EXPECT_EQ(Kind(i), CFileView::kFile);
    // The drives follow, "/" among them; every entry ends there.
    ASSERT_LT(view_->fileEnd(), ListView_GetItemCount(list()));
    EXPECT_EQ(Kind(view_->fileEnd()), CFileView::kDrive);
    EXPECT_NE(IndexOf("/"), -1);
    EXPECT_EQ(Title(), "Lumora  -  [" + dir_.path().string() + "]");
    EXPECT_EQ(main_.Of(WM_FOLDER_CHANGED).size(), 1u);
    // The first entry is selected and focused.
    EXPECT_EQ(Selected(), std::vector<int>{0});
    EXPECT_EQ(ListView_GetItemState(list(), 0, LVIS_FOCUSED), LVIS_FOCUSED);
}

TEST_F(FileViewTest, TheRootHasNoParentEntryAndKeepsItsSlashInTheTitle) {
    Open("/");
    EXPECT_NE(Kind(0), CFileView::kParent);
    EXPECT_EQ(IndexOf(".."), -1);
    EXPECT_EQ(Title(), "Lumora  -  [/]");
}

TEST_F(FileViewTest, SortByTypeGroupsTheTypesAndEitherSortCommandFlipsTheOrder) {
    for (const char* file :
         {"b.gif", "a.bmp", "C.BMP", "a.png", "z.cur", "k.ico", "j.jp2", "h.jpg", "e.tif"})
        Touch(file);
    Open(Folder());
    EXPECT_EQ(Entries(), (Strings{"..", "a.bmp", "a.png", "b.gif", "C.BMP", "e.tif", "h.jpg",
                                  "j.jp2", "k.ico", "z.cur"}));
    EXPECT_TRUE(IsMenuItemChecked(view_->contextMenu(), ID_SORT_BY_NAME));
    // "Sort by name" while sorted by name sorts by type.
    list()->SendMessage(WM_COMMAND, ID_SORT_BY_NAME, 0);
    EXPECT_EQ(view_->sortType(), 1);
    EXPECT_EQ(Entries(), (Strings{"..", "a.bmp", "C.BMP", "z.cur", "b.gif", "k.ico", "j.jp2",
                                  "h.jpg", "a.png", "e.tif"}));
    EXPECT_TRUE(IsMenuItemChecked(view_->contextMenu(), ID_SORT_BY_TYPE));
    EXPECT_FALSE(IsMenuItemChecked(view_->contextMenu(), ID_SORT_BY_NAME));
    view_.reset();
    EXPECT_EQ(ReadRegDword("SortingType", 0), 1);
    WriteRegDword("SortingType", 0);
}

TEST_F(FileViewTest, SelectingFilesShowsThemWithTheNeighbourInTheDirectionOfTravel) {
    MakeFolder("f");
    for (const char* file : {"a.jpg", "b.jpg", "c.jpg"}) Touch(file);
    Open(Folder());
    ASSERT_TRUE(view_->SelectFile(dir_.file("a.jpg"), CFileView::kFile));
    Key(VK_DOWN);
    Key(VK_UP);
    EXPECT_EQ(shown_, (Strings{dir_.file("a.jpg"), dir_.file("b.jpg"), dir_.file("a.jpg")}));
    // Forward the next file is pre-loaded; going back the one before, and past a folder the
    // one on the other side.
    EXPECT_EQ(neighbours_, (Strings{dir_.file("b.jpg"), dir_.file("c.jpg"), dir_.file("b.jpg")}));
    // Selection records: a.jpg selected, then lost and b.jpg gained, and back.
    ASSERT_GE(records_.size(), 5u);
    const SelectionRecord& lost = records_[records_.size() - 2];
    EXPECT_EQ(lost.fileIndex, 1);
    EXPECT_EQ(lost.selected, 0);
    EXPECT_EQ(records_.back().fileIndex, 0);
    EXPECT_EQ(records_.back().selected, 1);
    // Showing a file adds its folder to the history once.
    EXPECT_EQ(view_->history(), Strings{Folder()});
    std::vector<std::string> files;
    int32_t position = -2;
    view_->GetFileList(&files, &position);
    EXPECT_EQ(files, (Strings{dir_.file("a.jpg"), dir_.file("b.jpg"), dir_.file("c.jpg")}));
    EXPECT_EQ(position, 0);
}

TEST_F(FileViewTest, RefreshSelectsTheSameFileAgainOrTheFirstEntryWhenItHasGone) {
    for (const char* file : {"b.jpg", "c.jpg"}) Touch(file);
    Open(Folder());
    ASSERT_TRUE(view_->SelectFile(dir_.file("c.jpg"), CFileView::kFile));
    const size_t shownBefore = shown_.size();
    Touch("a.jpg");
    Key(VK_F5);
    EXPECT_EQ(Selected(), std::vector<int>{IndexOf("c.jpg")});
    EXPECT_EQ(view_->currentEntry(), IndexOf("c.jpg"));
    EXPECT_EQ(shown_.size(), shownBefore);  // a refresh does not load the image again
    std::filesystem::remove(dir_.file("c.jpg"));
    Key(VK_F5);
    EXPECT_EQ(Selected(), std::vector<int>{0});
}

TEST_F(FileViewTest, EnterOpensFoldersAndTheParentEntrySelectsTheFolderLeft) {
    MakeFolder("sub/inner");
    MakeFolder("other");
    Open(Folder() + "sub/");
    EXPECT_EQ(Entries(), (Strings{"..", "inner"}));
    Key(VK_RETURN);  // ".." is selected
    EXPECT_EQ(view_->CurrentFolder(), Folder());
    EXPECT_EQ(Selected(), std::vector<int>{IndexOf("sub")});
    EXPECT_EQ(Title(), "Lumora  -  [" + dir_.path().string() + "]");
    Key(VK_RETURN);
    EXPECT_EQ(view_->CurrentFolder(), Folder() + "sub/");
    // A drive entry opens its root.
    ListView_SetItemState(list(), -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list(), IndexOf("/"), LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    Key(VK_RETURN);
    EXPECT_EQ(view_->CurrentFolder(), "/");
}

TEST_F(FileViewTest, TheWheelOverTheImageStepsOnceAWholeStepHasAddedUp) {
    for (const char* file : {"a.jpg", "b.jpg", "c.jpg"}) Touch(file);
    Open(Folder());
    ASSERT_TRUE(view_->SelectFile(dir_.file("a.jpg"), CFileView::kFile));
    RECT r{};
    GetWindowRect(list(), &r);
    const LPARAM right = MAKELPARAM(r.right + 40, r.top + 10);
    list()->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), right);
    PumpFor(50);
    EXPECT_EQ(view_->CurrentFilePath(), dir_.file("b.jpg"));
    list()->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, -60), right);
    PumpFor(50);
    EXPECT_EQ(view_->CurrentFilePath(), dir_.file("b.jpg"));
    list()->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, -60), right);
    PumpFor(50);
    EXPECT_EQ(view_->CurrentFilePath(), dir_.file("c.jpg"));
    list()->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, 2 * WHEEL_DELTA), right);
    PumpFor(50);
    EXPECT_EQ(view_->CurrentFilePath(), dir_.file("a.jpg"));
    // Over the list itself the wheel scrolls and selects nothing.
    list()->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA),
                        MAKELPARAM(r.left + 5, r.top + 5));
    PumpFor(50);
    EXPECT_EQ(view_->CurrentFilePath(), dir_.file("a.jpg"));
}

TEST_F(FileViewTest, DraggingTheRightEdgeMovesTheSplitterAndNarrowsTheColumn) {
    Open(Folder());
    RECT client{};
    GetClientRect(list(), &client);
    const int edge = client.right - 3;
    list()->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(edge, 20));
    EXPECT_EQ(GetClassCursor(list())->shape(), Qt::SizeHorCursor);
    list()->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(edge, 20));
    list()->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(edge - 40, 20));
    list()->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(edge - 30, 20));
    list()->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(edge - 30, 20));
    const auto moves = main_.Of(WM_SPLITTER_MOVED);
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(static_cast<intptr_t>(moves[0].wParam), -40);
    EXPECT_EQ(static_cast<intptr_t>(moves[1].wParam), 10);
    // Narrowing narrows the column at once; widening leaves it to the next size.
    EXPECT_EQ(ListView_GetColumnWidth(list()), client.right - 40);
    EXPECT_EQ(GetClassCursor(list())->shape(), Qt::ArrowCursor);
    EXPECT_EQ(GetCapture(), nullptr);
    list()->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
    EXPECT_EQ(main_.Of(WM_SPLITTER_MOVED).size(), 2u);
}

TEST_F(FileViewTest, APressOnAnEntryDraggedOverTheEdgeDoesNotMoveTheSplitter) {
    Touch("a.jpg");
    Open(Folder());
    RECT client{};
    GetClientRect(list(), &client);
    const int edge = client.right - 3;
    list()->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(20, 5));
    list()->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 5));
    for (int x : {edge - 20, edge, edge + 1, edge + 30})
        list()->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, 5));
    list()->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(edge + 30, 5));
    EXPECT_TRUE(main_.Of(WM_SPLITTER_MOVED).empty());
    EXPECT_EQ(ListView_GetColumnWidth(list()), client.right);
}

// Answers the next message box with the button, and counts the boxes and their texts.
struct BoxAnswer {
    explicit BoxAnswer(QMessageBox::StandardButton button) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            ++count;
            text = box->text().toStdString();
            title = box->windowTitle().toStdString();
            icon = box->icon();
            box->button(button)->click();
        });
        timer.start();
    }
    QTimer timer;
    int count = 0;
    std::string text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

TEST_F(FileViewTest, DeleteAsksOnceAndMovesTheSelectedFilesToTheTrash) {
    MakeFolder("keep");
    for (const char* file : {"a.jpg", "b.jpg", "c.jpg"}) Touch(file);
    Open(Folder());
    const int a = IndexOf("a.jpg");
    ListView_SetItemState(list(), a, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list(), a + 2, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list(), IndexOf("keep"), LVIS_SELECTED, LVIS_SELECTED);
    {
        BoxAnswer no(QMessageBox::No);
        list()->SendMessage(WM_COMMAND, ID_DELETE_SELECTED, 0);
        EXPECT_EQ(no.count, 1);
    }
    EXPECT_TRUE(PathExists(dir_.file("a.jpg")));
    const size_t refreshes = main_.Of(WM_FOLDER_CHANGED).size();
    BoxAnswer yes(QMessageBox::Yes);
    list()->SendMessage(WM_COMMAND, ID_DELETE_SELECTED, 0);
    EXPECT_EQ(yes.count, 1);
    EXPECT_EQ(yes.text, "Are you sure you wan't to delete these files.");
    EXPECT_EQ(yes.title, "Lumora");
    EXPECT_EQ(yes.icon, QMessageBox::Question);
    EXPECT_FALSE(PathExists(dir_.file("a.jpg")));
    EXPECT_FALSE(PathExists(dir_.file("c.jpg")));
    EXPECT_TRUE(PathExists(dir_.file("b.jpg")));
    EXPECT_TRUE(IsDirectory(dir_.file("keep")));
    const std::string trash = std::string(getenv("XDG_DATA_HOME")) + "/Trash/files/";
    EXPECT_TRUE(PathExists(trash + "a.jpg"));
    EXPECT_TRUE(PathExists(trash + "c.jpg"));
    // One rebuild, through F5 at the main window.
    EXPECT_EQ(main_.Of(WM_FOLDER_CHANGED).size(), refreshes + 1);
    EXPECT_EQ(Entries(), (Strings{"..", "keep", "b.jpg"}));
}

// Runs the list's context menu at an entry, or below the last one, and reads its items.
std::map<int, bool> MenuStates(HWND list, POINT at) {
    std::map<int, bool> enabled;
    QTimer::singleShot(30, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* action : menu->actions())
            if (action->data().isValid()) enabled[action->data().toInt()] = action->isEnabled();
        menu->close();
    });
    ClientToScreen(list, &at);
    list->SendMessage(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(at.x, at.y));
    return enabled;
}

TEST_F(FileViewTest, TheContextMenuGreysReloadOffTheEntriesAndDeleteWithoutFiles) {
    MakeFolder("f");
    Touch("a.jpg");
    Open(Folder());
    RECT item{};
    ListView_GetItemRect(list(), 0, &item);
    auto states = MenuStates(list(), POINT{item.left + 5, item.top + 3});
    EXPECT_TRUE(states[ID_RELOAD]);
    EXPECT_FALSE(states[ID_DELETE_SELECTED]);  // only ".." is selected
    states = MenuStates(list(), POINT{item.left + 5, 390});
    EXPECT_FALSE(states[ID_RELOAD]);
    view_->SelectFile(dir_.file("a.jpg"), CFileView::kFile);
    states = MenuStates(list(), POINT{item.left + 5, item.top + 3});
    EXPECT_TRUE(states[ID_DELETE_SELECTED]);
    view_->SetThumbnailsShown(true);
    states = MenuStates(list(), POINT{item.left + 5, item.top + 3});
    EXPECT_FALSE(states[ID_RELOAD]);
}

// A right-click as the desktop sends it: press and release of the right button on the list.
void RightClick(HWND list, int row) {
    RECT item{};
    ListView_GetItemRect(list, row, &item);
    QWidget* viewport = GetClientWidget(list)->findChild<QListView*>()->viewport();
    const QPointF at(item.left + 5, item.top + 3);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::RightButton,
                          type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &event);
    }
}

TEST_F(FileViewTest, ARightClickKeepsASelectionItFallsInAndSelectsAnEntryOutsideIt) {
    for (const char* file : {"a.jpg", "b.jpg", "c.jpg"}) Touch(file);
    Open(Folder());
    const int a = IndexOf("a.jpg");
    ListView_SetItemState(list(), 0, 0, LVIS_SELECTED);
    ListView_SetItemState(list(), a, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list(), a + 2, LVIS_SELECTED, LVIS_SELECTED);
    RightClick(list(), a + 2);
    EXPECT_EQ(Selected(), (std::vector<int>{a, a + 2}));
    EXPECT_EQ(view_->SelectedFileCount(), 2);
    // The same message from the frame's own window procedure, as tests and menus send it.
    RECT item{};
    ListView_GetItemRect(list(), a, &item);
    list()->SendMessage(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(item.left + 5, item.top + 3));
    EXPECT_EQ(Selected(), (std::vector<int>{a, a + 2}));
    RightClick(list(), a + 1);
    EXPECT_EQ(Selected(), std::vector<int>{a + 1});
    EXPECT_EQ(view_->CurrentFilePath(), dir_.file("b.jpg"));
}

TEST_F(FileViewTest, NamesThatAreNotUtf8KeepTheirBytes) {
    const std::string name = "\xff\xfe-photo.jpg";
    Touch(name);
    Open(Folder());
    ASSERT_NE(IndexOf(name), -1);
    ASSERT_TRUE(view_->SelectFile(dir_.file(name), CFileView::kFile));
    ASSERT_FALSE(shown_.empty());
    EXPECT_EQ(shown_.back(), dir_.file(name));
    EXPECT_TRUE(PathExists(shown_.back()));
}

TEST_F(FileViewTest, AFolderThatWentAwayListsOnlyTheWayOut) {
    MakeFolder("gone");
    Touch("gone/a.jpg");
    Open(Folder() + "gone/");
    std::filesystem::remove_all(dir_.path() / "gone");
    Key(VK_F5);
    EXPECT_EQ(Entries(), Strings{".."});
    EXPECT_EQ(Kind(1), CFileView::kDrive);
}

TEST_F(FileViewTest, AFileRemovedByTheImagePaneLeavesTheDriveEntriesTheirLabels) {
    for (const char* file : {"a.jpg", "b.jpg"}) Touch(file);
    Open(Folder());
    const int drives = view_->fileEnd();
    list()->SendMessage(WM_FILE_DELETED, 0, 0);
    EXPECT_EQ(Entries(), (Strings{"..", "b.jpg"}));
    EXPECT_EQ(view_->fileEnd(), drives - 1);
    EXPECT_EQ(Kind(view_->fileEnd()), CFileView::kDrive);
    // An index past the files removes nothing.
    list()->SendMessage(WM_FILE_DELETED, 5, 0);
    EXPECT_EQ(Kind(view_->fileEnd()), CFileView::kDrive);
}

TEST_F(FileViewTest, DriveLabelsArriveFromTheWorkerAndTheDriveOpensAtItsRoot) {
    TempDir labels;
    MakeFolder("mnt");
    const std::string device = dir_.file("device");
    Touch("device");
    std::filesystem::create_symlink(device, labels.file("Holiday\\x20Pictures"));
    const std::string table = dir_.file("mountinfo");
    std::ofstream(table) << "21 1 0:20 / / rw - ext4 /dev/root rw\n"
                         << "30 21 0:44 / " << dir_.path().string() << "/mnt rw - ext4 " << device
                         << " rw\n"
                         << "31 21 0:45 / /mnt/x rw - tmpfs tmpfs rw\n";
    view_ = std::make_unique<CFileView>(top());
    view_->SetMountTable(table);
    view_->SetLabelsFolder(labels.path().string());
    MoveWindow(list(), 0, 0, 200, 400);
    ShowWindow(list(), SW_SHOW);
    view_->OpenStartFolder("/");
    // Outside the places drives are mounted in, a mount is no drive.
    EXPECT_EQ(view_->drives(), (Strings{"/"}));
    std::ofstream(table) << "21 1 0:20 / / rw - ext4 /dev/root rw\n"
                         << "40 21 0:44 / /media/photo\\040disk rw - vfat " << device << " rw\n"
                         << "41 21 0:45 / /mnt/x rw - tmpfs tmpfs rw\n";
    Key(VK_F5);
    EXPECT_EQ(view_->drives(), (Strings{"/", "/media/photo disk/"}));
    const std::string labelled = "/media/photo disk/ - Holiday Pictures";
    ASSERT_TRUE(PumpUntil([&] { return IndexOf(labelled) != -1; }));
    EXPECT_EQ(view_->drives()[1], labelled);
    ListView_SetItemState(list(), IndexOf(labelled), LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    Key(VK_RETURN);
    EXPECT_EQ(view_->CurrentFolder(), "/media/photo disk/");
    // A notice of an older job changes nothing.
    list()->SendMessage(WM_DRIVE_LABEL, 0, static_cast<LPARAM>(view_->jobGeneration() - 1));
    EXPECT_EQ(view_->drives()[0], "/");
}

TEST_F(FileViewTest, AVanishedHistoryFolderSaysSoAndKeepsTheListing) {
    MakeFolder("one");
    MakeFolder("two");
    Touch("one/a.jpg");
    Touch("two/b.jpg");
    Open(Folder() + "one/");
    view_->SelectFile(Folder() + "one/a.jpg", CFileView::kFile);
    view_->ClearSelection();
    view_->SelectFile(Folder() + "one", CFileView::kParent);
    ListView_SetItemState(list(), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    Key(VK_RETURN);
    view_->ClearSelection();
    view_->SelectFile(Folder() + "two", CFileView::kFolder);
    Key(VK_RETURN);
    view_->SelectFile(Folder() + "two/b.jpg", CFileView::kFile);
    ASSERT_EQ(view_->HistoryCount(), 2);
    std::filesystem::remove_all(dir_.path() / "one");
    BoxAnswer ok(QMessageBox::Ok);
    view_->HistoryBack(1);
    EXPECT_EQ(ok.count, 1);
    EXPECT_EQ(ok.text, "The directory: \"" + Folder() + "one/\" doesn't exist.");
    EXPECT_EQ(ok.title, "Lumora");
    EXPECT_EQ(ok.icon, QMessageBox::Critical);
    EXPECT_EQ(view_->CurrentFolder(), Folder() + "two/");
    EXPECT_EQ(Entries(), (Strings{"..", "b.jpg"}));
}

TEST_F(FileViewTest, FiftyThousandFilesAreAllListed) {
    for (int i = 0; i < 50000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%05d.jpg", i);
        Touch(name);
    }
    Open(Folder());
    EXPECT_EQ(view_->fileEnd() - view_->folderCount(), 50000);
    EXPECT_EQ(ListView_GetItemText(list(), view_->fileEnd() - 1), "f49999.jpg");
    // One icon lookup for the one extension.
    EXPECT_EQ(view_->icons().lookups(), 1);
}

}  // namespace
