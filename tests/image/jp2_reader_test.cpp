#include "image/jp2_reader.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <openjpeg.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "image/image.h"
#include "image/resample.h"
#include "support/recording_window.h"
#include "support/reference.h"
#include "support/temp_dir.h"

namespace {

// The display image as R, G, B bytes, top row first.
std::vector<uint8_t> TopDownRgb(const CImage& image) {
    std::vector<uint8_t> out;
    const int w = image.GetWidth(), h = image.GetHeight();
    const bool bottomUp = image.displayHeader.bmiHeader.biHeight > 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = image.displayBuffer +
                             static_cast<size_t>(bottomUp ? h - 1 - y : y) * image.displayStride;
        for (int x = 0; x < w; ++x)
            out.insert(out.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    return out;
}

std::vector<uint8_t> Rgb(std::initializer_list<uint8_t> bytes) {
    return bytes;
}

uint64_t Fnv1a64(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

struct Component {
    uint32_t prec = 8;
    bool sgnd = false;
    uint32_t dx = 1, dy = 1;
    uint16_t alpha = 0;
};

// A picture encoded losslessly with OpenJPEG, as a JP2 file or as a raw code stream.
struct Jp2Desc {
    uint32_t width = 4, height = 2;
    OPJ_COLOR_SPACE space = OPJ_CLRSPC_SRGB;
    std::vector<Component> comps = {{}, {}, {}};
    std::function<int(int c, uint32_t x, uint32_t y)> sample = [](int c, uint32_t x, uint32_t y) {
        return static_cast<int>(40 * c + 10 * y + x);
    };
    std::vector<uint8_t> icc;
    OPJ_CODEC_FORMAT format = OPJ_CODEC_JP2;
    int resolutions = 1;
};

void Quiet(const char*, void*) {}

// The encoder cannot write a profile, so the file's enumerated colour box is
// replaced by one carrying the profile (method 2), and the header box grows to match.
void PutProfile(const std::string& path, const std::vector<uint8_t>& icc) {
    std::string bytes = ReadFileBytes(path);
    const size_t header = bytes.find("jp2h") - 4;
    const size_t colour = bytes.find("colr") - 4;
    ASSERT_LT(header, colour);
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    const uint32_t oldLength = static_cast<uint8_t>(bytes[colour + 3]);  // 15: enumerated
    ASSERT_EQ(oldLength, 15u);
    const std::string box = be32(static_cast<uint32_t>(11 + icc.size())) + "colr" +
                            std::string{2, 0, 0} + std::string(icc.begin(), icc.end());
    bytes.replace(colour, oldLength, box);
    uint32_t headerLength = 0;
    for (int i = 0; i < 4; ++i)
        headerLength = (headerLength << 8) | static_cast<uint8_t>(bytes[header + i]);
    bytes.replace(header, 4, be32(headerLength + static_cast<uint32_t>(box.size()) - oldLength));
    WriteFileBytes(path, bytes);
}

void EncodeJp2(const std::string& path, const Jp2Desc& desc) {
    std::vector<opj_image_cmptparm_t> params(desc.comps.size());
    for (size_t c = 0; c < params.size(); ++c) {
        std::memset(&params[c], 0, sizeof params[c]);
        params[c].dx = desc.comps[c].dx;
        params[c].dy = desc.comps[c].dy;
        params[c].w = (desc.width + params[c].dx - 1) / params[c].dx;
        params[c].h = (desc.height + params[c].dy - 1) / params[c].dy;
        params[c].prec = desc.comps[c].prec;
        params[c].sgnd = desc.comps[c].sgnd;
    }
    opj_image_t* image =
        opj_image_create(static_cast<OPJ_UINT32>(params.size()), params.data(), desc.space);
    ASSERT_NE(image, nullptr);
    image->x1 = desc.width;
    image->y1 = desc.height;
    for (size_t c = 0; c < params.size(); ++c) {
        image->comps[c].alpha = desc.comps[c].alpha;
        for (uint32_t y = 0; y < params[c].h; ++y)
            for (uint32_t x = 0; x < params[c].w; ++x)
                image->comps[c].data[y * params[c].w + x] = desc.sample(static_cast<int>(c), x, y);
    }
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = 0;  // lossless
    parameters.cp_disto_alloc = 1;
    parameters.numresolution = desc.resolutions;
    parameters.tcp_mct = 0;
    opj_codec_t* codec = opj_create_compress(desc.format);
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
    opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_FALSE);
    const bool ok = opj_setup_encoder(codec, &parameters, image) &&
                    opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                    opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    ASSERT_TRUE(ok) << path;
    if (!desc.icc.empty()) PutProfile(path, desc.icc);
}

// Rewrites the enumerated colour space of a JP2 file's colour box.
void SetEnumeratedSpace(const std::string& path, uint32_t space) {
    std::string bytes = ReadFileBytes(path);
    const size_t at = bytes.find("colr");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(bytes[at + 4], 1) << "not an enumerated space";
    for (int i = 0; i < 4; ++i) bytes[at + 7 + i] = static_cast<char>(space >> (24 - 8 * i));
    WriteFileBytes(path, bytes);
}

// Rewrites the picture and tile sizes in the code stream's SIZ marker segment and the file's
// image header box.
void PatchSizes(const std::string& path, uint32_t width, uint32_t height, uint32_t tileWidth,
                uint32_t tileHeight) {
    std::string bytes = ReadFileBytes(path);
    const size_t siz = bytes.find("\xFF\x51", bytes.find("jp2c"));
    ASSERT_NE(siz, std::string::npos);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    put(siz + 6, width);
    put(siz + 10, height);
    put(siz + 22, tileWidth);
    put(siz + 26, tileHeight);
    const size_t ihdr = bytes.find("ihdr");  // the file header repeats the size
    ASSERT_NE(ihdr, std::string::npos);
    put(ihdr + 4, height);
    put(ihdr + 8, width);
    WriteFileBytes(path, bytes);
}

std::vector<uint8_t> SaveProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// sRGB's transfer function, for what a linear-light sample becomes.
double SrgbEncoded(double linear255) {
    const double v = linear255 / 255.0;
    return 255.0 * (v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055);
}

class Jp2ReaderTest : public testing::Test {
protected:
    void SetUp() override { BuildGammaTables(); }
    // Encodes the description and loads it at full size; the image is done whatever the file held.
    std::vector<uint8_t> Load(const Jp2Desc& desc, const std::string& name = "t.jp2") {
        const std::string path = dir_.file(name);
        EncodeJp2(path, desc);
        return LoadFile(path);
    }
    std::vector<uint8_t> LoadFile(const std::string& path) {
        image_.LoadNow(path, 1 << 30, 1 << 30);
        EXPECT_TRUE(image_.done) << path;
        return TopDownRgb(image_);
    }
    TempDir dir_;
    CImage image_;
};

TEST_F(Jp2ReaderTest, CorpusFilesMatchAnIndependentDecoder) {
    const std::string nemo = dir_.file("nemo.jp2");
    std::filesystem::copy_file(CorpusPath("jp2/glymur/nemo.jp2"), nemo);
    const std::vector<uint8_t> pixels = LoadFile(nemo);
    ASSERT_EQ(image_.GetWidth(), 2592);
    ASSERT_EQ(image_.GetHeight(), 1456);
    EXPECT_EQ(Fnv1a64(pixels), 0x1e94cfe8095eb1bdull);
    image_.LoadNow(nemo, 200, 200);  // box path after a deferred header
    EXPECT_EQ(image_.GetWidth(), 200);
    EXPECT_EQ(image_.GetHeight(), 112);

    // A JPX file with a palette, irreversible wavelet: a tolerance for the decoders' rounding.
    const std::string heliov = dir_.file("heliov.jp2");
    std::filesystem::copy_file(CorpusPath("jp2/glymur/heliov.jpx"), heliov);
    const std::vector<uint8_t> sun = LoadFile(heliov);
    ASSERT_EQ(image_.GetWidth(), 1024);
    RefImage crop;
    ASSERT_TRUE(LoadReferencePng(ReferencePath("jp2/heliov-crop-384-384.png"), crop));
    int maxDiff = 0, pixelsOff = 0;
    for (int y = 0; y < crop.height; ++y)
        for (int x = 0; x < crop.width; ++x) {
            bool off = false;
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(sun[((384 + y) * 1024 + 384 + x) * 3 + c] -
                                       crop.pixels[(y * crop.width + x) * 3 + c]);
                maxDiff = std::max(maxDiff, d);
                off = off || d != 0;
            }
            pixelsOff += off;
        }
    EXPECT_LE(maxDiff, 8);
    EXPECT_LE(pixelsOff, crop.width * crop.height / 200);  // at most 0.5 % of the pixels

    // A raw code stream, whatever its name.
    const std::string raw = dir_.file("goodstuff.jp2");
    std::filesystem::copy_file(CorpusPath("jp2/glymur/goodstuff.j2k"), raw);
    EXPECT_TRUE(LoadFile(raw).empty());
}

TEST_F(Jp2ReaderTest, TheHeaderIsOnlyKnownAfterDecodeAll) {
    const std::string path = dir_.file("deferred.jp2");
    EncodeJp2(path, Jp2Desc{});
    auto reader = CreateReader(path);
    ASSERT_NE(dynamic_cast<CJp2Reader*>(reader.get()), nullptr);
    EXPECT_TRUE(reader->deferredHeader);
    EXPECT_FALSE(reader->rgbOrder);
    reader->OpenFile();
    EXPECT_EQ(reader->header.bmiHeader.biWidth, 0);
    EXPECT_EQ(reader->header.bmiHeader.biBitCount, 24);
    reader->DecodeAll();
    EXPECT_EQ(reader->header.bmiHeader.biWidth, 4);
    EXPECT_EQ(reader->header.bmiHeader.biHeight, -2);
    EXPECT_EQ(reader->header.bmiHeader.biBitCount, 24);
    // One row per call, top row first, B G R, nothing written past the row.
    std::vector<uint8_t> row(13, 0xEE);
    uint8_t* p = row.data();
    reader->NextLine(&p);
    EXPECT_EQ(row, (std::vector<uint8_t>{80, 40, 0, 81, 41, 1, 82, 42, 2, 83, 43, 3, 0xEE}));
    reader->NextLine(&p);
    EXPECT_EQ(row[0], 90);
    reader->NextLine(&p);  // past the end: changes nothing
    EXPECT_EQ(row[0], 90);
    EXPECT_EQ(reader->lineCounter, 1);
    reader->Close();

    // Without an owner the loader fits the asked-for box once the size is known.
    image_.LoadNow(path, 0, 1);
    EXPECT_EQ(image_.GetWidth(), 2);
    EXPECT_EQ(image_.GetHeight(), 1);
}

TEST_F(Jp2ReaderTest, SamplesAboveEightBitsAreShiftedAndNarrowerOnesAreNotStretched) {
    Jp2Desc desc;
    desc.width = 2;
    desc.height = 1;
    desc.comps = {{16}, {12}, {4}};
    desc.sample = [](int c, uint32_t x, uint32_t) {
        const int values[3][2] = {{0xABCD, 0xFFFF}, {0xABC, 0x00F}, {0xF, 0x3}};
        return values[c][x];
    };
    EXPECT_EQ(Load(desc), Rgb({0xAB, 0xAB, 0xF, 0xFF, 0x00, 0x3}));

    desc.space = OPJ_CLRSPC_GRAY;
    desc.comps = {{16}};
    EXPECT_EQ(Load(desc), Rgb({0xAB, 0xAB, 0xAB, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Jp2ReaderTest, PicturesThatCannotBeShownDeclareNothing) {
    Jp2Desc desc;
    desc.width = 8;
    desc.height = 8;
    ASSERT_EQ(Load(desc).size(), 8u * 8 * 3);

    Jp2Desc chroma420 = desc;
    chroma420.space = OPJ_CLRSPC_SYCC;
    chroma420.comps = {{}, {8, false, 2, 2}, {8, false, 2, 2}};
    EXPECT_TRUE(Load(chroma420).empty()) << "4:2:0";

    Jp2Desc signedSamples = desc;
    signedSamples.comps = {{8, true}, {8, true}, {8, true}};
    signedSamples.sample = [](int, uint32_t x, uint32_t) { return static_cast<int>(x) - 4; };
    EXPECT_TRUE(Load(signedSamples).empty()) << "signed";

    Jp2Desc codeStream = desc;
    codeStream.format = OPJ_CODEC_J2K;
    EXPECT_TRUE(Load(codeStream).empty()) << "raw code stream";

    Jp2Desc tooFew = desc;
    tooFew.comps = {{}, {}};
    EXPECT_TRUE(Load(tooFew).empty()) << "RGB with two components";

    const std::string path = dir_.file("space.jp2");
    for (uint32_t space : {12u /* CMYK */, 14u /* CIELab */, 20u}) {
        EncodeJp2(path, desc);
        SetEnumeratedSpace(path, space);
        EXPECT_TRUE(LoadFile(path).empty()) << "enumerated space " << space;
    }
}

TEST_F(Jp2ReaderTest, YCbCrIsConvertedWithTheFixedMatrix) {
    Jp2Desc desc;
    desc.space = OPJ_CLRSPC_SYCC;
    desc.width = 3;
    desc.height = 1;
    desc.sample = [](int c, uint32_t x, uint32_t) {
        const int ycc[3][3] = {{100, 128, 128}, {250, 0, 255}, {60, 255, 0}};
        return ycc[x][c];
    };
    // (100, +0.5, +0.5): R 100.70 -> 101, G 99.47 -> 99, B 100.89 -> 101.
    // (250, -127.5, +127.5): R = 428.8 -> 255, G = 250 + 44.06 - 91.10 = 202.97 -> 203,
    //   B = 250 - 225.80 = 24.20 -> 24.
    // (60, +127.5, -127.5): R = 60 - 178.8 -> 0, G = 60 - 44.06 + 91.10 = 107.04 -> 107, B -> 255.
    const std::vector<uint8_t> expected = Rgb({101, 99, 101, 255, 203, 24, 0, 107, 255});
    EXPECT_EQ(Load(desc), expected);

    // e-YCC keeps the chroma centred on half the range for unsigned samples: the same matrix.
    const std::string path = dir_.file("eycc.jp2");
    EncodeJp2(path, desc);
    SetEnumeratedSpace(path, 24);
    EXPECT_EQ(LoadFile(path), expected);
}

TEST_F(Jp2ReaderTest, EmbeddedProfilesAreConvertedToSrgb) {
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    Jp2Desc grey;
    grey.space = OPJ_CLRSPC_GRAY;
    grey.width = 3;
    grey.height = 1;
    grey.comps = {{}};
    grey.sample = [](int, uint32_t x, uint32_t) { return x == 0 ? 0 : x == 1 ? 128 : 255; };
    grey.icc = SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), linear));
    std::vector<uint8_t> px = Load(grey);
    ASSERT_EQ(px.size(), 9u);
    EXPECT_LE(px[0], 1);
    EXPECT_NEAR(px[3], SrgbEncoded(128), 2.0);  // about 188, not 128
    EXPECT_EQ(px[3], px[4]);
    EXPECT_EQ(px[3], px[5]);
    EXPECT_GE(px[6], 254);

    // Linear light with sRGB's primaries: each channel is only re-encoded, which shows that the
    // channels reach the transform in the right order.
    cmsCIExyY white = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* curves[3] = {linear, linear, linear};
    Jp2Desc rgb;
    rgb.width = 1;
    rgb.height = 1;
    rgb.sample = [](int c, uint32_t, uint32_t) { return c == 0 ? 128 : c == 1 ? 64 : 32; };
    rgb.icc = SaveProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(linear);
    px = Load(rgb);
    ASSERT_EQ(px.size(), 3u);
    EXPECT_NEAR(px[0], SrgbEncoded(128), 2.0);
    EXPECT_NEAR(px[1], SrgbEncoded(64), 2.0);
    EXPECT_NEAR(px[2], SrgbEncoded(32), 2.0);

    // A profile Little CMS rejects: the pixels are shown as they are.
    rgb.icc.assign(200, 0);
    std::memcpy(rgb.icc.data() + 16, "RGB ", 4);
    EXPECT_EQ(Load(rgb), Rgb({128, 64, 32}));
    rgb.icc.assign(40, 7);  // too short to name a colour space
    EXPECT_EQ(Load(rgb), Rgb({128, 64, 32}));

    // A profile naming YCbCr selects the YCbCr matrix, never a transform.
    rgb.icc.assign(200, 0);
    std::memcpy(rgb.icc.data() + 16, "YCbr", 4);
    rgb.sample = [](int c, uint32_t, uint32_t) { return c == 0 ? 100 : 128; };
    EXPECT_EQ(Load(rgb), Rgb({101, 99, 101}));
}

TEST_F(Jp2ReaderTest, AnAlphaComponentIsIgnored) {
    Jp2Desc desc;
    desc.width = 2;
    desc.height = 1;
    desc.comps = {{}, {}, {}, {8, false, 1, 1, 1}};
    desc.sample = [](int c, uint32_t x, uint32_t) {
        return c == 3 ? 0 : 50 * c + static_cast<int>(x);
    };
    EXPECT_EQ(Load(desc), Rgb({0, 50, 100, 1, 51, 101}));

    desc.space = OPJ_CLRSPC_GRAY;
    desc.comps = {{}, {8, false, 1, 1, 1}};
    EXPECT_EQ(Load(desc), Rgb({0, 0, 0, 1, 1, 1}));
}

TEST_F(Jp2ReaderTest, HostileSizesAreRefusedBeforeDecoding) {
    const std::string path = dir_.file("sizes.jp2");
    Jp2Desc desc;
    desc.width = 64;
    desc.height = 64;
    struct Case {
        uint32_t width, height, tileWidth, tileHeight;
        const char* what;
    } cases[] = {{40000, 40000, 40000, 40000, "1.6 gigapixels"},
                 {0xFFFFFF00u, 64, 0xFFFFFF00u, 64, "width beyond a signed header"},
                 {64, 64 << 20, 64, 64 << 20, "more pixels than any picture the program holds"}};
    for (const Case& c : cases) {
        EncodeJp2(path, desc);
        PatchSizes(path, c.width, c.height, c.tileWidth, c.tileHeight);
        CJp2Reader reader(path);
        reader.OpenFile();
        reader.DecodeAll();
        EXPECT_EQ(reader.header.bmiHeader.biWidth, 0) << c.what;
        EXPECT_TRUE(LoadFile(path).empty()) << c.what;
    }
    // The same patch with the true sizes keeps the file readable.
    EncodeJp2(path, desc);
    PatchSizes(path, 64, 64, 64, 64);
    EXPECT_EQ(LoadFile(path).size(), 64u * 64 * 3);
}

// Holds every decode on its thread until released (or ten seconds have passed).
std::atomic<bool> g_holdDecodes{false};
std::atomic<int> g_decodesHeld{0};
std::atomic<bool> g_holdTimedOut{false};

void HoldDecode() {
    ++g_decodesHeld;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_holdDecodes) {
        if (std::chrono::steady_clock::now() > until) {
            g_holdTimedOut = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Stepping away from a picture that is still decoding: StopLoad returns while the decode goes
// on without it, nothing of the decode reaches the image, and the next load decodes again.
// Decodes that were left count against the few that may run at once; a load waiting for its
// place is stopped just as quickly.
TEST_F(Jp2ReaderTest, ALoadLeftDuringItsDecodeStopsWithoutWaitingForIt) {
    Jp2Desc desc;
    desc.width = 64;
    desc.height = 48;
    const std::string path = dir_.file("held.jp2");
    EncodeJp2(path, desc);
    const std::vector<uint8_t> whole = LoadFile(path);
    ASSERT_EQ(whole.size(), 64u * 48 * 3);

    g_holdDecodes = true;
    g_decodesHeld = 0;
    SetJp2DecodeHook(HoldDecode);
    RecordingWindow window;
    std::vector<std::unique_ptr<CImage>> images;
    for (int i = 0; i < 4; ++i) {
        images.push_back(std::make_unique<CImage>());
        CImage& image = *images.back();
        image.notifyWindow = &window;
        image.Open(path);
        image.SetSizeLimit(1 << 30, 1 << 30, false, false);
        image.StartLoad(THREAD_PRIORITY_NORMAL);
        if (i < 3) {
            while (g_decodesHeld < i + 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(g_decodesHeld, 3);  // no place for a fourth
        }
        image.StopLoad();
        EXPECT_FALSE(image.IsLoading());
        EXPECT_FALSE(g_holdTimedOut);
        EXPECT_FALSE(image.done);
        EXPECT_TRUE(image.decodePending);
        EXPECT_EQ(image.GetWidth(), 0);
    }
    EXPECT_EQ(Jp2DecodesRunning(), 3);
    EXPECT_EQ(window.Count(WM_IMAGE_DONE), 0);

    g_holdDecodes = false;
    SetJp2DecodeHook(nullptr);
    for (auto& image : images) {
        image->SetSizeLimit(1 << 30, 1 << 30, false, false);
        image->StartLoad(THREAD_PRIORITY_NORMAL);
        image->FinishLoad();
        EXPECT_TRUE(image->done);
        EXPECT_EQ(TopDownRgb(*image), whole);
    }
    // The decodes that were left end on their own and free what they hold.
    while (Jp2DecodesRunning() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST_F(Jp2ReaderTest, TruncatedFilesShowNothingAndTheLoadEnds) {
    Jp2Desc desc;
    desc.width = 64;
    desc.height = 48;
    desc.resolutions = 4;
    desc.sample = [](int c, uint32_t x, uint32_t y) {
        return static_cast<int>((x * 7 + y * 13 + c * 50 + x * y) % 256);
    };
    const std::string path = dir_.file("whole.jp2");
    EncodeJp2(path, desc);
    const std::string whole = ReadFileBytes(path);
    ASSERT_GT(whole.size(), 2000u);
    ASSERT_EQ(LoadFile(path).size(), 64u * 48 * 3);
    const std::string cut = dir_.file("cut.jp2");
    for (size_t length = 0; length < whole.size(); length += 97) {
        WriteFileBytes(cut, whole.substr(0, length));
        EXPECT_TRUE(LoadFile(cut).empty()) << length;
        image_.LoadNow(cut, 16, 16);  // and reduced
        EXPECT_TRUE(image_.done) << length;
    }
    // A tile-part claiming far more bytes than the file holds is refused as well.
    std::string claim = whole;
    const size_t sot = claim.find("\xFF\x90", claim.find("jp2c"));
    ASSERT_NE(sot, std::string::npos);
    claim.replace(sot + 6, 4, "\xF8\x00\x00\x31");  // Psot
    WriteFileBytes(cut, claim);
    EXPECT_TRUE(LoadFile(cut).empty());
}

}  // namespace
