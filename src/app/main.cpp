// Process entry: batch resize runs here before anything of the desktop exists, so it works
// without a display; every other command line starts the viewer.

#include <cstdio>
#include <string>
#include <vector>

#include "app/core/resize_mode.h"
#include "app/core/start_path.h"
#include "image/jpeg_reader.h"
#include "image/resample.h"
#include "platform/start_trace.h"

#ifdef LUMORA_WITH_GUI
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
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

#ifdef LUMORA_WITH_GUI
// The folder holding the running program, with its final slash; empty when unknown.
std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    const std::string whole(path, static_cast<size_t>(n));
    const size_t slash = whole.rfind('/');
    return slash == std::string::npos ? std::string() : whole.substr(0, slash + 1);
}
#endif

int StartViewer(int argc, char** argv, const std::vector<std::string>& words) {
#ifdef LUMORA_WITH_GUI
    // The viewer and the desktop libraries under it (Qt, X11, fonts, ICU: some 35 of them) live
    // in a module loaded only here, so batch resize starts without them. A build tree keeps the
    // module beside the program, an installation in its library folder.
    // The start photo's decode begins now, while the desktop's libraries load and start.
    const StartChoice start = ChooseStartPath(words);
    if (start.fromCommandLine) StartEarlyJpegRead(start.file);
    const std::string folder = ProgramFolder();
    void* module = nullptr;
    for (const char* place : {"", LUMORA_VIEWER_DIR "/"}) {
        module = dlopen((folder + place + "lumora-viewer.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module) break;
    }
    using Entry = int (*)(int, char**, const std::vector<std::string>*);
    const auto run = module ? reinterpret_cast<Entry>(dlsym(module, "LumoraRunViewer")) : nullptr;
    if (!run) {
        std::fprintf(stderr, "lumora: cannot load the viewer: %s\n", dlerror());
        EndEarlyJpegRead();
        return 1;
    }
    // Never unloaded: its objects live until the process ends.
    const int status = run(argc, argv, &words);
    EndEarlyJpegRead();
    return status;
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
