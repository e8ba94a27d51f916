#include <gtest/gtest.h>

#include <QPixmap>

#include "platform/qt/list_view.h"
#include "support/gui_app.h"
#include "support/recording_form.h"

namespace {

// The icon rectangle is kept per item size, not laid out per item: it must still be where the
// style draws the icon (which hit testing asks the style for) in every row, scrolled, and once
// the cells change size.
TEST(IconListTest, IconRectanglesAgreeWithHitTestingInEveryRowScrolledAndAfterNewSpacing) {
    GuiApp();
    RecordingForm mainForm;
    WindowStyle style;
    style.topLevel = true;
    UniqueWindow parent = CreateFormWindow(&mainForm, nullptr, "test", style);
    SetWindowForm(AsHandle(parent), &mainForm);
    UniqueWindow list = CreateIconListView(AsHandle(parent), 128);
    HWND view = AsHandle(list);
    QPixmap picture(128, 128);
    picture.fill(Qt::red);
    CImageList images;
    images.Add(QIcon(picture));
    ListView_SetImageList(view, &images);
    ListView_SetIconSpacing(view, 148, 161);
    for (int i = 0; i < 80; ++i) ListView_InsertItem(view, i, "item " + std::to_string(i), 0, 0);
    MoveWindow(AsHandle(parent), 0, 0, 700, 500);
    MoveWindow(view, 0, 0, 700, 500);
    ShowWindow(AsHandle(parent), SW_SHOW);
    ShowWindow(view, SW_SHOW);
    PumpFor(20);

    auto check = [&](int item, const char* when) {
        RECT r{};
        ASSERT_TRUE(ListView_GetItemRect(view, item, &r, LVIR_ICON)) << when;
        EXPECT_EQ(r.right - r.left, 128) << when;
        EXPECT_EQ(r.bottom - r.top, 128) << when;
        const int middle = (r.top + r.bottom) / 2;
        for (POINT inside : {POINT{r.left, r.top}, POINT{r.right - 1, r.bottom - 1}})
            EXPECT_EQ(ListView_HitTest(view, inside), item) << when << " item " << item;
        // Beside the icon, still in the item's cell: neither icon nor text.
        for (POINT beside : {POINT{r.left - 1, middle}, POINT{r.right, middle}})
            EXPECT_EQ(ListView_HitTest(view, beside), -1) << when << " item " << item;
    };
    check(0, "first row");
    check(5, "first row");
    check(9, "second row");
    ListView_EnsureVisible(view, 70);
    PumpFor(20);
    check(70, "scrolled");
    ListView_SetIconSpacing(view, 220, 200);
    ListView_EnsureVisible(view, 3);
    PumpFor(20);
    check(3, "wider cells");
    check(4, "wider cells");
}

}  // namespace
