#include "fuzz/fuzz_load.h"

#include "fuzz/fuzz_read.h"
#include "image/image.h"
#include "image/jpeg_reader.h"
#include "image/resample.h"

void FuzzLoadImage(const uint8_t* data, size_t size, const std::string& extension) {
    BuildGammaTables();
    const std::string path = FuzzWriteInput(data, size, extension);
    if (path.empty()) return;

    CImage image;
    image.coarsePass = true;  // as the viewer shows a load: a progressive JPEG comes twice
    // As the viewer's start file: a JPEG's header and scans read ahead on a thread of their own,
    // taken over by the full-size load.
    const bool jpeg = extension == ".jpg" || extension == ".jpeg";
    if (jpeg) StartEarlyJpegRead(path);
    image.LoadNow(path, 1 << 30, 1 << 30);  // full size: direct path
    if (jpeg) EndEarlyJpegRead();
    image.coarsePass = false;
    image.LoadNow(path, 37, 23);             // reduced: box path
    image.Open(path);
    image.SetSizeLimit(48, 48, false, true);  // enlarged (sinc path) when smaller than 48 x 48
    image.StartLoad(0);
    image.FinishLoad();
    CImage streamed;  // as batch resize loads: rows handed on, no source picture
    streamed.streamSource = true;
    streamed.LoadNow(path, 37, 23);
    CImage thumbnail;  // as thumbnails load: the reader may deliver the picture reduced
    thumbnail.reducedDecode = true;
    thumbnail.LoadNow(path, 128, 128);
    CImage left;  // as the pane leaves a load for the next file: stopped wherever it is
    left.Open(path);
    left.SetSizeLimit(37, 23, false, false);
    left.StartLoad(0);
    left.StopLoad();
}
