#pragma once

// The image pane: shows the current image, decoded and resampled progressively by its loader
// thread, centred on the background colour or with scroll bars and dragging when it is larger
// than the pane; pre-loads the neighbouring file in a second image so stepping to it is instant.

#include <QImage>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/qt/form_window.h"
#include "platform/qt/menu.h"
#include "platform/qt/paint.h"
#include "view/core/target_box.h"

// Posted by an image's loader once a header that came with the decode is known and its box is
// set: wParam the image, lParam packs its load serial, the resample mode the box was made with
// and the generation of the pane's parameters it used.
constexpr UINT WM_IMAGE_SIZE_KNOWN = WM_USER + 0x100;

// How long a fullscreen switch waits for the picture at the new size before it shows the old one
// scaled in its place.
constexpr unsigned kSwitchWaitMs = 150;

// Hides the mouse cursor in fullscreen once the mouse has rested this long.
constexpr uintptr_t kCursorTimer = 1;
constexpr unsigned kCursorRestMs = 1500;

// The file name before its last run of digits ("IMG_" for IMG_0012.jpg); "" when the name has
// no extension, no digits, or its last run of digits starts it. Files sharing a non-empty key
// form a series.
std::string SeriesKey(const std::string& path);

// Decodes source to fit the screen without enlarging it and writes it to target with the
// writer of target's extension; false when either step failed.
bool WriteWallpaperFile(const std::string& source, int32_t screenWidth, int32_t screenHeight,
                        const std::string& target);
// Where "Set as wallpaper" writes its picture.
std::string WallpaperPath();

class CImageForm : public CBaseForm {
public:
    explicit CImageForm(HWND parent);
    ~CImageForm() override;
    CImageForm(const CImageForm&) = delete;
    CImageForm& operator=(const CImageForm&) = delete;

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    HWND window() const { return AsHandle(window_); }

    // Makes `name` the file on screen and remembers the neighbour to pre-load once it is done.
    // With `immediate`, the image being left first completes "MinPercLoad" percent.
    void Show(const std::string& name, const std::string& preloadName, bool immediate);
    // Starts decoding `name` in the pre-load image for a pane of the given size, before the
    // pane has that size; a Show of `name` takes the load over while its box still fits.
    void PreloadAt(const std::string& name, int32_t viewWidth, int32_t viewHeight);
    void SetResampleMode(int mode);
    void SetAdjust(int32_t percentage);
    void SetAdjustVisible(bool visible);
    void SetUpscale(bool upscale);
    // Computes the current image's size again (the loader is stopped first) and redraws.
    void Refresh();
    // Size changes are ignored while set (the pane's own layout, the frame's fullscreen switch).
    void SetSwitching(bool switching) { switching_ = switching; }
    // Before the frame's fullscreen switch: sizes the complete picture on screen for the pane
    // size the switch will give and waits up to kSwitchWaitMs for it, so that the switch's first
    // paint can be its final one. False when there is no such picture; the frame then calls
    // Refresh after the switch, else ShowPrepared.
    bool PrepareSize(int32_t viewWidth, int32_t viewHeight, bool fullscreen);
    // After the switch: the prepared picture when its box is the one the pane's size now gives
    // (still loading, it shows scaled from the picture before until complete); else as Refresh.
    void ShowPrepared();

    // Fullscreen: called by the main frame after its own switch; it calls Refresh next.
    void SetFullscreen(bool fullscreen);
    bool fullscreen() const { return fullscreen_; }
    // One browsing step through the file list: VK_PRIOR, VK_NEXT, VK_END, VK_HOME, or VK_F5 to
    // re-sync after deletions. With shift, Page Up and Page Down step by series.
    void Navigate(WPARAM key, bool shift);
    // Moves the file to the trash unless it is the current one still being decoded.
    void DeleteFile(int32_t index, bool notify);
    void DeleteSeries();
    // Makes the current file the desktop picture; says so in a message box when it could not.
    void SetAsWallpaper();

    // Set by the main frame when fullscreen starts.
    std::vector<std::string> fileList;
    int32_t currentIndex = -1;

    struct Layout {
        int32_t viewWidth = 0;
        int32_t viewHeight = 0;
        int32_t leftMargin = 0;
        int32_t topMargin = 0;
        int32_t horizontalPosition = 0;
        int32_t verticalPosition = 0;
        bool horizontalBar = false;
        bool verticalBar = false;
        bool draggable = false;
    };
    const Layout& layout() const { return layout_; }
    CImage* currentImage() const { return current_->image.get(); }
    CImage* preloadImage() const { return preload_->image.get(); }
    const std::string& currentName() const { return currentName_; }
    int32_t currentSerial() const { return currentSerial_; }
    COLORREF backgroundColour() const { return background_; }
    HMENU imageMenu() const { return menu_; }

private:
    // What tells a file changed on disk from the one an image was opened with.
    struct FileStamp {
        bool exists = false;
        uint64_t device = 0, inode = 0, size = 0;
        int64_t modified = 0, changed = 0;  // nanoseconds
        bool operator==(const FileStamp&) const = default;
    };
    // One of the two images, with the owner it asks for its size from its loader thread.
    struct Slot : ISetMaxDim {
        void SetMaxDim() override;
        CImageForm* pane = nullptr;
        std::unique_ptr<CImage> image;
        // This load adopts a header only its decode reveals: its buffers are replaced on the
        // loader thread, so the pane paints nothing of it until the size is known.
        bool headerPending = false;
        // This load decodes the whole picture at once and cannot be stopped during that decode;
        // stopped later, it would leave its source picture incomplete. Changes wait for its end.
        bool oneShot = false;
        // This load decodes nothing: its loader hands the source held to the display, writing
        // the display's header and pointers as it does, and ends at once.
        bool handsOverSource = false;
        // The file as it was when the image was opened.
        FileStamp opened;
        // The box the pane last sized this image for, on the GUI thread; none after Open.
        TargetBox box;
        int32_t boxSourceWidth = 0;  // the source size the box was computed for
        int32_t boxSourceHeight = 0;
    };
    // What paint reads, copied from the current image only while its buffers cannot change.
    struct PaintSource {
        const uint8_t* bits = nullptr;
        BITMAPINFO header{};
        bool hasSource = false;
        int32_t width = 0;
        int32_t height = 0;
    };

