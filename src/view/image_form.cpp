#include "view/image_form.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/ui/resources.h"
#include "image/reader.h"
#include "platform/qt/dialogs.h"
#include "platform/qt/paint.h"
#include "platform/qt/paint_log.h"
#include "platform/start_trace.h"
#include "settings/settings.h"

namespace {

constexpr int kModeRecompute = 5;
// A picture on screen larger than this (shown at its own size, far beyond a screen) is not
// copied to stand in during a resize: the copy would cost more than the black rows.
constexpr int64_t kMaxStandInPixels = 16 * 1024 * 1024;

LPARAM PackSizeKnown(uint32_t generation, int32_t serial, int mode) {
    return static_cast<LPARAM>((static_cast<uint64_t>(generation) << 24) |
                               (static_cast<uint64_t>(serial & 0x1FFFF) << 3) | (mode & 7));
}

int CommandOfMode(int mode) {
    return ID_RESAMPLE_NONE + mode;
}

// Whether the next load of the image learns its header only from the decode, which replaces
// the image's buffers on the loader thread.
bool DecodeRevealsHeader(const CImage& image) {
    if (!image.decodePending) return false;
    if (const CImageReader* reader = image.reader()) return reader->deferredHeader;
    // A stopped load may have dropped its reader; the next one makes a new one of that format.
    const auto fresh = CreateReader(image.path);
    return fresh && fresh->deferredHeader;
}

bool FailureLogOn() {
    static const bool on = [] {
        const char* value = std::getenv("LUMORA_LOG");
        return value && std::strcmp(value, "1") == 0;
    }();
    return on;
}

int64_t Nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

CImageForm::CImageForm(HWND parent) {
    WindowStyle style;
    style.doubleClicks = true;
    style.opaque = true;
    window_ = CreateFormWindow(this, parent, "", style);
    SetWindowForm(window(), this);

    arrow_ = LoadCursor(IDC_ARROW);
    hand_ = LoadCursor(IDC_HAND);
    grab_ = LoadCursor(IDC_GRAB);

    for (Slot& slot : slots_) {
        slot.pane = this;
        slot.image = std::make_unique<CImage>();
        slot.image->sizeLimitOwner = &slot;
        // A band every 2 % of the rows: a photo shown at its own size is centred, so with
        // quarters its first visible rows waited for the band ending half-way down.
        slot.image->progressStep = 2;
    }

    menu_ = LoadMenuResource(IDR_IMAGE_MENU);
    background_ = static_cast<COLORREF>(ReadSetting(settings::kBackgroundColor));
    g_maxUpscale = ReadSetting(settings::kMaxUpscale);
    logPaints_ = PaintLogOn();
    Params();
}

CImageForm::~CImageForm() {
    DropPaintSource();
    DestroyMenu(menu_);
    for (Slot& slot : slots_) slot.image->StopLoad();
    WriteSetting(settings::kBackgroundColor, static_cast<int32_t>(background_));
    for (Slot& slot : slots_) slot.image.reset();
}

// --- sizes ---------------------------------------------------------------------------------

TargetParams CImageForm::Params() {
    TargetParams p;
    RECT r{};
    GetWindowRect(window(), &r);
    p.viewWidth = r.right - r.left;
    p.viewHeight = r.bottom - r.top;
    p.mode = mode_;
    p.adjust = adjust_;
    p.adjustType = g_adjustType.load();
    p.upscale = upscale_;
    p.maxUpscale = g_maxUpscale.load();
    p.fullscreen = fullscreen_;
    p.verticalBarWidth = GetSystemMetrics(SM_CXVSCROLL);
    p.horizontalBarHeight = GetSystemMetrics(SM_CYHSCROLL);
    std::lock_guard<std::mutex> lock(paramsLock_);
    if (!(p == params_)) ++paramsGeneration_;
    params_ = p;
    return p;
}

// On the loader thread of this slot's image, once the decode has revealed the header: the box
// is this image's own (not the current image's), computed from the pane's last parameters, and
// only this image's buffers change, by the thread that owns them now. The pane lays out and
// paints the image once the message below arrives.
void CImageForm::Slot::SetMaxDim() {
    TargetParams p;
    uint32_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(pane->paramsLock_);
        p = pane->params_;
        generation = pane->paramsGeneration_;
    }
    const TargetBox box = ComputeTargetBox(p, image->GetSourceWidth(), image->GetSourceHeight());
    if (box.valid) image->SetSizeLimit(box.width, box.height, true, box.upscale);
    pane->window()->PostMessage(WM_IMAGE_SIZE_KNOWN, reinterpret_cast<WPARAM>(image.get()),
                                PackSizeKnown(generation, image->loadSerial.load(), p.mode));
}

void CImageForm::ComputeTarget(Slot& slot, bool inLoader) {
    SizeSlot(slot, Params(), inLoader);
}

void CImageForm::SizeSlot(Slot& slot, const TargetParams& p, bool inLoader) {
    CImage& image = *slot.image;
    const TargetBox box = ComputeTargetBox(p, image.GetSourceWidth(), image.GetSourceHeight());
    if (!box.valid) return;
    const bool isCurrent = &slot == current_;
    if (isCurrent) DropPaintSource();
    image.SetSizeLimit(box.width, box.height, inLoader, box.upscale);
    image.windowHeight = p.viewHeight;
    slot.box = box;
    slot.boxSourceWidth = image.GetSourceWidth();
    slot.boxSourceHeight = image.GetSourceHeight();
    if (isCurrent) {
        TakePaintSource();
        RunLayout();
    } else {
        modeUsed_ = mode_;
    }
}

