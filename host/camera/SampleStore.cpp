#include "SampleStore.h"

#include <malloc.h>

#include "Log.h"

namespace vemo {
namespace host {

uint32_t SampleStore::open() {
    std::lock_guard<std::mutex> guard(_lock);
    do {
        ++_lastStore;
    } while (_lastStore == 0 || _stores.count(_lastStore) != 0);
    Store& store = _stores[_lastStore];
    store.next = (static_cast<uint64_t>(_lastStore) << 32) + 1;
    return _lastStore;
}

void SampleStore::close(uint32_t store) {
    {
        std::lock_guard<std::mutex> guard(_lock);
        const auto found = _stores.find(store);
        if (found == _stores.end()) {
            return;
        }
        _bytes -= found->second.bytes;
        _stores.erase(found);
    }
    // Once the allocator has raised its mapping threshold past a frame's size, frames come from
    // the heap, and freed heap memory stays with the process unless it is trimmed.
    malloc_trim(0);
}

uint64_t SampleStore::save(uint32_t number, PixelFormat format, FrameSize size, Storage frame,
                           uint64_t timestamp) {
    std::shared_ptr<Sample> sample(new Sample, [spare = _spare](Sample* gone) {
        std::lock_guard<std::mutex> guard(spare->lock);
        if (spare->frames.size() < kSpareFrames) {
            spare->frames.push_back(Storage{std::move(gone->bytes), gone->note});
        }
        delete gone;
    });
    sample->format = format;
    sample->size = size;
    sample->timestamp = timestamp;
    sample->bytes = std::move(frame.bytes);
    sample->note = frame.note;
    const size_t count = sample->bytes.size();

    std::lock_guard<std::mutex> guard(_lock);
    const auto found = _stores.find(number);
    if (found == _stores.end()) {
        return 0;
    }
    Store& store = found->second;
    while (!store.samples.empty() &&
           (store.samples.size() >= _maxSamples || store.bytes + count > _maxBytes)) {
        dropOldest(number, &store);
    }
    if (_bytes + count > _budget) {
        if (!store.refused) {
            logLine(LogLevel::kWarning,
                    "sample store %u: refusing samples, all stores hold %zu of %zu bytes; is "
                    "a recording client keeping its frames?",
                    number, _bytes, _budget);
            store.refused = true;
        }
        return 0;
    }
    sample->number = store.next++;
    store.bytes += count;
    _bytes += count;
    const uint64_t sampleNumber = sample->number;
    store.samples.emplace(sampleNumber, std::move(sample));
    return sampleNumber;
}

SampleStore::Storage SampleStore::takeSpare() {
    std::lock_guard<std::mutex> guard(_spare->lock);
    if (_spare->frames.empty()) {
        return Storage();
    }
    Storage storage = std::move(_spare->frames.back());
    _spare->frames.pop_back();
    return storage;
}

void SampleStore::dropOldest(uint32_t number, Store* store) {
    const auto oldest = store->samples.begin();
    const LogLevel level = store->dropped == 0 ? LogLevel::kWarning : LogLevel::kDebug;
    ++store->dropped;
    logLine(level,
            "sample store %u full (%zu samples, %zu bytes): dropped sample %llu, %llu so far; "
            "is the recording client releasing its frames?",
            number, store->samples.size(), store->bytes,
            static_cast<unsigned long long>(oldest->first),
            static_cast<unsigned long long>(store->dropped));
    store->bytes -= oldest->second->bytes.size();
    _bytes -= oldest->second->bytes.size();
    store->samples.erase(oldest);
}

bool SampleStore::release(uint32_t store, uint64_t number) {
    std::lock_guard<std::mutex> guard(_lock);
    const auto found = _stores.find(store);
    if (found == _stores.end()) {
        return false;
    }
    const auto sample = found->second.samples.find(number);
    if (sample == found->second.samples.end()) {
        return false;
    }
    found->second.bytes -= sample->second->bytes.size();
    _bytes -= sample->second->bytes.size();
    found->second.samples.erase(sample);
    return true;
}

std::shared_ptr<const SampleStore::Sample> SampleStore::find(uint32_t store,
                                                             uint64_t number) const {
    std::lock_guard<std::mutex> guard(_lock);
    const auto found = _stores.find(store);
    if (found == _stores.end()) {
        return nullptr;
    }
    const auto sample = found->second.samples.find(number);
    return sample != found->second.samples.end() ? sample->second : nullptr;
}

std::vector<SampleStore::StoreSummary> SampleStore::summary() const {
    std::lock_guard<std::mutex> guard(_lock);
    std::vector<StoreSummary> stores;
    for (const auto& [number, store] : _stores) {
        StoreSummary entry;
        entry.store = number;
        entry.outstanding = store.samples.size();
        if (!store.samples.empty()) {
            entry.oldest = store.samples.begin()->first;
            entry.newest = store.samples.rbegin()->first;
        }
        stores.push_back(entry);
    }
    return stores;
}

size_t SampleStore::bytes() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _bytes;
}

size_t SampleStore::outstanding(uint32_t store) const {
    std::lock_guard<std::mutex> guard(_lock);
    const auto found = _stores.find(store);
    return found != _stores.end() ? found->second.samples.size() : 0;
}

}  // namespace host
}  // namespace vemo
