#include "sim/cam0.h"

#include "platform/kernel_abi.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace optad::sim {

namespace {

enum class Kind { Value, Get, Set };

struct Request {
    unsigned long number;
    unsigned size;
    Kind kind;
    std::vector<uint8_t> Cam0::*record;  // unused for values
};

void put32(std::vector<uint8_t> &rec, size_t offset, uint32_t value)
{
    std::memcpy(rec.data() + offset, &value, 4);
}

class Cam0Session final : public DeviceSession {
public:
    explicit Cam0Session(Cam0 &cam) : cam_(cam) {}
    int ioctl(uint32_t request, bool by_value, uint64_t value, const uint8_t *payload, size_t len,
              std::vector<uint8_t> &out) override
    {
        return cam_.ioctl(request, by_value, value, payload, len, out);
    }

private:
    Cam0 &cam_;
};

}  // namespace

std::string record_words(const uint8_t *data, size_t len)
{
    std::string out;
    char word[40];
    for (size_t off = 0; off + 4 <= len; off += 4) {
        uint32_t v;
        std::memcpy(&v, data + off, 4);
        if (v == 0)
            continue;
        std::snprintf(word, sizeof word, "%s0x%zX=%u", out.empty() ? "" : " ", off, v);
        out += word;
    }
    return out;
}

Cam0::Cam0(Context &ctx)
    : ctx_(ctx),
      window_(CAM0_WINDOW_RECORD_SIZE, 0),
      pipeline_(CAM0_PIPELINE_RECORD_SIZE, 0),
      input_(CAM0_INPUT_RECORD_SIZE, 0),
      size_(CAM0_SIZE_RECORD_SIZE, 0)
{
    // What the driver reports before anyone configured it: the full sensor.
    put32(window_, 0x08, 5472);
    put32(window_, 0x0C, 3648);
    put32(window_, 0x10, 1);
    put32(pipeline_, 0x00, 1);
    put32(pipeline_, 0x18, 5472);
    put32(pipeline_, 0x1C, 3648);
    put32(pipeline_, 0x30, 5472);
    put32(pipeline_, 0x34, 3648);
    put32(pipeline_, 0x1AC, 290000);
    put32(pipeline_, 0x1B0, 1);
}

int Cam0::ioctl(uint32_t request, bool by_value, uint64_t value, const uint8_t *payload, size_t len,
                std::vector<uint8_t> &out)
{
    static const Request REQUESTS[] = {
        {CAM0_GET_WINDOW, CAM0_WINDOW_RECORD_SIZE, Kind::Get, &Cam0::window_},
        {CAM0_SET_WINDOW, CAM0_WINDOW_RECORD_SIZE, Kind::Set, &Cam0::window_},
        {CAM0_STREAM, 0, Kind::Value, nullptr},
        {CAM0_BLACK_VIDEO, 0, Kind::Value, nullptr},
        {CAM0_SET_INPUT, CAM0_INPUT_RECORD_SIZE, Kind::Set, &Cam0::input_},
        {CAM0_GET_PIPELINE, CAM0_PIPELINE_RECORD_SIZE, Kind::Get, &Cam0::pipeline_},
        {CAM0_SET_PIPELINE, CAM0_PIPELINE_RECORD_SIZE, Kind::Set, &Cam0::pipeline_},
        {CAM0_SET_SIZE, CAM0_SIZE_RECORD_SIZE, Kind::Set, &Cam0::size_},
    };
    for (const Request &r : REQUESTS) {
        if (r.number != request)
            continue;
        if (r.kind == Kind::Value) {
            if (!by_value) {
                ctx_.violation("cam0: request 0x%08X takes its argument by value", request);
                return -EFAULT;
            }
            ctx_.record(LogKind::Cam0, "0x%08X %llu", request, static_cast<unsigned long long>(value));
            (request == CAM0_STREAM ? stream_ : black_) = value != 0;
            return 0;
        }
        if (by_value || len != r.size) {
            ctx_.violation("cam0: request 0x%08X needs a pointer to its %u-byte record", request,
                           r.size);
            return -EFAULT;
        }
        std::string words = record_words(payload, len);
        ctx_.record(LogKind::Cam0, "0x%08X%s%s", request, words.empty() ? "" : " ", words.c_str());
        std::vector<uint8_t> &rec = this->*r.record;
        if (r.kind == Kind::Get)
            out = rec;
        else
            rec.assign(payload, payload + len);
        return 0;
    }
    // A known request with another record size is a record of the wrong size.
    const unsigned long mask = ~(static_cast<unsigned long>(_IOC_SIZEMASK) << _IOC_SIZESHIFT);
    for (const Request &r : REQUESTS) {
        if ((r.number & mask) == (request & mask) && r.kind != Kind::Value) {
            ctx_.violation("cam0: request 0x%08X passes a %u-byte record, the driver takes %u bytes "
                           "(0x%08lX)",
                           request, _IOC_SIZE(request), r.size, r.number);
            return -EINVAL;
        }
    }
    ctx_.violation("cam0: unknown request 0x%08X", request);
    return -ENOTTY;
}

std::unique_ptr<DeviceSession> Cam0::open()
{
    return std::make_unique<Cam0Session>(*this);
}

std::string Cam0::describe() const
{
    std::string out = "stream " + std::to_string(stream_) + "\nblack_video " +
                      std::to_string(black_) + "\n";
    out += "window " + record_words(window_.data(), window_.size()) + "\n";
    out += "input " + record_words(input_.data(), input_.size()) + "\n";
    out += "pipeline " + record_words(pipeline_.data(), pipeline_.size()) + "\n";
    out += "size " + record_words(size_.data(), size_.size()) + "\n";
    return out;
}

}  // namespace optad::sim
