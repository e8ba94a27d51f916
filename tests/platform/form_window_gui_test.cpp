#include "platform/qt/form_window.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <atomic>
#include <thread>

#include "image/image.h"
#include "platform/qt/accelerators.h"
#include "platform/qt/dialogs.h"
#include "platform/qt/menu.h"
#include "platform/qt/paint.h"
#include "platform/qt/quit_signals.h"
#include "platform/thread.h"
#include "support/gui_app.h"
#include "support/recording_form.h"

namespace {

class FormWindowTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        SetScrollBarExtent(17);
        WindowStyle style;
        style.topLevel = true;
        top_ = CreateFormWindow(&topForm_, nullptr, "test", style);
        SetWindowForm(AsHandle(top_), &topForm_);
        MoveWindow(AsHandle(top_), 0, 0, 640, 480);
        child_ = CreateFormWindow(&childForm_, AsHandle(top_), "", WindowStyle{});
        SetWindowForm(AsHandle(child_), &childForm_);
        MoveWindow(AsHandle(child_), 0, 0, 400, 300);
        ShowWindow(AsHandle(child_), SW_SHOW);
    }
    void TearDown() override { SetScrollBarExtent(0); }

    HWND top() { return AsHandle(top_); }
    HWND child() { return AsHandle(child_); }
    QWidget* client() { return GetClientWidget(child()); }

    RecordingForm topForm_;
    RecordingForm childForm_;
    UniqueWindow top_;
    UniqueWindow child_;
};

TEST_F(FormWindowTest, PostedMessagesArriveOnTheGuiThreadInOrderPerSender) {
    childForm_.messages.clear();
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([this, t] {
            for (int i = 0; i < 50; ++i) child()->PostMessage(WM_USER + 50, t, i);
        });
    }
    for (std::thread& w : workers) w.join();
    ASSERT_TRUE(PumpUntil([&] { return childForm_.Of(WM_USER + 50).size() == 200; }));
    std::vector<int> next(4, 0);
    for (const auto& m : childForm_.Of(WM_USER + 50)) {
        EXPECT_TRUE(m.onGuiThread);
        EXPECT_EQ(m.lParam, next[m.wParam]++);
    }
}

TEST_F(FormWindowTest, AWorkersSendIsAnsweredWhileTheGuiThreadWaitsForThatWorker) {
    childForm_.handler = [](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        return message == WM_USER + 7 ? static_cast<LRESULT>(wParam * 2) : 0;
    };
    std::atomic<int> sum{0};
    CWorkerThread worker;
    worker.Start(
        [&] {
            for (int i = 1; i <= 3; ++i)
                sum +=
                    static_cast<int>(child()->SendMessage(WM_USER + 7, static_cast<WPARAM>(i), 0));
        },
        THREAD_PRIORITY_NORMAL);
    // No event loop runs here: the wait itself must answer the sends, or this never returns.
    worker.WaitUntilStopped();
    EXPECT_EQ(sum.load(), 12);
    const auto sent = childForm_.Of(WM_USER + 7);
    ASSERT_EQ(sent.size(), 3u);
    for (const auto& m : sent) EXPECT_TRUE(m.onGuiThread);
}

TEST_F(FormWindowTest, ASendToAWindowThatGoesAwayReturnsZero) {
    RecordingForm form;
    UniqueWindow doomed = CreateFormWindow(&form, nullptr, "", WindowStyle{});
    SetWindowForm(AsHandle(doomed), &form);
    HWND handle = AsHandle(doomed);
    std::atomic<bool> queued{false};
    LRESULT result = -1;
    std::thread worker([&] {
        queued = true;
        result = handle->SendMessage(WM_USER + 8, 0, 0);
    });
    while (!queued) std::this_thread::yield();
    usleep(50000);
    doomed.reset();
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(form.Of(WM_USER + 8).empty());
}

