#include "isImageReslice2D.h"

#include "isSampleCast.h"
#include "isSliceKernels.h"

#include <algorithm>
#include <cmath>

namespace isImageSDK {

namespace {

// Truncation of a non-negative size, bounded so that a degenerate plane cannot ask for a
// size the int cannot hold (the image container refuses over-large buffers anyway).
int sizeFrom(double v)
{
    if (!(v > 0.0))
        return 0;
    return static_cast<int>(std::min(v, 1.0e9));
}

template <class T>
void fillWith(isSliceInfo* target, float value)
{
    T* out = reinterpret_cast<T*>(target->pixels);
    std::fill(out, out + static_cast<size_t>(target->columns) * target->rows, sampleFromFloat<T>(value));
}

} // namespace

isImageReslice2D* isImageReslice2D::create()
{
    return createAutoreleased<isImageReslice2D>();
}

bool isImageReslice2D::init()
{
    isImageFilter::init();
    m_width = m_height = 1;
    m_spacingX = m_spacingY = 1.0f;
    m_slabStep = 1.0f;
    m_interpolation = INTERPOLATION_LINEAR;
    m_resliceAxes.setIdentity();
    m_background = 0.0f;
    m_slabMode = SLAB_MAX;
    m_slabCount = 1;
    m_baseStep = 1.0f;
    m_slabThickness = 0.01f;
    return true;
}

void isImageReslice2D::setInput(isImageData* image)
{
    isImageFilter::setInput(image);
    if (!image)
        return;
    image->updateInformation();
    const int type = image->getPixelType();
    if (type == PIXEL_I16)
        m_background = -1024.0f;
    else if (type != PIXEL_RGB)
        m_background = 0.0f;
    const cocos2d::Mat4 identity;
    setResliceAxes(identity.m);
}

bool isImageReslice2D::hasSampleableVolume(int dims[3], float spacing[3])
{
    if (!m_inputData || !m_inputData->isVolume())
        return false;
    m_inputData->getDimensions(dims);
    m_inputData->getVoxelSpacing(spacing);
    // A stack with a zero (or invalid) spacing has no volume frame to sample.
    for (int a = 0; a < 3; ++a)
        if (!(spacing[a] > 0.0f) || !std::isfinite(spacing[a]) || dims[a] < 1)
            return false;
    return true;
}

void isImageReslice2D::updateSlabCount(float millimetres)
{
    const double half = m_baseStep > 0.0f ? static_cast<double>(millimetres) / (m_baseStep * 2.0) : 0.0;
    m_slabCount = half == half ? static_cast<int>(std::min(std::max(half, -1e8), 1e8)) * 2 + 1 : 1;
    if (m_slabCount > 1)
        m_slabStep = millimetres / static_cast<float>(m_slabCount - 1);
}

void isImageReslice2D::updateGeometry()
{
    int dims[3];
    float sp[3];
    if (!hasSampleableVolume(dims, sp))
        return;
    const float extent[3] = {(dims[0] - 1) * sp[0], (dims[1] - 1) * sp[1], (dims[2] - 1) * sp[2]};

    cocos2d::Mat4 inverse = m_resliceAxes;
    if (inverse.inverse()) {
        float minX = 1e10f, minY = 1e10f, maxX = -1e10f, maxY = -1e10f;
        for (int corner = 0; corner < 8; ++corner) {
            cocos2d::Vec3 p((corner & 1) ? extent[0] : 0.0f, (corner & 2) ? extent[1] : 0.0f,
                            (corner & 4) ? extent[2] : 0.0f);
            inverse.transformPoint(&p);
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
        }
        cocos2d::Mat4 t;
        cocos2d::Mat4::createTranslation(minX, minY, 0.0f, &t);
        m_resliceAxes = m_resliceAxes * t;

        // One step along a column direction advances one voxel along the grid direction it
        // is closest to: |d| / |largest component of d in voxels|.
        float steps[3];
        for (int c = 0; c < 3; ++c) {
            const float* d = m_resliceAxes.m + c * 4;
            const float t3[3] = {d[0] / sp[0], d[1] / sp[1], d[2] / sp[2]};
            float m = t3[0];
            if (std::fabs(t3[1]) > std::fabs(m))
                m = t3[1];
            if (std::fabs(t3[2]) > std::fabs(m))
                m = t3[2];
            const float v[3] = {t3[0] * sp[0] / m, t3[1] * sp[1] / m, t3[2] * sp[2] / m};
            const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            steps[c] = m != 0.0f && std::isfinite(len) ? len : 1.0f;
        }
        m_spacingX = steps[0];
        m_spacingY = steps[1];
        m_slabStep = steps[2];
        m_width = sizeFrom((static_cast<double>(maxX) - minX) / m_spacingX + 0.5);
        m_height = sizeFrom((static_cast<double>(maxY) - minY) / m_spacingY + 0.5);
    }
    m_baseStep = m_slabStep;
    updateSlabCount(m_slabThickness);
}

void isImageReslice2D::setResliceAxes(const float m[16])
{
    m_resliceAxes.set(m);
    updateGeometry();
    m_informationModified = true;
    m_dataModified = true;
}

void isImageReslice2D::setSlabThickness(float millimetres)
{
    m_slabThickness = millimetres;
    updateSlabCount(millimetres);
    m_dataModified = true;
}

void isImageReslice2D::updateInformation()
{
    isImageData* out = beginOutputRebuild();
    if (!out)
        return;
    int dims[3];
    float sp[3];
    if (!hasSampleableVolume(dims, sp))
        return;
    const auto& slices = m_inputData->getSlices();
    if (slices.empty() || slices[0]->pixelType == PIXEL_RGB)
        return;
    const isSliceInfo* first = slices[0];
    isSliceInfo rec;
    rec.columns = std::max(m_width, 1);
    rec.rows = std::max(m_height, 1);
    rec.spacingX = m_spacingX;
    rec.spacingY = m_spacingY;
    rec.pixelType = first->pixelType;
    rec.posture = first->posture;
    rec.headFeet = first->headFeet;
    rec.matrix = m_inputData->getVolumeMatrix() * m_resliceAxes;
    rec.modality = first->modality;
    rec.rescaleIntercept = first->rescaleIntercept;
    rec.rescaleSlope = first->rescaleSlope;
    rec.windowWidth = first->windowWidth;
    rec.windowCenter = first->windowCenter;
    rec.windowPresent = first->windowPresent;
    rec.pixelSpacingPresent = first->pixelSpacingPresent;
    rec.representation = first->representation;
    rec.reserved = first->reserved;
    out->addSliceCopy(&rec);
}

void isImageReslice2D::execute(isImageData* input, isImageData* output)
{
    if (!output || !input)
        return;
    output->updateInformation();
    if (output->getSliceCount() < 1)
        return;
    int dims[3];
    float sp[3];
    if (!hasSampleableVolume(dims, sp))
        return;
    const void* voxels = input->getVoxelPointer();
    const int type = input->getPixelType();
    if (!voxels || type < PIXEL_U8 || type > PIXEL_U16)
        return;
    isSliceInfo* target = output->getSlices()[0];
    const float* axes = m_resliceAxes.m;

    // Slices the loader has not published yet are never read, not even while it writes them:
    // one look per slice finds the longest run of published slices, and the plane is sampled in
    // that part of the block only (outside it reads as background, as outside the volume).
    // Such a cut is incomplete and is made again once more slices have arrived.
    const auto& slices = input->getSlices();
    int runFirst = 0, runCount = 0;
    for (int k = 0, start = 0; k <= dims[2]; ++k) {
        const bool loaded = k < dims[2] && k < static_cast<int>(slices.size()) && slices[k]->isLoaded();
        if (loaded)
            continue;
        if (k - start > runCount) {
            runFirst = start;
            runCount = k - start;
        }
        start = k + 1;
    }
    m_cutComplete = runCount == dims[2];
    if (runCount == 0) {
        if (!target->pixels)
            return;
        switch (type) {
        case PIXEL_U8: fillWith<uint8_t>(target, m_background); break;
        case PIXEL_I16: fillWith<int16_t>(target, m_background); break;
        case PIXEL_FLOAT: fillWith<float>(target, m_background); break;
        default: fillWith<uint16_t>(target, m_background); break;
        }
        return;
    }
    const size_t sliceBytes = static_cast<size_t>(dims[0]) * dims[1] * bytesPerPixel(type);

    isResliceJob job;
    job.voxels = static_cast<const unsigned char*>(voxels) + sliceBytes * runFirst;
    for (int a = 0; a < 3; ++a) {
        job.dims[a] = dims[a];
        job.spacing[a] = sp[a];
        job.colStep[a] = m_spacingX * axes[a];
        job.rowStep[a] = m_spacingY * axes[4 + a];
        job.planeStep[a] = m_slabStep * axes[8 + a];
        job.origin[a] = axes[12 + a];
    }
    // The run as a volume of its own: its first slice at z = 0.
    job.dims[2] = runCount;
    job.origin[2] -= static_cast<float>(runFirst) * sp[2];
    job.pixelType = type;
    job.out = target->pixels;
    job.width = target->columns;
    job.height = target->rows;
    job.slabCount = m_slabCount;
    job.slabMode = m_slabMode;
    job.interpolation = m_interpolation;
    job.background = m_background;
    resliceVolume(job);
}

} // namespace isImageSDK
