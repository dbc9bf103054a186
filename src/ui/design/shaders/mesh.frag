#version 440
// The mesh-gradient field at rest, in one pass. Four radial glows (colour at 0.85 in the
// centre, 0 at the end radius) composited back to front, softened as if blurred with a Gaussian
// (radius 60 pt), faded at the field's edges as a non-opaque blur fades them, and saturated
// ×1.4 on the un-premultiplied colour. Coordinates are logical pixels. The drift (scale about
// the centre, then offset) moves the rendered field as a whole: blur and saturation commute
// with it, so the field is drawn once and only re-placed while it drifts.

layout(location = 0) in vec2 qt_TexCoord0;
layout(location = 0) out vec4 fragColor;

layout(std140, binding = 0) uniform buf {
    mat4 qt_Matrix;
    float qt_Opacity;
    vec2 itemSize;
    vec2 viewOrigin;
    vec2 viewSize;
    vec4 glow1;
    vec4 glow2;
    vec4 glow3;
    vec4 glow4;
};

const float kSigma = 30.0;       // blur radius 60 taken as two standard deviations
const float kGlowOpacity = 0.85;
const float kSaturation = 1.4;

// Standard normal CDF and density (logistic approximation of the CDF).
float cdf(float u) { return 1.0 / (1.0 + exp(-1.702 * u)); }
float pdf(float u) { return 0.3989423 * exp(-0.5 * u * u); }
// The ramp max(x, 0) convolved with the Gaussian.
float softRamp(float x) { float u = x / kSigma; return kSigma * (u * cdf(u) + pdf(u)); }
// The linear falloff 1 − d/R (clamped to [0, 1]) convolved with the Gaussian along d.
float falloff(float d, float radius) { return clamp((softRamp(radius - d) - softRamp(-d)) / radius, 0.0, 1.0); }

vec4 over(vec4 dst, vec3 colour, float alpha)
{
    return vec4(colour * alpha + dst.rgb * (1.0 - alpha), alpha + dst.a * (1.0 - alpha));
}

void main()
{
    // The item reaches beyond the view it fills (the drift's overscan); the field is laid out on
    // the view.
    vec2 p = qt_TexCoord0 * itemSize - viewOrigin;

    vec4 acc = vec4(0.0);
    acc = over(acc, glow1.rgb, kGlowOpacity * falloff(distance(p, vec2(0.30, 0.30) * viewSize), 330.0));
    acc = over(acc, glow2.rgb, kGlowOpacity * falloff(distance(p, vec2(0.75, 0.60) * viewSize), 330.0));
    acc = over(acc, glow3.rgb, kGlowOpacity * falloff(distance(p, vec2(0.50, 0.90) * viewSize), 360.0));
    acc = over(acc, glow4.rgb, kGlowOpacity * falloff(distance(p, vec2(0.85, 0.80) * viewSize), 300.0));

    // Beyond the view's edges the blur sees transparency: the field fades softly across them.
    float edge = cdf(p.x / kSigma) * cdf((viewSize.x - p.x) / kSigma)
               * cdf(p.y / kSigma) * cdf((viewSize.y - p.y) / kSigma);
    acc *= edge;

    if (acc.a > 0.0001) {
        vec3 c = acc.rgb / acc.a;
        float luma = dot(c, vec3(0.2126, 0.7152, 0.0722));
        c = clamp(mix(vec3(luma), c, kSaturation), 0.0, 1.0);
        acc.rgb = c * acc.a;
    }
    fragColor = acc * qt_Opacity;
}
