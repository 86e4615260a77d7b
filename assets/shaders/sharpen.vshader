// Sharpen pass, vertex stage: the unit square placed by rectTransform. The fragment stage reads
// the interlaced image at its own pixel, so no texture coordinate is passed on.
layout(location = 0) in vec2 corner;

uniform mat4 rectTransform;

void main() {
    vec4 rect = rectTransform * vec4(corner, 0.0, 1.0);
    gl_Position = vec4(rect.xy * 2.0 - 1.0, 0.0, 1.0);
}
