#include "thumbs/ui/make_thumbnails_dialog.h"

#include <utility>

#include "platform/qt/win32.h"
#include "thumbs/thumbnail_cache.h"

namespace {

constexpr int kProgressBar = 1000;
constexpr int kButton = 2;  // "Cancel", and "Ok" once every file is done
constexpr int32_t kSize = 128;

DialogResource MakeThumbnailsResource() {
    DialogResource resource;
    resource.title = "Making thumbnails...";
    resource.width = 182;
    resource.height = 42;
    resource.groups = {{"", {{{DialogItemKind::kProgress, kProgressBar, ""}}}}};
    resource.buttons = {{DialogItemKind::kDefaultButton, kButton, "Cancel"}};
    return resource;
}

}  // namespace

CMakeThumbnailsDlg::CMakeThumbnailsDlg(CThumbnailCache& cache, std::vector<std::string> files)
    : CBaseDialog(MakeThumbnailsResource()), cache_(cache), files_(std::move(files)) {}

CMakeThumbnailsDlg::~CMakeThumbnailsDlg() {
    if (current_) current_->StopLoad();
}

void CMakeThumbnailsDlg::Step(HWND dialog) {
    const auto count = static_cast<int64_t>(files_.size());
    if (index_ > -1) {
        SetDlgItemPos(dialog, kProgressBar, static_cast<int>(index_ * 100 / count));
        // Every picture is stored here, small ones too: the user asked for the whole folder.
        if (current_) cache_.Store(files_[static_cast<size_t>(index_)], *current_);
        current_.reset();
    }
    ++index_;
    while (index_ < count && !cache_.Lookup(files_[static_cast<size_t>(index_)]).empty()) {
        ++index_;
    }
    if (index_ >= count) {
        SetDlgItemText(dialog, kButton, "Ok");
        SetDlgItemPos(dialog, kProgressBar, 100);
        return;
    }
    auto image = std::make_unique<CImage>();
    image->notifyWindow.store(dialog);
    image->progressNotices = false;
    image->reducedDecode = true;
    image->Open(files_[static_cast<size_t>(index_)]);
    image->SetSizeLimit(kSize, kSize, false, false);
    current_ = std::move(image);
    current_->StartLoad(THREAD_PRIORITY_NORMAL);
}

intptr_t CMakeThumbnailsDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SHOWWINDOW:
            if (wParam == 1 && index_ == -1 && !cancelled_) {
                Step(dialog);
                SetDlgItemRange(dialog, kProgressBar, 0, 100);
            }
            return 0;
        case WM_IMAGE_DONE:
            // Only the picture under way counts: a notice of one stopped before is stale.
            if (!current_ || wParam != reinterpret_cast<WPARAM>(current_.get()) ||
                !current_->done.load(std::memory_order_acquire)) {
                return 1;
            }
            if (!cancelled_) Step(dialog);
            return 1;
        case WM_IMAGE_PROGRESS:
            delete reinterpret_cast<ProgressRecord*>(lParam);
            return 1;
        case WM_COMMAND:
            if (LOWORD(wParam) != kButton) return 0;
            cancelled_ = true;
            // Nothing more is stored: the decode under way is stopped and dropped.
            if (current_) {
                current_->StopLoad();
                current_.reset();
            }
            EndDialog(dialog, kButton);
            return 1;
        default:
            return 0;
    }
}
