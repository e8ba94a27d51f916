#include "image/loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "image/image.h"
#include "image/reader.h"
#include "image/resample.h"
#include "settings/registry.h"
#include "support/fake_reader.h"
#include "support/recording_window.h"
#include "support/resample_reference.h"
#include "support/temp_dir.h"

namespace {

// The messages as text, in order: "P first,last" for image-progress, "D" for image-done.
std::vector<std::string> Log(const RecordingWindow& window) {
    std::vector<std::string> log;
    for (const RecordingWindow::Message& m : window.Messages()) {
        if (m.message == WM_IMAGE_PROGRESS)
            log.push_back("P" + std::to_string(m.record.first) + "," +
                          std::to_string(m.record.last));
        else if (m.message == WM_IMAGE_DONE)
            log.push_back("D");
    }
    return log;
}

using Log_t = std::vector<std::string>;

// The display image as a picture of its own (rows in memory order, padding included).
TestPicture Display(const CImage& image) {
    TestPicture pic(image.GetWidth(), image.GetHeight(),
                    image.displayHeader.bmiHeader.biBitCount / 8);
    pic.pixels.assign(
        image.displayBuffer,
        image.displayBuffer + static_cast<size_t>(image.displayStride) * image.GetHeight());
    return pic;
}

TestPicture BoxReference(const TestPicture& src, int32_t dw, int32_t dh, bool rgbOrder) {
    TestPicture display(dw, dh, src.bytesPerPixel);
    display.pixels.pop_back();
    reference::Box(src, rgbOrder, display);
    return display;
}

// The rows of a picture with bytes 0 and 2 of every pixel exchanged.
TestPicture Swapped(const TestPicture& src) {
    TestPicture out = src;
    for (int32_t r = 0; r < src.height; ++r)
        for (int32_t x = 0; x < src.width; ++x) std::swap(out.Row(r)[3 * x], out.Row(r)[3 * x + 2]);
    return out;
}

// Rows 0 .. rows-1 of the image's source buffer against the picture's.
void ExpectSourceRows(const CImage& image, const TestPicture& expected, int32_t rows) {
    const size_t bytes = static_cast<size_t>(expected.width) * expected.bytesPerPixel;
    for (int32_t r = 0; r < rows; ++r)
        ASSERT_EQ(0, std::memcmp(image.sourceBuffer + static_cast<size_t>(r) * image.sourceStride,
                                 expected.Row(r), bytes))
            << "row " << r;
}

// Starts a load and stops it once the reader waits at its hold, so the stop lands there.
void StopAtHold(CImage& image, FakePicture& picture) {
    picture.held = false;
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    while (!picture.held) std::this_thread::sleep_for(std::chrono::microseconds(100));
    image.StopLoad();
}

class LoaderTest : public testing::Test {
protected:
    void SetUp() override { BuildGammaTables(); }
    void TearDown() override {
        WriteRegDword("MinPercLoad", 0);
        ClearFakePictures();
    }

    std::shared_ptr<FakePicture> Picture(int32_t w, int32_t h, int bpp = 3, uint32_t seed = 1) {
        auto picture = std::make_shared<FakePicture>();
        picture->rows = RandomPicture(w, h, bpp, seed);
        // Readers leave a row's padding alone; the image's buffer has zeros there.
        for (int32_t r = 0; r < h; ++r)
            std::fill(picture->rows.Row(r) + static_cast<size_t>(w) * bpp,
                      picture->rows.Row(r) + picture->rows.stride, 0);
        return picture;
    }

    void Load(CImage& image, int32_t w, int32_t h, bool upscale = false) {
        image.SetSizeLimit(w, h, false, upscale);
        image.StartLoad(THREAD_PRIORITY_NORMAL);
        image.FinishLoad();
    }

