#include "params/stream_wait.h"

#include "board/fpga.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace optad {

namespace {

// The video bridge brings the module's video up in three steps: the link,
// then both of its lanes, then the stream on them. A bit that goes away
// while a later one is awaited means the link restarted: wait for the link
// again.
enum class Stage { link, lanes, stream };

constexpr int ALL_UP = IO_EXP_LINK_UP | IO_EXP_TWO_LANE | IO_EXP_DTCT_STRM;

// One reading of a usable status byte. Returns true when the stream is up.
bool advance(Stage &stage, int io_exp)
{
    if (stage == Stage::link) {
        if (!(io_exp & IO_EXP_LINK_UP))
            return false;
        OPTAD_LOG_DEBUG("DEBUG:optad:main:wait_for_dtct_strm - FPGA: link_up is up!!!, io_exp=0x%02X\n", io_exp);
        stage = Stage::lanes;
    }
    if (stage == Stage::lanes) {
        if (!(io_exp & IO_EXP_TWO_LANE)) {
            if (!(io_exp & IO_EXP_LINK_UP)) {
                OPTAD_LOG_ERROR("ERROR:optad:main:wait_for_dtct_strm - Lost link_up!!!, io_exp=0x%02X\n", io_exp);
                stage = Stage::link;
            }
            return false;
        }
        OPTAD_LOG_DEBUG("DEBUG:optad:main:wait_for_dtct_strm - FPGA: two_lane is up!!!, io_exp=0x%02X\n", io_exp);
        stage = Stage::stream;
    }
    // Stage::stream
    if (io_exp & IO_EXP_DTCT_STRM) {
        OPTAD_LOG_DEBUG("DEBUG:optad:main:wait_for_dtct_strm - FPGA: dtct_strm is up!!!, io_exp=0x%02X\n", io_exp);
        if ((io_exp & ALL_UP) == ALL_UP)
            return true;
        OPTAD_LOG_ERROR("ERROR:optad:main:wait_for_dtct_strm - Lost dtct_strm!!!, io_exp=0x%02X\n", io_exp);
        stage = Stage::link;
        return false;
    }
    if (!(io_exp & IO_EXP_LINK_UP) || !(io_exp & IO_EXP_TWO_LANE)) {
        OPTAD_LOG_ERROR("ERROR:optad:main:wait_for_dtct_strm - Lost two_lane!!!, io_exp=0x%02X\n", io_exp);
        stage = Stage::link;
    }
    return false;
}

}  // namespace

int wait_for_dtct_strm()
{
    Stage stage = Stage::link;
    // The last result of a reading, for the time-out line: a failed read
    // shows there as -1 (0xFFFFFFFF), which tells an unreadable bridge from
    // one that answers without the stream.
    int io_exp = -1;
    for (int round = 0; round < STREAM_WAIT_ROUNDS; ++round) {
        io_exp = fpga_read_io_exp();
        // An unreadable or still starting bridge says nothing about the
        // link: keep the stage and read again.
        if (io_exp >= 0 && !(io_exp & IO_EXP_NOT_INITIALIZED)) {
            OPTAD_LOG_DEBUG("DEBUG:optad:main:wait_for_dtct_strm - Status FPGA: io_exp=0x%02X\n", io_exp);
            if (advance(stage, io_exp))
                return 0;
        }
        clock_sleep_us(STREAM_WAIT_PAUSE_US);
    }
    OPTAD_LOG_ERROR("ERROR:optad:main:wait_for_dtct_strm - FPGA:Timeout - Didn't get dtct_strm!!!, io_exp=0x%02X\n",
                    io_exp);
    return -1;
}

}  // namespace optad
