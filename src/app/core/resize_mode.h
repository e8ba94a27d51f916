#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CImage;

// Batch resize: "-resize INPUT WIDTH HEIGHT OUTPUT" scales one image to fit WIDTH x HEIGHT
// (0 for one side: it follows from the other), never enlarging it, and writes it as the
// output's extension says. It needs no display and writes no setting.

// Exactly five words after the program name, the first exactly "-resize".
bool IsResizeCommand(const std::vector<std::string>& words);

struct ResizeRequest {
    std::string input;
    int32_t width = 0;
    int32_t height = 0;
    std::string output;
};

// Reads words 2 to 5 of a resize command. False, with a one-line message, when a size is not a
// whole number from 0 up or both sizes are 0.
bool ParseResizeRequest(const std::vector<std::string>& words, ResizeRequest& request,
                        std::string& error);

// Decodes the file at the size that fits maxWidth x maxHeight and keeps only that picture.
void LoadFitted(CImage& image, const std::string& path, int32_t maxWidth, int32_t maxHeight);

// True only when the output file was written; otherwise `error` says why in one line.
bool RunResize(const ResizeRequest& request, std::string& error);

// The whole mode on the process's words. Failures are reported on `errors` as one line
// starting "lumora: ". Returns the exit status: 0 written, 1 not written, 2 bad arguments.
int RunResizeMode(const std::vector<std::string>& words, std::FILE* errors);