TEST_F(FormWindowTest, MessagesToAWindowWithoutWidgetsAreDroppedAndTheirRecordsFreed) {
    RecordingForm form;
    UniqueWindow window = CreateFormWindow(&form, nullptr, "", WindowStyle{});
    SetWindowForm(AsHandle(window), &form);
    // Queued before the widgets go and after: both are dropped, and the progress records they
    // carry are freed (the sanitizer build reports a leak otherwise).
    AsHandle(window)->PostMessage(WM_IMAGE_PROGRESS, 0,
                                  reinterpret_cast<LPARAM>(new ProgressRecord{1, 2}));
    DestroyWindow(AsHandle(window));
    EXPECT_FALSE(IsWindow(AsHandle(window)));
    AsHandle(window)->PostMessage(WM_IMAGE_PROGRESS, 0,
                                  reinterpret_cast<LPARAM>(new ProgressRecord{3, 4}));
    EXPECT_EQ(AsHandle(window)->SendMessage(WM_USER + 9, 0, 0), 0);
    PumpFor(20);
    EXPECT_TRUE(form.Of(WM_IMAGE_PROGRESS).empty());
    EXPECT_TRUE(form.Of(WM_USER + 9).empty());
}

TEST_F(FormWindowTest, ScrollBarsShowWhileTheRangeExceedsThePageAndTakeFromTheClientArea) {
    SCROLLINFO info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = 999;
    info.nPage = 300;
    info.nPos = 5000;
    // The position stays within the range minus the page.
    EXPECT_EQ(SetScrollInfo(child(), SB_VERT, info, true), 700);
    RECT r{};
    GetClientRect(child(), &r);
    EXPECT_EQ(r.right, 400 - 17);
    EXPECT_EQ(r.bottom, 300);

    info.nMax = 299;  // range no larger than the page: hidden again
    SetScrollInfo(child(), SB_VERT, info, true);
    GetClientRect(child(), &r);
    EXPECT_EQ(r.right, 400);

    info.nMax = 1999;
    info.nPage = 400;
    info.nPos = 100;
    SetScrollInfo(child(), SB_HORZ, info, true);
    SCROLLINFO read;
    read.fMask = SIF_ALL;
    ASSERT_TRUE(GetScrollInfo(child(), SB_HORZ, &read));
    EXPECT_EQ(read.nMin, 0);
    EXPECT_EQ(read.nMax, 1999);
    EXPECT_EQ(read.nPage, 400u);
    EXPECT_EQ(read.nPos, 100);
    GetClientRect(child(), &r);
    EXPECT_EQ(r.bottom, 300 - 17);
    // Bars change the client area without a size message; the window's own size sends one.
    EXPECT_TRUE(childForm_.Of(WM_SIZE).size() == 1);
    MoveWindow(child(), 0, 0, 500, 300);
    ASSERT_EQ(childForm_.Of(WM_SIZE).size(), 2u);
    EXPECT_EQ(childForm_.Of(WM_SIZE).back().lParam, MAKELPARAM(500, 300 - 17));
    MoveWindow(child(), 10, 10, 500, 300);
    EXPECT_EQ(childForm_.Of(WM_SIZE).size(), 2u);
}

TEST_F(FormWindowTest, ScrollBarActionsBecomeScrollMessagesAndTheFormKeepsThePosition) {
    SCROLLINFO info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMax = 999;
    info.nPage = 300;
    info.nPos = 200;
    SetScrollInfo(child(), SB_VERT, info, true);
    QScrollBar* bar = nullptr;
    for (QScrollBar* b : GetWindowWidget(child())->findChildren<QScrollBar*>())
        if (b->orientation() == Qt::Vertical) bar = b;
    ASSERT_NE(bar, nullptr);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    const auto scrolls = childForm_.Of(WM_VSCROLL);
    ASSERT_EQ(scrolls.size(), 3u);
    EXPECT_EQ(LOWORD(scrolls[0].wParam), SB_PAGEDOWN);
    EXPECT_EQ(LOWORD(scrolls[1].wParam), SB_LINEUP);
    EXPECT_EQ(LOWORD(scrolls[2].wParam), SB_TOP);
    // The form did not move the bar, so it stays where the form put it.
    EXPECT_EQ(bar->value(), 200);
}

