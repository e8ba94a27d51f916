#include "image/writer.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include <jpeglib.h>

#include "image/image.h"
#include "image/resample.h"
#include "support/bmp_builder.h"
#include "support/temp_dir.h"

namespace {

bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

// A display image made by hand: pixels given top-down as B, G, R(, X), stored in the row order
// the sign asks for, with the display buffer pointing into memory the test owns.
struct Picture {
    CImage image;
    std::vector<uint8_t> memory;

    Picture(int32_t w, int32_t h, int bits, bool bottomUp,
            const std::function<void(int32_t x, int32_t y, uint8_t* px)>& fill) {
        const int bpp = bits / 8;
        const int32_t stride = static_cast<int32_t>(DibStride(w, bits));
        memory.assign(static_cast<size_t>(stride) * h, 0);
        for (int32_t y = 0; y < h; ++y) {
            const int32_t memoryRow = bottomUp ? h - 1 - y : y;
            for (int32_t x = 0; x < w; ++x)
                fill(x, y, memory.data() + static_cast<size_t>(memoryRow) * stride + x * bpp);
        }
        BITMAPINFO info = EmptyBitmapInfo();
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = bottomUp ? h : -h;
        info.bmiHeader.biBitCount = static_cast<uint16_t>(bits);
        image.displayHeader = info;
        image.displayBuffer = memory.data();
        image.displayStride = stride;
        image.displayBytes = memory.size();
    }
};

void Noise(int32_t, int32_t, uint8_t* px, std::mt19937& rng, int bpp) {
    for (int i = 0; i < bpp; ++i) px[i] = static_cast<uint8_t>(rng());
}

struct JpegInfo {
    bool ok = false;
    int width = 0, height = 0, components = 0;
    int lumaH = 0, lumaV = 0, firstQuant = 0;
    bool progressive = false;
    std::vector<uint8_t> rgb;  // top-down R, G, B
};

struct TestJpegErrors {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void FailDecode(j_common_ptr c) {
    longjmp(reinterpret_cast<TestJpegErrors*>(c->err)->jump, 1);
}

// Decodes with the library directly, not through the program's reader.
bool DecodeJpegFile(FILE* f, jpeg_decompress_struct& d, TestJpegErrors& err, JpegInfo& out) {
    d.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = FailDecode;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    out.progressive = d.progressive_mode;
    out.lumaH = d.comp_info[0].h_samp_factor;
    out.lumaV = d.comp_info[0].v_samp_factor;
    out.firstQuant = d.quant_tbl_ptrs[0] ? d.quant_tbl_ptrs[0]->quantval[0] : 0;
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    out.width = static_cast<int>(d.output_width);
    out.height = static_cast<int>(d.output_height);
    out.components = d.num_components;
    out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out.rgb.data() + static_cast<size_t>(d.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return true;
}

JpegInfo DecodeJpeg(const std::string& path) {
    JpegInfo out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    jpeg_decompress_struct d;
    TestJpegErrors err;
    out.ok = DecodeJpegFile(f, d, err, out);
    std::fclose(f);
    return out;
}

class WriterTest : public testing::Test {
protected:
    void SetUp() override { BuildGammaTables(); }
    TempDir dir_;
};

TEST_F(WriterTest, BmpOfThreeByTwoIsEightyTwoBytesBottomRowFirst) {
    // Top row: (1,2,3) (4,5,6) (7,8,9); bottom row: 10.. 18, as B, G, R bytes.
    Picture pic(3, 2, 24, true, [](int32_t x, int32_t y, uint8_t* px) {
        for (int c = 0; c < 3; ++c) px[c] = static_cast<uint8_t>(1 + y * 9 + x * 3 + c);
    });
    const std::string path = dir_.file("small.bmp");
    ASSERT_TRUE(pic.image.Save(path));
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 82u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bytes, 2), 82u);   // bfSize
    EXPECT_EQ(Le32(bytes, 6), 0u);    // reserved
    EXPECT_EQ(Le32(bytes, 10), 58u);  // bfOffBits
    EXPECT_EQ(Le32(bytes, 14), 40u);  // biSize
    EXPECT_EQ(Le32(bytes, 18), 3u);
    EXPECT_EQ(Le32(bytes, 22), 2u);   // positive: bottom-up
    EXPECT_EQ(Le32(bytes, 34), 24u);  // biSizeImage
    EXPECT_EQ(static_cast<uint8_t>(bytes[28]), 24);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(static_cast<uint8_t>(bytes[58 + i]), 10 + i) << "bottom row byte " << i;
        EXPECT_EQ(static_cast<uint8_t>(bytes[70 + i]), 1 + i) << "top row byte " << i;
    }
}

