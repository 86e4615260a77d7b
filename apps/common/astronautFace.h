// The face in scikit-image's astronaut.png (512 x 512) that tests and the walk demo paste into
// synthetic infrared frames, with its hand-measured eye centres.
#pragma once

namespace tavo::apps::astronaut {

// Continuous pixel coordinates (pixel i spans [i, i + 1)). Measured by hand: each eye was cut
// out, enlarged 30 times with a one-pixel grid and its column and row numbers drawn on, and read
// by eye. The centre is the middle of the iris's dark disc: its left and right edges where the
// sclera begins, its lower edge at the lower lid, the upper lid hiding its top. Subject's right
// eye (image left): iris columns 200-206 -> x 203.5; lower edge near row 104, radius 3.5 -> y
// 100.5. Left eye: iris columns 243-250 -> x 247.0; lower edge near row 106, radius 4 -> y 102.5,
// the pupil's darkest pixels (246-247, 102-104) agreeing. Reading error about one pixel, 2.5% of
// the 43.5-pixel interocular distance.
inline constexpr float kRightEyeX = 203.5f;
inline constexpr float kRightEyeY = 100.5f;
inline constexpr float kLeftEyeX = 247.0f;
inline constexpr float kLeftEyeY = 102.5f;

// The face's middle, and a square around it 1.7 face widths on a side, so hair and chin come
// along; the face itself is about 100 pixels wide.
inline constexpr int kFaceMiddleX = 225;
inline constexpr int kFaceMiddleY = 122;
inline constexpr int kCutoutSide = 170;
inline constexpr float kFaceWidth = 100.0f;

}  // namespace tavo::apps::astronaut