TEST_F(FormWindowTest, KeysMouseAndWheelArriveAsDesktopMessages) {
    QKeyEvent pageDown(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    QCoreApplication::sendEvent(client(), &pageDown);
    QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
    QCoreApplication::sendEvent(client(), &f5);
    QKeyEvent escUp(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(client(), &escUp);
    const auto downs = childForm_.Of(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), 2u);
    EXPECT_EQ(downs[0].wParam, VK_NEXT);
    EXPECT_EQ(downs[1].wParam, VK_F5);
    ASSERT_EQ(childForm_.Of(WM_KEYUP).size(), 1u);
    EXPECT_EQ(childForm_.Of(WM_KEYUP)[0].wParam, VK_ESCAPE);
    EXPECT_NE(static_cast<uint32_t>(childForm_.Of(WM_KEYUP)[0].lParam) & 0x80000000u, 0u);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 20), QPointF(110, 120), Qt::LeftButton,
                      Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(client(), &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(-3, 25), QPointF(97, 125), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(client(), &move);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(12, 22), QPointF(112, 122),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(client(), &release);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(12, 22), QPointF(112, 122),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(client(), &doubleClick);

    ASSERT_EQ(childForm_.Of(WM_LBUTTONDOWN).size(), 2u);  // this window asked for no double-clicks
    EXPECT_EQ(childForm_.Of(WM_LBUTTONDOWN)[0].wParam, MK_LBUTTON | MK_SHIFT);
    EXPECT_EQ(childForm_.Of(WM_LBUTTONDOWN)[0].lParam, MAKELPARAM(10, 20));
    const auto moves = childForm_.Of(WM_MOUSEMOVE);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(GET_X_LPARAM(moves[0].lParam), -3);
    EXPECT_EQ(LOWORD(static_cast<uintptr_t>(moves[0].lParam)), 0xFFFD);
    EXPECT_EQ(childForm_.Of(WM_LBUTTONUP).size(), 1u);
    EXPECT_TRUE(childForm_.Of(WM_LBUTTONDBLCLK).empty());

    QWheelEvent wheel(QPointF(5, 5), QPointF(105, 105), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(client(), &wheel);
    ASSERT_EQ(childForm_.Of(WM_MOUSEWHEEL).size(), 1u);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(childForm_.Of(WM_MOUSEWHEEL)[0].wParam), -120);
    EXPECT_EQ(LOWORD(childForm_.Of(WM_MOUSEWHEEL)[0].wParam), MK_CONTROL);
    EXPECT_EQ(childForm_.Of(WM_MOUSEWHEEL)[0].lParam, MAKELPARAM(105, 105));

    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(4, 6), QPoint(304, 206));
    QCoreApplication::sendEvent(client(), &menu);
    ASSERT_EQ(childForm_.Of(WM_CONTEXTMENU).size(), 1u);
    EXPECT_EQ(childForm_.Of(WM_CONTEXTMENU)[0].lParam, MAKELPARAM(304, 206));
}

TEST_F(FormWindowTest, DoubleClicksArriveAsSuchWhenTheWindowAsksForThem) {
    RecordingForm form;
    WindowStyle style;
    style.doubleClicks = true;
    UniqueWindow window = CreateFormWindow(&form, top(), "", style);
    SetWindowForm(AsHandle(window), &form);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(1, 2), QPointF(1, 2),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(GetClientWidget(AsHandle(window)), &doubleClick);
    ASSERT_EQ(form.Of(WM_LBUTTONDBLCLK).size(), 1u);
    EXPECT_EQ(form.Of(WM_LBUTTONDBLCLK)[0].lParam, MAKELPARAM(1, 2));
}

TEST_F(FormWindowTest, TimersDeliverTheirIdUntilKilled) {
    SetTimer(child(), 7, 5);
    ASSERT_TRUE(PumpUntil([&] { return childForm_.Of(WM_TIMER).size() >= 2; }));
    for (const auto& m : childForm_.Of(WM_TIMER)) EXPECT_EQ(m.wParam, 7u);
    KillTimer(child(), 7);
    const size_t count = childForm_.Of(WM_TIMER).size();
    PumpFor(60);
    EXPECT_EQ(childForm_.Of(WM_TIMER).size(), count);
}

