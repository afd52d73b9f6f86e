// cuLight: the Phong light of the shaded volume renderer. One point light and a global
// ambient term; the material is set per sample from the sample's colour, so every worker
// shades with a light of its own. Positions are in voxel space.
#pragma once

namespace isImageSDK {

class cuLight {
public:
    cuLight();
    virtual ~cuLight() = default;

    // Colour (0..1 per channel, clamped above at 1) of a surface at `position` with the unit
    // normal `normal`, seen from the viewer position.
    void shade(float out[3], const float position[3], const float normal[3]) const;

    // The material of the next samples: ambient, specular and diffuse are the colour scaled by
    // the light's coefficients.
    void setMaterialColor(float r, float g, float b)
    {
        const float c[3] = {r, g, b};
        for (int i = 0; i < 3; ++i) {
            materialColor[i] = c[i];
            materialAmbient[i] = c[i] * ambientCoefficient[i];
            materialSpecular[i] = c[i] * specularCoefficient[i];
            materialDiffuse[i] = c[i] * diffuseCoefficient[i];
        }
    }

    float globalAmbient[3];
    float lightAmbient[3];
    float lightSpecular[3];
    float lightDiffuse[3];
    float lightPosition[3];
    float materialAmbient[3];
    float materialSpecular[3];
    float materialDiffuse[3];
    float shininess;
    float ambientCoefficient[3];
    float specularCoefficient[3];
    float diffuseCoefficient[3];
    float materialColor[3];
    float viewerPosition[3];
};

} // namespace isImageSDK
