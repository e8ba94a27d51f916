#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "image/writer.h"

// The library's standard error manager, except that a fatal error returns to the writer's
// recovery point instead of ending the process, and messages are not printed.
struct JpegWriterErrors {
    jpeg_error_mgr library;
    std::jmp_buf recovery;
};

// Baseline JPEG files at quality 90 with the library's default chroma subsampling. The same
// image always gives the same bytes, which the thumbnail cache relies on.
class CJpegWriter : public CImageWriter {
public:
    CJpegWriter(std::string path, CImage* image);

    void Write() override;

private:
    bool Compress(FILE* file, const DisplayRows& rows);

    jpeg_compress_struct compressor_;
    JpegWriterErrors errors_;
};
