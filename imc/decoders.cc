// Decoders of the camera status block.
#include "imc/decoders.h"

#include "imc/buffer.h"
#include "imc/status_block.h"
#include "platform/log.h"

#include <cstring>

namespace optad {

const lens_name_row lens_name_table[] = {
    {"EF-S55-250mm f/4-5.6 IS STM", "Canon EF-S 55-250mm f/4-5.6 IS STM"},
    {"EF-S10-22mm f/3.5-4.5 USM", "Canon EF-S 10-22mm f/3.5-4.5 USM"},
    {"EF-S24mm f/2.8 STM", "Canon EF-S 24mm f/2.8 STM"},
    {"EF35mm f/2 IS USM", "Canon EF 35mm f/2 IS USM"},
    {"EF50mm f/1.4 USM", "Canon EF 50mm f/1.4 USM"},
    {"EF85mm f/1.2L II USM", "Canon EF 85mm f/1.2L II USM"},
    {"EF100mm f/2.8L Macro IS USM", "Canon EF 100mm f/2.8L Macro IS USM"},
    {"EF70-200mm f/2.8L IS II USM", "Canon EF 70-200mm f/2.8L IS II USM"},
    {"EF70-200mm f/2.8L IS III USM", "Canon EF 70-200mm f/2.8L IS III USM"},
    {nullptr, nullptr},
};

namespace {

constexpr int64_t FIRMWARE_REQ_TIMEOUT_US = 10'000'000;

void banner(const char *frame, const char *title)
{
    OPTAD_LOG_DEBUG("%s", frame);
    OPTAD_LOG_DEBUG("%s", title);
    OPTAD_LOG_DEBUG("%s", frame);
}

// A status byte and the text it decodes to.
struct byte_text {
    uint8_t value;
    const char *text;
};

const byte_text lens_attached_texts[] = {
    {1, "Attached"},
    {0, "Detached"},
};

const byte_text sunlight_texts[] = {
    {STS_SUNLIGHT_CLOSED, "Closed"},
    {STS_SUNLIGHT_OPEN, "Opened"},
    {STS_SUNLIGHT_ERROR, "Error"},
};

// Lens drive activity bits, most significant meaning first.
const byte_text lens_drive_texts[] = {
    {STS_LENS_DRIVE_RESETTING, "Resetting Focus Lens"},
    {STS_LENS_DRIVE_FOCUSING, "In Focus Movement"},
    {STS_LENS_DRIVE_OTHER, "Unknown state"},
};

template <size_t N>
const char *lookup(const byte_text (&table)[N], uint8_t value, const char *fallback)
{
    for (const byte_text &row : table)
        if (row.value == value)
            return row.text;
    return fallback;
}

}  // namespace

const char *lens_get_status(const uint8_t *sts, int *error_code)
{
    banner("/*******************************************/\n", "/* optad:lens - Get Lens Status at IMC side */\n");
    if (sts[STS_LENS_STATUS] == STS_LENS_ERROR) {
        if (error_code != nullptr)
            *error_code = sts[STS_LENS_ATTACHED];
        return "Error code ";
    }
    return lookup(lens_attached_texts, sts[STS_LENS_ATTACHED], "Unknown state");
}

const char *lens_get_drive_status(const uint8_t *sts)
{
    banner("/*************************************************/\n",
           "/* optad:lens - Get Lens Drive Status at IMC side */\n");
    const uint8_t bits = sts[STS_LENS_DRIVE];
    for (const byte_text &row : lens_drive_texts)
        if (bits & row.value)
            return row.text;
    return "Not running";
}

const char *lens_get_name(const uint8_t *sts)
{
    banner("/*****************************************/\n", "/* optad:lens - Get Lens Name at IMC side */\n");
    if (sts[STS_LENS_ATTACHED] == 0)
        return "Detached";
    // The lens pads its name with zeros but need not end it within the 80
    // bytes: copy into a buffer that always ends.
    char name[STS_LENS_NAME_LEN + 1] = {};
    std::memcpy(name, sts + STS_LENS_NAME, STS_LENS_NAME_LEN);
    for (const lens_name_row *row = lens_name_table; row->reported != nullptr; ++row)
        if (std::strcmp(name, row->reported) == 0)
            return row->display;
    return "Unknown";
}

const char *sunlight_get_status(const uint8_t *sts)
{
    banner("/**************************************************************/\n",
           "/* optad:sunlight - Get Sunlight Protection Status at IMC side */\n");
    return lookup(sunlight_texts, sts[STS_SUNLIGHT], "Unknown state");
}

int firmware_get_imc_revision(const uint8_t *recv_buf)
{
    banner("/***************************************************************/\n",
           "/* optad:firmware - Get installed firmware revision at IMC side */\n");
    if (buffer_send_camera_status_cmd(FIRMWARE_REQ_TIMEOUT_US) != 0)
        return -1;
    const int revision = static_cast<int32_t>(sts_u32(recv_buf, STS_FIRMWARE_REVISION));
    OPTAD_LOG_DEBUG("DEBUG:optad:firmware - Firmware revision at IMC side (integer)=%d\n", revision);
    return revision;
}

int hardware_get_info(const uint8_t *sts)
{
    banner("/********************************************************/\n",
           "/* optad:hardware - Get hardware information at IMC side */\n");
    const int info = sts_u16(sts, STS_HARDWARE_INFO);
    OPTAD_LOG_DEBUG("DEBUG:optad:hardware - Hardware information at IMC side (integer)=%d\n", info);
    return info;
}

void camera_get_serial_id(const uint8_t *sts, char *serial)
{
    banner("/**************************************************/\n",
           "/* optad:camera - Get camera serial id at IMC side */\n");
    // At most 16 characters; the caller's 17th byte stays the terminator.
    std::strncpy(serial, reinterpret_cast<const char *>(sts + STS_SERIAL_ID), STS_SERIAL_ID_LEN);
    OPTAD_LOG_DEBUG("DEBUG:optad:camera - Camera serial id at IMC side (char)=%s\n", serial);
}

}  // namespace optad
