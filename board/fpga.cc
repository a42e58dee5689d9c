// The video-bridge FPGA's registers over /dev/spidev3.0.
#include "board/fpga.h"

#include "platform/devio.h"
#include "platform/kernel_abi.h"
#include "platform/log.h"
#include "platform/log_format.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

namespace optad {

const FpgaField fpga_fields[FPGA_FIELD_COUNT] = {
    {"pci_rx.nbr_of_dws", &fpga_status::pci_rx, 0, 0xFFFFFF, true},
    {"ctrl.crop_en", &fpga_status::ctrl, 0, 0x1, false},
    {"ctrl.strm_en", &fpga_status::ctrl, 1, 0x1, false},
    {"ctrl.byte_order", &fpga_status::ctrl, 2, 0x1, false},
    {"ctrl.rplc_cmp", &fpga_status::ctrl, 3, 0x1, false},
    {"ctrl.cmp_val", &fpga_status::ctrl, 4, 0xFF, false},
    {"ctrl.sep_y_uv", &fpga_status::ctrl, 12, 0x1, false},
    {"ctrl.pxl_swap", &fpga_status::ctrl, 13, 0x1, false},
    {"ctrl.min_y_val", &fpga_status::ctrl, 14, 0xFF, true},
    {"crop_x.width", &fpga_status::crop_x, 0, 0x3FFF, false},
    {"crop_x.start", &fpga_status::crop_x, 14, 0x1FFF, true},
    {"cur_crop_x.width", &fpga_status::cur_crop_x, 0, 0x3FFF, false},
    {"cur_crop_x.start", &fpga_status::cur_crop_x, 14, 0x1FFF, true},
    {"crop_y.height", &fpga_status::crop_y, 0, 0x3FFF, false},
    {"crop_y.start", &fpga_status::crop_y, 14, 0x1FFF, true},
    {"cur_crop_y.height", &fpga_status::cur_crop_y, 0, 0x3FFF, false},
    {"cur_crop_y.start", &fpga_status::cur_crop_y, 14, 0x1FFF, true},
};

namespace {

constexpr const char *FPGA_DEVICE = "/dev/spidev3.0";
constexpr uint8_t FPGA_SPI_MODE = SPI_MODE_0;
constexpr uint32_t FPGA_SPEED_HZ = 5'000'000;
constexpr uint8_t FPGA_BITS_PER_WORD = 8;
constexpr uint8_t FPGA_CMD_READ = 0x13;
constexpr uint8_t FPGA_CMD_WRITE = 0x12;
// Stream stopped, minimum Y value cleared; everything else as read.
constexpr uint32_t FPGA_CTRL_KEEP = ~(FPGA_CTRL_STRM_EN | FPGA_CTRL_MIN_Y_VAL);
static_assert(FPGA_CTRL_KEEP == 0xFFC03FFDu);

// The messages of an open, by the operation that logs them.
struct OpenMessages {
    LogFormat<int, const char *, const char *> open_failed;  // errno, its text, the device
    LogFormat<int, const char *> mode_failed;                // errno, its text
    LogFormat<int, const char *> speed_failed;               // errno, its text
};

constexpr OpenMessages reg_messages = {
    "%d (%s) ERROR:optad:fpga_reg - Failed to open %s\n",
    "%d - (%s) ERROR:optad:fpga_reg - SPI_IOC_WR_MODE failed\n",
    "%d - (%s) ERROR:optad:fpga_reg - SPI_IOC_WR_MAX_SPEED_HZ failed\n",
};

constexpr OpenMessages all_regs_messages = {
    "%d (%s) ERROR:optad:get_all_fpga_regs - Failed to open %s\n",
    "%d - (%s) ERROR:optad:get_all_fpga_regs - SPI_IOC_WR_MODE failed\n",
    "%d - (%s) ERROR:optad:get_all_fpga_regs - SPI_IOC_WR_MAX_SPEED_HZ failed\n",
};

int open_device(const OpenMessages &msg)
{
    int fd = dev_open(FPGA_DEVICE, O_RDWR);
    if (fd < 0) {
        int e = errno;
        log_line(LOG_ERR, msg.open_failed, e, strerror(e), FPGA_DEVICE);
        return -1;
    }
    // Bus settings failures are logged and the operation goes on: the
    // device keeps its previous settings, which are normally these.
    uint8_t mode = FPGA_SPI_MODE;
    if (dev_ioctl(fd, SPI_IOC_WR_MODE, &mode) < 0) {
        int e = errno;
        log_line(LOG_ERR, msg.mode_failed, e, strerror(e));
    }
    if (dev_ioctl(fd, SPI_IOC_RD_MODE, &mode) < 0) {
        int e = errno;
        log_line(LOG_ERR, msg.mode_failed, e, strerror(e));
    }
    uint32_t speed = FPGA_SPEED_HZ;
    if (dev_ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0) {
        int e = errno;
        log_line(LOG_ERR, msg.speed_failed, e, strerror(e));
    }
    return fd;
}

// One SPI_IOC_MESSAGE(1): the chip select is released after it.
int transfer(int fd, const void *tx, void *rx, uint32_t len)
{
    spi_ioc_transfer t;
    std::memset(&t, 0, sizeof t);
    t.tx_buf = reinterpret_cast<uintptr_t>(tx);
    t.rx_buf = reinterpret_cast<uintptr_t>(rx);
    t.len = len;
    t.speed_hz = FPGA_SPEED_HZ;
    t.bits_per_word = FPGA_BITS_PER_WORD;
    if (dev_ioctl(fd, SPI_IOC_MESSAGE(1), &t) < 1) {
        int e = errno;
        OPTAD_LOG_ERROR("%d - (%s) ERROR:optad:fpga_reg - SPI_IOC_MESSAGE failed\n", e, strerror(e));
        return -1;
    }
    return 0;
}

void put_le32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

int fpga_open()
{
    return open_device(reg_messages);
}

int fpga_reg_read(int fd, uint32_t address, uint32_t *value)
{
    uint8_t cmd[5] = {FPGA_CMD_READ};
    put_le32(cmd + 1, address);
    if (transfer(fd, cmd, nullptr, sizeof cmd) < 0)
        return -1;
    uint8_t rx[4] = {};
    if (transfer(fd, nullptr, rx, sizeof rx) < 0)
        return -1;
    *value = static_cast<uint32_t>(rx[0]) | (static_cast<uint32_t>(rx[1]) << 8) |
             (static_cast<uint32_t>(rx[2]) << 16) | (static_cast<uint32_t>(rx[3]) << 24);
    return 0;
}

int fpga_reg_write(int fd, uint32_t address, uint32_t value)
{
    uint8_t cmd[9] = {FPGA_CMD_WRITE};
    put_le32(cmd + 1, address);
    put_le32(cmd + 5, value);
    return transfer(fd, cmd, nullptr, sizeof cmd);
}

int fpga_read_io_exp()
{
    int fd = fpga_open();
    if (fd < 0)
        return -1;
    uint32_t v = 0;
    int r = fpga_reg_read(fd, FPGA_REG_IO_EXP, &v);
    dev_close(fd);
    return r < 0 ? -1 : static_cast<int>(v & 0xFF);
}

int get_all_fpga_regs(fpga_status *st)
{
    int fd = open_device(all_regs_messages);
    if (fd < 0)
        return -1;
    // Read order of the registers and where each lands.
    static constexpr struct {
        uint32_t address;
        uint32_t fpga_status::*field;
    } reads[] = {
        {FPGA_REG_RW_CAPT, &fpga_status::rw_capt},       {FPGA_REG_PCI_RX, &fpga_status::pci_rx},
        {FPGA_REG_CTRL, &fpga_status::ctrl},             {FPGA_REG_CROP_X, &fpga_status::crop_x},
        {FPGA_REG_CUR_CROP_X, &fpga_status::cur_crop_x}, {FPGA_REG_CROP_Y, &fpga_status::crop_y},
        {FPGA_REG_CUR_CROP_Y, &fpga_status::cur_crop_y}, {FPGA_REG_IO_EXP, &fpga_status::io_exp},
    };
    int r = 0;
    for (const auto &rd : reads) {
        r = fpga_reg_read(fd, rd.address, &(st->*(rd.field)));
        if (r < 0)
            break;
    }
    dev_close(fd);
    return r;
}

int print_fpga_status()
{
    static const char rule[] = "##############################################################\n";
    log_write(LOG_DEBUG, "%s", rule);
    fpga_status st = {};
    int r = get_all_fpga_regs(&st);
    if (r < 0) {
        log_write(LOG_DEBUG, "%s", rule);
        return r;
    }
    log_write(LOG_DEBUG, "DEBUG:fpga - FPGA status - FPGA status width x height, rw_capt=%dx%d\n",
              fpga_capt_width(st.rw_capt), fpga_capt_height(st.rw_capt));
    log_write(LOG_DEBUG, "\n");
    for (const FpgaField &f : fpga_fields) {
        log_write(LOG_DEBUG, "DEBUG:fpga - FPGA status %s=%d\n", f.name, static_cast<int>(fpga_field_value(st, f)));
        if (f.group_end)
            log_write(LOG_DEBUG, "\n");
    }
    log_write(LOG_DEBUG, "DEBUG:fpga - FPGA status dtct_strm, two_lane and link_up, io_exp=0x%02X\n",
              static_cast<unsigned>(st.io_exp & 0xFF));
    log_write(LOG_DEBUG, "%s", rule);
    return r;
}

int fpga_set_window(int width, int height)
{
    int fd = fpga_open();
    if (fd < 0)
        return -1;
    uint32_t ctrl = 0;
    int r = fpga_reg_read(fd, FPGA_REG_CTRL, &ctrl);
    if (r == 0) {
        ctrl &= FPGA_CTRL_KEEP;
        r = fpga_reg_write(fd, FPGA_REG_CTRL, ctrl);
    }
    if (r == 0)
        r = fpga_reg_write(fd, FPGA_REG_RW_CAPT, fpga_rw_capt_value(width, height));
    if (r == 0)
        r = fpga_reg_write(fd, FPGA_REG_PCI_RX, fpga_pci_rx_value(width, height));
    if (r == 0)
        r = fpga_reg_write(fd, FPGA_REG_CTRL, ctrl | FPGA_CTRL_STRM_EN);
    dev_close(fd);
    return r;
}

}  // namespace optad
