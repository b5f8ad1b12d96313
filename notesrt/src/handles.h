// handles.h - the registry behind every handle the runtime gives out.
//
// A handle is a small nonzero number that maps to one object owned by the
// runtime. One counter serves every kind, so a handle of one kind is never
// taken for an object of another: looking it up in the wrong table fails.
// Tables are safe to use from several threads. Every API call looks its
// handles up, a note's work many times over, so each thread remembers the
// last two objects it found in a table: the answer stays good until the
// table removes an object (handle values are never given again), which
// any thread sees by the table's count of removals.
#ifndef NOTESRT_SRC_HANDLES_H
#define NOTESRT_SRC_HANDLES_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace nrt {

uint32_t NextHandleValue();

template <typename T>
class HandleTable {
public:
    uint32_t Add(std::unique_ptr<T> object) {
        std::lock_guard<std::mutex> lock(mutex_);
        uint32_t handle = NextHandleValue();
        objects_.emplace(handle, std::move(object));
        return handle;
    }

    // The object stays owned by the table; null for an unknown handle.
    T* Get(uint32_t handle) const {
        thread_local Recent recent;
        uint64_t removals = removals_.load(std::memory_order_acquire);
        for (const Found& found : recent.found)
            if (found.table == this && found.handle == handle && found.removals == removals) return found.object;
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = objects_.find(handle);
        if (it == objects_.end()) return nullptr;
        recent.next = 1 - recent.next;
        recent.found[recent.next] = Found{this, handle, removals_.load(std::memory_order_relaxed), it->second.get()};
        return it->second.get();
    }

    // Hands the object back to the caller; null for an unknown handle.
    std::unique_ptr<T> Remove(uint32_t handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = objects_.find(handle);
        if (it == objects_.end()) return nullptr;
        removals_.fetch_add(1, std::memory_order_acq_rel);
        std::unique_ptr<T> object = std::move(it->second);
        objects_.erase(it);
        return object;
    }

    size_t Count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return objects_.size();
    }

    template <typename Fn>
    void ForEach(Fn fn) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : objects_) fn(entry.first, *entry.second);
    }

private:
    struct Found {
        const HandleTable* table = nullptr;
        uint32_t handle = 0;
        uint64_t removals = 0;
        T* object = nullptr;
    };
    struct Recent {
        Found found[2];
        int next = 0;
    };
    mutable std::mutex mutex_;
    std::atomic<uint64_t> removals_{0};
    std::unordered_map<uint32_t, std::unique_ptr<T>> objects_;
};

}  // namespace nrt

#endif
