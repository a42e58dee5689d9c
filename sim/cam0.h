// The main SoC's video input, /dev/cam0: every request and its record is
// recorded; the window and pipeline records read back what was last
// written (plausible values before that); stream and black video are kept.
#pragma once

#include "sim/context.h"
#include "sim/device.h"

#include <memory>
#include <string>
#include <vector>

namespace optad::sim {

class Cam0 {
public:
    explicit Cam0(Context &ctx);

    int ioctl(uint32_t request, bool by_value, uint64_t value, const uint8_t *payload, size_t len,
              std::vector<uint8_t> &out);
    std::unique_ptr<DeviceSession> open();

    bool stream() const { return stream_; }
    bool black_video() const { return black_; }
    std::string describe() const;

private:
    Context &ctx_;
    bool stream_ = false;
    bool black_ = true;
    std::vector<uint8_t> window_;
    std::vector<uint8_t> pipeline_;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> size_;
};

// The non-zero little-endian 32-bit words of a record: "0x2C=3840 0x30=2160".
std::string record_words(const uint8_t *data, size_t len);

}  // namespace optad::sim
