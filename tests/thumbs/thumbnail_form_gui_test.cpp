#include "thumbs/ui/thumbnail_form.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QTimer>
#include <map>

#include "app/ui/resources.h"
#include "image/image.h"
#include "platform/qt/list_view.h"
#include "settings/registry.h"
#include "support/bmp_builder.h"
#include "support/gui_app.h"
#include "support/recording_form.h"
#include "support/temp_dir.h"

namespace {

// Hands the list's messages to the pane, as the main window does.
struct PaneForwarder : CBaseForm {
    CThumbnailForm* pane = nullptr;
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        return pane ? pane->WindowProc(window, message, wParam, lParam)
                    : CallWindowProc(window, message, wParam, lParam);
    }
};

class ThumbnailFormTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        WriteRegString("CacheDir", "");
        WindowStyle style;
        style.topLevel = true;
        parent_ = CreateFormWindow(nullptr, nullptr, "test", style);
        SetWindowForm(AsHandle(parent_), &main_);
        list_ = CreateIconListView(AsHandle(parent_), CThumbnailForm::kSize);
        SetWindowForm(AsHandle(list_), &forwarder_);
        main_.handler = [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (message == WM_FILE_SELECTION)
                records_.push_back(*reinterpret_cast<const SelectionRecord*>(lParam));
            if (message == WM_NOTIFY) return AsHandle(list_)->SendMessage(message, wParam, lParam);
            return 0;
        };
        MoveWindow(AsHandle(parent_), 0, 0, 700, 400);
        MoveWindow(AsHandle(list_), 0, 0, 700, 400);
        ShowWindow(AsHandle(parent_), SW_SHOW);
        ShowWindow(AsHandle(list_), SW_SHOW);
    }
    void TearDown() override {
        pane_.reset();
        forwarder_.pane = nullptr;
    }

    void MakePane(int files) {
        std::vector<std::string> paths;
        BmpDesc desc;
        desc.width = 4;
        desc.height = 4;
        desc.pixels.assign(48, 0x60);
        for (int i = 0; i < files; ++i) {
            paths.push_back(dir_.file("f" + std::to_string(i) + ".bmp"));
            WriteFileBytes(paths.back(), BuildBmp(desc));
        }
        pane_ = std::make_unique<CThumbnailForm>(AsHandle(list_));
        forwarder_.pane = pane_.get();
        pane_->SetFolder(dir_.path().string() + "/", paths);
    }
    HWND list() { return AsHandle(list_); }
    POINT IconCentre(int item) {
        RECT r{};
        ListView_GetItemRect(list(), item, &r, LVIR_ICON);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }

    TempDir dir_;
    RecordingForm main_;
    PaneForwarder forwarder_;
    UniqueWindow parent_;
    UniqueWindow list_;
    std::unique_ptr<CThumbnailForm> pane_;
    std::vector<SelectionRecord> records_;
};

// Centred with the extra pixel of an odd remainder on the right and at the bottom; opaque over
// exactly the picture; a picture that could not be read leaves the entry transparent.
TEST_F(ThumbnailFormTest, ThumbnailsAreCentredAndOpaqueOverExactlyThePicture) {
    MakePane(0);
    struct Case {
        int w, h;
        QRect opaque;
    } cases[] = {{128, 100, QRect(0, 14, 128, 100)}, {101, 128, QRect(13, 0, 101, 128)},
                 {0, 0, QRect()}};
    for (const Case& c : cases) {
        CImage image;
        if (c.w > 0) {
            BmpDesc desc;
            desc.width = c.w;
            desc.height = c.h;
            desc.pixels.assign(static_cast<size_t>(((c.w * 3 + 3) / 4 * 4) * c.h), 0xC0);
            const std::string path = dir_.file("p.bmp");
            WriteFileBytes(path, BuildBmp(desc));
            image.LoadNow(path, 128, 128);
        }
        const QImage entry =
            pane_->images().Get(pane_->AddThumbnail(image)).pixmap(QSize(128, 128)).toImage();
        QRect seen;
        int opaque = 0;
        for (int y = 0; y < entry.height(); ++y)
            for (int x = 0; x < entry.width(); ++x)
                if (qAlpha(entry.pixel(x, y)) == 255) {
                    ++opaque;
                    seen |= QRect(x, y, 1, 1);
                    EXPECT_EQ(qRed(entry.pixel(x, y)), 0xC0);
                }
        EXPECT_EQ(seen, c.opaque) << c.w << "x" << c.h;
        EXPECT_EQ(opaque, c.opaque.width() * c.opaque.height());
    }
}