CImageForm::FileStamp CImageForm::StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) return stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = static_cast<uint64_t>(info.st_size);
    stamp.modified = Nanoseconds(info.st_mtim);
    stamp.changed = Nanoseconds(info.st_ctim);
    return stamp;
}

void CImageForm::OpenImage(Slot& slot, const std::string& path) {
    slot.opened = StampOf(path);
    slot.box = TargetBox();
    slot.image->Open(path);
}

// Whether the slot's image is path, complete or on its way, and the file is still the one it
// was opened with: a decode would give the same picture again.
bool CImageForm::HoldsUnchanged(const Slot& slot, const std::string& path) const {
    const CImage& image = *slot.image;
    if (path.empty() || image.path != path || image.outOfMemory) return false;
    if (!image.done && !image.IsLoading()) return false;
    const FileStamp now = StampOf(path);
    return now.exists && now == slot.opened;
}

void CImageForm::StartImage(Slot& slot, bool watched) {
    CImage& image = *slot.image;
    image.StopLoad();
    // A neighbour decoded unseen has no use for a coarse first picture, nor has a load the
    // stand-in covers until it is complete.
    const bool standsIn =
        &slot == current_ && !standIn_.picture.isNull() && standIn_.path == image.path;
    image.coarsePass = watched || (&slot == current_ && !standsIn && !preparing_);
    slot.headerPending = slot.oneShot = DecodeRevealsHeader(image);
    slot.handsOverSource = !image.decodePending && !image.downscale && !image.upscale;
    if (&slot == current_ && slot.headerPending) DropPaintSource();
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    if (&slot == current_) {
        currentSerial_ = image.loadSerial;
        // Serials come round again after many loads; the new load's notices start afresh.
        passSerial_ = wholeSerial_ = -1;
    }
}

bool CImageForm::HasPixelsToLoad(const CImage& image) const {
    // Besides an image with a display buffer, one whose header comes only with the decode has
    // none yet and must still be loaded.
    return !image.path.empty() && (image.displayBuffer || image.decodePending);
}

// A change while the current image decodes all at once: the new parameters reach the loader
// when it asks for the size; if it has asked already, the image is sized again once complete.
bool CImageForm::DeferChange() {
    const Slot& slot = *current_;
    if (!slot.oneShot || !slot.image->IsLoading()) return false;
    Params();
    if (!slot.headerPending) recomputeWhenDone_ = true;
    return true;
}

void CImageForm::Recompute(bool inLoader) {
    CImage& image = *current_->image;
    if (DeferChange()) {
        InvalidateAll();
        UpdateWindow(window());
        return;
    }
    image.StopLoad();
    if (HasPixelsToLoad(image)) {
        KeepStandIn();
        ComputeTarget(*current_, inLoader);
        StartImage(*current_);
        standIn_.serial = currentSerial_;
    }
    TakePaintSource();
    InvalidateAll();
    UpdateWindow(window());
}

void CImageForm::SetResampleMode(int mode) {
    mode_ = mode;
    Recompute(true);
    for (int m = kResampleNone; m <= kResampleAuto; ++m)
        SetMenuItemChecked(menu_, CommandOfMode(m), false);
    SetMenuItemChecked(menu_, CommandOfMode(mode), true);
}

void CImageForm::SetAdjust(int32_t percentage) {
    adjust_ = percentage;
    // The pre-loaded neighbour was sized with the old percentage.
    modeUsed_ = kModeRecompute;
    Params();
    if (mode_ == kResampleNone) return;
    Recompute(true);
}

void CImageForm::SetAdjustVisible(bool visible) {
    adjustVisible_ = visible;
    SetMenuItemEnabled(menu_, ID_ADJUST_BAR, !visible);
}

void CImageForm::SetUpscale(bool upscale) {
    upscale_ = upscale;
    SetMenuItemChecked(menu_, ID_UPSCALE, upscale);
    modeUsed_ = kModeRecompute;
    Refresh();
}

void CImageForm::Refresh() {
    modeUsed_ = kModeRecompute;
    Recompute(false);
}