TEST_F(WriterTest, TopDownImageSavedAsBmpComesOutUprightAndReadsBack) {
    for (int bits : {24, 32}) {
        Picture pic(5, 3, bits, false, [](int32_t x, int32_t y, uint8_t* px) {
            px[0] = static_cast<uint8_t>(x * 40);
            px[1] = static_cast<uint8_t>(y * 80);
            px[2] = 200;
        });
        const std::string path = dir_.file("upright" + std::to_string(bits) + ".bmp");
        ASSERT_TRUE(pic.image.Save(path));
        const std::string bytes = ReadFileBytes(path);
        const size_t stride = static_cast<size_t>(DibStride(5, bits));
        ASSERT_EQ(bytes.size(), 58 + 3 * stride);
        // File row 0 is the picture's bottom row (y = 2).
        EXPECT_EQ(static_cast<uint8_t>(bytes[58 + 1]), 160);
        EXPECT_EQ(static_cast<uint8_t>(bytes[58 + 2 * stride + 1]), 0);

        CImage back;
        back.LoadNow(path, 1000, 1000);
        ASSERT_EQ(back.GetWidth(), 5);
        ASSERT_EQ(back.GetHeight(), 3);
        EXPECT_GT(back.displayHeader.bmiHeader.biHeight, 0);
        const int bpp = bits / 8;
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 5; ++x) {
                const uint8_t* px = back.displayBuffer + (2 - y) * back.displayStride + x * bpp;
                EXPECT_EQ(px[0], x * 40);
                EXPECT_EQ(px[1], y * 80);
                EXPECT_EQ(px[2], 200);
            }
    }
}

TEST_F(WriterTest, JpegIsBaselineQualityNinetySubsampledUprightAndRepeatable) {
    // Left half red, right half blue, a green bottom band: orientation and channel order show.
    Picture pic(64, 48, 24, true, [](int32_t x, int32_t y, uint8_t* px) {
        const bool band = y >= 40, left = x < 32;
        px[0] = !band && !left ? 255 : 0;
        px[1] = band ? 255 : 0;
        px[2] = !band && left ? 255 : 0;
    });
    const std::string first = dir_.file("a.jpg");
    const std::string second = dir_.file("b.jpg");
    ASSERT_TRUE(pic.image.Save(first));
    ASSERT_TRUE(pic.image.Save(second));
    EXPECT_EQ(ReadFileBytes(first), ReadFileBytes(second));

    const JpegInfo info = DecodeJpeg(first);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.width, 64);
    EXPECT_EQ(info.height, 48);
    EXPECT_EQ(info.components, 3);
    EXPECT_FALSE(info.progressive);
    EXPECT_EQ(info.lumaH, 2);
    EXPECT_EQ(info.lumaV, 2);
    EXPECT_EQ(info.firstQuant, 3);  // 16 scaled to 20 percent: quality 90
    const std::string bytes = ReadFileBytes(first);
    EXPECT_NE(bytes.find("\xFF\xC0", 0, 2), std::string::npos) << "baseline frame marker";
    auto at = [&](int x, int y) { return info.rgb.data() + (y * 64 + x) * 3; };
    EXPECT_GT(at(8, 8)[0], 230);  // top left red
    EXPECT_LT(at(8, 8)[2], 25);
    EXPECT_GT(at(56, 8)[2], 230);  // top right blue
    EXPECT_LT(at(56, 8)[0], 25);
    EXPECT_GT(at(8, 45)[1], 230);  // bottom band green
}