TEST_F(FormWindowTest, TheCloseButtonAsksTheFormWhichDecidesWhatClosingMeans) {
    ShowWindow(top(), SW_SHOW);
    topForm_.handler = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        return m == WM_CLOSE ? 0 : DefWindowProc(w, m, wp, lp);
    };
    GetWindowWidget(top())->close();
    EXPECT_EQ(topForm_.Of(WM_CLOSE).size(), 1u);
    EXPECT_TRUE(IsWindowVisible(top()));
    // Left to the default, closing hides the window.
    topForm_.handler = nullptr;
    GetWindowWidget(top())->close();
    EXPECT_EQ(topForm_.Of(WM_CLOSE).size(), 2u);
    EXPECT_FALSE(IsWindowVisible(top()));
}

TEST_F(FormWindowTest, TerminationSignalsCloseTheWindowThroughItsEventLoop) {
    CQuitSignals quit(top());
    kill(getpid(), SIGTERM);
    ASSERT_TRUE(PumpUntil([&] { return topForm_.Of(WM_CLOSE).size() == 1; }));
    kill(getpid(), SIGINT);
    ASSERT_TRUE(PumpUntil([&] { return topForm_.Of(WM_CLOSE).size() == 2; }));
}

TEST_F(FormWindowTest, TheKeyboardTableTurnsKeysAnywhereInTheWindowIntoCommands) {
    CAcceleratorTable table(top(),
                            {{FVIRTKEY | FCONTROL, 'N', 40012}, {FVIRTKEY | FSHIFT, VK_LEFT, 7}});
    QKeyEvent ctrlN(QEvent::KeyPress, Qt::Key_N, Qt::ControlModifier);
    QCoreApplication::sendEvent(client(), &ctrlN);
    QKeyEvent shiftLeft(QEvent::KeyPress, Qt::Key_Left, Qt::ShiftModifier);
    QCoreApplication::sendEvent(client(), &shiftLeft);
    QKeyEvent plainN(QEvent::KeyPress, Qt::Key_N, Qt::NoModifier);
    QCoreApplication::sendEvent(client(), &plainN);
    const auto commands = topForm_.Of(WM_COMMAND);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].wParam, MAKEWPARAM(40012, 1));
    EXPECT_EQ(commands[1].wParam, MAKEWPARAM(7, 1));
    // Only the key without an entry reaches the window it was typed in.
    ASSERT_EQ(childForm_.Of(WM_KEYDOWN).size(), 1u);
    EXPECT_EQ(childForm_.Of(WM_KEYDOWN)[0].wParam, static_cast<WPARAM>('N'));
}

TEST_F(FormWindowTest, MenuItemsAreFoundByIdAndChosenItemsSendTheirCommand) {
    HMENU bar = CreateMenu();
    HMENU popup = CreatePopupMenu();
    AppendMenu(popup, MF_STRING, 40010, "Fullscreen");
    AppendMenu(popup, MF_SEPARATOR, 0, "");
    AppendMenu(popup, MF_STRING, 40012, "None");
    AppendMenu(bar, MF_POPUP, reinterpret_cast<uintptr_t>(popup), "ImageMenu");
    ASSERT_EQ(GetSubMenu(bar, 0), popup);
    SetMenuItemChecked(bar, 40012, true);
    SetMenuItemEnabled(bar, 40010, false);
    SetMenuItemText(bar, 40010, "Browser");
    EXPECT_TRUE(IsMenuItemChecked(popup, 40012));
    EXPECT_FALSE(IsMenuItemEnabled(popup, 40010));
    EXPECT_EQ(GetMenuItemText(popup, 40010), "Browser");
    InsertMenuItem(popup, 2, MF_STRING, 0, "Adjust");
    InsertMenuItem(popup, 2, MF_SEPARATOR, 0, "");
    ASSERT_EQ(GetMenuItemCount(popup), 5);
    EXPECT_EQ(GetMenuItemID(popup, 1), -1);
    EXPECT_EQ(GetMenuItemID(popup, 3), 0);
    EXPECT_EQ(GetMenuItemID(popup, 4), 40012);
    RemoveMenu(popup, 3);
    RemoveMenu(popup, 2);
    EXPECT_EQ(GetMenuItemCount(popup), 3);

    ShowWindow(top(), SW_SHOW);
    QTimer::singleShot(50, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        menu->setActiveAction(menu->actions().at(2));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(menu, &enter);
    });
    EXPECT_EQ(TrackPopupMenu(popup, TPM_RIGHTBUTTON, 100, 100, child()), 1);
    ASSERT_TRUE(PumpUntil([&] { return childForm_.Of(WM_COMMAND).size() == 1; }));
    EXPECT_EQ(LOWORD(childForm_.Of(WM_COMMAND)[0].wParam), 40012);
    DestroyMenu(bar);
}

