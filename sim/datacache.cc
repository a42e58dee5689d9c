#include "sim/datacache.h"

#include "platform/kernel_abi.h"
#include "platform/sim_protocol.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace optad::sim {

namespace {

class DatacacheSession final : public DeviceSession {
public:
    explicit DatacacheSession(Datacache &dc) : dc_(dc) {}
    int ioctl(uint32_t request, bool by_value, uint64_t, const uint8_t *payload, size_t len,
              std::vector<uint8_t> &out) override
    {
        if (by_value)
            return -EFAULT;
        return dc_.ioctl(request, payload, len, out);
    }
    int entry_size(uint32_t id) override { return dc_.entry_size(id); }

private:
    Datacache &dc_;
};

// The sizes the request numbers encode: the records of the 32-bit camera.
constexpr unsigned REGISTER_SIZE = 28;
constexpr unsigned WRITE_SIZE = 16;
constexpr unsigned READ_SIZE = 24;

}  // namespace

std::string entry_words(const uint8_t *data, size_t len)
{
    if (len % 4 != 0)
        return hex_bytes(data, len);
    std::string out;
    char word[12];
    for (size_t off = 0; off < len; off += 4) {
        uint32_t v;
        std::memcpy(&v, data + off, 4);
        std::snprintf(word, sizeof word, "%s%08x", off == 0 ? "" : " ", v);
        out += word;
    }
    return out;
}

std::unique_ptr<DeviceSession> Datacache::open()
{
    return std::make_unique<DatacacheSession>(*this);
}

Datacache::Cache *Datacache::cache(uint32_t id)
{
    return id < caches_.size() ? &caches_[id] : nullptr;
}

int Datacache::entry_size(uint32_t id) const
{
    return id < caches_.size() ? static_cast<int>(caches_[id].entry_size) : -EINVAL;
}

int Datacache::ioctl(uint32_t request, const uint8_t *payload, size_t len, std::vector<uint8_t> &out)
{
    static_assert(_IOC_SIZE(DATACACHE_REGISTER) == REGISTER_SIZE);
    static_assert(_IOC_SIZE(DATACACHE_WRITE) == WRITE_SIZE);
    static_assert(_IOC_SIZE(DATACACHE_READ) == READ_SIZE);
    switch (request) {
    case DATACACHE_REGISTER:
        return do_register(payload, len, false);
    case DATACACHE_LOOKUP:
        return do_register(payload, len, true);
    case DATACACHE_WRITE:
        return do_write(payload, len);
    case DATACACHE_READ:
        return do_read(payload, len, out);
    default:
        break;
    }
    const unsigned long mask = ~(static_cast<unsigned long>(_IOC_SIZEMASK) << _IOC_SIZESHIFT);
    for (unsigned long known : {DATACACHE_REGISTER, DATACACHE_LOOKUP, DATACACHE_WRITE, DATACACHE_READ}) {
        if ((known & mask) == (request & mask)) {
            ctx_.violation("datacache: request 0x%08X passes a %u-byte record, the driver takes "
                           "%u bytes (0x%08lX)",
                           request, static_cast<unsigned>(_IOC_SIZE(request)),
                           static_cast<unsigned>(_IOC_SIZE(known)), known);
            return -EINVAL;
        }
    }
    ctx_.violation("datacache: unknown request 0x%08X", request);
    return -ENOTTY;
}

int Datacache::do_register(const uint8_t *payload, size_t len, bool lookup)
{
    if (len != REGISTER_SIZE)
        return -EFAULT;
    datacache_register_rec rec;
    std::memcpy(&rec, payload, sizeof rec);
    std::string name(rec.name, strnlen(rec.name, DATACACHE_NAME_LEN));
    const char *verb = lookup ? "lookup" : "register";
    int result = -ENOENT;
    for (size_t i = 0; i < caches_.size(); ++i) {
        if (caches_[i].name == name)
            result = static_cast<int>(i);
    }
    if (lookup) {
        if (rec.entry_size != 0 || rec.entries != 0)
            ctx_.violation("datacache: lookup of \"%s\" with entry size %u and count %u (0 and 0)",
                           name.c_str(), rec.entry_size, rec.entries);
    } else if (name.empty() || rec.entry_size == 0 || rec.entry_size > MAX_ENTRY_SIZE ||
               rec.entries == 0 || rec.entries > MAX_ENTRIES) {
        ctx_.violation("datacache: register \"%s\" with entry size %u and count %u", name.c_str(),
                       rec.entry_size, rec.entries);
        result = -EINVAL;
    } else if (result >= 0) {
        const Cache &c = caches_[static_cast<size_t>(result)];
        if (c.entry_size != rec.entry_size || c.capacity != rec.entries)
            result = -EEXIST;
    } else if (caches_.size() >= MAX_CACHES) {
        result = -ENOSPC;
    } else {
        caches_.push_back({name, rec.entry_size, rec.entries, {}});
        result = static_cast<int>(caches_.size() - 1);
    }
    if (lookup)
        ctx_.record(LogKind::Datacache, "%s %s -> %d", verb, name.c_str(), result);
    else
        ctx_.record(LogKind::Datacache, "%s %s %u %u -> %d", verb, name.c_str(), rec.entry_size,
                    rec.entries, result);
    return result;
}

