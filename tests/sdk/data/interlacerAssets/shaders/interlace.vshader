// Test stand-in for the interlace vertex shader: places the unit square by rectTransform.
layout(location = 0) in vec2 corner;
uniform mat4 rectTransform;
out vec2 uv;
void main() {
    uv = corner;
    vec4 placed = rectTransform * vec4(corner, 0.0, 1.0);
    gl_Position = vec4(placed.xy * 2.0 - 1.0, 0.0, 1.0);
}