    // The picture on screen before the pane's box changed, drawn scaled over the picture's
    // rectangle until the load for the new box is complete, so a resize or fullscreen switch
    // shows no black and no picture part old, part new.
    struct StandIn {
        std::string path;
        QImage picture;       // top-down, 32-bit
        QImage scaled;        // the picture at the new display size, made at the first paint
        int32_t serial = -1;  // the load it stands in for
    };

    TargetParams Params();
    bool KeepsLoadThroughResize(const TargetParams& p) const;
    bool BoxStillFits(const Slot& slot, const TargetParams& p) const;
    void ComputeTarget(Slot& slot, bool inLoader);
    void SizeSlot(Slot& slot, const TargetParams& p, bool inLoader);
    static FileStamp StampOf(const std::string& path);
    void OpenImage(Slot& slot, const std::string& path);
    bool HoldsUnchanged(const Slot& slot, const std::string& path) const;
    // watched: the load is for the screen even though the slot is not the current one.
    void StartImage(Slot& slot, bool watched = false);
    void Recompute(bool inLoader);
    bool DeferChange();
    bool HasPixelsToLoad(const CImage& image) const;
    void RunLayout();
    void TakePaintSource();
    void DropPaintSource() { paint_ = PaintSource{}; }
    void InvalidateAll();
    void InvalidateRows(int32_t from, int32_t to);
    void KeepStandIn();
    bool StandInShows() const;
    // False when the scaled picture could not be made.
    bool PaintStandIn(HDC dc, const RECT& r);
    void CurrentFinished();
    // With LUMORA_LOG=1, names the current file and why it shows no picture or only part of
    // one on standard error, once each time the file is shown.
    void NoteFailedLoad(const CImage& image);
    Slot* SlotOf(WPARAM image);

    void OnPaint();
    void OnProgress(WPARAM image, ProgressRecord* record);
    void OnSizeKnown(WPARAM image, LPARAM info);
    void OnSize();
    void OnScroll(int bar, int code);
    void OnLeftButtonDown(LPARAM where);
    void OnMouseMove(LPARAM where);
    void DragTo(LPARAM where);
    void OnLeftButtonUp();
    void OnContextMenu(LPARAM where);
    void OnCommand(WPARAM wParam, LPARAM lParam);
    void ChooseBackground();
    void OnFullscreenKey(WPARAM key);
    void ScrollByKey(WPARAM key);
    bool CurrentSettled() const;
    // Waits up to ms for the current image's loader to end; false when it still runs.
    bool AwaitCurrent(unsigned ms);
    bool RemoveFile(int32_t index);

    UniqueWindow window_;
    Slot slots_[2];
    Slot* current_ = &slots_[0];
    Slot* preload_ = &slots_[1];
    int32_t currentSerial_ = 0;
    std::string currentName_;
    std::string failureNoted_;  // the current file, once its failure is on standard error
    std::string preloadName_;
    int mode_ = kResampleNone;
    int modeUsed_ = kResampleNone;
    int32_t adjust_ = 0;
    bool recomputeWhenDone_ = false;
    bool fullscreen_ = false;
    bool adjustVisible_ = false;
    bool upscale_ = false;
    COLORREF background_ = 0x4D3837;
    bool switching_ = false;
    // Between PrepareSize and ShowPrepared: the picture on screen is being sized ahead of a
    // fullscreen switch; asIs, its box is the new size's already and no load was needed.
    bool preparing_ = false;
    bool preparedAsIs_ = false;
    Layout layout_;
    PaintSource paint_;
    StandIn standIn_;
    // Display rows [passFirst_, passEnd_) the bands of load passSerial_'s current pass painted.
    int32_t passSerial_ = -1;
    int32_t passFirst_ = 0;
    int32_t passEnd_ = 0;
    // The load whose complete picture replaced its stand-in in one paint.
    int32_t wholeSerial_ = -1;
    bool dragging_ = false;
    int32_t lastX_ = 0;
    int32_t lastY_ = 0;
    HCURSOR arrow_ = nullptr;
    HCURSOR hand_ = nullptr;
    HCURSOR grab_ = nullptr;
    HMENU menu_ = nullptr;
    bool logPaints_ = false;
    int imagePaints_ = 0;

    // The target parameters as loader threads read them.
    std::mutex paramsLock_;
    TargetParams params_;
    uint32_t paramsGeneration_ = 0;
};
