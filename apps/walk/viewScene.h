// The host's views for the walk demo: a small lit scene of boxes at different depths, drawn with
// TavoRenderer from each view's camera, read back as pictures.
//
// Bound to the thread whose OpenGL 3.3 context is current at construction; it makes every call.
#pragma once

#include <vector>

#include <glm/vec3.hpp>

#include "apps/weave/weaver.h"

namespace TavoRenderer {
class IRenderer;
class ITexture;
}  // namespace TavoRenderer

namespace tavo::apps::walk {

class ViewScene {
  public:
    // Throws std::runtime_error when the renderer cannot start.
    ViewScene(int width, int height);
    ~ViewScene();
    ViewScene(const ViewScene&) = delete;
    ViewScene& operator=(const ViewScene&) = delete;

    // One picture per camera offset (the interlacer's GetViewOffset, scene millimetres), each
    // view's frustum shifted so that all converge on the focal plane.
    std::vector<Picture> Render(const std::vector<glm::vec3>& offsets);

  private:
    int width_, height_;
    TavoRenderer::IRenderer* renderer_ = nullptr;
    TavoRenderer::ITexture* target_ = nullptr;
};

}  // namespace tavo::apps::walk