bool CImageForm::PrepareSize(int32_t viewWidth, int32_t viewHeight, bool fullscreen) {
    preparing_ = preparedAsIs_ = false;
    Slot& slot = *current_;
    CImage& image = *slot.image;
    // Only a complete picture is held back for: one still decoding shows its rows meanwhile.
    if (!image.done || image.IsLoading() || image.loadSerial != currentSerial_ ||
        !HasPixelsToLoad(image) || !paint_.hasSource || slot.oneShot)
        return false;
    TargetParams p = Params();
    p.viewWidth = viewWidth;
    p.viewHeight = viewHeight;
    p.fullscreen = fullscreen;
    // The neighbour was pre-loaded for the pane as it is now.
    modeUsed_ = kModeRecompute;
    if (BoxStillFits(slot, p)) {
        preparing_ = preparedAsIs_ = true;
        return true;
    }
    const TargetBox box = ComputeTargetBox(p, image.GetSourceWidth(), image.GetSourceHeight());
    if (!box.valid) return false;
    if (logPaints_) PaintLog("prepare", viewWidth, viewHeight, 0);
    preparing_ = true;
    // Stands in should the picture at the new size not be ready in time.
    KeepStandIn();
    DropPaintSource();
    image.SetSizeLimit(box.width, box.height, false, box.upscale);
    slot.box = box;
    slot.boxSourceWidth = image.GetSourceWidth();
    slot.boxSourceHeight = image.GetSourceHeight();
    StartImage(slot);
    standIn_.serial = currentSerial_;
    // Nothing paints meanwhile: the window keeps showing the picture as it was.
    const bool ready = AwaitCurrent(kSwitchWaitMs);
    if (logPaints_) PaintLog("prepared", ready ? 1 : 0, 0, 0);
    return true;
}

void CImageForm::ShowPrepared() {
    if (!preparing_) {
        Refresh();
        return;
    }
    preparing_ = false;
    CImage& image = *current_->image;
    modeUsed_ = kModeRecompute;
    TakePaintSource();
    if (!KeepsLoadThroughResize(Params())) {
        // Under a window manager the window keeps the screen's size a little after leaving; the
        // resize that gives it the foreseen one lays the picture out. Any other size is new.
        HWND top = GetParent(window());
        if (!top || !AwaitsManagerSize(top)) {
            Refresh();
            return;
        }
    }
    RunLayout();
    const bool complete = image.done && !image.IsLoading();
    if (complete) {
        // Its notices still queued have nothing left to show.
        standIn_ = StandIn{};
        wholeSerial_ = currentSerial_;
    }
    InvalidateAll();
    UpdateWindow(window());
    // No load ran, so no end notice will pre-load the neighbour at the new size.
    if (preparedAsIs_ && complete) CurrentFinished();
}

