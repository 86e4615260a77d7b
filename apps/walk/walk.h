// tavo-walk's command line: a viewer walks in front of a simulated panel and the whole chain
// runs, on the simulated camera or (--camera realsense) a live RealSense camera.
//
//   tavo-walk [--seconds S] [--mode stereo|sliding] [--out DIR] [--no-predict]
//             [--camera simulated|realsense] [--key-frames K]
//
// The calling thread runs everything that needs the headless OpenGL context; one run at a time
// per process.
#pragma once

#include <cstdint>
#include <vector>

namespace tavo::apps::walk {

// Runs the demo with `argv`'s options. Exit status: 0 done, 1 a failure on the way (named on
// standard error; a live camera lost mid-run is one, after what was measured is written), 2 bad
// arguments or, for --camera realsense, no camera.
int WalkMain(int argc, char** argv);

// The probe's grey value for each of `views` views, given the view each eye sees most: the
// views on the left eye's side of the midway point are white (its own), those on the right
// eye's side black, and a view exactly midway grey (nobody's). With two views (Stereo Sliding)
// the left image is white and the right black, whatever the eyes see.
std::vector<uint8_t> ProbeValues(int views, int leftView, int rightView);

}  // namespace tavo::apps::walk