TEST_F(ThumbnailFormTest, SelectionIsRelayedOnceEachWayAndRecordsOfNoItemAreIgnored) {
    MakePane(30);
    // From the file list: selected and revealed here, not sent back.
    SelectionRecord outside{29, 1};
    list()->SendMessage(WM_FILE_SELECTION, 0, reinterpret_cast<LPARAM>(&outside));
    EXPECT_TRUE(ListView_GetItemState(list(), 29, LVIS_SELECTED));
    RECT r{}, client{};
    ListView_GetItemRect(list(), 29, &r, LVIR_ICON);
    GetClientRect(list(), &client);
    EXPECT_TRUE(r.top >= 0 && r.bottom <= client.bottom);
    EXPECT_TRUE(records_.empty());
    // Indexes the file list can send for folders and drives.
    for (int32_t index : {-1, -5, 30, 1000}) {
        SelectionRecord bad{index, 1};
        list()->SendMessage(WM_FILE_SELECTION, 0, reinterpret_cast<LPARAM>(&bad));
    }
    EXPECT_EQ(ListView_GetSelectedCount(list()), 1);
    // From here: once.
    ListView_SetItemState(list(), 3, LVIS_SELECTED, LVIS_SELECTED);
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_EQ(records_[0].fileIndex, 3);
    EXPECT_EQ(records_[0].selected, 1);
}

TEST_F(ThumbnailFormTest, DoubleClickAndEnterOpenTheItemArrowsDoNothing) {
    WriteRegDword("DoubleClickOpen", 2);
    MakePane(5);
    const POINT icon = IconCentre(1);
    list()->SendMessage(WM_LBUTTONDBLCLK, 0, MAKELPARAM(icon.x, icon.y));
    ASSERT_EQ(main_.Of(WM_SHOW_FILE).size(), 1u);
    EXPECT_EQ(main_.Of(WM_SHOW_FILE)[0].wParam, 2u);
    // Empty space opens nothing.
    list()->SendMessage(WM_LBUTTONDBLCLK, 0, MAKELPARAM(690, 390));
    EXPECT_EQ(main_.Of(WM_SHOW_FILE).size(), 1u);
    // Enter only while the focus item is selected.
    ListView_SetItemState(list(), 2, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list(), 2, 0, LVIS_SELECTED);
    list()->SendMessage(WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(main_.Of(WM_SHOW_FILE).size(), 1u);
    ListView_SetItemState(list(), 2, LVIS_SELECTED, LVIS_SELECTED);
    list()->SendMessage(WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(main_.Of(WM_SHOW_FILE).size(), 2u);
    // A real arrow key moves neither selection nor focus.
    auto* view = static_cast<QListView*>(GetClientWidget(list())->findChild<QListView*>());
    ASSERT_NE(view, nullptr);
    const QModelIndex before = view->currentIndex();
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &right);
    EXPECT_EQ(view->currentIndex(), before);
    EXPECT_EQ(ListView_GetSelectedCount(list()), 1);
    // The choice is written back as 1 or 2.
    list()->SendMessage(WM_COMMAND, 40004, 0);
    pane_.reset();
    forwarder_.pane = nullptr;
    EXPECT_EQ(ReadRegDword("DoubleClickOpen", 0), 1);
}

}  // namespace

namespace {

// The context menu's items as the user finds them at a client point: enabled, and checked.
struct MenuItems {
    std::map<int, bool> enabled, checked;
};
MenuItems ContextMenuAt(HWND list, POINT at) {
    MenuItems items;
    QTimer::singleShot(30, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        std::function<void(QMenu*)> read = [&](QMenu* m) {
            for (QAction* action : m->actions()) {
                if (action->menu()) read(action->menu());
                if (!action->data().isValid()) continue;
                items.enabled[action->data().toInt()] = action->isEnabled();
                items.checked[action->data().toInt()] = action->isChecked();
            }
        };
        read(menu);
        menu->close();
    });
    ClientToScreen(list, &at);
    list->SendMessage(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(at.x, at.y));
    return items;
}