TEST_F(WriterTest, JpegIgnoresTheFourthByteAndMatchesAPlainRgbEncode) {
    std::mt19937 rng(7);
    std::vector<uint8_t> bgr(37 * 29 * 3);
    for (uint8_t& b : bgr) b = static_cast<uint8_t>(rng());
    auto pixel = [&](int32_t x, int32_t y) { return bgr.data() + (y * 37 + x) * 3; };
    Picture p24(37, 29, 24, false,
                [&](int32_t x, int32_t y, uint8_t* px) { std::memcpy(px, pixel(x, y), 3); });
    Picture p32(37, 29, 32, true, [&](int32_t x, int32_t y, uint8_t* px) {
        std::memcpy(px, pixel(x, y), 3);
        px[3] = static_cast<uint8_t>(x * 7 + y);
    });
    const std::string a = dir_.file("p24.jpg"), b = dir_.file("p32.jpg"),
                      ref = dir_.file("ref.jpg");
    ASSERT_TRUE(p24.image.Save(a));
    ASSERT_TRUE(p32.image.Save(b));
    EXPECT_EQ(ReadFileBytes(a), ReadFileBytes(b));

    // The same picture encoded from R, G, B rows with the library's defaults at quality 90.
    FILE* f = std::fopen(ref.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = 37;
    c.image_height = 29;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(37 * 3);
    for (int32_t y = 0; y < 29; ++y) {
        for (int32_t x = 0; x < 37; ++x)
            for (int ch = 0; ch < 3; ++ch) row[x * 3 + ch] = pixel(x, y)[2 - ch];
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    EXPECT_EQ(ReadFileBytes(a), ReadFileBytes(ref));
}

struct PngInfo {
    bool ok = false;
    int colourType = -1;
    png_image image{};
    std::vector<uint8_t> rgba;  // top-down
};

PngInfo DecodePng(const std::string& path) {
    PngInfo out;
    const std::string bytes = ReadFileBytes(path);
    if (bytes.size() < 26) return out;
    out.colourType = static_cast<uint8_t>(bytes[25]);
    out.image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&out.image, path.c_str())) return out;
    out.image.format = PNG_FORMAT_RGBA;
    out.rgba.resize(PNG_IMAGE_SIZE(out.image));
    out.ok = png_image_finish_read(&out.image, nullptr, out.rgba.data(), 0, nullptr) != 0;
    return out;
}

TEST_F(WriterTest, PngIsRgbFor24BitAndKeepsARealAlphaChannelFor32Bit) {
    Picture p24(4, 3, 24, true, [](int32_t x, int32_t y, uint8_t* px) {
        px[0] = static_cast<uint8_t>(x), px[1] = static_cast<uint8_t>(y), px[2] = 99;
    });
    const std::string rgb = dir_.file("rgb.png");
    ASSERT_TRUE(p24.image.Save(rgb));
    PngInfo a = DecodePng(rgb);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.colourType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(a.image.width, 4u);
    EXPECT_EQ(a.image.height, 3u);
    const uint8_t* px = a.rgba.data() + (2 * 4 + 3) * 4;  // x 3, y 2
    EXPECT_EQ(px[0], 99);
    EXPECT_EQ(px[1], 2);
    EXPECT_EQ(px[2], 3);
    EXPECT_EQ(px[3], 255);

    Picture p32(4, 3, 32, false, [](int32_t x, int32_t y, uint8_t* px) {
        px[0] = 10, px[1] = 20, px[2] = 30, px[3] = static_cast<uint8_t>(x * 60 + y);
    });
    const std::string rgba = dir_.file("rgba.png");
    ASSERT_TRUE(p32.image.Save(rgba));
    PngInfo b = DecodePng(rgba);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.colourType, PNG_COLOR_TYPE_RGB_ALPHA);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const uint8_t* q = b.rgba.data() + (y * 4 + x) * 4;
            EXPECT_EQ(q[0], 30);
            EXPECT_EQ(q[3], x * 60 + y) << x << "," << y;
        }
}