int Datacache::do_write(const uint8_t *payload, size_t len)
{
    simproto::WireDatacacheWrite rec;
    if (len < sizeof rec)
        return -EFAULT;
    std::memcpy(&rec, payload, sizeof rec);
    if (rec.zero[0] != 0 || rec.zero[1] != 0)
        ctx_.violation("datacache: write record words 2 and 3 are %u and %u (0 and 0)",
                       rec.zero[0], rec.zero[1]);
    Cache *c = cache(rec.cache_id);
    if (c == nullptr) {
        ctx_.violation("datacache: write to unknown cache %d", static_cast<int>(rec.cache_id));
        return -EINVAL;
    }
    size_t size = len - sizeof rec;
    if (size != c->entry_size)
        return -EFAULT;
    const uint8_t *entry = payload + sizeof rec;
    if (c->entries.size() >= c->capacity)
        c->entries.pop_front();
    c->entries.push_back({std::vector<uint8_t>(entry, entry + size), static_cast<uint64_t>(ctx_.now_us)});
    ctx_.record(LogKind::Datacache, "write %s %s", c->name.c_str(), entry_words(entry, size).c_str());
    return 0;
}

int Datacache::do_read(const uint8_t *payload, size_t len, std::vector<uint8_t> &out)
{
    simproto::WireDatacacheRead rec;
    if (len != sizeof rec)
        return -EFAULT;
    std::memcpy(&rec, payload, sizeof rec);
    if (rec.one != 1 || rec.zero != 0)
        ctx_.violation("datacache: read record carries %u and %u (1 and 0)", rec.one, rec.zero);
    Cache *c = cache(rec.cache_id);
    if (c == nullptr) {
        ctx_.violation("datacache: read from unknown cache %d", static_cast<int>(rec.cache_id));
        return -EINVAL;
    }
    if (c->entries.empty()) {
        ctx_.record(LogKind::Datacache, "read %s %u -> EAGAIN", c->name.c_str(), rec.count);
        return -EAGAIN;
    }
    size_t n = rec.count < c->entries.size() ? rec.count : c->entries.size();
    out.clear();
    size_t first = c->entries.size() - n;
    for (size_t i = first; i < c->entries.size(); ++i)
        out.insert(out.end(), c->entries[i].bytes.begin(), c->entries[i].bytes.end());
    for (size_t i = first; i < c->entries.size(); ++i) {
        uint64_t stamp = c->entries[i].stamp_us;
        const uint8_t *p = reinterpret_cast<const uint8_t *>(&stamp);
        out.insert(out.end(), p, p + simproto::DATACACHE_STAMP_SIZE);
    }
    ctx_.record(LogKind::Datacache, "read %s %u -> %zu", c->name.c_str(), rec.count, n);
    return static_cast<int>(n);
}

bool Datacache::dump(const std::string &name, std::string *text) const
{
    for (const Cache &c : caches_) {
        if (c.name != name)
            continue;
        text->clear();
        for (const Entry &e : c.entries)
            *text += entry_words(e.bytes.data(), e.bytes.size()) + "\n";
        return true;
    }
    return false;
}

std::string Datacache::describe() const
{
    std::string out;
    for (size_t i = 0; i < caches_.size(); ++i) {
        const Cache &c = caches_[i];
        out += std::to_string(i) + " " + c.name + " " + std::to_string(c.entry_size) + " " +
               std::to_string(c.capacity) + " " + std::to_string(c.entries.size()) + "\n";
    }
    return out;
}

}  // namespace optad::sim
