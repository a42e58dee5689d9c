// The IMC firmware image, whatever its bytes: the revision read from its
// version text, and the upgrade that checks its size and streams it to the
// IMC. The IMC is the test fake, which answers OK to the start command and
// to the write-in and raises FWUP_CMPLT at once; time is virtual.
//
// What must hold: the revision is one the version text can carry (four
// characters before the blank, or the 0 and -1 of a text without one); an
// image that is no image (empty) starts no upgrade; any other one reaches
// the IMC whole, in order, in messages of at most 4092 bytes after a 4-byte
// header that is 0xFF on the last message only.
//
// Input: the whole image.
#include "imc/firmware.h"
#include "imc/spi.h"
#include "platform/clock.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/imc/fake_hw.h"

#include <cstring>
#include <vector>

using namespace optad;
using optad::fuzz::fuzz_check;

namespace {

constexpr size_t HEADER = 4;
constexpr size_t PAYLOAD_MAX = 4092;

void check_stream(const test::FakeDevices &dev, const uint8_t *data, size_t size)
{
    std::vector<uint8_t> streamed;
    size_t messages = 0;
    size_t total = 0;
    for (const test::SpiTransfer &t : dev.imc_transfers)
        total += !t.has_rx;
    for (const test::SpiTransfer &t : dev.imc_transfers) {
        if (t.has_rx)
            continue;
        ++messages;
        const std::vector<uint8_t> m = test::unreversed(t.tx);
        fuzz_check(m.size() > HEADER && m.size() - HEADER <= PAYLOAD_MAX, "a message carries 1 to 4092 bytes");
        const uint8_t mark = messages == total ? 0xFF : 0x00;
        for (size_t i = 0; i < HEADER; ++i)
            fuzz_check(m[i] == mark, "the header marks the last message only");
        streamed.insert(streamed.end(), m.begin() + HEADER, m.end());
    }
    fuzz_check(streamed.size() == size && std::memcmp(streamed.data(), data, size) == 0,
               "the IMC receives the whole image in order");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::FuzzRun run;
    test::FakeHardware &hw = run.hw;
    fuzz::write_fixed_file(FIRMWARE_FILE_PATH, data, size);

    const int revision = get_firmware_file_revision();
    fuzz_check(revision >= -999 && revision <= 9999, "the revision fits four characters");

    // REQ is up, and the IMC raises it again after every transfer.
    hw.pins.line("imc_req").value = 1;
    hw.dev.after_imc_transfer = [&hw] { hw.pins.req_edge(1); };
    hw.pins.line("438").value = 1;
    fuzz_check(spi_open_and_init(nullptr, nullptr) == 0, "the fake link opens");
    hw.pins.req_edge(0);
    hw.pins.req_edge(1);
    // No answer to the start command itself, then OK to it and OK to
    // the write-in.
    hw.dev.imc_replies.push_back(std::vector<uint8_t>(SPI_BUFFER_SIZE, 0));
    hw.dev.imc_replies.push_back(test::status_reply({{0x1A, 0x01}}));
    hw.dev.imc_replies.push_back(test::status_reply({{0x1A, 0x01}, {0x1B, 0x01}}));

    const int result = firmware_upgrade();
    if (size == 0) {
        fuzz_check(result < 0, "an empty image is refused");
        fuzz_check(hw.dev.imc_transfers.empty(), "an empty image starts no upgrade");
    } else {
        fuzz_check(result == 0, "an image the IMC takes completes the upgrade");
        check_stream(hw.dev, data, size);
    }
    spi_close();
    return 0;
}
