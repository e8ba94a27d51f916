// Process entry: batch resize runs here before anything of the desktop exists, so it works
// without a display; every other command line starts the viewer.

#include <cstdio>
#include <string>
#include <vector>

#include "app/core/resize_mode.h"
#include "image/resample.h"
#include "platform/start_trace.h"

#ifdef LUMORA_WITH_GUI
#include "app/ui/viewer.h"
#endif

namespace {

void PrintUsage(FILE* out) {
    std::fputs(
        "Usage: lumora [IMAGE-OR-FOLDER]\n"
        "       lumora -resize INPUT WIDTH HEIGHT OUTPUT\n"
        "\n"
        "Shows an image or browses a folder. With -resize, scales INPUT to fit WIDTH x HEIGHT\n"
        "(0 for one side keeps the aspect ratio; never enlarged) and writes OUTPUT as .jpg,\n"
        ".bmp or .png. Exit status: 0 when OUTPUT was written, 1 when it was not, 2 for a\n"
        "width or height that is not a whole number.\n"
        "\n"
        "With LUMORA_LOG=1 in the environment, the viewer names on standard error each file it\n"
        "cannot show whole, and why, and traces the start's steps with their times.\n",
        out);
}

int StartViewer(int argc, char** argv, const std::vector<std::string>& words) {
#ifdef LUMORA_WITH_GUI
    return RunViewer(argc, argv, words);
#else
    // Built without the desktop: a normal start explains the command line.
    (void)argc, (void)argv, (void)words;
    PrintUsage(stdout);
    return 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    TraceStartStep("main");
    BuildGammaTables();
    // The words as the process received them: the shell has already split and unquoted them.
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (IsResizeCommand(words)) return RunResizeMode(words, stderr);
    if (words.size() == 1 && words[0] == "--help") {
        PrintUsage(stdout);
        return 0;
    }
    if (words.size() == 1 && words[0] == "--version") {
        std::printf("Lumora %d.%d\n", LUMORA_VERSION_MAJOR, LUMORA_VERSION_MINOR);
        return 0;
    }
    return StartViewer(argc, argv, words);
}
