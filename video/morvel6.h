// The main SoC's video input unit (/dev/cam0): input window and format for
// the capture size, stream on/off and black video on/off. Each operation
// opens the device, issues its requests and closes it again. Called on the
// main-loop thread only (and at daemon exit on the main thread).
#pragma once

namespace optad {

// Sets the video input up for a capture size (5472x3648, 3840x2160 or
// 3840x2880) and the capture mode of the parameter table; leaves black video
// on and the stream running. Returns 0; only the window read and write-back
// are checked (and logged).
int init_morvel6(int width, int height);

// The same with the capture mode given (1, 2, 3; any other value leaves the
// driver's mode words as they were read).
int init_morvel6_mode(int width, int height, int capture_mode);

// 1 turns black video on, 0 off. No result is looked at.
void set_black_video_morvel6(int on);

// 1 starts the stream, 0 stops it. No result is looked at.
void set_stream_morvel6(int on);

}  // namespace optad