bool CImageForm::AwaitCurrent(unsigned ms) {
    const CImage& image = *current_->image;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (image.IsLoading()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        // A worker that sends the GUI thread a message waits for its answer.
        ProcessSentMessages();
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    return true;
}

void CImageForm::OnSize() {
    const TargetParams p = Params();
    if (logPaints_) PaintLog("size", p.viewWidth, p.viewHeight, switching_);
    if (switching_) return;
    modeUsed_ = kModeRecompute;
    if (DeferChange()) return;
    CImage& image = *current_->image;
    if (KeepsLoadThroughResize(p)) {
        // The picture being decoded is the one the new size wants: only its place changes.
        RunLayout();
        InvalidateAll();
        return;
    }
    image.StopLoad();
    if (HasPixelsToLoad(image)) {
        KeepStandIn();
        ComputeTarget(*current_, true);
        StartImage(*current_);
        standIn_.serial = currentSerial_;
    }
    TakePaintSource();
}

// A load, running or done, for the box the new pane size gives again (a picture shown at its
// own size, a window settling by a few pixels after it is shown) would only start over to the
// same pixels.
bool CImageForm::KeepsLoadThroughResize(const TargetParams& p) const {
    return current_->image->loadSerial == currentSerial_ && BoxStillFits(*current_, p);
}

bool CImageForm::BoxStillFits(const Slot& slot, const TargetParams& p) const {
    const CImage& image = *slot.image;
    if (!slot.box.valid || slot.headerPending || slot.oneShot ||
        !(image.done || image.IsLoading()))
        return false;
    // The source size as it was when the load began: the loader owns the image's fields now.
    const TargetBox box = ComputeTargetBox(p, slot.boxSourceWidth, slot.boxSourceHeight);
    return box.valid && box.width == slot.box.width && box.height == slot.box.height &&
           box.upscale == slot.box.upscale;
}

// --- layout --------------------------------------------------------------------------------

void CImageForm::TakePaintSource() {
    CImage& image = *current_->image;
    if (current_->headerPending && image.IsLoading()) {
        DropPaintSource();
        return;
    }
    // The display's fields are the loader's until it has handed the source over, which takes
    // it no time: wait for that rather than read them while they are written.
    if (current_->handsOverSource && image.IsLoading()) image.FinishLoad();
    paint_.bits = image.displayBuffer;
    paint_.header = image.displayHeader;
    paint_.hasSource = image.sourceBuffer != nullptr;
    paint_.width = image.GetWidth();
    paint_.height = image.GetHeight();
}

void CImageForm::RunLayout() {
    switching_ = true;
    Layout& l = layout_;
    RECT r{};
    GetWindowRect(window(), &r);
    l.viewWidth = r.right - r.left;
    l.viewHeight = r.bottom - r.top;
    const int32_t dw = paint_.width;
    const int32_t dh = paint_.height;
    const int32_t barWidth = GetSystemMetrics(SM_CXVSCROLL);
    const int32_t barHeight = GetSystemMetrics(SM_CYHSCROLL);

    if (!fullscreen_) {
        SCROLLINFO info;
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        if (dw > l.viewWidth || (dh > l.viewHeight && dw > l.viewWidth - barWidth)) {
            l.viewHeight -= barHeight;
            if (dh > l.viewHeight) l.viewWidth -= barWidth;
            info.nMin = 0;
            info.nMax = dw - 1;
            info.nPage = static_cast<uint32_t>(std::max(l.viewWidth, 0));
            info.nPos = (dw - l.viewWidth) >> 1;
            SetScrollInfo(window(), SB_HORZ, info, true);
            l.horizontalPosition = info.nPos;
            l.leftMargin = 0;
            l.horizontalBar = true;
        } else {
            l.leftMargin = (l.viewWidth - (dh > l.viewHeight ? barWidth : 0) - dw) / 2;
            l.horizontalPosition = 0;
            info.nMin = info.nMax = info.nPos = 0;
            info.nPage = 0;
            SetScrollInfo(window(), SB_HORZ, info, true);
            l.horizontalBar = false;
        }
        if (dh > l.viewHeight) {
            info.nMin = 0;
            info.nMax = dh - 1;
            info.nPage = static_cast<uint32_t>(std::max(l.viewHeight, 0));
            info.nPos = (dh - l.viewHeight) >> 1;
            SetScrollInfo(window(), SB_VERT, info, true);
            l.verticalPosition = info.nPos;
            l.topMargin = 0;
            l.verticalBar = true;
        } else {
            l.topMargin = (l.viewHeight - dh) / 2;
            l.verticalPosition = 0;
            info.nMin = info.nMax = info.nPos = 0;
            info.nPage = 0;
            SetScrollInfo(window(), SB_VERT, info, true);
            l.verticalBar = false;
        }
    } else {
        l.horizontalBar = dw > l.viewWidth;
        l.leftMargin = l.horizontalBar ? 0 : (l.viewWidth - dw) / 2;
        l.horizontalPosition = l.horizontalBar ? (dw - l.viewWidth) / 2 : 0;
        l.verticalBar = dh > l.viewHeight;
        l.topMargin = l.verticalBar ? 0 : (l.viewHeight - dh) / 2;
        l.verticalPosition = l.verticalBar ? (dh - l.viewHeight) / 2 : 0;
    }

    l.draggable = l.horizontalBar || l.verticalBar;
    SetClassCursor(window(), l.draggable ? hand_ : arrow_);
    switching_ = false;
}

void CImageForm::InvalidateAll() {
    InvalidateRect(window(), nullptr);
}

// Display rows [from, to), across the whole view; nothing of them when outside the view.
void CImageForm::InvalidateRows(int32_t from, int32_t to) {
    const Layout& l = layout_;
    const int32_t shift = l.topMargin > 0 ? l.topMargin : -l.verticalPosition;
    const int32_t top = std::max(from + shift, 0);
    const int32_t bottom = std::min(to + shift, l.viewHeight);
    if (top >= bottom) return;
    const RECT band{0, top, l.viewWidth, bottom};
    InvalidateRect(window(), &band);
}

// Before the current image is sized again, with its load stopped: a copy of the picture on
// screen, as the buffers it lies in are replaced by the new size's.
void CImageForm::KeepStandIn() {
    const CImage& image = *current_->image;
    // Changed again before the rows came: the picture from before the first change is whole.
    if (StandInShows()) return;
    standIn_ = StandIn{};
    const BITMAPINFOHEADER& h = paint_.header.bmiHeader;
    const int32_t w = paint_.width;
    const int32_t rows = paint_.height;
    if (!paint_.hasSource || !paint_.bits || image.path.empty() || w <= 0 || rows <= 0 ||
        (h.biBitCount != 24 && h.biBitCount != 32) || h.biCompression != BI_RGB ||
        std::abs(h.biWidth) != w || std::abs(h.biHeight) != rows ||
        static_cast<int64_t>(w) * rows > kMaxStandInPixels)
        return;
    const QImage shown(paint_.bits, w, rows, static_cast<qsizetype>(DibStride(w, h.biBitCount)),
                       h.biBitCount == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
    // Both make a copy of their own; a failed allocation gives a null image and no stand-in.
    QImage picture =
        h.biBitCount == 24 ? shown.convertToFormat(QImage::Format_RGB32) : shown.copy();
    if (h.biHeight > 0 && !picture.isNull()) picture = picture.mirrored(false, true);
    if (picture.isNull()) return;
    standIn_.path = image.path;
    standIn_.picture = std::move(picture);
}

// Until its load is complete: rows replacing it in bands would show a picture part old, part
// new, and cost a paint each.
bool CImageForm::StandInShows() const {
    const CImage& image = *current_->image;
    return !standIn_.picture.isNull() && standIn_.serial == currentSerial_ &&
           image.loadSerial == currentSerial_ && !image.done && image.path == standIn_.path;
}

// Over the picture's rectangle, in place of the rows the new load is filling.
bool CImageForm::PaintStandIn(HDC dc, const RECT& r) {
    const Layout& l = layout_;
    const int32_t dw = paint_.width;
    const int32_t dh = paint_.height;
    if (standIn_.scaled.width() != dw || standIn_.scaled.height() != dh) {
        standIn_.scaled =
            standIn_.picture.scaled(dw, dh, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (standIn_.scaled.isNull()) return false;
    }
    // Where the picture's top-left corner lies in the pane, as OnPaint places it.
    const int32_t px =
        l.leftMargin > 0 ? l.leftMargin : (l.horizontalBar ? -l.horizontalPosition : 0);
    const int32_t py = l.topMargin > 0 ? l.topMargin : (l.verticalBar ? -l.verticalPosition : 0);
    const int32_t left = std::max(r.left, px);
    const int32_t right = std::min(r.right, px + dw);
    const int32_t top = std::max(r.top, py);
    const int32_t bottom = std::min(r.bottom, py + dh);
    if (left >= right || top >= bottom) return true;
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = dw;
    header.bmiHeader.biHeight = -dh;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, left, top, right - left, bottom - top, left - px, dh - (bottom - py), 0,
                      static_cast<uint32_t>(dh), standIn_.scaled.constBits(), &header);
    if (logPaints_) PaintLog("standin", top, bottom, 0);
    return true;
}

// --- loading and its messages --------------------------------------------------------------

void CImageForm::Show(const std::string& name, const std::string& preloadName, bool immediate) {
    TraceStartStep("show-file");
    // The file on screen selected again (its listing rebuilt or sorted anew) keeps its picture
    // and its pre-load rather than decoding both again before the user's eyes. Reload, which
    // comes without the immediate flag, and a file changed since it was opened, are read again.
    if (immediate && name == currentName_ && HoldsUnchanged(*current_, name)) {
        preloadName_ = preloadName;
        // A neighbour that changed with the order is pre-loaded now, or once the picture is done.
        if (current_->image->done) CurrentFinished();
        return;
    }

    CImage& leaving = *current_->image;
    leaving.immediate = immediate;
    leaving.StopLoad();
    // The stop has been honoured; a later load of this image must not wait for it again.
    leaving.immediate = false;
    if (immediate && !leaving.done) {
        InvalidateAll();
        UpdateWindow(window());
    }

    std::swap(current_, preload_);
    recomputeWhenDone_ = false;
    current_->image->notifyWindow = window();
    preload_->image->notifyWindow = nullptr;
    if (name != currentName_) failureNoted_.clear();
    currentName_ = name;
    preloadName_ = preloadName;
    DropPaintSource();
    standIn_ = StandIn{};

    CImage& image = *current_->image;
    if (image.path == name && (image.done || image.IsLoading())) {
        // A pre-load sized before the pane last changed may still have the box it needs now.
        if (modeUsed_ == mode_ || BoxStillFits(*current_, Params())) {
            currentSerial_ = image.loadSerial;
            TakePaintSource();
            RunLayout();
            if (image.done) CurrentFinished();
        } else {
            Recompute(true);
        }
    } else {
        OpenImage(*current_, name);
        image.StopLoad();
        ComputeTarget(*current_, true);
        StartImage(*current_);
    }
    TakePaintSource();
    InvalidateAll();
    const int paintsBefore = imagePaints_;
    UpdateWindow(window());
    // A file refused at open starts no load, so no image-done will come for it.
    if (image.done || !HasPixelsToLoad(image)) NoteFailedLoad(image);
    // Whether the image shown was complete, and whether it reached the screen at once.
    if (logPaints_) PaintLog("show", image.done ? 1 : 0, imagePaints_ - paintsBefore, 0);
}

void CImageForm::PreloadAt(const std::string& name, int32_t viewWidth, int32_t viewHeight) {
    Slot& slot = *preload_;
    CImage& image = *slot.image;
    image.StopLoad();
    OpenImage(slot, name);
    preloadName_ = name;
    // A header that only the decode reveals is sized by the loader from the pane's own size,
    // which it does not have yet.
    if (!HasPixelsToLoad(image) || DecodeRevealsHeader(image)) return;
    TargetParams p = Params();
    p.viewWidth = viewWidth;
    p.viewHeight = viewHeight;
    SizeSlot(slot, p, true);
    if (slot.box.valid) StartImage(slot, true);
}

void CImageForm::NoteFailedLoad(const CImage& image) {
    if (!FailureLogOn() || image.path.empty() || failureNoted_ == image.path) return;
    const bool whole = image.GetWidth() > 0 && image.GetHeight() > 0 && image.failure.empty();
    if (whole) return;
    failureNoted_ = image.path;
    const std::string& reason = image.failure.empty() ? std::string("cannot read") : image.failure;
    std::fprintf(stderr, "lumora: %s: %s\n", image.path.c_str(), reason.c_str());
}

void CImageForm::CurrentFinished() {
    Slot& slot = *preload_;
    CImage& image = *slot.image;
    const bool reopen = image.path != preloadName_;
    if (!reopen && modeUsed_ != mode_ && slot.oneShot && image.IsLoading()) {
        // Left to complete, and sized again when it is shown.
        modeUsed_ = kModeRecompute;
        return;
    }
    if (reopen || modeUsed_ != mode_) {
        if (reopen) OpenImage(slot, preloadName_);
        image.StopLoad();
        if (HasPixelsToLoad(image)) {
            ComputeTarget(slot, true);
            StartImage(slot);
        }
    }
    modeUsed_ = mode_;
}

CImageForm::Slot* CImageForm::SlotOf(WPARAM image) {
    for (Slot& slot : slots_)
        if (reinterpret_cast<WPARAM>(slot.image.get()) == image) return &slot;
    return nullptr;
}

void CImageForm::OnProgress(WPARAM image, ProgressRecord* record) {
    std::unique_ptr<ProgressRecord> owned(record);
    Slot* slot = SlotOf(image);
    if (!slot || slot != current_ || slot->image->loadSerial != currentSerial_ || !record) return;
    // The stand-in stays whole until the load is complete; its end repaints once.
    if (StandInShows() || wholeSerial_ == currentSerial_) return;
    if (standIn_.serial == currentSerial_ && !standIn_.picture.isNull()) {
        // The load ended before its rows' notices were handled: this is the one repaint, and
        // the notices still queued have nothing left to show.
        standIn_ = StandIn{};
        wholeSerial_ = currentSerial_;
        InvalidateAll();
    } else if (record->first == 0 && record->last == 0) {
        // The whole picture is there (a coarse pass, or the load's end), or the display was
        // cleared before its first rows. After bands, only the rows no band painted changed.
        if (passSerial_ == currentSerial_ && passEnd_ > passFirst_) {
            InvalidateRows(0, passFirst_);
            InvalidateRows(passEnd_, paint_.height);
        } else {
            InvalidateAll();
        }
        passSerial_ = -1;
    } else {
        int32_t first = record->first;
        int32_t last = record->last;
        if (paint_.header.bmiHeader.biHeight > 0) {
            first = paint_.height - first - 1;
            last = paint_.height - last - 1;
        }
        const int32_t from = std::min(first, last);
        const int32_t to = std::max(first, last);
        if (passSerial_ != currentSerial_) {
            passSerial_ = currentSerial_;
            passFirst_ = from;
            passEnd_ = to;
        }
        // A pass's bands follow one another, so the rows they painted are one run.
        passFirst_ = std::min(passFirst_, from);
        passEnd_ = std::max(passEnd_, to);
        InvalidateRows(from, to);
    }
    const int paintsBefore = imagePaints_;
    UpdateWindow(window());
    if (logPaints_) PaintLog("progress", record->first, record->last, imagePaints_ - paintsBefore);
}

void CImageForm::OnSizeKnown(WPARAM image, LPARAM info) {
    Slot* slot = SlotOf(image);
    const auto bits = static_cast<uint64_t>(info);
    const int32_t serial = static_cast<int32_t>((bits >> 3) & 0x1FFFF);
    const int mode = static_cast<int>(bits & 7);
    const auto generation = static_cast<uint32_t>(bits >> 24);
    if (!slot || (slot->image->loadSerial & 0x1FFFF) != serial) return;  // a later load has begun
    slot->headerPending = false;
    if (slot == current_) {
        {
            // The parameters changed after the loader read them.
            std::lock_guard<std::mutex> lock(paramsLock_);
            if (generation != paramsGeneration_) recomputeWhenDone_ = true;
        }
        TakePaintSource();
        RunLayout();
        InvalidateAll();
        UpdateWindow(window());
    } else {
        // Sized with parameters that have changed since: size it again when it is shown.
        std::lock_guard<std::mutex> lock(paramsLock_);
        modeUsed_ = generation == paramsGeneration_ ? mode : kModeRecompute;
    }
}

// --- painting ------------------------------------------------------------------------------

void CImageForm::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window(), &ps);
    const RECT r = ps.rcPaint;
    if (!paint_.hasSource) {
        FillRect(dc, r, background_);
        EndPaint(window(), &ps);
        return;
    }
    const Layout& l = layout_;
    const int32_t dw = paint_.width;
    const int32_t dh = paint_.height;

    // One direction at a time: the image's part of the rectangle, margins filled beside it.
    struct Span {
        bool paint = false;
        int32_t source = 0;
        int32_t dest = 0;
        int32_t size = 0;
    };
    auto span = [&](int32_t from, int32_t to, int32_t margin, bool bar, int32_t position,
                    int32_t extent, auto fillBefore, auto fillAfter) {
        Span s;
        if (margin <= 0) {
            // An image one pixel short of the pane centres with no margin: the pixel it leaves
            // must still be filled, or the previous picture shows through there.
            const int32_t offset = bar ? position : 0;
            const int32_t end = std::min(to, extent - offset);
            if (end < to) fillAfter(std::max(from, end), to);
            s.source = offset + from;
            s.dest = from;
            s.size = end - from;
            s.paint = s.size > 0;
            return s;
        }
        if (from < margin) fillBefore(from, margin);
        if (margin + extent < to) fillAfter(margin + extent, to);
        if (to <= margin) return s;
        if (from < margin) {
            s.source = 0;
            s.dest = margin;
        } else {
            s.source = from - margin;
            s.dest = from;
        }
        s.size = std::min(to - s.dest, extent - s.source);
        s.paint = s.size > 0;
        return s;
    };
    const Span x = span(
        r.left, r.right, l.leftMargin, l.horizontalBar, l.horizontalPosition, dw,
        [&](int32_t a, int32_t b) {
            FillRect(dc, RECT{a, r.top, b, r.bottom}, background_);
        },
        [&](int32_t a, int32_t b) {
            FillRect(dc, RECT{a, r.top, b, r.bottom}, background_);
        });
    const Span y = span(
        r.top, r.bottom, l.topMargin, l.verticalBar, l.verticalPosition, dh,
        [&](int32_t a, int32_t b) {
            FillRect(dc, RECT{r.left, a, r.right, b}, background_);
        },
        [&](int32_t a, int32_t b) {
            FillRect(dc, RECT{r.left, a, r.right, b}, background_);
        });
    if (x.paint && y.paint) {
        // The stand-in covers the whole picture, so the rows under it need not be sent.
        if (!StandInShows() || !PaintStandIn(dc, r))
            SetDIBitsToDevice(dc, x.dest, y.dest, x.size, y.size, x.source, dh - y.source - y.size,
                              0, static_cast<uint32_t>(dh), paint_.bits, &paint_.header);
        ++imagePaints_;
        TraceStartStep("paint", y.size);
    }
    EndPaint(window(), &ps);
}

