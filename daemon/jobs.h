// Job identifiers: the work that other threads hand to the main loop.
//
// One space of 32-bit signed ints. 0 to 11 are job types, each run by its
// own handler in the main loop; 12 to 47 are parameter jobs, each asking for
// one IMC set command (its encoder builds the frame from the current value
// of the parameter). The parameter jobs are named after their encoders.
#pragma once

namespace optad {

// Job types.
enum : int {
    JT_POWER_UP_SEQ = 0,               // power the module up, with retries
    JT_I2N_INT = 1,                    // the IMC raised its interrupt line
    JT_CHECK_FIRM_UP = 2,              // compare firmware revisions
    JT_PERFORM_FIRM_UP = 3,            // upgrade the IMC firmware, then restart
    JT_WAIT_STREAM = 4,                // wait for the video stream, then running
    JT_RESTART_IMC = 5,                // shut down, pause, power up again
    JT_ERROR = 6,                      // the IMC reported an error
    JT_FPGA_ERROR = 7,                 // the video bridge lost its link
    JT_CHECK_POWER = 8,                // may the module be powered yet?
    JT_TEST_PRINT_CAMERA_STATUS = 9,   // diagnostics: hex dump of a status reply
    JT_TEST_READ_CHUNK_DATACACHE = 10, // diagnostics: read the data cache back
    JT_TEST_READ_FPGA = 11,            // diagnostics: FPGA register dump
};

inline constexpr int JT_LAST_JOB_TYPE = JT_TEST_READ_FPGA;
inline constexpr int JT_JOB_TYPE_COUNT = JT_LAST_JOB_TYPE + 1;

// Parameter jobs, by encoder.
enum : int {
    JOB_EXP_MODE = 12,                     // Exposure
    JOB_EXP_COMP = 13,                     // Brightness
    JOB_DIAPHRAGM = 14,                    // Iris
    JOB_SHUTTER = 15,                      // Shutter
    JOB_GAIN = 16,                         // Gain
    JOB_SLOW_SHUTTER = 17,                 // MaxExposureTime
    JOB_SLOW_SHUTTER_50HZ = 18,            // MaxExposureTime
    JOB_SLOW_SHUTTER_60HZ = 19,            // MaxExposureTime
    JOB_METERING = 20,                     // ExposureWindow
    JOB_EXPOSURE_WINDOW_POSITION = 21,     // CustomExposureWindow.C0 edges
    JOB_EXPOSURE_WINDOW_SIZE = 22,         // CustomExposureWindow.C0 edges
    JOB_AGC = 23,                          // MaxGain
    JOB_WB_MODE = 24,                      // WhiteBalance
    JOB_WB_MAN = 25,                       // WhiteBalanceManual
    JOB_RB_GAIN = 26,                      // WhiteBalanceManualR/B
    JOB_SHARPNESS = 27,                    // Sharpness
    JOB_NR = 28,                           // NoiseReductionTuning
    JOB_COLOR_LEVEL = 29,                  // ColorLevel
    JOB_RESOLUTION = 30,                   // CaptureMode
    JOB_FOCUS = 31,                        // FocusMode
    JOB_SET_FOCUS_WINDOW = 32,             // FocusW0
    JOB_SET_FOCUS_WINDOW_SIZE = 33,        // FocusW0
    JOB_FOCUSDRIVE = 34,                   // FocusDrive: one focus step per request
    JOB_STABILIZER = 35,                   // Stabilizer
    JOB_AUTO_DN = 36,                      // IrCutFilter (auto day/night)
    JOB_DN = 37,                           // IrCutFilter (day/night)
    JOB_SW_BRIGHTNESS = 38,                // ShiftLevel
    JOB_TIME_DN = 39,                      // AutoIrCutFilterHysteresis
    JOB_SUNLIGHT = 40,                     // SensorProtector
    JOB_NOTIFY_ROTATE_IMAGE = 41,          // ImageRotation
    JOB_FOCUS_TRACE_CURVE = 42,            // FocusTraceCurve
    JOB_WDR_MODE = 43,                     // DynamicContrastEnabled
    JOB_WDR_LEVEL = 44,                    // DynamicContrastLevel
    JOB_VIGNETTING_CORRECTION = 45,        // VignettingCorrection
    JOB_ABERRATION_CORRECTION = 46,        // AberrationCorrection
    JOB_ONVIF_EXPOSURE_PRIORITY_NORMAL = 47, // OnvifExposurePriorityNormal
};

inline constexpr int JOB_FIRST_PARAM = JOB_EXP_MODE;
inline constexpr int JOB_LAST_PARAM = JOB_ONVIF_EXPOSURE_PRIORITY_NORMAL;
// Number of job identifiers (job types and parameter jobs).
inline constexpr int JOB_COUNT = JOB_LAST_PARAM + 1;

inline constexpr bool job_is_param(int id)
{
    return id >= JOB_FIRST_PARAM && id <= JOB_LAST_PARAM;
}

// Whether taking this identifier off the job list also removes its
// duplicates. Repeated requests for one parameter collapse into one send of
// its current value; job types run once per entry, and so does FocusDrive,
// whose every request is a separate focus step. (Identifiers beyond the
// parameter jobs collapse too: they are dropped anyway.)
inline constexpr bool job_merges_duplicates(int id)
{
    return id > JT_LAST_JOB_TYPE && id != JOB_FOCUSDRIVE;
}

}  // namespace optad
