// One open of a simulated device file: what the seam's client forwards for
// a descriptor it got from dev_open().
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace optad::sim {

class DeviceSession {
public:
    virtual ~DeviceSession() = default;

    // An ioctl. by_value: the argument is value; otherwise payload holds the
    // record (and whatever the protocol appends, platform/sim_protocol.h).
    // Bytes to copy back go to out. Returns the result (>= 0) or -errno.
    virtual int ioctl(uint32_t request, bool by_value, uint64_t value, const uint8_t *payload,
                      size_t len, std::vector<uint8_t> &out) = 0;
    virtual int read(size_t count, std::vector<uint8_t> &out);
    virtual int write(const uint8_t *data, size_t len);
    // The entry size of a data cache (data cache device only).
    virtual int entry_size(uint32_t cache_id);
};

}  // namespace optad::sim
