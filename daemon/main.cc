// optad: the image module control daemon.
//
// Takes no arguments and reads no configuration besides its parameter file;
// it runs for the life of the camera (see daemon/startup.h for the order in
// which it comes up).
//
// Verbose logging: the daemon never switches DEBUG lines on itself. A
// developer who needs them either configures the build with
// -DOPTAD_VERBOSE=ON, which makes the program start verbose (camera builds
// included, so such a build is for the bench only), or, in the host build
// only, starts it with OPTAD_VERBOSE=1 in the environment. The camera build
// reads no environment, so a shipped daemon is always quiet.
#include "daemon/startup.h"

int main()
{
    return optad::optad_main();
}
