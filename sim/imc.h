// The image module's controller (IMC) as the main board sees it: its start
// and stop, the lines it drives (INIT_DONE, REQ, I2N_INT, FWUP_CMPLT), the
// camera status block, the command frames on its SPI link and the firmware
// upgrade.
#pragma once

#include "sim/context.h"
#include "sim/exposure.h"
#include "sim/spi_bus.h"
#include "sim/status_block.h"

#include <cstdint>
#include <string>

namespace optad::sim {

// The name of the set command of this group and item ("iris"), or null
// when the IMC has no such command.
const char *imc_command_name(uint8_t group, uint8_t item);

class Imc final : public SpiTarget {
public:
    enum class State {
        Off,        // unpowered or held in reset
        Booting,    // released from reset, INIT_DONE not yet high
        Running,    // INIT_DONE high, answering on the link
        Loader,     // safe boot without INIT_DONE: the boot loader answers
                    // the status request and the firmware upgrade only
        Halted,     // crashed (INIT_DONE dropped): waits for a reset
        Rebooting,  // restarting after a system reset command
    };
    enum class Mode { Normal, Safe };
    // The firmware upgrade. From an accepted start command until it is
    // powered off or reset the IMC is in version-up mode: it takes the
    // status request and the firmware messages, and no other command.
    enum class Upgrade {
        Idle,
        Receiving,  // taking the image's messages
        Checking,   // the whole image in, no REQ until the write-in answer
        Writing,    // answered OK, writing its flash until FWUP_CMPLT
        Complete,   // FWUP_CMPLT high: the flash holds the new image
        Refused,    // answered NG or wait time-out: the flash is untouched
    };

    explicit Imc(Context &ctx);

    // Released from reset with POWER_GOOD high; safe: IMC_SAFE_BOOT was high.
    void start(Mode mode);
    // Reset asserted or power gone: everything the IMC drives goes low.
    void stop();
    // The IMC crashes: INIT_DONE drops and it stays silent until reset.
    void halt();

    State state() const { return state_; }
    Mode mode() const { return mode_; }
    Upgrade upgrade() const { return upgrade_; }
    bool running() const { return state_ == State::Running; }
    // Raises REQ and answers on the link: running, or in its boot loader.
    bool answering() const { return state_ == State::Running || state_ == State::Loader; }
    // The IMC sends video: running its normal firmware, not upgrading.
    bool streaming() const
    {
        return running() && mode_ == Mode::Normal && upgrade_ == Upgrade::Idle;
    }

    // Handles the IMC's timers; false for any other.
    bool on_timer(TimerId id);

    // One transfer on /dev/spidev2.0 (bytes in wire order, LSB-first).
    void transfer(const uint8_t *tx, uint8_t *rx, uint32_t len, bool valid) override;

    Context &context() { return ctx_; }
    StatusBlock &status() { return status_; }
    const StatusBlock &status() const { return status_; }
    Exposure &exposure() { return exposure_; }
    // The revision in the IMC's flash: it runs after the next start.
    uint32_t flash_revision() const { return flash_revision_; }
    // A whole application of this revision put in the flash.
    void set_flash_revision(uint32_t revision)
    {
        flash_revision_ = revision;
        flash_application_ = true;
    }
    // False while the flash holds only the boot loader: its application was
    // being rewritten when the IMC lost power or reset, so a start runs the
    // boot loader (safe boot) or nothing (normal start).
    bool flash_application() const { return flash_application_; }

    // Effects of commands and control requests.
    bool pulse_interrupt();
    void move_protector(uint8_t target);
    void protector_released();  // a stuck protector may finish its move
    void start_focus_oneshot();
    void focus_step();
    void system_reset();
    void start_version_up(uint32_t size);
    void apply_faults();  // the status bytes that faults hold
    // A lens error: byte 0x13 reports 0x80 and byte 0x12 carries the code
    // until it is cleared (then 0x12 shows the lens again).
    void set_lens_error(uint8_t code);
    void clear_lens_error();
    // The lens comes off: 0x12 = 0, and what the lens reports (its name,
    // its optics values, its focus switch) goes with it. A lens put on
    // reports its name (the given one, else the previous or the default
    // one) and, where nothing was set meanwhile, the optics values and focus
    // switch of the lens that came off.
    void detach_lens();
    void attach_lens(const std::string *name);
    // The limits 0x46-0x4B changed: the IMC pulls its set values 0x52-0x54
    // into them, and its exposure follows.
    void limits_changed();

    std::string describe() const;

    // The revision in the "Rev." text of an image's first 60 bytes, as the
    // daemon reads it from the firmware file: 0 without the marker; false
    // when the number has no blank after it within five characters, or is
    // negative.
    static bool parse_revision(const uint8_t *head, size_t len, uint32_t *revision);

private:
    void req_tick();
    void raise_req();
    void withdraw_req();
    // An exchange takes the request; true when REQ rose since the previous one.
    bool take_req();
    // An exchange that reaches the stopped IMC on a request raised before
    // it stopped (once per stop).
    bool exchange_in_flight();
    void frame(const uint8_t *f, uint8_t *rx);
    void firmware_message(const uint8_t *f, uint32_t len, bool has_rx);
    void status_reply(uint8_t *rx);
    void command(const uint8_t *f, unsigned length);
    void write_in_done();
    void flash_written();
    // INIT_DONE does not rise in a start of this mode (the faults say).
    bool init_done_never(Mode mode) const;

    Context &ctx_;
    StatusBlock status_;
    Exposure exposure_{ctx_, status_};
    State state_ = State::Off;
    Mode mode_ = Mode::Normal;
    uint32_t flash_revision_;
    bool flash_application_ = true;
    uint32_t written_revision_ = 0;  // the image being written
    uint8_t protector_target_ = 0;
    uint8_t lens_before_error_ = 1;
    uint8_t lens_optics_[6] = {};    // 0x32-0x37 of the lens that came off
    uint8_t lens_focus_switch_ = 0;  // 0x9C of the lens that came off
    bool req_raised_ = false;  // REQ rose since the previous exchange
    // When the IMC stopped with a request standing (-1: it did not). The
    // master may have read REQ high and be clocking its exchange already.
    int64_t stopped_with_req_us_ = -1;
    bool i2n_unread_ = false;    // I2N rose and no status block was read since
    bool i2n_min_done_ = false;  // I2N has been high for i2n_pulse_ms

    Upgrade upgrade_ = Upgrade::Idle;
    uint32_t fw_expected_ = 0;
    uint32_t fw_received_ = 0;
    bool fw_bad_ = false;
    uint8_t fw_head_[60] = {};

    uint8_t frame_[SpiBus::MAX_MESSAGE] = {};  // the last transfer, in the IMC's bit order
};

}  // namespace optad::sim
