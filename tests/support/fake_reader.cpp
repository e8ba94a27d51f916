#include "support/fake_reader.h"

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "image/reader.h"

namespace {

std::mutex g_lock;
std::map<std::string, std::shared_ptr<FakePicture>> g_pictures;
int g_next = 0;

void Hold(FakePicture& picture) {
    picture.held = true;
    while (picture.release && !picture.release->load())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

class FakeReader : public CImageReader {
public:
    FakeReader(std::string path, std::shared_ptr<FakePicture> picture)
        : CImageReader(std::move(path)), picture_(std::move(picture)) {
        ++picture_->readersMade;
        rgbOrder = picture_->rgbOrder;
        deferredHeader = picture_->deferredHeader;
        allRowsAtOnce = picture_->allRowsAtOnce;
    }
    ~FakeReader() override { Close(); }

    void OpenFile() override {
        if (picture_->holdInOpen) Hold(*picture_);
        if (!deferredHeader) Declare();
    }
    void DecodeAll() override {
        ++picture_->decodeAllCalls;
        Declare();
    }
    void CloseFile() override { ++picture_->closes; }

    int NextLine(uint8_t** row) override {
        const TestPicture& pic = picture_->rows;
        if (lineCounter + 1 >= pic.height) return lineCounter;
        if (lineCounter + 1 == picture_->holdAtRow) Hold(*picture_);
        const size_t bytes = static_cast<size_t>(pic.width) * pic.bytesPerPixel;
        if (allRowsAtOnce) {
            if (lineCounter == -1)
                for (int32_t r = 0; r < pic.height; ++r)
                    std::memcpy(*row + static_cast<size_t>(r) * pic.stride, pic.Row(r), bytes);
        } else {
            std::memcpy(*row, pic.Row(lineCounter + 1), bytes);
        }
        ++lineCounter;
        picture_->lastRowDelivered = lineCounter;
        return lineCounter;
    }

private:
    void Declare() {
        const TestPicture& pic = picture_->rows;
        DeclareHeader(pic.width, picture_->topDown ? -pic.height : pic.height,
                      pic.bytesPerPixel * 8);
    }

    std::shared_ptr<FakePicture> picture_;
};

std::unique_ptr<CImageReader> MakeFakeReader(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_pictures.find(path);
    if (it == g_pictures.end()) return nullptr;
    return std::make_unique<FakeReader>(path, it->second);
}

}  // namespace

std::string RegisterFakePicture(std::shared_ptr<FakePicture> picture) {
    SetFakeReaderMaker(MakeFakeReader);
    std::lock_guard<std::mutex> lock(g_lock);
    const std::string path = "/nonexistent/picture" + std::to_string(g_next++) + ".fake";
    g_pictures[path] = std::move(picture);
    return path;
}

void RegisterFakePictureAt(const std::string& path, std::shared_ptr<FakePicture> picture) {
    SetFakeReaderMaker(MakeFakeReader);
    std::lock_guard<std::mutex> lock(g_lock);
    g_pictures[path] = std::move(picture);
}

void ClearFakePictures() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_pictures.clear();
}
