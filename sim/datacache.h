// The kernel data cache, /dev/datacache0: named ring buffers of fixed-size
// entries. Producers register a cache by name (or look one up), write one
// entry at a time, and readers get up to the number of entries they ask
// for, oldest first, or EAGAIN while nothing was written. Reading does not
// consume: every reader sees the newest entries the ring still holds.
#pragma once

#include "sim/context.h"
#include "sim/device.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace optad::sim {

class Datacache {
public:
    static constexpr uint32_t MAX_ENTRY_SIZE = 4096;
    static constexpr uint32_t MAX_ENTRIES = 1024;
    static constexpr size_t MAX_CACHES = 64;

    explicit Datacache(Context &ctx) : ctx_(ctx) {}

    int ioctl(uint32_t request, const uint8_t *payload, size_t len, std::vector<uint8_t> &out);
    int entry_size(uint32_t id) const;
    std::unique_ptr<DeviceSession> open();

    // The entries of a cache, oldest first, one line each as 32-bit words in
    // hex; false when there is no such cache.
    bool dump(const std::string &name, std::string *text) const;
    std::string describe() const;

private:
    struct Entry {
        std::vector<uint8_t> bytes;
        uint64_t stamp_us;
    };
    struct Cache {
        std::string name;
        uint32_t entry_size;
        uint32_t capacity;
        std::deque<Entry> entries;
    };

    int do_register(const uint8_t *payload, size_t len, bool lookup);
    int do_write(const uint8_t *payload, size_t len);
    int do_read(const uint8_t *payload, size_t len, std::vector<uint8_t> &out);
    Cache *cache(uint32_t id);

    Context &ctx_;
    std::vector<Cache> caches_;
};

// An entry as 32-bit little-endian words in hex ("00000000 00000064 ...").
std::string entry_words(const uint8_t *data, size_t len);

}  // namespace optad::sim