TEST_F(FormWindowTest, MessageBoxesShowTheirCaptionIconAndButtonsAndReturnTheAnswer) {
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        title = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(MessageBox(top(), "Move to the trash?", "Lumora", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(title, "Lumora");
    EXPECT_EQ(icon, QMessageBox::Question);
}

// A window that paints a blue background and one bitmap at (10, 5).
class DibPainter : public CBaseForm {
public:
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message != WM_PAINT) return DefWindowProc(window, message, wParam, lParam);
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        FillRect(dc, ps.rcPaint, RGB(0, 0, 255));
        const int32_t rows = std::abs(info.bmiHeader.biHeight);
        SetDIBitsToDevice(dc, 10, 5, width, height, xSrc, ySrc, 0, static_cast<uint32_t>(rows),
                          bits.data(), &info);
        EndPaint(window, &ps);
        return 0;
    }
    BITMAPINFO info = EmptyBitmapInfo();
    std::vector<uint8_t> bits;
    int width = 0, height = 0, xSrc = 0, ySrc = 0;
};

// A 4 x 3 bitmap whose pixel (x, y), counted from the top, is red x * 60, green y * 80, blue 200.
void FillTestBitmap(DibPainter& painter, int bitCount, bool bottomUp) {
    const int w = 4, h = 3, bpp = bitCount / 8;
    const int stride = static_cast<int>(DibStride(w, bitCount));
    painter.info.bmiHeader.biWidth = w;
    painter.info.bmiHeader.biHeight = bottomUp ? h : -h;
    painter.info.bmiHeader.biBitCount = static_cast<uint16_t>(bitCount);
    painter.bits.assign(static_cast<size_t>(stride) * h, 0);  // fourth bytes stay 0
    for (int y = 0; y < h; ++y) {
        const int row = bottomUp ? h - 1 - y : y;
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &painter.bits[static_cast<size_t>(row) * stride + x * bpp];
            p[0] = 200;
            p[1] = static_cast<uint8_t>(y * 80);
            p[2] = static_cast<uint8_t>(x * 60);
        }
    }
    painter.width = w;
    painter.height = h;
}

TEST_F(FormWindowTest, BitmapsAreDrawnRightWayUpWithOpaquePixelsInEveryLayout) {
    for (int bitCount : {24, 32}) {
        for (bool bottomUp : {true, false}) {
            SCOPED_TRACE(testing::Message() << bitCount << (bottomUp ? " bottom-up" : " top-down"));
            DibPainter painter;
            FillTestBitmap(painter, bitCount, bottomUp);
            WindowStyle style;
            style.opaque = true;
            UniqueWindow window = CreateFormWindow(&painter, top(), "", style);
            SetWindowForm(AsHandle(window), &painter);
            MoveWindow(AsHandle(window), 0, 0, 40, 30);
            ShowWindow(AsHandle(window), SW_SHOW);
            const QImage shot = GetClientWidget(AsHandle(window))->grab().toImage();
            ASSERT_EQ(shot.depth(), 32);
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < 4; ++x) {
                    EXPECT_EQ(shot.pixelColor(10 + x, 5 + y), QColor(x * 60, y * 80, 200))
                        << x << "," << y;
                    // The stored word, not what its format implies: copies of the grab must
                    // not come out transparent.
                    const QRgb stored =
                        reinterpret_cast<const QRgb*>(shot.constScanLine(5 + y))[10 + x];
                    EXPECT_EQ(qAlpha(stored), 255) << x << "," << y;
                }
            }
            EXPECT_EQ(shot.pixelColor(9, 5), QColor(0, 0, 255));
            EXPECT_EQ(shot.pixelColor(14, 5), QColor(0, 0, 255));
            EXPECT_EQ(shot.pixelColor(10, 8), QColor(0, 0, 255));
        }
    }
}

