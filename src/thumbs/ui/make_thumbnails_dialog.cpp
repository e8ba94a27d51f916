#include "thumbs/ui/make_thumbnails_dialog.h"

#include <algorithm>
#include <utility>

#include "platform/qt/win32.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_loader.h"

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
    : CBaseDialog(MakeThumbnailsResource()),
      cache_(cache),
      files_(std::move(files)),
      parallel_(std::min(CThumbnailLoader::DefaultDecodes(), static_cast<int>(jobs_.size()))) {}

CMakeThumbnailsDlg::~CMakeThumbnailsDlg() {
    StopAll();
}

void CMakeThumbnailsDlg::StopAll() {
    for (Job& job : jobs_) {
        if (job.image) job.image->StopLoad();
        job.image.reset();
    }
}

CMakeThumbnailsDlg::Job* CMakeThumbnailsDlg::Earliest() {
    Job* earliest = nullptr;
    for (Job& job : jobs_) {
        if (job.image && (!earliest || job.index < earliest->index)) earliest = &job;
    }
    return earliest;
}

void CMakeThumbnailsDlg::Step(HWND dialog) {
    const auto count = static_cast<int32_t>(std::min<size_t>(files_.size(), INT32_MAX));
    // A later file that finished first waits for the earlier one, so a cancel never leaves a
    // file stored after one that is not.
    for (Job* job = Earliest(); job && job->image->done.load(std::memory_order_acquire);
         job = Earliest()) {
        // Every picture is stored here, small ones too: the user asked for the whole folder.
        cache_.Store(files_[static_cast<size_t>(job->index)], *job->image);
        job->image.reset();
    }
    for (int i = 0; i < parallel_; ++i) {
        Job& job = jobs_[static_cast<size_t>(i)];
        if (job.image) continue;
        while (next_ < count && !cache_.Lookup(files_[static_cast<size_t>(next_)]).empty()) {
            ++next_;
        }
        if (next_ >= count) break;
        auto image = std::make_unique<CImage>();
        image->notifyWindow.store(dialog);
        image->progressNotices = false;
        image->reducedDecode = true;
        image->Open(files_[static_cast<size_t>(next_)]);
        image->SetSizeLimit(kSize, kSize, false, false);
        job.index = next_++;
        job.image = std::move(image);
        job.image->StartLoad(THREAD_PRIORITY_NORMAL);
    }
    const Job* earliest = Earliest();
    index_ = earliest ? earliest->index : count;
    if (!earliest) {
        SetDlgItemText(dialog, kButton, "Ok");
        SetDlgItemPos(dialog, kProgressBar, 100);
        return;
    }
    SetDlgItemPos(dialog, kProgressBar, static_cast<int>(int64_t{index_} * 100 / count));
}

intptr_t CMakeThumbnailsDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SHOWWINDOW:
            if (wParam == 1 && index_ == -1 && !cancelled_) {
                Step(dialog);
                SetDlgItemRange(dialog, kProgressBar, 0, 100);
            }
            return 0;
        case WM_IMAGE_DONE: {
            // Only a picture under way counts: a notice of one stopped before is stale.
            const bool ours = std::any_of(jobs_.begin(), jobs_.end(), [wParam](const Job& job) {
                return job.image && wParam == reinterpret_cast<WPARAM>(job.image.get()) &&
                       job.image->done.load(std::memory_order_acquire);
            });
            if (ours && !cancelled_) Step(dialog);
            return 1;
        }
        case WM_IMAGE_PROGRESS:
            delete reinterpret_cast<ProgressRecord*>(lParam);
            return 1;
        case WM_COMMAND:
            if (LOWORD(wParam) != kButton) return 0;
            cancelled_ = true;
            // Nothing more is stored: the decodes under way are stopped and dropped.
            StopAll();
            EndDialog(dialog, kButton);
            return 1;
        default:
            return 0;
    }
}
