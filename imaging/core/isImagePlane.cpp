#include "isImagePlane.h"

#include "isSliceKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace isImageSDK {

namespace {

// Sets column `c` of `out` to `v` times the column `src` of `from`, with fourth element 0.
void setColumn(cocos2d::Mat4& out, int c, const cocos2d::Mat4& from, int src, float sign)
{
    for (int r = 0; r < 3; ++r)
        out.m[c * 4 + r] = sign * from.m[src * 4 + r];
    out.m[c * 4 + 3] = 0.0f;
}

// Plane count for a thickness: truncation of (mm / (2 * spacing)) * 2 + 1, odd, negative for
// a negative thickness; 1 for a spacing that is not positive (no distance between planes) or
// a thickness that is not a number.
int slabCountFor(double millimetres, double spacing)
{
    if (!(spacing > 0.0))
        return 1;
    const double half = millimetres / (spacing * 2.0);
    if (half != half)
        return 1;
    return static_cast<int>(std::min(std::max(half, -1e8), 1e8)) * 2 + 1;
}

} // namespace

isImagePlane* isImagePlane::create()
{
    return createAutoreleased<isImagePlane>();
}

bool isImagePlane::init()
{
    isImageFilter::init();
    m_slabCount = 1;
    m_slabMode = SLAB_MAX;
    m_axis = PLANE_ACQUIRED;
    m_index = -1;
    return true;
}

void isImagePlane::setInput(isImageData* image)
{
    isImageFilter::setInput(image);
    m_index = 0;
}

int isImagePlane::getSliceCount()
{
    if (!m_inputData)
        return -1;
    int dims[3];
    m_inputData->getDimensions(dims);
    return m_axis == PLANE_ACQUIRED ? dims[2] : m_axis == PLANE_REFORMAT1 ? dims[0] : dims[1];
}

int isImagePlane::getSliceIndexOfPoint(double x, double y, double z)
{
    return sliceIndexOfPoint(m_inputData, m_axis, x, y, z);
}

int isImagePlane::sliceIndexOfPoint(isImageData* data, int axis, double x, double y, double z)
{
    if (!data)
        return -1;
    int dims[3];
    float spacing[3];
    data->getDimensions(dims);
    data->getVoxelSpacing(spacing);
    cocos2d::Mat4 inverse = data->getVolumeMatrix().getInversed();
    cocos2d::Mat4 p = inverse;
    p.translate(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));  // inverse * translation
    // Columns are counted from the last one: plane `index` of axis 1 is column columns - 1 - index.
    const float q[3] = {static_cast<float>(dims[0] - 1) * spacing[0] - p.m[12], p.m[13], p.m[14]};
    const int c = axis == PLANE_ACQUIRED ? 2 : axis == PLANE_REFORMAT1 ? 0 : 1;
    if (!(spacing[c] > 0.0f))
        return -1;
    const double index = static_cast<double>(q[c]) / spacing[c] + 0.5;
    if (!(index > std::numeric_limits<int>::min() && index < std::numeric_limits<int>::max()))
        return -1;
    return static_cast<int>(index);
}

void isImagePlane::setSlabThickness(double millimetres)
{
    if (!m_inputData)
        return;
    float spacing[3];
    m_inputData->getVoxelSpacing(spacing);
    const float s = m_axis == PLANE_ACQUIRED ? spacing[2] : m_axis == PLANE_REFORMAT1 ? spacing[0] : spacing[1];
    const int count = slabCountFor(millimetres, s);
    if (count != m_slabCount) {
        m_dataModified = true;
        m_slabCount = count < 0 ? 1 : count;
    }
}