// --- scrolling and dragging ----------------------------------------------------------------

void CImageForm::OnScroll(int bar, int code) {
    SCROLLINFO info;
    info.fMask = SIF_ALL;
    GetScrollInfo(window(), bar, &info);
    const int32_t range = info.nMax - info.nMin + 1;
    const int32_t line = static_cast<int32_t>(range * 0.05);
    const int32_t page = static_cast<int32_t>(range * 0.2);
    const int32_t lastPos = range - static_cast<int32_t>(info.nPage);
    int32_t pos = info.nPos;
    switch (code) {
        case SB_LINEUP:
            pos = pos - line < line ? 0 : pos - line;
            break;
        case SB_PAGEUP:
            pos = pos - page < page ? 0 : pos - page;
            break;
        case SB_LINEDOWN:
            pos = pos + line > lastPos - line ? lastPos : pos + line;
            break;
        case SB_PAGEDOWN:
            pos = pos + page > lastPos - page ? lastPos : pos + page;
            break;
        // The 32-bit track position: the 16 bits of wParam would wrap on images wider or
        // taller than 65535 pixels.
        case SB_THUMBTRACK:
            pos = info.nTrackPos;
            break;
        default:
            return;
    }
    int32_t& stored = bar == SB_HORZ ? layout_.horizontalPosition : layout_.verticalPosition;
    const int32_t old = stored;
    stored = pos;
    SCROLLINFO set;
    set.fMask = SIF_POS;
    set.nPos = pos;
    SetScrollInfo(window(), bar, set, true);
    const RECT clip{0, 0, layout_.viewWidth, layout_.viewHeight};
    if (bar == SB_HORZ)
        ScrollWindow(window(), old - pos, 0, &clip);
    else
        ScrollWindow(window(), 0, old - pos, &clip);
    UpdateWindow(window());
}

