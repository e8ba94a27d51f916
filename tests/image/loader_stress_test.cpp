#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "image/image.h"
#include "image/resample.h"
#include "support/fake_reader.h"
#include "support/recording_window.h"

namespace {

struct Kind {
    int32_t width, height;
    int bpp;
    bool rgbOrder, deferred, allRowsAtOnce, topDown;
};

const Kind kKinds[] = {
    {48, 36, 3, false, false, false, true}, {37, 29, 4, false, false, false, false},
    {40, 30, 3, true, false, false, true},  {33, 21, 4, false, false, true, false},
    {30, 20, 3, false, true, false, true},
};

struct Size {
    int32_t width, height;
    bool upscale;
};

const Size kSizes[] = {
    {16, 16, false}, {1 << 30, 1 << 30, false}, {64, 64, true}, {7, 0, false}, {0, 45, true}};

std::vector<uint8_t> DisplayBytes(const CImage& image) {
    if (!image.displayBuffer) return {};
    return std::vector<uint8_t>(
        image.displayBuffer,
        image.displayBuffer + static_cast<size_t>(image.displayStride) * image.GetHeight());
}

class Pictures {
public:
    Pictures() {
        uint32_t seed = 1;
        for (const Kind& kind : kKinds) {
            auto picture = std::make_shared<FakePicture>();
            picture->rows = RandomPicture(kind.width, kind.height, kind.bpp, seed++);
            picture->rgbOrder = kind.rgbOrder;
            picture->deferredHeader = kind.deferred;
            picture->allRowsAtOnce = kind.allRowsAtOnce;
            picture->topDown = kind.topDown;
            paths_.push_back(RegisterFakePicture(picture));
            deferred_.push_back(kind.deferred);
        }
    }

    size_t count() const { return paths_.size(); }
    const std::string& path(size_t i) const { return paths_[i]; }
    bool deferred(size_t i) const { return deferred_[i]; }

    // The display of a load that nothing interrupted.
    const std::vector<uint8_t>& Expected(size_t picture, size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto& slot = expected_[{picture, size}];
        if (!slot) {
            CImage image;
            image.Open(paths_[picture]);
            image.SetSizeLimit(kSizes[size].width, kSizes[size].height, false,
                               kSizes[size].upscale);
            image.StartLoad(THREAD_PRIORITY_NORMAL);
            image.FinishLoad();
            slot = std::make_unique<std::vector<uint8_t>>(DisplayBytes(image));
        }
        return *slot;
    }

private:
    std::vector<std::string> paths_;
    std::vector<bool> deferred_;
    std::mutex mutex_;
    std::map<std::pair<size_t, size_t>, std::unique_ptr<std::vector<uint8_t>>> expected_;
};

// One owner hammering its own images: opens, sizes, starts, stops at random moments, discards,
// streams the source now and then, and deletes an image in the middle of a load. After each load it
// checks that the messages tell the truth about how the load ended.
void Hammer(Pictures& pictures, uint32_t seed, int rounds) {
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    RecordingWindow window;
    auto image = std::make_unique<CImage>();
    image->notifyWindow = &window;
    size_t picture = 0, size = 0;
    bool fresh = false;  // the next load starts from the file with the current size

    for (int round = 0; round < rounds; ++round) {
        if (chance(8)) {
            if (chance(50)) image->StartLoad(THREAD_PRIORITY_NORMAL);
            image = std::make_unique<CImage>();  // the destructor stops a running load
            image->notifyWindow = &window;
            image->Open(pictures.path(picture));
            fresh = false;
        }
        if (chance(25)) {
            picture = random() % pictures.count();
            image->Open(pictures.path(picture));
            fresh = false;
        }
        if (chance(60) || !fresh) {
            size = random() % std::size(kSizes);
            image->SetSizeLimit(kSizes[size].width, kSizes[size].height, false,
                                kSizes[size].upscale);
            fresh = true;
        }
        if (chance(5)) {
            image->DiscardSource();
            fresh = false;
        }
        image->progressStep = static_cast<int32_t>(random() % 3) * 25;
        image->streamSource = chance(30);
        image->immediate = chance(30);
        window.Clear();
        image->StartLoad(chance(20) ? THREAD_PRIORITY_LOWEST : THREAD_PRIORITY_NORMAL);
        const int wait = static_cast<int>(random() % 400);
        if (chance(30)) {
            image->FinishLoad();
        } else {
            if (wait > 200) std::this_thread::sleep_for(std::chrono::microseconds(wait - 200));
            image->StopLoad();
        }
        ASSERT_FALSE(image->IsLoading());

        const std::vector<RecordingWindow::Message> messages = window.Messages();
        int doneMessages = 0;
        bool whole = false;
        for (const RecordingWindow::Message& m : messages) {
            ASSERT_EQ(m.wParam, reinterpret_cast<WPARAM>(image.get()));
            if (m.message == WM_IMAGE_DONE) ++doneMessages;
            if (m.message == WM_IMAGE_PROGRESS) {
                ASSERT_LE(m.record.first, m.record.last);
                ASSERT_LT(m.record.last, std::max(1, image->GetHeight()));
                whole = whole || (m.record.first == 0 && m.record.last == 0);
            }
        }
        ASSERT_EQ(doneMessages, image->done ? 1 : 0) << "round " << round;
        if (image->done) {
            ASSERT_TRUE(whole);
            // A stopped deferred-header load keeps its partial rows for later loads, and a load
            // after DiscardSource without a new size shows what it had. Any other load, even
            // one restarted after a stop, must show the whole picture.
            if (fresh && !pictures.deferred(picture)) {
                ASSERT_EQ(DisplayBytes(*image), pictures.Expected(picture, size))
                    << "round " << round << " picture " << picture << " size " << size;
            }
        }
    }
}

TEST(LoaderStressTest, StartsAndStopsAtRandomNeverLoseTrackOfALoad) {
    BuildGammaTables();
    Pictures pictures;
    // Two owners at once, each with its own images, so loads also race for the serial lock.
    std::thread other([&] { Hammer(pictures, 2, 1500); });
    Hammer(pictures, 1, 1500);
    other.join();
    ClearFakePictures();
}

}  // namespace
