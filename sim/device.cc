#include "sim/device.h"

#include <cerrno>

namespace optad::sim {

int DeviceSession::read(size_t, std::vector<uint8_t> &)
{
    return -EINVAL;
}

int DeviceSession::write(const uint8_t *, size_t)
{
    return -EINVAL;
}

int DeviceSession::entry_size(uint32_t)
{
    return -ENOTTY;
}

}  // namespace optad::sim
