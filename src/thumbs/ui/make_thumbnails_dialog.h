#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/qt/base_dialog.h"

class CThumbnailCache;

// "Making thumbnails...": makes and stores the thumbnail of every file of a folder that has no
// valid one yet, one decode at a time, with a progress bar; "Cancel" ends it at once and stores
// nothing more, and the button reads "Ok" once every file is done. Shown modally with DoModal.
class CMakeThumbnailsDlg : public CBaseDialog {
public:
    CMakeThumbnailsDlg(CThumbnailCache& cache, std::vector<std::string> files);
    ~CMakeThumbnailsDlg() override;
    intptr_t DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    // For tests: how far it got.
    int32_t index() const { return index_; }

private:
    // Stores the picture just finished, then starts the next file without a valid thumbnail.
    void Step(HWND dialog);

    CThumbnailCache& cache_;
    std::vector<std::string> files_;
    std::unique_ptr<CImage> current_;
    int32_t index_ = -1;
    bool cancelled_ = false;
};
