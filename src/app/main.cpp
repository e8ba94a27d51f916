// Process entry.

#include <cstdio>
#include <cstring>

namespace {

void PrintUsage(FILE* out) {
    std::fputs(
        "Usage: lumora [IMAGE-OR-FOLDER]\n"
        "       lumora -resize INPUT WIDTH HEIGHT OUTPUT\n"
        "\n"
        "Shows an image or browses a folder. With -resize, scales INPUT to fit WIDTH x HEIGHT\n"
        "(0 for one side keeps the aspect ratio) and writes OUTPUT as .jpg, .bmp or .png.\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("Lumora 2.4");
        return 0;
    }
    PrintUsage(stdout);
    return 0;
}