TEST_F(WriterTest, PngOf32BitImagesWithoutMeaningfulFourthBytesIsOpaque) {
    // A palette BMP becomes a 32-bit image whose fourth bytes are the palette's zero bytes.
    std::vector<uint8_t> palette = {10, 20, 30, 0, 200, 100, 50, 0};
    std::vector<uint8_t> pixels;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) pixels.push_back(static_cast<uint8_t>((x + y) % 2));
    BmpDesc desc;
    desc.width = 40;
    desc.height = 40;
    desc.bitCount = 8;
    desc.clrUsed = 2;
    desc.colourBlock = palette;
    desc.pixels = pixels;
    const std::string source = dir_.file("palette.bmp");
    WriteFileBytes(source, BuildBmp(desc));

    struct Case {
        int32_t box;
        bool downscaled;
    };
    for (const Case c : {Case{10, true}, Case{100, false}}) {
        CImage image;
        image.LoadNow(source, c.box, c.box);
        ASSERT_EQ(image.displayHeader.bmiHeader.biBitCount, 32);
        EXPECT_EQ(image.downscale, c.downscaled);
        const std::string out = dir_.file("opaque" + std::to_string(c.box) + ".png");
        ASSERT_TRUE(image.Save(out));
        PngInfo png = DecodePng(out);
        ASSERT_TRUE(png.ok);
        EXPECT_EQ(png.colourType, PNG_COLOR_TYPE_RGB_ALPHA);
        EXPECT_EQ(png.image.width, c.downscaled ? 10u : 40u);
        for (size_t i = 3; i < png.rgba.size(); i += 4) ASSERT_EQ(png.rgba[i], 255) << "byte " << i;
        // The display image itself is only read.
        if (!c.downscaled) {
            EXPECT_EQ(image.displayBuffer[3], 0);
        }
    }
}

TEST_F(WriterTest, SaveChoosesByExtensionAndWritesNothingOtherwise) {
    Picture pic(8, 8, 24, true, [](int32_t, int32_t, uint8_t* px) { px[0] = px[1] = px[2] = 128; });
    const std::string upper = dir_.file("Upper.JPG");
    ASSERT_TRUE(pic.image.Save(upper));
    EXPECT_EQ(ReadFileBytes(upper).substr(0, 3), "\xFF\xD8\xFF");
    EXPECT_FALSE(Exists(dir_.file("upper.jpg")));

    for (const std::string name : {"x.jpeg", "x.gif", "x.tif", "x"}) {
        EXPECT_FALSE(pic.image.Save(dir_.file(name))) << name;
        EXPECT_FALSE(Exists(dir_.file(name))) << name;
    }
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    EXPECT_FALSE(pic.image.Save(".jpg"));
    EXPECT_FALSE(Exists(".jpg"));
    std::filesystem::current_path(cwd);

    EXPECT_FALSE(pic.image.Save(dir_.file("no-such-folder/x.png")));
}

TEST_F(WriterTest, AnImageWithoutPixelsOrWithAShortBufferWritesNoFile) {
    CImage empty;  // as after a decode that failed: 0 x 0, no buffer
    for (const std::string name : {"empty.jpg", "empty.bmp", "empty.png"}) {
        EXPECT_FALSE(empty.Save(dir_.file(name))) << name;
        EXPECT_FALSE(Exists(dir_.file(name))) << name;
    }
    // A header claiming one row more than the buffer holds: no writer reads past it.
    Picture pic(16, 4, 24, true, [](int32_t, int32_t, uint8_t* px) { px[0] = 1; });
    pic.image.displayHeader.bmiHeader.biHeight = 5;
    for (const std::string name : {"short.jpg", "short.bmp", "short.png"}) {
        EXPECT_FALSE(pic.image.Save(dir_.file(name))) << name;
        EXPECT_FALSE(Exists(dir_.file(name))) << name;
    }
}