    RecordingWindow window_;
};

TEST_F(LoaderTest, ProgressBandsShareTheirEdgeRowsThenTheWholeImage) {
    auto picture = Picture(150, 200);
    CImage image;
    image.notifyWindow = &window_;
    image.progressStep = 25;
    image.Open(RegisterFakePicture(picture));
    Load(image, 0, 100);  // 75 x 100, box path
    ASSERT_EQ(image.GetHeight(), 100);
    EXPECT_EQ(Log(window_), (Log_t{"P0,24", "P24,49", "P49,74", "P74,99", "P0,0", "D"}));
    EXPECT_TRUE(image.done);
    EXPECT_FALSE(image.decodePending);
    EXPECT_EQ(picture->closes, 1);
    EXPECT_EQ(Display(image).pixels, BoxReference(picture->rows, 75, 100, false).pixels);
}

TEST_F(LoaderTest, DirectPathAnnouncesTheWholeImageFirst) {
    auto picture = Picture(60, 100);
    CImage image;
    image.notifyWindow = &window_;
    image.progressStep = 25;
    image.Open(RegisterFakePicture(picture));
    Load(image, 1 << 30, 1 << 30);
    EXPECT_EQ(Log(window_), (Log_t{"P0,0", "P0,24", "P24,49", "P49,74", "P74,99", "P0,0", "D"}));
    EXPECT_EQ(image.displayBuffer, image.sourceBuffer);
    ExpectSourceRows(image, picture->rows, 100);
}

TEST_F(LoaderTest, ProgressStepZeroOrAFewRowsGiveARecordPerRow) {
    auto picture = Picture(40, 20);
    CImage image;
    image.notifyWindow = &window_;
    image.progressStep = 0;
    image.Open(RegisterFakePicture(picture));
    Load(image, 20, 0);  // 20 x 10
    Log_t expected{"P0,0"};
    for (int j = 1; j < 10; ++j)
        expected.push_back("P" + std::to_string(j - 1) + "," + std::to_string(j));
    expected.push_back("P0,0");
    expected.push_back("D");
    EXPECT_EQ(Log(window_), expected);

    // Three rows at 25 percent: trunc(0.75) is 0, so a record after every row.
    window_.Clear();
    image.progressStep = 25;
    Load(image, 0, 3, false);  // box path from memory: 6 x 3
    EXPECT_EQ(Log(window_), (Log_t{"P0,0", "P0,1", "P1,2", "P0,0", "D"}));
    window_.Clear();
    image.progressStep = 0;
    Load(image, 0, 30, true);  // sinc path from memory: 60 x 30
    EXPECT_EQ(Log(window_).size(), 30u + 2u);
}

TEST_F(LoaderTest, ImmediateFlagHoldsAStopUntilMoreThanMinPercLoadIsDone) {
    // Every image reads the setting when it is made.
    WriteRegDword("MinPercLoad", 50);
    auto picture = Picture(60, 100);
    CImage image;
    image.notifyWindow = &window_;
    image.progressStep = 25;
    image.Open(RegisterFakePicture(picture));
    picture->holdAtRow = 10;
    picture->release = &image.stop;
    image.SetSizeLimit(1 << 30, 1 << 30, false, false);
    image.immediate = true;
    StopAtHold(image, *picture);
    // Row 51 is the first j with j / 100 x 100 > 50.
    EXPECT_EQ(picture->lastRowDelivered, 51);
    EXPECT_EQ(Log(window_), (Log_t{"P0,0", "P0,24", "P24,49"}));
    EXPECT_EQ(window_.Updates(), 1);  // the direct path repaints at once on a stop
    EXPECT_FALSE(image.done);
    EXPECT_FALSE(image.immediate);
    EXPECT_TRUE(image.decodePending);
    ExpectSourceRows(image, picture->rows, 52);

    // The box path posts the band up to the row it stops after: display row 51 of 100.
    window_.Clear();
    auto tall = Picture(60, 200);
    CImage reduced;
    reduced.notifyWindow = &window_;
    reduced.progressStep = 25;
    reduced.Open(RegisterFakePicture(tall));
    tall->holdAtRow = 21;  // display row 10 reads up to source row 22
    tall->release = &reduced.stop;
    reduced.SetSizeLimit(0, 100, false, false);  // 30 x 100, two source rows per display row
    reduced.immediate = true;
    StopAtHold(reduced, *tall);
    EXPECT_EQ(Log(window_), (Log_t{"P0,24", "P24,49", "P49,51"}));
    EXPECT_FALSE(reduced.done);
    EXPECT_LE(tall->lastRowDelivered, 2 * 51 + 2);

    // Without the immediate flag (or with MinPercLoad 0) the stop ends the load after the row
    // it is working on.
    for (bool immediate : {false, true}) {
        window_.Clear();
        WriteRegDword("MinPercLoad", immediate ? 0 : 50);
        CImage fresh;  // reads the setting
        image.Open(image.path);
        image.SetSizeLimit(1 << 30, 1 << 30, false, false);
        picture->holdAtRow = 10;
        image.immediate = immediate;
        StopAtHold(image, *picture);
        EXPECT_EQ(picture->lastRowDelivered, 10);
        EXPECT_EQ(Log(window_), (Log_t{"P0,0"}));
    }
}

TEST_F(LoaderTest, SerialCounterStartsAgainAfter100000) {
    CImage image;
    SetLoadSerialCounter(99999);
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(image.loadSerial, 100000);
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(image.loadSerial, 100001);
    EXPECT_EQ(PeekLoadSerialCounter(), 0);
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(image.loadSerial, 1);
    image.FinishLoad();
}

TEST_F(LoaderTest, AStoppedLoadStartsOverFromTheFirstRowWithAFreshReader) {
    auto picture = Picture(33, 40);
    CImage image;
    image.notifyWindow = &window_;
    image.Open(RegisterFakePicture(picture));
    picture->holdAtRow = 10;
    picture->release = &image.stop;
    image.SetSizeLimit(1 << 30, 1 << 30, false, false);
    StopAtHold(image, *picture);
    ASSERT_EQ(picture->lastRowDelivered, 10);
    ASSERT_TRUE(image.decodePending);
    EXPECT_EQ(window_.Count(WM_IMAGE_DONE), 0);

    picture->holdAtRow = -1;
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    image.FinishLoad();
    EXPECT_EQ(picture->readersMade, 2);
    EXPECT_TRUE(image.done);
    EXPECT_EQ(window_.Count(WM_IMAGE_DONE), 1);
    ExpectSourceRows(image, picture->rows, 40);
}

// Reopening after the file changed size: the buffers the image holds do not fit the new
// header, so nothing is decoded into them.
TEST_F(LoaderTest, AReopenedReaderThatNoLongerFitsDecodesNothing) {
    auto picture = Picture(20, 30);
    CImage image;
    image.notifyWindow = &window_;
    image.Open(RegisterFakePicture(picture));
    picture->holdAtRow = 5;
    picture->release = &image.stop;
    image.SetSizeLimit(1 << 30, 1 << 30, false, false);
    StopAtHold(image, *picture);
    const std::vector<uint8_t> before(image.sourceBuffer, image.sourceBuffer + image.sourceBytes);

    picture->holdAtRow = -1;
    picture->rows = RandomPicture(200, 300, 3, 9);
    window_.Clear();
    image.StartLoad(THREAD_PRIORITY_NORMAL);
    image.FinishLoad();
    EXPECT_EQ(image.reader(), nullptr);
    EXPECT_EQ(std::vector<uint8_t>(image.sourceBuffer, image.sourceBuffer + image.sourceBytes),
              before);

    EXPECT_EQ(Log(window_), (Log_t{"P0,0", "D"}));
}

// A load stopped part-way, the file saved again smaller (or in another shape) by another
// program, then a new size asked for: the size is fitted to the picture now in the file, on
// every path, and the image shows what a fresh image of that file shows.
TEST_F(LoaderTest, ANewSizeAfterTheFileChangedIsFittedToTheFileAsItIsNow) {
    struct Case {
        const char* name;
        bool deferred;
        int32_t maxWidth, maxHeight;
        bool upscale;
        int32_t newWidth, newHeight;
        int32_t width, height;  // expected display size
    };
    for (const Case& c : {Case{"direct", false, 1 << 30, 1 << 30, false, 12, 9, 12, 9},
                          Case{"box", false, 20, 0, false, 12, 9, 12, 9},
                          Case{"box reduced", false, 6, 0, false, 24, 24, 6, 6},
                          Case{"sinc", false, 80, 0, true, 12, 12, 80, 80},
                          Case{"deferred", true, 20, 0, false, 60, 60, 20, 20}}) {
        SCOPED_TRACE(c.name);
        auto picture = Picture(40, 30);
        picture->deferredHeader = c.deferred;
        CImage image;
        image.notifyWindow = &window_;
        image.progressStep = 25;
        image.Open(RegisterFakePicture(picture));
        if (c.deferred) {
            // Decoded once, then only the display kept: the next size decodes again.
            Load(image, 1 << 30, 1 << 30);
            image.DiscardSource();
        } else {
            picture->holdAtRow = 5;
            picture->release = &image.stop;
            image.SetSizeLimit(1 << 30, 1 << 30, false, false);
            StopAtHold(image, *picture);
            picture->holdAtRow = -1;
        }
        auto replacement = Picture(c.newWidth, c.newHeight, 3, 5);
        replacement->deferredHeader = c.deferred;
        picture->rows = replacement->rows;

        image.SetSizeLimit(c.maxWidth, c.maxHeight, false, c.upscale);
        if (!c.deferred) {
            // Larger than the buffers held, the load's clearing of the display runs past them.
            EXPECT_EQ(image.GetWidth(), c.width);
            EXPECT_EQ(image.GetHeight(), c.height);
        }
        image.StartLoad(THREAD_PRIORITY_NORMAL);
        image.FinishLoad();
        EXPECT_TRUE(image.done);
        CImage fresh;
        fresh.Open(RegisterFakePicture(replacement));
        Load(fresh, c.maxWidth, c.maxHeight, c.upscale);
        EXPECT_EQ(image.GetWidth(), c.width);
        EXPECT_EQ(image.GetHeight(), c.height);
        EXPECT_EQ(Display(image).pixels, Display(fresh).pixels);
    }
}

// After DiscardSource the source buffer is the display's. A load started without a new size
// decodes the file again into a source of its own, whether the display is smaller than the
// source or larger (where the old buffer would have room for the decoded rows).
TEST_F(LoaderTest, ALoadAfterDiscardSourceDecodesIntoANewSource) {
    auto picture = Picture(64, 32);
    for (const auto& [w, h, upscale] : {std::tuple{16, 0, false}, std::tuple{200, 0, true}}) {
        CImage image;
        image.Open(RegisterFakePicture(picture));
        Load(image, w, h, upscale);
        const TestPicture shown = Display(image);
        image.DiscardSource();
        ASSERT_EQ(image.sourceBuffer, image.displayBuffer);
        image.StartLoad(THREAD_PRIORITY_NORMAL);
        image.FinishLoad();
        EXPECT_TRUE(image.done);
        EXPECT_NE(image.sourceBuffer, image.displayBuffer);
        EXPECT_EQ(Display(image).pixels, shown.pixels) << w;
        ExpectSourceRows(image, picture->rows, 32);
    }
}

// Remembers on which thread the owner was asked, and sizes the image like the image pane.
class SizeOwner : public ISetMaxDim {
public:
    explicit SizeOwner(CImage& image) : image_(image) {}
    void SetMaxDim() override {
        thread = std::this_thread::get_id();
        sourceWidthSeen = image_.GetSourceWidth();
        ++calls;
        image_.SetSizeLimit(40, 40, true, false);
    }
    std::thread::id thread;
    int32_t sourceWidthSeen = 0;
    int calls = 0;

private:
    CImage& image_;
};

TEST_F(LoaderTest, ADeferredHeaderIsSizedOnceDecodeAllHasRun) {
    auto picture = Picture(80, 60);
    picture->deferredHeader = true;
    const std::string path = RegisterFakePicture(picture);

    // The owner route: asked on the loader thread once the header is known.
    CImage image;
    SizeOwner owner(image);
    image.sizeLimitOwner = &owner;
    image.notifyWindow = &window_;
    image.Open(path);
    EXPECT_EQ(image.GetSourceWidth(), 0);
    Load(image, 1000, 1000);
    EXPECT_EQ(owner.calls, 1);
    EXPECT_NE(owner.thread, std::this_thread::get_id());
    EXPECT_EQ(owner.sourceWidthSeen, 80);
    EXPECT_EQ(image.GetWidth(), 40);
    EXPECT_EQ(image.GetHeight(), 30);
    EXPECT_EQ(picture->decodeAllCalls, 1);
    EXPECT_EQ(Display(image).pixels, BoxReference(picture->rows, 40, 30, false).pixels);
    EXPECT_EQ(window_.Count(WM_IMAGE_DONE), 1);

    // Without an owner the size asked for before the header was known is fitted to it.
    CImage plain;
    plain.LoadNow(path, 20, 20);
    EXPECT_EQ(plain.GetWidth(), 20);
    EXPECT_EQ(plain.GetHeight(), 15);
    EXPECT_TRUE(plain.done);
}

TEST_F(LoaderTest, AStoppedDeferredHeaderLoadDecodesAgainUnlessItsSourceIsWhole) {
    auto picture = Picture(30, 20);
    picture->deferredHeader = true;
    CImage image;
    image.notifyWindow = &window_;
    image.LoadNow(RegisterFakePicture(picture), 1 << 30, 1 << 30);
    image.DiscardSource();
    window_.Clear();

    // The loader opens a fresh reader; it holds in OpenFile until the stop is up.
    picture->holdInOpen = true;
    picture->release = &image.stop;
    StopAtHold(image, *picture);
    EXPECT_EQ(Log(window_), Log_t{});
    EXPECT_EQ(picture->readersMade, 2);
    EXPECT_EQ(picture->decodeAllCalls, 1);
    EXPECT_EQ(image.reader(), nullptr);
    EXPECT_TRUE(image.decodePending);

    // Stopped while its rows are copied out, the source holds only some of them: the next
    // load decodes again, whether it shows the picture at its own size or reduced.
    picture->holdInOpen = false;
    for (const int32_t width : {1 << 30, 15}) {
        picture->holdAtRow = 8;
        image.Open(image.path);
        image.SetSizeLimit(1 << 30, 1 << 30, false, false);
        const int decodes = picture->decodeAllCalls;
        StopAtHold(image, *picture);
        EXPECT_TRUE(image.decodePending);
        EXPECT_FALSE(image.done);
        picture->holdAtRow = -1;
        window_.Clear();
        Load(image, width, 0);
        EXPECT_EQ(picture->decodeAllCalls, decodes + 2);
        EXPECT_TRUE(image.done);
        EXPECT_EQ(Log(window_).back(), "D");
        if (width == 15)
            EXPECT_EQ(Display(image).pixels, BoxReference(picture->rows, 15, 10, false).pixels);
        else
            ExpectSourceRows(image, picture->rows, 20);
    }

    // Stopped after its last row, the picture is whole and is resampled from memory.
    picture->holdAtRow = 19;
    image.Open(image.path);
    image.SetSizeLimit(1 << 30, 1 << 30, false, false);
    StopAtHold(image, *picture);
    EXPECT_FALSE(image.decodePending);
    const int decodes = picture->decodeAllCalls;
    Load(image, 15, 0);
    EXPECT_EQ(picture->decodeAllCalls, decodes);
    EXPECT_EQ(Display(image).pixels, BoxReference(picture->rows, 15, 10, false).pixels);
}

TEST_F(LoaderTest, RgbOrderPicturesLookTheSameReducedOrAtFullSize) {
    auto picture = Picture(90, 60);
    picture->rgbOrder = true;
    CImage image;
    image.notifyWindow = &window_;
    image.Open(RegisterFakePicture(picture));

    // Reduced while decoding: the display is B, G, R; the source keeps the reader's order.
    Load(image, 30, 0);
    const TestPicture reduced = Display(image);
    EXPECT_EQ(reduced.pixels, BoxReference(picture->rows, 30, 20, true).pixels);
    EXPECT_TRUE(image.reader()->rgbOrder);

    // Full size from memory: the shortcut swaps the source itself, once.
    window_.Clear();
    Load(image, 1 << 30, 1 << 30);
    EXPECT_EQ(Log(window_), (Log_t{"D", "P0,0"}));
    EXPECT_EQ(image.displayBuffer, image.sourceBuffer);
    EXPECT_FALSE(image.reader()->rgbOrder);
    ExpectSourceRows(image, Swapped(picture->rows), 60);

    // Reduced again from the swapped source: the same colours as before.
    Load(image, 30, 0);
    EXPECT_EQ(Display(image).pixels, reduced.pixels);

    // A fresh image shown at full size while decoding swaps row by row: the same bytes.
    CImage direct;
    direct.LoadNow(image.path, 1 << 30, 1 << 30);
    ExpectSourceRows(direct, Swapped(picture->rows), 60);
    EXPECT_FALSE(direct.reader()->rgbOrder);
}

// A streamed load shows the same picture and ends as DiscardSource leaves an image.
TEST_F(LoaderTest, StreamedLoadsShowTheSameAndKeepOnlyTheDisplay) {
    for (int bpp : {3, 4}) {
        auto picture = Picture(301, 203, bpp, 8);
        picture->rgbOrder = bpp == 3;
        const std::string path = RegisterFakePicture(picture);
        CImage full;
        full.LoadNow(path, 100, 100);
        CImage streamed;
        streamed.notifyWindow = &window_;
        streamed.progressStep = 25;
        streamed.streamSource = true;
        window_.Clear();
        streamed.LoadNow(path, 100, 100);
        EXPECT_EQ(Display(streamed).pixels, Display(full).pixels);
        EXPECT_EQ(window_.Count(WM_IMAGE_DONE), 1);
        EXPECT_EQ(streamed.sourceBuffer, streamed.displayBuffer);
        EXPECT_EQ(streamed.reader(), nullptr);
        EXPECT_TRUE(streamed.decodePending);
        EXPECT_EQ(streamed.GetSourceWidth(), 301);

        // Stopped half way, then started again without a new size: decoded afresh.
        picture->holdAtRow = 90;
        picture->release = &streamed.stop;
        StopAtHold(streamed, *picture);
        EXPECT_FALSE(streamed.done);
        picture->holdAtRow = -1;
        streamed.StartLoad(THREAD_PRIORITY_NORMAL);
        streamed.FinishLoad();
        EXPECT_TRUE(streamed.done);
        EXPECT_EQ(Display(streamed).pixels, Display(full).pixels);

        // Shown at full size or from a reader that writes every row at once, the source is
        // needed whole: those loads keep it.
        streamed.LoadNow(path, 1 << 30, 1 << 30);
        EXPECT_EQ(streamed.displayBuffer, streamed.sourceBuffer);
        EXPECT_FALSE(streamed.decodePending);
        picture->allRowsAtOnce = true;
        streamed.LoadNow(path, 100, 100);
        EXPECT_NE(streamed.sourceBuffer, streamed.displayBuffer);
        EXPECT_EQ(Display(streamed).pixels, Display(full).pixels);
    }
}

TEST_F(LoaderTest, ReadersThatWriteEveryRowAtOnceResampleTheSame) {
    for (int bpp : {3, 4}) {
        auto picture = Picture(71, 53, bpp, 4);
        picture->allRowsAtOnce = true;
        picture->topDown = false;
        CImage image;
        image.LoadNow(RegisterFakePicture(picture), 30, 30);
        ASSERT_EQ(image.GetWidth(), 30);
        EXPECT_EQ(Display(image).pixels, BoxReference(picture->rows, 30, 22, false).pixels);
        EXPECT_GT(image.displayHeader.bmiHeader.biHeight, 0);
    }
}

// Shown coarse first: the bands of both passes, the whole coarse picture announced between
// them and one image-done at the end; the final display and source are those of a load in one
// pass, byte for byte.
TEST_F(LoaderTest, ACoarsePassFirstEndsInTheSinglePassPicture) {
    // The reader is chosen by ".jpg".
    TempDir dir;
    const std::string file = dir.file("progressive.jpg");
    std::filesystem::create_symlink(CorpusPath("jpeg/go-image-testdata/video-001.progressive.jpeg"),
                                    file);
    const Log_t direct = {"P0,0", "P0,24", "P24,49", "P49,74", "P74,99"};
    const Log_t box = {"P0,11", "P11,23", "P23,35", "P35,47"};
    struct Case {
        int32_t width, height;  // the size limit: the file's own size, or reduced to 50 rows
        Log_t pass;
        Log_t finalPass;
    } const cases[] = {
        {1 << 30, 1 << 30, direct, Log_t(direct.begin() + 1, direct.end())},
        {0, 50, box, box},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.height);
        CImage plain;
        plain.Open(file);
        Load(plain, c.width, c.height);
        ASSERT_TRUE(plain.done);

        RecordingWindow window;
        CImage image;
        image.notifyWindow = &window;
        image.progressStep = 25;
        image.coarsePass = true;
        image.Open(file);
        Load(image, c.width, c.height);
        Log_t expected = c.pass;
        expected.push_back("P0,0");
        expected.insert(expected.end(), c.finalPass.begin(), c.finalPass.end());
        expected.insert(expected.end(), {"P0,0", "D"});
        EXPECT_EQ(Log(window), expected);
        EXPECT_TRUE(image.failure.empty()) << image.failure;
        ASSERT_EQ(image.GetHeight(), plain.GetHeight());
        EXPECT_EQ(Display(image).pixels, Display(plain).pixels);
        const size_t sourceBytes =
            static_cast<size_t>(plain.sourceStride) * plain.GetSourceHeight();
        EXPECT_EQ(0, std::memcmp(image.sourceBuffer, plain.sourceBuffer, sourceBytes));
    }
}

}  // namespace