void CImageForm::OnLeftButtonDown(LPARAM where) {
    if (layout_.draggable) {
        dragging_ = true;
        SetClassCursor(window(), grab_);
        SetCursor(window(), grab_);
        SetCapture(window());
        lastX_ = LOWORD(static_cast<uintptr_t>(where));
        lastY_ = HIWORD(static_cast<uintptr_t>(where));
    }
    SetFocus(window());
}

void CImageForm::OnMouseMove(LPARAM where) {
    if (dragging_) DragTo(where);
    if (fullscreen_) {
        ShowCursor(window(), true);
        SetTimer(window(), kCursorTimer, kCursorRestMs);
    }
}

void CImageForm::DragTo(LPARAM where) {
    Layout& l = layout_;
    // Read as unsigned, so positions left of or above the pane count as beyond it too.
    int32_t x = LOWORD(static_cast<uintptr_t>(where));
    int32_t y = HIWORD(static_cast<uintptr_t>(where));
    if (x > l.viewWidth) x = lastX_;
    if (y > l.viewHeight) y = lastY_;
    const int32_t oldH = l.horizontalPosition;
    const int32_t oldV = l.verticalPosition;
    if (l.leftMargin == 0)
        l.horizontalPosition =
            std::max(0, std::min(l.horizontalPosition + lastX_ - x, paint_.width - l.viewWidth));
    if (l.topMargin == 0)
        l.verticalPosition =
            std::max(0, std::min(l.verticalPosition + lastY_ - y, paint_.height - l.viewHeight));
    lastX_ = x;
    lastY_ = y;
    const RECT clip{0, 0, l.viewWidth, l.viewHeight};
    ScrollWindow(window(), l.horizontalBar ? oldH - l.horizontalPosition : 0,
                 l.verticalBar ? oldV - l.verticalPosition : 0, &clip);
    UpdateWindow(window());
    if (!fullscreen_) {
        SCROLLINFO set;
        set.fMask = SIF_POS;
        set.nPos = l.horizontalPosition;
        SetScrollInfo(window(), SB_HORZ, set, true);
        set.nPos = l.verticalPosition;
        SetScrollInfo(window(), SB_VERT, set, true);
    }
}

