// The scripted walk in front of the panel: where the viewer's eyes are at each moment, and the
// second person who passes behind. Display space, millimetres; pure functions of time.
#pragma once

#include <optional>

#include <glm/vec3.hpp>

namespace tavo::apps::walk {

// One head: its eyes in display space and its roll (radians, positive turning the eye line
// counter-clockwise as the panel sees it).
struct Head {
    glm::dvec3 rightEye{0.0};
    glm::dvec3 leftEye{0.0};
    double roll = 0.0;
    glm::dvec3 middle() const { return (rightEye + leftEye) * 0.5; }
};

// The walk stretched over `seconds` of simulated time (its natural length is kNaturalSeconds):
// the viewer enters from the side, stops at about 600 mm and sways, leans in to 450 mm, steps
// back to 850 mm while a second person passes behind, and leaves to the other side.
class WalkScript {
  public:
    static constexpr double kNaturalSeconds = 15.0;
    static constexpr double kInterocularMm = 63.0;

    explicit WalkScript(double seconds);

    Head Viewer(double seconds) const;
    // The second person, while in the scene.
    std::optional<Head> Passer(double seconds) const;
    // When the second person walks behind the viewer, simulated seconds.
    double passStart() const { return kPassStart * scale_; }
    double passEnd() const { return kPassEnd * scale_; }

  private:
    static constexpr double kPassStart = 8.6;
    static constexpr double kPassEnd = 11.6;
    double scale_;
};

}  // namespace tavo::apps::walk
