#include "thumbs/thumbnail_loader.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "thumbs/thumbnail_cache.h"

namespace {

// Pictures of at most this many pixels are cheaper to decode again than to read back.
constexpr int64_t kStoreAbovePixels = 128 * 128;
constexpr int32_t kDefaultMemoryLimit = 1000;

bool IsVisible(IThumbnailList::Span span, int32_t height) {
    return span.bottom > 0 && span.top < height;
}

bool IsFar(IThumbnailList::Span span, int32_t height) {
    return span.bottom < -2 * height || span.top > 2 * height;
}

}  // namespace

int CThumbnailLoader::DefaultDecodes() {
    const unsigned threads = std::thread::hardware_concurrency();  // 0: not known
    return static_cast<int>(std::clamp<unsigned>(threads, 1, kMaxDecodes));
}

CThumbnailLoader::CThumbnailLoader(IThumbnailList& list, HWND notify)
    : list_(list), notify_(notify), parallel_(DefaultDecodes()) {}

CThumbnailLoader::~CThumbnailLoader() {
    StopProbe();
    StopDecodes();
}

void CThumbnailLoader::Decode::Stop() {
    if (!image) return;
    image->StopLoad();
    sizing.store(nullptr);
    image.reset();
}

void CThumbnailLoader::StopDecodes() {
    for (Decode& decode : decodes_) decode.Stop();
}

void CThumbnailLoader::SetParallelDecodes(int count) {
    parallel_ = std::clamp(count, 1, kMaxDecodes);
}

bool CThumbnailLoader::IsDecoding() const {
    return std::any_of(decodes_.begin(), decodes_.end(),
                       [](const Decode& decode) { return decode.image != nullptr; });
}

bool CThumbnailLoader::CanStartDecode() const {
    return std::any_of(decodes_.begin(), decodes_.begin() + parallel_,
                       [](const Decode& decode) { return decode.image == nullptr; });
}

bool CThumbnailLoader::InFlight(int32_t item) const {
    return std::any_of(decodes_.begin(), decodes_.end(), [item](const Decode& decode) {
        return decode.image && decode.item == item;
    });
}

void CThumbnailLoader::SetCache(CThumbnailCache* cache) {
    cache_ = cache;
}

void CThumbnailLoader::SetMemoryLimit(int32_t limit) {
    memoryLimit_ = limit > 0 ? limit : kDefaultMemoryLimit;
}

bool CThumbnailLoader::CacheOn() const {
    return cache_ && cache_->IsAvailable();
}

void CThumbnailLoader::Reset(std::vector<std::string> files) {
    StopDecodes();  // the caller cancels first; a picture still decoding is stopped all the same
    files_ = std::move(files);
    const size_t count = files_.size();
    memoryLimitMode_ = count > static_cast<size_t>(memoryLimit_);
    scrollForward_ = true;
    requested_ = -1;
    slots_.clear();
    ring_.clear();
    perItem_.clear();
    if (memoryLimitMode_) {
        ring_.resize(static_cast<size_t>(memoryLimit_));
        for (auto& slot : ring_) slot.first = -1;
        perItem_.assign(count, nullptr);
    } else {
        slots_.resize(count);
    }
    ringFill_ = 0;
    ringPosition_ = 0;
    finished_.assign(count, false);
}

const CImage* CThumbnailLoader::DecodedImage(int32_t item) const {
    if (item < 0) return nullptr;
    const auto i = static_cast<size_t>(item);
    if (memoryLimitMode_) return i < perItem_.size() ? perItem_[i] : nullptr;
    return i < slots_.size() ? slots_[i].get() : nullptr;
}

void CThumbnailLoader::Activate() {
    active_ = true;
    if (CanStartDecode()) LoadNext();
}

void CThumbnailLoader::CancelLoad() {
    abort_ = true;
    int32_t unfinished = -1;
    for (Decode& decode : decodes_) {
        if (!decode.image) continue;
        if (unfinished < 0 || decode.item < unfinished) unfinished = decode.item;
        decode.Stop();
    }
    // So that a forward scan comes back to the items left unfinished.
    if (unfinished >= 0) currentItem_ = unfinished - 1;
    abort_ = false;
    active_ = false;
}

