#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <filesystem>

#include "app/ui/main_form.h"
#include "app/ui/resources.h"
#include "platform/qt/list_view.h"
#include "settings/helpers.h"
#include "settings/registry.h"
#include "support/bmp_builder.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"

namespace {

using Strings = std::vector<std::string>;

// Sits in front of the main window's form and counts the selection records the thumbnail pane
// sends it.
struct FrameTap : CBaseForm {
    CMainForm* form = nullptr;
    int fromPane = 0;
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_FILE_SELECTION &&
            wParam == reinterpret_cast<WPARAM>(form->thumbnailList()))
            ++fromPane;
        return form->WindowProc(window, message, wParam, lParam);
    }
};

// Answers the next message box with the button, and keeps what it asked.
struct BoxAnswer {
    explicit BoxAnswer(QMessageBox::StandardButton button) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            ++count;
            text = box->text().toStdString() + "|" + box->windowTitle().toStdString();
            icon = box->icon();
            box->button(button)->click();
        });
        timer.start();
    }
    QTimer timer;
    int count = 0;
    std::string text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class MainThumbnailsTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        std::filesystem::remove(SettingsFilePath());
        BmpDesc desc;
        desc.width = 4;
        desc.height = 2;
        desc.pixels.assign(24, 0x40);
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
            WriteFileBytes(dir_.file(name), BuildBmp(desc));
        WriteRegString("InitialDirectory", dir_.path().string() + "/");
        WriteRegDword("ShowThumbnails", 1);
        form_ = std::make_unique<CMainForm>(Strings{}, SW_SHOWNORMAL);
        tap_.form = form_.get();
        SetWindowForm(form_->window(), &tap_);
    }
    void TearDown() override {
        SetWindowForm(form_->window(), form_.get());
        form_.reset();
    }
    HWND thumbs() const { return form_->thumbnailList(); }
    HWND files() const { return form_->fileView()->window(); }
    int Entry(const char* name) const {
        return form_->fileView()->FindEntry(dir_.file(name), CFileView::kFile);
    }
    void SelectThumbnail(int item) {
        ListView_SetItemState(thumbs(), -1, 0, LVIS_SELECTED);
        ListView_SetItemState(thumbs(), item, LVIS_SELECTED, LVIS_SELECTED);
    }

    TempDir dir_;
    FrameTap tap_;
    std::unique_ptr<CMainForm> form_;
};