TEST_F(WriterTest, AFileThatCannotBeReplacedIsNotReportedAsWritten) {
    Picture pic(2, 2, 24, true, [](int32_t, int32_t, uint8_t* px) { px[2] = 255; });
    const std::string taken = dir_.file("taken.jpg");
    std::filesystem::create_directory(taken);
    EXPECT_FALSE(pic.image.Save(taken));
    EXPECT_TRUE(std::filesystem::is_directory(taken));
}

TEST_F(WriterTest, LibraryRefusalsRemoveThePartialFileAndTheProcessGoesOn) {
    // Wider than JPEG allows, and wider than libpng writes by default.
    Picture wide(1000001, 1, 24, true, [](int32_t, int32_t, uint8_t* px) { px[1] = 9; });
    const std::string jpg = dir_.file("wide.jpg");
    const std::string png = dir_.file("wide.png");
    EXPECT_FALSE(wide.image.Save(jpg));
    EXPECT_FALSE(Exists(jpg));
    EXPECT_FALSE(wide.image.Save(png));
    EXPECT_FALSE(Exists(png));
    // A later save of the same kind still works.
    Picture small(3, 3, 24, true, [](int32_t, int32_t, uint8_t* px) { px[1] = 9; });
    EXPECT_TRUE(small.image.Save(jpg));
    EXPECT_TRUE(small.image.Save(png));
}

// Saves in a child process whose files may grow to `limit` bytes only, as on a full disk.
// Returns the child's report: 1 when Save said true, 0 when false; -1 when the child died.
int SaveWithFileSizeLimit(CImage& image, const std::string& path, rlim_t limit) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
        rlimit rl{limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(3);
        _exit(image.Save(path) ? 1 : 0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(WriterTest, AWriteThatFailsMidwayLeavesNoFile) {
    std::mt19937 rng(11);
    for (int bits : {24, 32}) {
        Picture pic(300, 200, bits, true,
                    [&](int32_t x, int32_t y, uint8_t* px) { Noise(x, y, px, rng, bits / 8); });
        for (const std::string ext : {".jpg", ".bmp", ".png"}) {
            const std::string path = dir_.file("full" + std::to_string(bits) + ext);
            EXPECT_EQ(SaveWithFileSizeLimit(pic.image, path, 20000), 0) << path;
            EXPECT_FALSE(Exists(path)) << path;
            // Room enough: the same save succeeds, so the limit is what made it fail.
            EXPECT_EQ(SaveWithFileSizeLimit(pic.image, path, 4 << 20), 1) << path;
            EXPECT_GT(std::filesystem::file_size(path), 20000u) << path;
        }
    }
}

// Save's reason in a child process whose files may grow to `limit` bytes only.
std::string SaveFailureWithFileSizeLimit(CImage& image, const std::string& path, rlim_t limit) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return "no pipe";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        std::string why = "written";
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0 || image.Save(path, &why)) why = "written";
        if (write(pipeEnds[1], why.data(), why.size()) < 0) _exit(2);
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string why;
    char buffer[256];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) why.append(buffer, n);
    close(pipeEnds[0]);
    waitpid(child, nullptr, 0);
    return why;
}