void CImageForm::OnLeftButtonUp() {
    // A drag ends with its button even when the picture shown meanwhile fits the pane: left
    // running, plain mouse moves would scroll the next picture that overflows.
    if (!dragging_ && !layout_.draggable) return;
    dragging_ = false;
    HCURSOR cursor = layout_.draggable ? hand_ : arrow_;
    SetClassCursor(window(), cursor);
    SetCursor(window(), cursor);
    if (GetCapture() == window()) ReleaseCapture();
}

// --- menu and commands ---------------------------------------------------------------------

void CImageForm::OnContextMenu(LPARAM where) {
    SetMenuItemEnabled(menu_, ID_WALLPAPER, !currentName_.empty());
    // The cursor stays while the menu is open.
    if (fullscreen_) KillTimer(window(), kCursorTimer);
    TrackPopupMenu(GetSubMenu(menu_, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, GET_X_LPARAM(where),
                   GET_Y_LPARAM(where), window());
    if (fullscreen_) SetTimer(window(), kCursorTimer, kCursorRestMs);
}

void CImageForm::OnCommand(WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
        case ID_BACKGROUND:
            ChooseBackground();
            break;
        case ID_WALLPAPER:
            SetAsWallpaper();
            break;
        default:
            if (HWND parent = GetParent(window())) parent->SendMessage(WM_COMMAND, wParam, lParam);
            break;
    }
}

