#include "cuLight.h"

#include <algorithm>
#include <cmath>

namespace isImageSDK {

namespace {

void set3(float v[3], float x, float y, float z)
{
    v[0] = x, v[1] = y, v[2] = z;
}

void normalise(float v[3])
{
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0.0f)
        for (int i = 0; i < 3; ++i)
            v[i] /= length;
}

} // namespace

cuLight::cuLight()
{
    set3(globalAmbient, 0.2f, 0.2f, 0.2f);
    set3(lightAmbient, 1, 1, 1);
    set3(lightSpecular, 1, 1, 1);
    set3(lightDiffuse, 1, 1, 1);
    set3(lightPosition, 0, 0, 0);
    set3(materialAmbient, 0.15f, 0.15f, 0.15f);
    set3(materialSpecular, 0.3f, 0.3f, 0.3f);
    set3(materialDiffuse, 0.9f, 0.9f, 0.9f);
    shininess = 15.0f;
    set3(ambientCoefficient, 0.15f, 0.15f, 0.15f);
    set3(specularCoefficient, 0.3f, 0.3f, 0.3f);
    set3(diffuseCoefficient, 0.9f, 0.9f, 0.9f);
    set3(materialColor, 1, 1, 1);
    set3(viewerPosition, 0, 0, 0);
}

void cuLight::shade(float out[3], const float position[3], const float normal[3]) const
{
    float l[3], v[3];
    for (int i = 0; i < 3; ++i) {
        l[i] = lightPosition[i] - position[i];
        v[i] = viewerPosition[i] - position[i];
    }
    normalise(l);
    normalise(v);
    const float nl = normal[0] * l[0] + normal[1] * l[1] + normal[2] * l[2];
    const float diffuse = std::max(0.0f, nl);
    float r[3];
    for (int i = 0; i < 3; ++i)
        r[i] = 2.0f * nl * normal[i] - l[i];
    normalise(r);
    const float rv = std::max(0.0f, r[0] * v[0] + r[1] * v[1] + r[2] * v[2]);
    const float specular = std::pow(rv, shininess);
    for (int i = 0; i < 3; ++i) {
        const float c = materialAmbient[i] * lightAmbient[i] + materialAmbient[i] * globalAmbient[i] +
                        materialDiffuse[i] * lightDiffuse[i] * diffuse +
                        materialSpecular[i] * lightSpecular[i] * specular;
        out[i] = std::min(c, 1.0f);
    }
}

} // namespace isImageSDK