void CThumbnailLoader::LoadNext() {
    if (abort_ || !active_) return;
    // Finished pictures are taken in the order they started. An image-done while every decode
    // still runs comes from a picture deleted before; it starts nothing.
    std::array<Decode*, kMaxDecodes> finished{};
    size_t finishedCount = 0;
    for (Decode& decode : decodes_) {
        if (decode.image && decode.image->done.load(std::memory_order_acquire)) {
            finished[finishedCount++] = &decode;
        }
    }
    for (size_t i = 1; i < finishedCount; ++i) {  // at most kMaxDecodes: an insertion sort
        for (size_t j = i; j > 0 && finished[j]->started < finished[j - 1]->started; --j) {
            std::swap(finished[j], finished[j - 1]);
        }
    }
    if (finishedCount == 0 && !CanStartDecode()) return;
    if (firstTime_) {
        firstTime_ = false;
        if (list_.ItemCount() > 0) list_.EnsureVisible(0);
    }
    for (size_t i = 0; i < finishedCount; ++i) TakeFinished(*finished[i]);

    for (int i = 0; i < parallel_; ++i) {
        Decode& decode = decodes_[static_cast<size_t>(i)];
        if (decode.image) continue;
        std::string thumbnailPath;
        const int32_t next = ChooseNext(&thumbnailPath);
        if (next < 0) {
            currentItem_ = -1;
            break;
        }
        StartDecode(decode, next, thumbnailPath);
    }
    if (!IsDecoding() && CacheOn()) {
        cache_->StartSweep();
        SetProbePriority(THREAD_PRIORITY_BELOW_NORMAL);
    }
}

void CThumbnailLoader::TakeFinished(Decode& decode) {
    std::unique_ptr<CImage> image = std::move(decode.image);
    decode.sizing.store(nullptr);
    const int32_t item = decode.item;
    const bool fromCache = decode.fromCache;
    if (item < 0 || static_cast<size_t>(item) >= files_.size() || item >= list_.ItemCount()) {
        return;  // the listing changed under it
    }
    const IThumbnailList::Span span = list_.IconSpan(item);
    image->DiscardSource();
    bool stored = false;
    const int64_t pixels = static_cast<int64_t>(image->GetSourceWidth()) * image->GetSourceHeight();
    if (CacheOn() && !fromCache && pixels > kStoreAbovePixels) {
        // A cache that cannot write does not hold it: far from the view it must count as done.
        stored = cache_->Store(files_[static_cast<size_t>(item)], *image);
        list_.SetCacheStatus(item, IThumbnailList::kStatusCached);
    }
    KeepPicture(item, std::move(image), span, stored || fromCache);
}

void CThumbnailLoader::KeepPicture(int32_t item, std::unique_ptr<CImage> image,
                                   IThumbnailList::Span span, bool inCache) {
    const int32_t height = list_.ClientHeight();
    const auto index = static_cast<size_t>(item);
    CImage* kept = image.get();
    if (!memoryLimitMode_) {
        slots_[index] = std::move(image);
    } else if (ringFill_ < memoryLimit_) {
        ring_[static_cast<size_t>(ringFill_)] = {item, std::move(image)};
        perItem_[index] = kept;
        ++ringFill_;
    } else if (CacheOn() && (span.bottom <= -2 * height || span.top >= 2 * height)) {
        // Far from the view with the ring full: read back from the cache when it comes near,
        // or, when the cache cannot hold it, not decoded again in this listing.
        if (!inCache) finished_[index] = true;
        return;
    } else {
        auto& slot = ring_[static_cast<size_t>(ringPosition_)];
        if (slot.first >= 0 && static_cast<size_t>(slot.first) < perItem_.size()) {
            perItem_[static_cast<size_t>(slot.first)] = nullptr;
        }
        slot = {item, std::move(image)};
        perItem_[index] = kept;
        ringPosition_ = (ringPosition_ + 1) % memoryLimit_;
    }
    if (IsVisible(span, height)) list_.ShowThumbnail(item, *kept);
}

int32_t CThumbnailLoader::ChooseNext(std::string* thumbnailPath) {
    const int32_t count = std::min(static_cast<int32_t>(std::min<size_t>(files_.size(), INT32_MAX)),
                                   list_.ItemCount());
    const int32_t height = list_.ClientHeight();
    const bool cacheOn = CacheOn();
    const auto inFlight = static_cast<int32_t>(
        std::count_if(decodes_.begin(), decodes_.end(),
                      [](const Decode& decode) { return decode.image != nullptr; }));
    const int32_t start = requested_ >= 0 ? requested_ : currentItem_;
    bool turned = false;
    bool fromRequest = requested_ >= 0;
    requested_ = -1;
    int32_t candidate = currentItem_;
    for (;;) {
        if (fromRequest) {
            candidate = start;
            fromRequest = false;
        } else {
            const bool forward = scrollForward_ != turned;
            candidate += forward ? 1 : -1;
        }
        if (candidate < 0 || candidate >= count) {
            if (turned) return -1;
            turned = true;
            // Start itself next, then away from it the other way.
            candidate = start;
            if (candidate < 0 || candidate >= count) {
                const bool forward = scrollForward_ != turned;
                candidate = forward ? std::max(candidate, -1) + 1 : std::min(candidate, count) - 1;
                if (candidate < 0 || candidate >= count) return -1;
            }
        }
        currentItem_ = candidate;

        const auto index = static_cast<size_t>(candidate);
        const int32_t status = list_.CacheStatus(candidate);
        const IThumbnailList::Span span = list_.IconSpan(candidate);
        // Dropped far from the view; once near it again it is decoded and kept.
        if (finished_[index] && (span.bottom <= -2 * height || span.top >= 2 * height)) continue;
        if (cacheOn && status == IThumbnailList::kStatusUnknown &&
            !(span.bottom >= 0 && span.top <= height)) {
            continue;
        }
        if (InFlight(candidate)) continue;
        if (!memoryLimitMode_) {
            if (slots_[index]) continue;
        } else {
            if (perItem_[index]) continue;
            // The pictures under way take ring slots too once they finish.
            if (!cacheOn && ringFill_ + inFlight >= memoryLimit_ && !IsVisible(span, height)) {
                continue;
            }
        }
        thumbnailPath->clear();
        if (cacheOn &&
            (status == IThumbnailList::kStatusCached || status == IThumbnailList::kStatusUnknown)) {
            *thumbnailPath = cache_->Lookup(files_[index]);
            if (!thumbnailPath->empty() && status == IThumbnailList::kStatusUnknown) {
                list_.SetCacheStatus(candidate, IThumbnailList::kStatusCached);
            }
        }
        if (!thumbnailPath->empty() && IsFar(span, height)) continue;
        return candidate;
    }
}