void CImageForm::ChooseBackground() {
    COLORREF custom[16] = {0x000000, 0xFFFFFF, 0x4D3837, 0xE3DBDC};
    CHOOSECOLOR choose;
    choose.hwndOwner = GetParent(window());
    choose.lpCustColors = custom;
    choose.Flags = CC_FULLOPEN | CC_SOLIDCOLOR | CC_ANYCOLOR;
    if (!ChooseColor(&choose)) return;
    background_ = choose.rgbResult;
    InvalidateAll();
    UpdateWindow(window());
    if (HWND parent = GetParent(window()))
        parent->SendMessage(WM_BACKGROUND_CHANGED, static_cast<WPARAM>(background_), 0);
}

// --- the window procedure ------------------------------------------------------------------

LRESULT CImageForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            OnPaint();
            return 0;
        case WM_ERASEBKGND:
            return 0;
        case WM_SIZE:
            OnSize();
            return 0;
        case WM_IMAGE_PROGRESS:
            OnProgress(wParam, reinterpret_cast<ProgressRecord*>(lParam));
            return 0;
        case WM_IMAGE_DONE: {
            Slot* slot = SlotOf(wParam);
            if (!slot || slot != current_ || slot->image->loadSerial != currentSerial_) return 0;
            // The loader posts this just before its thread ends; waiting for that end here
            // keeps a deferred change from being deferred again with no later notice to run it.
            slot->image->FinishLoad();
            NoteFailedLoad(*slot->image);
            if (!standIn_.picture.isNull()) {
                // The picture the stand-in covered is complete: one paint replaces it.
                const bool covered = standIn_.serial == currentSerial_;
                standIn_ = StandIn{};
                if (covered) {
                    InvalidateAll();
                    UpdateWindow(window);
                    if (logPaints_) PaintLog("done", 0, 0, 0);
                }
            }
            if (recomputeWhenDone_) {
                recomputeWhenDone_ = false;
                Recompute(true);
            } else {
                CurrentFinished();
            }
            return 0;
        }
        case WM_IMAGE_SIZE_KNOWN:
            OnSizeKnown(wParam, lParam);
            return 0;
        case WM_HSCROLL:
            OnScroll(SB_HORZ, LOWORD(wParam));
            return 0;
        case WM_VSCROLL:
            OnScroll(SB_VERT, LOWORD(wParam));
            return 0;
        case WM_LBUTTONDOWN:
            OnLeftButtonDown(lParam);
            return 0;
        case WM_MOUSEMOVE:
            OnMouseMove(lParam);
            return 0;
        case WM_LBUTTONUP:
            OnLeftButtonUp();
            return 0;
        case WM_LBUTTONDBLCLK:
            if (HWND parent = GetParent(window)) parent->SendMessage(WM_COMMAND, ID_FULLSCREEN, 0);
            return 0;
        case WM_MOUSEWHEEL:
            if (fullscreen_)
                Navigate(GET_WHEEL_DELTA_WPARAM(wParam) >= 0 ? VK_PRIOR : VK_NEXT,
                         GetKeyState(VK_SHIFT) < 0);
            else if (HWND parent = GetParent(window))
                parent->SendMessage(WM_MOUSEWHEEL, wParam, lParam);
            return 0;
        case WM_KEYDOWN:
            if (!fullscreen_) return 0;
            if (logPaints_) PaintLog("key", static_cast<int>(wParam), 0, 0);
            OnFullscreenKey(wParam);
            return 0;
        case WM_KEYUP:
            if (fullscreen_ && wParam == VK_ESCAPE)
                if (HWND parent = GetParent(window)) parent->SendMessage(WM_KEYUP, wParam, lParam);
            return 0;
        case WM_TIMER:
            ShowCursor(window, false);
            return 0;
        case WM_FILE_DELETED:
            // The frame's relay of a single delete: show what moved into the file's place.
            if (fullscreen_ && lParam == 0) Navigate(VK_F5, false);
            return 0;
        case WM_CONTEXTMENU:
            OnContextMenu(lParam);
            return 0;
        case WM_COMMAND:
            OnCommand(wParam, lParam);
            return 0;
        default:
            return DefWindowProc(window, message, wParam, lParam);
    }
}
