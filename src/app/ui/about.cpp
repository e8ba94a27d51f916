// The About box: the version and the libraries the program decodes with.

#include <cstdio>
// The libraries' headers after <cstdio>: jpeglib.h needs it.
#include <gif_lib.h>
#include <jpeglib.h>
#include <lcms2.h>
#include <openjpeg.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include "app/ui/main_form.h"
#include "platform/qt/dialogs.h"
#include "settings/helpers.h"

namespace {

// "2, 4, 0, 0" gives "2.4".
std::string ShortVersion() {
    const std::string version = GetVersionString("FileVersion");
    if (version.size() < 3) return {};
    return std::string(1, version[0]) + "." + version[3];
}

std::string FirstLine(const char* text) {
    const std::string s = text ? text : "";
    return s.substr(0, s.find('\n'));
}

std::string TurboVersion() {
#ifdef LIBJPEG_TURBO_VERSION_NUMBER
    const int n = LIBJPEG_TURBO_VERSION_NUMBER;
    return std::to_string(n / 1000000) + "." + std::to_string(n / 1000 % 1000) + "." +
           std::to_string(n % 1000);
#else
    return "(libjpeg " + std::to_string(JPEG_LIB_VERSION) + " interface)";
#endif
}

}  // namespace

std::string AboutText() {
    const int cms = cmsGetEncodedCMMversion();
    return "Lumora is for viewing images only: it will never adjust or convert them.\n\n"
           "PNG: libpng " +
           std::string(png_get_header_ver(nullptr)) + "\nTIFF: " + FirstLine(TIFFGetVersion()) +
           "\nJPEG: libjpeg-turbo " + TurboVersion() + "\nGIF: giflib " +
           std::to_string(GIFLIB_MAJOR) + "." + std::to_string(GIFLIB_MINOR) + "." +
           std::to_string(GIFLIB_RELEASE) + "\nJPEG 2000: OpenJPEG " + opj_version() +
           "\nColour management (ICC): Little CMS " + std::to_string(cms / 1000) + "." +
           std::to_string(cms % 1000 / 10) + "\nzlib " + zlibVersion();
}

void CMainForm::ShowAbout() {
    MessageBox(window(), AboutText(), "About Lumora " + ShortVersion(), MB_OK | MB_ICONASTERISK);
}