void CThumbnailLoader::StartDecode(Decode& decode, int32_t item, const std::string& thumbnailPath) {
    auto image = std::make_unique<CImage>();
    image->notifyWindow.store(notify_);
    image->progressNotices = false;
    image->sizeLimitOwner = &decode;
    image->reducedDecode = true;
    // A status of "cached" whose thumbnail has gone since is decoded from the file.
    decode.fromCache = !thumbnailPath.empty();
    decode.item = item;
    decode.started = ++starts_;
    image->Open(decode.fromCache ? thumbnailPath : files_[static_cast<size_t>(item)]);
    image->SetSizeLimit(kThumbnailSize, kThumbnailSize, false, false);
    decode.sizing.store(image.get());
    decode.image = std::move(image);
    decode.image->StartLoad(THREAD_PRIORITY_NORMAL);
    if (CacheOn()) {
        cache_->PauseSweep();
        SetProbePriority(THREAD_PRIORITY_IDLE);
    }
}

void CThumbnailLoader::Decode::SetMaxDim() {
    if (CImage* picture = sizing.load()) {
        picture->SetSizeLimit(kThumbnailSize, kThumbnailSize, true, false);
    }
}

void CThumbnailLoader::StartProbe() {
    StopProbe();
    if (!CacheOn() || !notify_) return;
    probeStop_.store(false);
    probePriority_ = THREAD_PRIORITY_IDLE;
    probeStarted_ = probe_.Start([this, files = files_]() mutable { RunProbe(std::move(files)); },
                                 THREAD_PRIORITY_IDLE);
}

void CThumbnailLoader::RunProbe(std::vector<std::string> files) {
    for (size_t i = 0; i < files.size(); ++i) {
        if (probeStop_.load(std::memory_order_acquire)) return;
        const bool cached = !cache_->Lookup(files[i]).empty();
        notify_->SendMessage(
            WM_CACHE_STATUS, i,
            cached ? IThumbnailList::kStatusCached : IThumbnailList::kStatusNotCached);
    }
    if (!probeStop_.load(std::memory_order_acquire)) {
        notify_->SendMessage(WM_PROBE_FINISHED, 0, 0);
    }
}

void CThumbnailLoader::StopProbe() {
    if (!probeStarted_) return;
    probe_.SetPriority(THREAD_PRIORITY_NORMAL);
    probeStop_.store(true, std::memory_order_release);
    // The probe may be waiting in a send: the wait answers it (the layer's wait hook).
    probe_.WaitUntilStopped();
    probeStarted_ = false;
}

void CThumbnailLoader::SetProbePriority(int priority) {
    if (!probeStarted_ || priority == probePriority_) return;
    probe_.SetPriority(priority);
    probePriority_ = priority;
}

void CThumbnailLoader::OnCacheStatus(WPARAM item, LPARAM status) {
    if (status != IThumbnailList::kStatusNotCached && status != IThumbnailList::kStatusCached) {
        return;
    }
    if (item >= files_.size() || item >= static_cast<WPARAM>(std::max(list_.ItemCount(), 0))) {
        return;
    }
    list_.SetCacheStatus(static_cast<int32_t>(item), static_cast<int32_t>(status));
}

void CThumbnailLoader::OnProbeFinished() {
    // The probe is still inside the send that brought this: it is reaped by the next stop,
    // not waited for here. This may run inside any wait of the GUI thread, so the scheduler is
    // started by a post, not from within whatever was waiting.
    if (active_ && CanStartDecode() && notify_) notify_->PostMessage(WM_IMAGE_DONE, 0, 0);
}