TEST_F(WriterTest, AFailedSaveSaysWhy) {
    std::mt19937 rng(13);
    Picture pic(300, 200, 24, true,
                [&](int32_t x, int32_t y, uint8_t* px) { Noise(x, y, px, rng, 3); });
    // The error of the write that failed, from every writer, buffered or not.
    for (const std::string ext : {".jpg", ".bmp", ".png"})
        EXPECT_EQ(SaveFailureWithFileSizeLimit(pic.image, dir_.file("full" + ext), 20000),
                  "File too large")
            << ext;

    const std::string folder = dir_.file("folder.png");
    std::filesystem::create_directory(folder);
    CImage empty;
    struct Case {
        CImage* image;
        std::string path;
        const char* reason;
    };
    for (const Case& c : {Case{&pic.image, folder, "not a regular file"},
                          Case{&pic.image, dir_.file("none/out.bmp"), "No such file or directory"},
                          Case{&pic.image, dir_.file("out.gif"), "unsupported output type"},
                          Case{&empty, dir_.file("empty.jpg"), "no picture to write"}}) {
        std::string why;
        EXPECT_FALSE(c.image->Save(c.path, &why));
        EXPECT_EQ(why, c.reason) << c.path;
    }
}

// The names in a folder, sorted: what a save left behind.
std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(WriterTest, AWriteThatFailsMidwayLeavesTheOlderFileAsItWas) {
    std::mt19937 rng(12);
    Picture pic(300, 200, 24, true,
                [&](int32_t x, int32_t y, uint8_t* px) { Noise(x, y, px, rng, 3); });
    Picture older(4, 4, 24, true, [](int32_t, int32_t, uint8_t* px) { px[0] = 200; });
    for (const std::string ext : {".jpg", ".bmp", ".png"}) {
        const std::string path = dir_.file("keep" + ext);
        ASSERT_TRUE(older.image.Save(path));
        ASSERT_EQ(chmod(path.c_str(), 0640), 0);
        const std::string before = ReadFileBytes(path);
        EXPECT_EQ(SaveWithFileSizeLimit(pic.image, path, 20000), 0) << path;
        EXPECT_TRUE(ReadFileBytes(path) == before) << path << " was changed";

        // Replaced once the picture fits, keeping the older file's permissions.
        EXPECT_EQ(SaveWithFileSizeLimit(pic.image, path, 4 << 20), 1) << path;
        EXPECT_GT(std::filesystem::file_size(path), 20000u) << path;
        struct stat info;
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0640u) << path;
    }
    // Nothing of the failed writes is left beside them.
    EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"keep.bmp", "keep.jpg", "keep.png"}));
}

TEST_F(WriterTest, ASymbolicLinkStaysALinkAndTheFileItNamesGetsThePicture) {
    Picture pic(6, 5, 24, true, [](int32_t x, int32_t, uint8_t* px) { px[1] = x * 40; });
    std::filesystem::create_directory(dir_.path() / "real");
    const std::string photo = dir_.file("real/photo.jpg");
    WriteFileBytes(photo, "an older file");
    std::filesystem::create_symlink("real/photo.jpg", dir_.path() / "link.jpg");
    ASSERT_TRUE(pic.image.Save(dir_.file("link.jpg")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir_.path() / "link.jpg"));
    EXPECT_EQ(std::filesystem::read_symlink(dir_.path() / "link.jpg"), "real/photo.jpg");
    EXPECT_EQ(ReadFileBytes(photo).substr(0, 3), "\xFF\xD8\xFF");

    // A link to a file not there yet: the file is made where the link points.
    std::filesystem::create_symlink("real/new.png", dir_.path() / "pending.png");
    ASSERT_TRUE(pic.image.Save(dir_.file("pending.png")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir_.path() / "pending.png"));
    EXPECT_EQ(ReadFileBytes(dir_.file("real/new.png")).substr(1, 3), "PNG");

    EXPECT_EQ(Names(dir_.path()), (std::vector<std::string>{"link.jpg", "pending.png", "real"}));
    EXPECT_EQ(Names(dir_.path() / "real"), (std::vector<std::string>{"new.png", "photo.jpg"}));
}

}  // namespace