TEST_F(ThumbnailFormTest, TheContextMenuGreysWhatHasNothingToActOn) {
    struct Case {
        bool onItem, selection, cache;
        int doubleClickOpen;
        // 40001 and 40002, 40003, 40020; 40005 checked (40004 the other way).
        bool show, make, remove, fullscreenChecked;
    } cases[] = {
        {true, false, false, 1, true, false, false, false},
        {false, true, true, 2, false, true, true, true},
        {true, true, true, 1, true, true, true, false},
        {false, false, false, 2, false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.onItem << c.selection << c.cache);
        pane_.reset();
        forwarder_.pane = nullptr;
        WriteRegString("CacheDir", c.cache ? dir_.file("cache") : "");
        WriteRegDword("DoubleClickOpen", c.doubleClickOpen);
        MakePane(3);
        // Away from the screen's origin, so that screen and client points differ.
        MoveWindow(AsHandle(parent_), 150, 120, 700, 400);
        ASSERT_EQ(pane_->cache()->IsAvailable(), c.cache);
        if (c.selection) ListView_SetItemState(list(), 2, LVIS_SELECTED, LVIS_SELECTED);
        const MenuItems items = ContextMenuAt(list(), c.onItem ? IconCentre(1) : POINT{690, 390});
        EXPECT_EQ(pane_->focusItem(), c.onItem ? 1 : -1);
        const std::map<int, bool> enabled = {
            {ID_SHOW_IN_WINDOW, c.show},    {ID_SHOW_FULLSCREEN, c.show},
            {ID_MAKE_THUMBNAILS, c.make},   {ID_DELETE_SELECTED, c.remove},
            {ID_DOUBLE_CLICK_WINDOW, true}, {ID_DOUBLE_CLICK_FULLSCREEN, true},
            {ID_THUMB_SETTINGS, true}};
        EXPECT_EQ(items.enabled, enabled);
        EXPECT_EQ(items.checked.at(ID_DOUBLE_CLICK_FULLSCREEN), c.fullscreenChecked);
        EXPECT_EQ(items.checked.at(ID_DOUBLE_CLICK_WINDOW), !c.fullscreenChecked);
    }
}

// Scrolled out of view and back, a thumbnail is drawn again from the picture already decoded,
// into an entry given back by the items that left the view: the image list does not grow, and
// no entry is held by two items or held and free at once (a picture decoded again for an item
// that shows one gives its old entry back exactly once).
TEST_F(ThumbnailFormTest, ScrollingBackReusesThePictureAndAFreedEntry) {
    MakePane(40);
    pane_->Activate();
    ASSERT_TRUE(PumpUntil([&] {
        if (pane_->loader().IsDecoding()) return false;
        for (int i = 0; i < 40; ++i)
            if (!pane_->loader().DecodedImage(i)) return false;
        return true;
    }));
    PumpFor(50);
    const CImage* first = pane_->loader().DecodedImage(0);
    const int entries = pane_->images().Count();
    ASSERT_GT(ListView_GetItemImage(list(), 0), 0);
    auto expectEntriesHeldOnce = [&] {
        std::map<int, int> uses;
        for (int i = 0; i < 40; ++i)
            if (const int entry = ListView_GetItemImage(list(), i); entry > 0) ++uses[entry];
        for (const int entry : pane_->freeImages()) ++uses[entry];
        for (const auto& [entry, count] : uses) EXPECT_EQ(count, 1) << "entry " << entry;
    };
    // A lower list gives entries back; a picture shown again then takes one of those and its
    // old entry goes to the end of the free ones.
    MoveWindow(AsHandle(list_), 0, 0, 700, 200);
    PumpFor(50);
    ASSERT_FALSE(pane_->freeImages().empty());
    pane_->ShowThumbnail(1, *pane_->loader().DecodedImage(1));
    expectEntriesHeldOnce();
    for (int round = 0; round < 2; ++round) {
        pane_->EnsureVisible(39);
        PumpFor(50);
        EXPECT_EQ(ListView_GetItemImage(list(), 0), 0);
        expectEntriesHeldOnce();
        pane_->EnsureVisible(0);
        PumpFor(50);
        expectEntriesHeldOnce();
    }
    EXPECT_GT(ListView_GetItemImage(list(), 0), 0);
    EXPECT_EQ(pane_->loader().DecodedImage(0), first);
    EXPECT_EQ(pane_->images().Count(), entries);
}

}  // namespace
