// Interlace pass, vertex stage: the unit square placed by rectTransform, its texture coordinate
// cropped by textureTransform.
#ifndef UV_TOP_LEFT
#define UV_TOP_LEFT 0
#endif

layout(location = 0) in vec2 corner;

uniform mat4 textureTransform;
uniform mat4 rectTransform;

// Where the views are sampled (after the crop and the vertical flip of top-left images).
out vec2 texCoord;
// Position inside the drawn rectangle, y up; the debug grids lay their cells out on it.
out vec2 quadCoord;

void main() {
    vec4 rect = rectTransform * vec4(corner, 0.0, 1.0);
    vec2 uv = (textureTransform * vec4(corner, 0.0, 1.0)).xy;
#if UV_TOP_LEFT
    uv.y = 1.0 - uv.y;
#endif
    texCoord = uv;
    quadCoord = corner;
    gl_Position = vec4(rect.xy * 2.0 - 1.0, 0.0, 1.0);
}