TEST_F(MainThumbnailsTest, TheFrameRelaysSelectionFolderAndBackgroundToTheShownPane) {
    CThumbnailForm& pane = *form_->thumbnailPane();
    // "ShowThumbnails" 1: the pane in the image's place at start, making thumbnails.
    ASSERT_TRUE(form_->thumbnailsShown());
    EXPECT_TRUE(IsWindowVisible(thumbs()));
    EXPECT_FALSE(IsWindowVisible(form_->imagePane()->window()));
    EXPECT_TRUE(pane.loader().IsActive());
    EXPECT_EQ(pane.files(), (Strings{dir_.file("a.bmp"), dir_.file("b.bmp"), dir_.file("c.bmp")}));

    // From the file list: the same item here; nothing decodes behind the thumbnails.
    ListView_SetItemState(files(), Entry("b.bmp"), LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(ListView_GetItemState(thumbs(), 1, LVIS_SELECTED), LVIS_SELECTED);
    EXPECT_EQ(ListView_GetSelectedCount(thumbs()), 1);
    EXPECT_TRUE(form_->imagePane()->currentName().empty());
    EXPECT_EQ(tap_.fromPane, 0);
    // From the pane: the file list follows, and the record went out once.
    ListView_SetItemState(thumbs(), 2, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(ListView_GetItemState(files(), Entry("c.bmp"), LVIS_SELECTED), LVIS_SELECTED);
    EXPECT_EQ(tap_.fromPane, 1);
    ListView_SetItemState(thumbs(), 2, 0, LVIS_SELECTED);
    EXPECT_EQ(ListView_GetItemState(files(), Entry("c.bmp"), LVIS_SELECTED), 0u);
    EXPECT_EQ(tap_.fromPane, 2);

    form_->window()->SendMessage(WM_BACKGROUND_CHANGED, 0x00123456, 0);
    EXPECT_EQ(ListView_GetBkColor(thumbs()), 0x00123456u);

    // The folder listed again with a new file: the pane lists it and makes its thumbnail.
    WriteFileBytes(dir_.file("d.bmp"), ReadFileBytes(dir_.file("a.bmp")));
    form_->window()->SendMessage(WM_KEYDOWN, VK_F5, 0);
    EXPECT_EQ(ListView_GetItemCount(thumbs()), 4);
    EXPECT_EQ(pane.files().back(), dir_.file("d.bmp"));
    EXPECT_TRUE(pane.loader().IsActive());
    EXPECT_TRUE(PumpUntil([&] { return pane.loader().DecodedImage(3) != nullptr; }, 5000));
}

TEST_F(MainThumbnailsTest, ThePaneOpensItsItemInTheWindowOrFullscreen) {
    CThumbnailForm& pane = *form_->thumbnailPane();
    ASSERT_TRUE(form_->thumbnailsShown());
    // "Show in window" on the item right-clicked, as the desktop delivers it, while another
    // is selected: the thumbnails give way to the image pane with the item's file.
    SelectThumbnail(0);
    RECT item{};
    ListView_GetItemRect(thumbs(), 1, &item, LVIR_ICON);
    QWidget* viewport = GetClientWidget(thumbs())->findChild<QListView*>()->viewport();
    const QPoint at((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent click(type, QPointF(at), QPointF(viewport->mapToGlobal(at)), Qt::RightButton,
                          type == QEvent::MouseButtonPress ? Qt::RightButton : Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &click);
    }
    QTimer::singleShot(30, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* action : menu->actions())
            if (action->data().toInt() == ID_SHOW_IN_WINDOW) menu->setActiveAction(action);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(menu, &enter);
    });
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QCoreApplication::sendEvent(viewport, &menu);
    ASSERT_TRUE(PumpUntil([&] { return !form_->thumbnailsShown(); }, 5000));
    EXPECT_FALSE(IsWindowVisible(thumbs()));
    EXPECT_TRUE(IsWindowVisible(form_->imagePane()->window()));
    EXPECT_EQ(form_->imagePane()->currentName(), dir_.file("b.bmp"));
    EXPECT_FALSE(pane.loader().IsActive());

    // Show fullscreen: over everything, the thumbnails still on when it ends.
    form_->window()->SendMessage(WM_COMMAND, ID_THUMBNAILS, 0);
    ASSERT_TRUE(form_->thumbnailsShown());
    EXPECT_TRUE(pane.loader().IsActive());
    SelectThumbnail(2);
    thumbs()->SendMessage(WM_COMMAND, ID_SHOW_FULLSCREEN, 0);
    EXPECT_TRUE(form_->fullscreen());
    EXPECT_EQ(form_->imagePane()->currentName(), dir_.file("c.bmp"));
    EXPECT_TRUE(IsWindowVisible(form_->imagePane()->window()));
    EXPECT_FALSE(IsWindowVisible(thumbs()));
    EXPECT_FALSE(pane.loader().IsActive());
    form_->window()->SendMessage(WM_KEYUP, VK_ESCAPE, 0);
    EXPECT_FALSE(form_->fullscreen());
    EXPECT_TRUE(form_->thumbnailsShown());
    EXPECT_TRUE(IsWindowVisible(thumbs()));
    EXPECT_TRUE(pane.loader().IsActive());
    EXPECT_EQ(form_->fileView()->CurrentFilePath(), dir_.file("c.bmp"));
}

// "Delete selected" asks first; Yes sends the chosen files to the trash, and the file list and
// the pane list what is left.
TEST_F(MainThumbnailsTest, DeleteSelectedAsksThenTrashesAndBothListsFollow) {
    CThumbnailForm& pane = *form_->thumbnailPane();
    ListView_SetItemState(thumbs(), 0, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(thumbs(), 2, LVIS_SELECTED, LVIS_SELECTED);
    {
        BoxAnswer no(QMessageBox::No);
        thumbs()->SendMessage(WM_COMMAND, ID_DELETE_SELECTED, 0);
        EXPECT_EQ(no.count, 1);
        EXPECT_EQ(no.text, "Are you sure you wan't to delete these files.|Lumora");
        EXPECT_EQ(no.icon, QMessageBox::Question);
    }
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) EXPECT_TRUE(PathExists(dir_.file(name)));
    EXPECT_EQ(ListView_GetItemCount(thumbs()), 3);

    BoxAnswer yes(QMessageBox::Yes);
    thumbs()->SendMessage(WM_COMMAND, ID_DELETE_SELECTED, 0);
    EXPECT_EQ(yes.count, 1);
    const std::string trash = std::string(getenv("XDG_DATA_HOME")) + "/Trash/files/";
    for (const char* name : {"a.bmp", "c.bmp"}) {
        EXPECT_FALSE(PathExists(dir_.file(name))) << name;
        EXPECT_TRUE(PathExists(trash + name)) << name;
    }
    EXPECT_TRUE(PathExists(dir_.file("b.bmp")));
    EXPECT_EQ(pane.files(), Strings{dir_.file("b.bmp")});
    EXPECT_EQ(ListView_GetItemCount(thumbs()), 1);
    EXPECT_EQ(form_->fileView()->fileEnd() - form_->fileView()->folderCount(), 1);
    EXPECT_EQ(Entry("a.bmp"), -1);
}

// Folders switched, the pane toggled and the window closed while decodes and the cache probe run:
// nothing hangs or touches freed memory, and the pane still finishes its folder.
TEST_F(MainThumbnailsTest, SwitchingTogglingAndClosingWhileThumbnailsAreMadeEndCleanly) {
    BmpDesc desc;
    desc.width = 300;
    desc.height = 200;
    desc.pixels.assign(180000, 0x50);
    const std::string bmp = BuildBmp(desc);
    std::filesystem::create_directory(dir_.path() / "sub");
    for (int i = 0; i < 30; ++i) {
        WriteFileBytes(dir_.file("p" + std::to_string(i) + ".bmp"), bmp);
        WriteFileBytes(dir_.file("sub/q" + std::to_string(i) + ".bmp"), bmp);
    }
    CThumbnailForm& pane = *form_->thumbnailPane();
    ASSERT_TRUE(pane.cache()->IsAvailable());
    auto open = [&](int entry) {
        ListView_SetItemState(files(), -1, 0, LVIS_SELECTED);
        ListView_SetItemState(files(), entry, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        NMHDR notice{files(), 0, NM_RETURN};
        files()->SendMessage(WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notice));
    };
    form_->window()->SendMessage(WM_KEYDOWN, VK_F5, 0);
    for (int round = 0; round < 6; ++round) {
        open(form_->fileView()->FindEntry(dir_.file("sub"), CFileView::kFolder));
        ASSERT_EQ(pane.files().size(), 30u);
        PumpFor(round);
        form_->window()->SendMessage(WM_COMMAND, ID_THUMBNAILS, 0);
        form_->window()->SendMessage(WM_COMMAND, ID_THUMBNAILS, 0);
        open(0);  // the parent entry
        PumpFor(round);
        form_->window()->SendMessage(WM_KEYDOWN, VK_F5, 0);
    }
    ASSERT_EQ(form_->currentFolder(), dir_.path().string() + "/");
    ASSERT_TRUE(form_->thumbnailsShown());
    EXPECT_TRUE(PumpUntil([&] {
        for (int32_t i = 0; i < ListView_GetItemCount(thumbs()); ++i)
            if (!pane.loader().DecodedImage(i)) return false;
        return true;
    }));
    // Closed in the middle of the next listing's decodes and probe.
    form_->window()->SendMessage(WM_KEYDOWN, VK_F5, 0);
    EXPECT_TRUE(pane.loader().IsDecoding());
}

}  // namespace
