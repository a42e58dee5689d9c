// The kernel interfaces of the camera's devices: request numbers and record
// layouts, shared by the device code and by the host build's device seam.
//
// spidev and i2c-dev come from the kernel's own headers. The video input
// (/dev/cam0) and data cache (/dev/datacache0) drivers are the platform's;
// their request numbers and records are fixed here. Records that carry
// user-space addresses use the platform's pointer width: on the 32-bit
// camera they have exactly the sizes encoded in their request numbers.
#pragma once

#include <linux/i2c-dev.h>
#include <linux/spi/spidev.h>

#include <cstdint>

namespace optad {

// ---- /dev/cam0: video input of the main SoC ----
inline constexpr unsigned long CAM0_GET_WINDOW = 0x403C3608;    // 60-byte window record
inline constexpr unsigned long CAM0_SET_WINDOW = 0x403C3607;    // same record
inline constexpr unsigned long CAM0_STREAM = 0x40042A01;        // int by value: 1 on, 0 off
inline constexpr unsigned long CAM0_BLACK_VIDEO = 0x80042A03;   // int by value: 1 on, 0 off
inline constexpr unsigned long CAM0_SET_INPUT = 0x80602D06;     // 96-byte input record
inline constexpr unsigned long CAM0_GET_PIPELINE = 0x41B42F0A;  // 436-byte pipeline record
inline constexpr unsigned long CAM0_SET_PIPELINE = 0x41B42F09;  // same record
inline constexpr unsigned long CAM0_SET_SIZE = 0x42CC2B04;      // 716-byte size record

inline constexpr unsigned CAM0_WINDOW_RECORD_SIZE = 60;
inline constexpr unsigned CAM0_INPUT_RECORD_SIZE = 96;
inline constexpr unsigned CAM0_PIPELINE_RECORD_SIZE = 436;
inline constexpr unsigned CAM0_SIZE_RECORD_SIZE = 716;

// ---- /dev/datacache0: named ring buffers of fixed-size entries ----
inline constexpr unsigned long DATACACHE_REGISTER = 0x801C2B04;  // datacache_register_rec
inline constexpr unsigned long DATACACHE_LOOKUP = 0x801C2B00;    // same, size and count 0
inline constexpr unsigned long DATACACHE_WRITE = 0x40102B02;     // datacache_write_rec
inline constexpr unsigned long DATACACHE_READ = 0x80182B06;      // datacache_read_rec

inline constexpr unsigned DATACACHE_NAME_LEN = 20;

struct datacache_register_rec {
    char name[DATACACHE_NAME_LEN];  // NUL-padded
    uint32_t entry_size;
    uint32_t entries;
};
static_assert(sizeof(datacache_register_rec) == 28);

struct datacache_write_rec {
    uint32_t cache_id;
    uintptr_t entry;  // user-space address of one entry
    uint32_t zero[2];
};

struct datacache_read_rec {
    uint32_t cache_id;
    uint32_t one;       // always 1
    uintptr_t entries;  // user-space address: count x entry size bytes
    uintptr_t stamps;   // user-space address: 8 bytes per entry
    uint32_t count;
    uint32_t zero;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(datacache_write_rec) == 16, "write record must match its request number");
static_assert(sizeof(datacache_read_rec) == 24, "read record must match its request number");
#endif

}  // namespace optad
