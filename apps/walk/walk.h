// tavo-walk's command line: a viewer walks in front of a simulated panel and the whole chain
// runs, on the simulated camera or (--camera realsense) a live RealSense camera.
//
//   tavo-walk [--seconds S] [--mode stereo|sliding] [--out DIR] [--no-predict]
//             [--camera simulated|realsense] [--key-frames K]
//
// The calling thread runs everything that needs the headless OpenGL context; one run at a time
// per process.
#pragma once

namespace tavo::apps::walk {

// Runs the demo with `argv`'s options. Exit status: 0 done, 1 a failure on the way (named on
// standard error; a live camera lost mid-run is one, after what was measured is written), 2 bad
// arguments or, for --camera realsense, no camera.
int WalkMain(int argc, char** argv);

}  // namespace tavo::apps::walk