TEST_F(FormWindowTest, APartOfABitmapIsTakenWithItsRowsCountedFromTheBottom) {
    for (bool bottomUp : {true, false}) {
        DibPainter painter;
        FillTestBitmap(painter, 24, bottomUp);
        // Two pixels of the middle row: one row up from the bottom, one pixel in from the left.
        painter.xSrc = 1;
        painter.ySrc = 1;
        painter.width = 2;
        painter.height = 1;
        UniqueWindow window = CreateFormWindow(&painter, top(), "", WindowStyle{});
        SetWindowForm(AsHandle(window), &painter);
        MoveWindow(AsHandle(window), 0, 0, 40, 30);
        const QImage shot = GetClientWidget(AsHandle(window))->grab().toImage();
        EXPECT_EQ(shot.pixelColor(10, 5), QColor(60, 80, 200));
        EXPECT_EQ(shot.pixelColor(11, 5), QColor(120, 80, 200));
        EXPECT_EQ(shot.pixelColor(12, 5), QColor(0, 0, 255));
        EXPECT_EQ(shot.pixelColor(10, 6), QColor(0, 0, 255));
    }
}

TEST_F(FormWindowTest, InvalidAreasArePaintedByUpdateWindowAndScrollWindowInvalidatesTheUncovered) {
    ShowWindow(top(), SW_SHOW);
    PumpFor(20);
    childForm_.messages.clear();
    RECT band{0, 40, 400, 60};
    InvalidateRect(child(), &band);
    RECT pending{};
    ASSERT_TRUE(GetUpdateRect(child(), &pending));
    EXPECT_EQ(pending.top, 40);
    EXPECT_EQ(pending.bottom, 60);
    UpdateWindow(child());
    EXPECT_EQ(childForm_.Of(WM_PAINT).size(), 1u);
    EXPECT_FALSE(GetUpdateRect(child(), nullptr));

    const RECT clip{0, 0, 400, 300};
    ScrollWindow(child(), 0, -30, &clip);
    ASSERT_TRUE(GetUpdateRect(child(), &pending));
    EXPECT_EQ(pending.top, 270);
    EXPECT_EQ(pending.bottom, 300);
}

}  // namespace

// Leaving fullscreen, the form lays itself out and redraws at once; what it draws before the
// panes shown again have laid themselves out would reach the screen as a frame of its own. The
// hold must end by itself, though: here no window manager sends a new size.
TEST_F(FormWindowTest, LeavingFullscreenPaintsTheNewLayoutAsOneFrameAndThenPaintsAsUsual) {
    ShowWindow(top(), SW_SHOW);
    PumpFor(20);
    SetWindowFullscreen(top(), true);
    PumpFor(20);
    SetWindowFullscreen(top(), false);
    childForm_.messages.clear();
    InvalidateRect(child(), nullptr);
    UpdateWindow(child());
    EXPECT_TRUE(childForm_.Of(WM_PAINT).empty());
    PumpFor(20);
    EXPECT_EQ(childForm_.Of(WM_PAINT).size(), 1u);
    childForm_.messages.clear();
    InvalidateRect(child(), nullptr);
    UpdateWindow(child());
    EXPECT_EQ(childForm_.Of(WM_PAINT).size(), 1u);
}