void isImagePlane::updateInformation()
{
    isImageData* out = beginOutputRebuild();
    if (!out)
        return;
    isImageData* in = m_inputData;
    if (!in)
        return;
    in->updateInformation();
    const auto& slices = in->getSlices();

    if (in->isVolume()) {
        int dims[3];
        float sp[3];
        in->getDimensions(dims);
        in->getVoxelSpacing(sp);
        const int nx = dims[0], ny = dims[1], nz = dims[2];
        const int type = in->getPixelType();
        const cocos2d::Mat4& M = in->getVolumeMatrix();
        if (type == PIXEL_RGB)
            m_slabCount = 1;
        if (slices.empty())
            return;
        if (m_axis == PLANE_ACQUIRED) {
            if (m_index < 0 || m_index >= nz || m_index >= static_cast<int>(slices.size()))
                return;
            const isSliceInfo* rec = slices[m_index];
            const int size[3] = {rec->columns, rec->rows, 1};
            const float spacing[3] = {rec->spacingX, rec->spacingY, 1.0f};
            if (out->allocateVolume(size, spacing, rec->pixelType, in->getPosture(), in->getHeadFeet(), rec->matrix)) {
                isSliceInfo* o = out->getSlices()[0];
                o->copyInfo(*rec);
                o->pixelsLoaded = rec->isLoaded() ? 1 : 0;
            }
        } else if (m_axis == PLANE_REFORMAT1 || m_axis == PLANE_REFORMAT2) {
            cocos2d::Mat4 T, matrix;
            int size[3];
            float spacing[3];
            if (m_axis == PLANE_REFORMAT1) {
                if (m_index < 0 || m_index >= nx)
                    return;
                T = M;
                T.translate(static_cast<float>(nx - m_index - 1) * sp[0], 0.0f, 0.0f);
                setColumn(matrix, 0, T, 2, 1.0f);
                setColumn(matrix, 1, T, 1, 1.0f);
                setColumn(matrix, 2, T, 0, -1.0f);
                size[0] = nz, size[1] = ny, size[2] = 1;
                spacing[0] = sp[2], spacing[1] = sp[1], spacing[2] = sp[0];
            } else {
                if (m_index < 0 || m_index >= ny)
                    return;
                T = M;
                T.translate(0.0f, static_cast<float>(m_index) * sp[1], 0.0f);
                setColumn(matrix, 0, T, 2, 1.0f);
                setColumn(matrix, 1, T, 0, 1.0f);
                setColumn(matrix, 2, T, 1, 1.0f);
                size[0] = nz, size[1] = nx, size[2] = 1;
                spacing[0] = sp[2], spacing[1] = sp[0], spacing[2] = sp[1];
            }
            for (int r = 0; r < 4; ++r)
                matrix.m[12 + r] = T.m[12 + r];
            if (out->allocateVolume(size, spacing, type, in->getPosture(), in->getHeadFeet(), matrix))
                out->getSlices()[0]->copyInfo(*slices[0]);
        }
        return;
    }

    if (m_axis == PLANE_ACQUIRED) {
        m_slabCount = 1;
        m_slabMode = SLAB_MAX;
        if (m_index >= 0 && m_index < static_cast<int>(slices.size()))
            out->addSliceCopy(slices[m_index]);
    }
}

void isImagePlane::execute(isImageData* input, isImageData* output)
{
    if (!output)
        return;
    output->updateInformation();
    if (output->getSliceCount() < 1 || !input)
        return;
    input->updateInformation();
    isSliceInfo* target = output->getSlices()[0];
    const auto& slices = input->getSlices();
    // Until it is complete, a cut is made again by the next update.
    m_cutComplete = false;

    if (!input->isVolume()) {
        if (m_index >= 0 && m_index < static_cast<int>(slices.size()) && slices[m_index]->pixels && target->pixels) {
            const isSliceInfo* src = slices[m_index];
            // A slice still being read by the loader is not touched: the copy is made when it
            // has arrived.
            if (!src->isLoaded())
                return;
            std::memcpy(target->pixels, src->pixels,
                        static_cast<size_t>(src->columns) * src->rows * bytesPerPixel(src->pixelType, 3));
            target->pixelsLoaded = 1;
        }
        m_cutComplete = true;
        return;
    }

    int dims[3];
    input->getDimensions(dims);
    const int type = input->getPixelType();
    if (type < PIXEL_U8 || type > PIXEL_RGB || static_cast<int>(slices.size()) < dims[2])
        return;
    const int planes = m_axis == PLANE_ACQUIRED ? dims[2] : m_axis == PLANE_REFORMAT1 ? dims[0] : dims[1];
    const long long n = m_slabCount;
    const long long start = n > 1 ? m_index - n / 2 : m_index;
    const long long first = std::min<long long>(std::max<long long>(start, 0), planes - 1);
    const long long last = std::max(std::min<long long>(start + n - 1, planes - 1), first);

    // Slices the loader has not published yet are read as zero (black), never while it writes
    // them; the cut is then incomplete and made again once they have arrived.
    std::vector<const unsigned char*> pointers(dims[2]);
    std::vector<unsigned char> zeros;
    bool complete = true;
    for (int k = 0; k < dims[2]; ++k) {
        if (!slices[k]->pixels)
            return;
        const bool needed = m_axis != PLANE_ACQUIRED || (k >= first && k <= last) || (type == PIXEL_RGB && k == m_index);
        if (!needed || slices[k]->isLoaded()) {
            pointers[k] = slices[k]->pixels;
            continue;
        }
        complete = false;
        if (zeros.empty())
            zeros.assign(static_cast<size_t>(dims[0]) * dims[1] * bytesPerPixel(type, 3), 0);
        pointers[k] = zeros.data();
    }

    isPlaneCut job;
    job.slices = pointers.data();
    job.nx = dims[0], job.ny = dims[1], job.nz = dims[2];
    job.pixelType = type;
    job.axis = m_axis;
    job.first = static_cast<int>(type == PIXEL_RGB ? m_index : first);
    job.last = static_cast<int>(type == PIXEL_RGB ? m_index : last);
    job.slabMode = m_slabMode;
    job.out = target->pixels;
    cutPlane(job);
    m_cutComplete = complete;
    if (m_axis == PLANE_ACQUIRED)
        target->pixelsLoaded = complete ? 1 : 0;
}

} // namespace isImageSDK
