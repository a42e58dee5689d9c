// The interrupt counters of the simulated main board, published as a
// /proc/interrupts file under the sandbox root so that tools that diff it
// (rigdump) see the IMC interrupt and the buses count up.
#pragma once

#include <cstdint>
#include <string>

namespace optad::sim {

class Interrupts {
public:
    enum Source { Timer, ImcInterrupt, ImcSpi, FpgaSpi, PmicI2c, Count };

    // Where the file goes (the real path); empty: nowhere.
    void set_path(std::string path, int64_t start_us);
    void count(Source source) { ++counts_[source]; dirty_ = true; }
    uint64_t value(Source source) const { return counts_[source]; }
    // Rewrites the file (atomically) when a count changed, or always when
    // forced; the timer row advances with the time.
    void flush(int64_t now_us, bool force = false);
    std::string text(int64_t now_us) const;

private:
    std::string path_;
    int64_t start_us_ = 0;
    uint64_t counts_[Count] = {};
    bool dirty_ = true;
};

}  // namespace optad::sim
