#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/qt/base_dialog.h"

class CThumbnailCache;

// "Making thumbnails...": makes and stores the thumbnail of every file of a folder that has no
// valid one yet, with a progress bar; "Cancel" ends it at once and stores nothing more, and the
// button reads "Ok" once every file is done. Shown modally with DoModal. Up to two files decode
// at once (one per core); their pictures are stored in file order, so what is stored is always
// the files before the one the bar stands at.
class CMakeThumbnailsDlg : public CBaseDialog {
public:
    CMakeThumbnailsDlg(CThumbnailCache& cache, std::vector<std::string> files);
    ~CMakeThumbnailsDlg() override;
    intptr_t DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    // For tests: how far it got (the first file not yet stored; the count once done).
    int32_t index() const { return index_; }

private:
    struct Job {
        std::unique_ptr<CImage> image;
        int32_t index = -1;
    };

    // Stores the finished pictures that are next in file order, then starts the next files
    // without a valid thumbnail.
    void Step(HWND dialog);
    Job* Earliest();
    void StopAll();

    CThumbnailCache& cache_;
    std::vector<std::string> files_;
    std::array<Job, 2> jobs_;
    int parallel_ = 1;
    int32_t next_ = 0;  // the first file not yet looked at
    int32_t index_ = -1;
    bool cancelled_ = false;
};
