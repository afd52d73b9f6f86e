#include "vrRayCaster.h"

#include "isCamera.h"
#include "isImageTypes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace isImageSDK {

namespace {

constexpr int kUnlimitedSteps = 100000;
constexpr float kTolerance = 0.01f;
// Output rows handed to a worker at a time.
constexpr int kRowsPerChunk = 2;

// ---- column-major 4 x 4 matrices in double ----

void multiply(const double a[16], const double b[16], double out[16])
{
    double r[16];
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            double s = 0;
            for (int k = 0; k < 4; ++k)
                s += a[k * 4 + row] * b[c * 4 + k];
            r[c * 4 + row] = s;
        }
    std::memcpy(out, r, sizeof r);
}

// General inverse by cofactors; false for a singular matrix.
bool invert(const double m[16], double out[16])
{
    double inv[16];
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
             m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
             m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
             m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
              m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
             m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
             m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
             m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
              m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
             m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
             m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
              m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
              m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
             m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
             m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
              m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
              m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    const double det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    if (det == 0.0 || !std::isfinite(det))
        return false;
    for (int i = 0; i < 16; ++i)
        out[i] = inv[i] / det;
    return true;
}

void transform(const double m[16], const double in[4], double out[4])
{
    for (int r = 0; r < 4; ++r)
        out[r] = m[r] * in[0] + m[4 + r] * in[1] + m[8 + r] * in[2] + m[12 + r] * in[3];
}

struct Axes {
    double right[3], up[3], forward[3];  // forward points from the target to the eye
};

bool normalise(double v[3])
{
    const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(l > 0.0))
        return false;
    v[0] /= l, v[1] /= l, v[2] /= l;
    return true;
}

void cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// The camera's axes as the framework's look-at builds them.
bool cameraAxes(const vrCameraState& c, Axes* axes)
{
    double forward[3] = {c.eye[0] - c.target[0], c.eye[1] - c.target[1], c.eye[2] - c.target[2]};
    double up[3] = {c.up[0], c.up[1], c.up[2]};
    if (!normalise(forward) || !normalise(up))
        return false;
    double right[3];
    cross(up, forward, right);
    if (!normalise(right))
        return false;
    double trueUp[3];
    cross(forward, right, trueUp);
    normalise(trueUp);
    for (int i = 0; i < 3; ++i)
        axes->right[i] = right[i], axes->up[i] = trueUp[i], axes->forward[i] = forward[i];
    return true;
}

// Projection x view of the camera, as the framework's camera converts world points.
bool viewProjection(const vrCameraState& c, double out[16])
{
    Axes a;
    if (!cameraAxes(c, &a))
        return false;
    const double eye[3] = {c.eye[0], c.eye[1], c.eye[2]};
    double view[16] = {a.right[0], a.up[0], a.forward[0], 0, a.right[1], a.up[1], a.forward[1], 0,
                       a.right[2], a.up[2], a.forward[2], 0, 0, 0, 0, 1};
    view[12] = -(a.right[0] * eye[0] + a.right[1] * eye[1] + a.right[2] * eye[2]);
    view[13] = -(a.up[0] * eye[0] + a.up[1] * eye[1] + a.up[2] * eye[2]);
    view[14] = -(a.forward[0] * eye[0] + a.forward[1] * eye[1] + a.forward[2] * eye[2]);
    double projection[16] = {0};
    const double n = c.nearPlane, f = c.farPlane;
    if (c.perspective) {
        const double divisor = std::tan(c.fieldOfView * 3.14159265358979323846 / 180.0 * 0.5);
        const double aspect = c.viewWidth / c.viewHeight;
        if (!(std::fabs(divisor) > 1e-12) || !(aspect > 0.0) || f == n)
            return false;
        projection[0] = 1.0 / divisor / aspect;
        projection[5] = 1.0 / divisor;
        projection[10] = -(f + n) / (f - n);
        projection[11] = -1.0;
        projection[14] = -2.0 * f * n / (f - n);
    } else {
        const double hw = c.viewWidth * 0.5 * c.zoom, hh = c.viewHeight * 0.5 * c.zoom;
        if (!(hw > 0.0) || !(hh > 0.0) || f == n)
            return false;
        projection[0] = 1.0 / hw;
        projection[5] = 1.0 / hh;
        projection[10] = 2.0 / (n - f);
        projection[14] = (n + f) / (n - f);
        projection[15] = 1.0;
    }
    multiply(projection, view, out);
    return true;
}

} // namespace

vrRayCaster::vrRayCaster()
{
    std::memset(m_colors, 0, sizeof m_colors);
    for (int i = 0; i < 256; ++i)
        m_colors[i * 3] = m_colors[i * 3 + 1] = m_colors[i * 3 + 2] = static_cast<unsigned char>(i);
    std::fill(m_viewProjectionInverse, m_viewProjectionInverse + 16, 0.0);
}

vrRayCaster::~vrRayCaster() = default;

void vrRayCaster::setVolume(const vrVolumeDescriptor* volume)
{
    if (volume == m_volume)
        return;
    m_volume = volume;
    // The sampling is the owner's choice, not the volume's: it survives every change of volume.
    const int trilinear = m_info.trilinear;
    m_info = vrVolumeInfo();
    m_info.trilinear = trilinear;
    if (!volume) {
        m_grid.reset();
        return;
    }

    double matrix[16], inverse[16];
    for (int i = 0; i < 16; ++i)
        matrix[i] = volume->matrix[i];
    if (!invert(matrix, inverse))
        for (int i = 0; i < 16; ++i)
            inverse[i] = (i % 5 == 0) ? 1.0 : 0.0;
    for (int i = 0; i < 16; ++i)
        m_inverseMatrix[i] = static_cast<float>(inverse[i]);

    const bool wantFloat = volume->pixelType == PIXEL_FLOAT;
    const int wantKind = wantFloat ? vrSpaceLeapingBase::KindFloat : vrSpaceLeapingBase::KindInteger;
    if (!m_grid || m_grid->kind() != wantKind) {
        if (wantFloat)
            m_grid = std::make_unique<vrSpaceLeapingFloat>();
        else
            m_grid = std::make_unique<vrSpaceLeaping>();
    }
    m_grid->setVolume(volume);

    m_stepLength = std::min({volume->spacing[0], volume->spacing[1], volume->spacing[2]});
    if (!(m_stepLength > 0.0f))
        m_stepLength = 1.0f;
    m_maxSteps = -1;
    m_info.nx = volume->dimensions[0];
    m_info.ny = volume->dimensions[1];
    m_info.nz = volume->dimensions[2];
    m_info.nxy = static_cast<int64_t>(m_info.nx) * m_info.ny;
    m_info.nxyz = m_info.nxy * m_info.nz;
    for (int a = 0; a < 3; ++a) {
        const double s = volume->spacing[a] > 0.0f ? volume->spacing[a] : 1.0;
        m_info.spacing[a] = s;
        m_info.invSpacing[a] = 1.0 / s;
    }
    m_info.voxels = volume->voxels;
    m_info.pixelType = volume->pixelType;
    m_info.grid = m_grid.get();
    // The work table depends on the pixel type, and the new grid needs the window's threshold.
    m_tablesValid = false;
    m_windowChanged = true;
}

vrCameraState vrRayCaster::snapshot(const isCamera* camera)
{
    vrCameraState s;
    if (!camera)
        return s;
    s.perspective = camera->isPerspective();
    s.fieldOfView = camera->getFOV();
    s.viewWidth = camera->getViewWidth();
    s.viewHeight = camera->getViewHeight();
    s.nearPlane = camera->getNearPlane();
    s.farPlane = camera->getFarPlane();
    s.zoom = camera->getZoom();
    const cocos2d::Vec3 eye = camera->getEye(), target = camera->getLookAtTarget(), up = camera->getUpVector();
    s.eye[0] = eye.x, s.eye[1] = eye.y, s.eye[2] = eye.z;
    s.target[0] = target.x, s.target[1] = target.y, s.target[2] = target.z;
    s.up[0] = up.x, s.up[1] = up.y, s.up[2] = up.z;
    s.valid = true;
    return s;
}

void vrRayCaster::setCamera(const isCamera* camera, bool intoVolume)
{
    if (camera)
        setCamera(snapshot(camera), intoVolume);
}

void vrRayCaster::setCamera(const vrCameraState& camera, bool intoVolume)
{
    m_camera = camera;
    m_camera.valid = true;
    if (!intoVolume)
        return;
    const float* m = m_inverseMatrix;
    auto carry = [m](const float in[3], float w, float out[3]) {
        float r[3];
        for (int row = 0; row < 3; ++row)
            r[row] = m[row] * in[0] + m[4 + row] * in[1] + m[8 + row] * in[2] + m[12 + row] * w;
        out[0] = r[0], out[1] = r[1], out[2] = r[2];
    };
    carry(camera.eye, 1.0f, m_camera.eye);
    carry(camera.target, 1.0f, m_camera.target);
    carry(camera.up, 0.0f, m_camera.up);
}

void vrRayCaster::setPendingWindow(float width, float centre)
{
    m_pendingWidth = width;
    m_pendingCentre = centre;
    m_windowChanged = true;
    m_tablesValid = false;
}

void vrRayCaster::getPendingWindow(float* width, float* centre) const
{
    if (width)
        *width = m_pendingWidth;
    if (centre)
        *centre = m_pendingCentre;
}

void vrRayCaster::setColors(const unsigned char rgb[768])
{
    std::memcpy(m_colors, rgb, sizeof m_colors);
    m_colorsChanged = true;
    m_tablesValid = false;
}

void vrRayCaster::setRenderMode(int mode)
{
    if (mode < RenderComposite || mode > RenderMIP)
        mode = RenderComposite;
    if (mode == m_renderMode)
        return;
    m_renderMode = mode;
    m_tablesValid = false;
}

void vrRayCaster::updateTables()
{
    if (m_tablesValid)
        return;
    if (m_windowChanged) {
        m_windowWidth = m_pendingWidth;
        m_windowCentre = m_pendingCentre;
        // A width of zero (or a negative one) would divide by zero: one grey level is the
        // narrowest window.
        const double width = m_windowWidth >= 1.0f ? m_windowWidth : 1.0;
        const double lower = m_windowCentre - width * 0.5;
        m_lowerBound = static_cast<float>(lower);
        m_levelScale = static_cast<float>(255.0 / width);
        if (m_grid) {
            // Saturated to the range of the integer sample types, so that a very wide window
            // never wraps around and empties (or fills) the grid.
            const double t = std::clamp(std::trunc(lower), -32768.0, 65535.0);
            m_grid->setThreshold(static_cast<int>(t));
            m_grid->setThreshold(m_lowerBound);
        }
    }
    if (m_colorsChanged) {
        m_transfer.setColors(m_colors);
        m_tables.background[0] = m_colors[0];
        m_tables.background[1] = m_colors[1];
        m_tables.background[2] = m_colors[2];
    }
    if (m_work.empty())
        m_work.assign(65536 * 4, 0.0f);
    fillWorkTable();
    if (m_tables.lowerBound != m_lowerBound || m_tables.levelScale != m_levelScale || !m_tables.levelStartsFilled) {
        vrLevelStarts(m_lowerBound, m_levelScale, m_tables.levelStarts, m_tables.levelStartsFloat);
        m_tables.levelStartsFilled = true;
    }
    m_tables.lowerBound = m_lowerBound;
    m_tables.levelScale = m_levelScale;
    m_tables.work = m_work.data();
    m_tablesValid = true;
    m_windowChanged = false;
    m_colorsChanged = false;
}

void vrRayCaster::fillWorkTable()
{
    const int pixelType = m_volume ? m_volume->pixelType : PIXEL_I16;
    const float* t = m_transfer.transfer();
    float* work = m_work.data();
    if (m_renderMode == RenderComposite) {
        if (pixelType == PIXEL_FLOAT) {
            // Float samples map through their level at render time.
            std::fill(m_work.begin(), m_work.end(), 0.0f);
            for (int i = 0; i < 256; ++i) {
                work[i * 4] = t[i * 4] / 255.0f;
                work[i * 4 + 1] = t[i * 4 + 1], work[i * 4 + 2] = t[i * 4 + 2], work[i * 4 + 3] = t[i * 4 + 3];
            }
            return;
        }
        // Indexed by the sample: signed 16-bit values offset by 32,768, unsigned ones as they are.
        const int offset = pixelType == PIXEL_I16 ? -32768 : 0;
        for (int i = 0; i < 65536; ++i) {
            const float l = (static_cast<float>(i + offset) - m_lowerBound) * m_levelScale + 0.5f;
            const int level = !(l > 0.0f) ? 0 : (l >= 255.0f ? 255 : static_cast<int>(l));
            work[i * 4] = t[level * 4] / 255.0f;
            work[i * 4 + 1] = t[level * 4 + 1];
            work[i * 4 + 2] = t[level * 4 + 2];
            work[i * 4 + 3] = t[level * 4 + 3];
        }
        return;
    }
    if (m_renderMode == RenderMIP && pixelType == PIXEL_FLOAT) {
        std::fill(m_work.begin(), m_work.end(), 0.0f);
        std::copy(t, t + 256 * 4, work);
        return;
    }
    m_transfer.buildPreIntegrated();
    const float* pre = m_transfer.preIntegrated();
    for (int i = 0; i < 65536; ++i) {
        work[i * 4] = pre[i * 4] / 255.0f;
        work[i * 4 + 1] = pre[i * 4 + 1];
        work[i * 4 + 2] = pre[i * 4 + 2];
        work[i * 4 + 3] = pre[i * 4 + 3];
    }
}

void vrRayCaster::prepareProjection(int w, int h)
{
    double vp[16];
    if (!viewProjection(m_camera, vp) || !invert(vp, m_viewProjectionInverse))
        std::fill(m_viewProjectionInverse, m_viewProjectionInverse + 16, 0.0);
    m_pixelStep[0] = 2.0 / (w - 1);
    m_pixelStep[1] = 2.0 / (h - 1);
    if (!m_camera.perspective) {
        Axes a;
        if (cameraAxes(m_camera, &a)) {
            for (int i = 0; i < 3; ++i) {
                m_orthoRight[i] = static_cast<float>(a.right[i]);
                m_orthoUp[i] = static_cast<float>(a.up[i]);
                m_orthoDirection[i] = static_cast<float>(-a.forward[i]);
            }
        }
        // The first pixel (bottom-left of the view) on the near plane.
        const double ndc[4] = {-1.0, -1.0, -1.0, 1.0};
        double p[4];
        transform(m_viewProjectionInverse, ndc, p);
        for (int i = 0; i < 3; ++i)
            m_orthoOrigin[i] = static_cast<float>(p[3] != 0.0 ? p[i] / p[3] : p[i]);
    }
}

void vrRayCaster::makeRay(int x, int row, vrRayRecord* ray, unsigned char* out) const
{
    // Viewport y grows upward; output rows run downward from the top.
    const int y = m_height - 1 - row;
    double direction[3];
    double startMm[3];
    if (m_camera.perspective) {
        const double nx = x * m_pixelStep[0] - 1.0, ny = y * m_pixelStep[1] - 1.0;
        const double nearNdc[4] = {nx, ny, -1.0, 1.0}, farNdc[4] = {nx, ny, 1.0, 1.0};
        double n[4], f[4];
        transform(m_viewProjectionInverse, nearNdc, n);
        transform(m_viewProjectionInverse, farNdc, f);
        const double nw = n[3] != 0.0 ? 1.0 / n[3] : 1.0, fw = f[3] != 0.0 ? 1.0 / f[3] : 1.0;
        for (int i = 0; i < 3; ++i) {
            startMm[i] = n[i] * nw;
            direction[i] = f[i] * fw - startMm[i];
        }
        if (!normalise(direction))
            direction[0] = 0, direction[1] = 0, direction[2] = 1;
    } else {
        for (int i = 0; i < 3; ++i) {
            startMm[i] = m_orthoOrigin[i] + x * m_unitsPerPixel[0] * m_orthoRight[i] +
                         y * m_unitsPerPixel[1] * m_orthoUp[i];
            direction[i] = m_orthoDirection[i];
        }
    }
    const int limit = m_maxSteps < 0 ? kUnlimitedSteps : m_maxSteps;
    double voxelDirection[3];
    for (int i = 0; i < 3; ++i) {
        ray->start[i] = static_cast<float>(startMm[i] * m_info.invSpacing[i]);
        ray->block.step[i] = static_cast<float>(m_stepLength * direction[i] * m_info.invSpacing[i]);
        ray->block.nudge[i] = static_cast<float>(direction[i] * kTolerance * 0.5 * m_info.invSpacing[i]);
        voxelDirection[i] = direction[i] * m_info.invSpacing[i];
    }
    normalise(voxelDirection);
    const double stepLength = std::sqrt(ray->block.step[0] * ray->block.step[0] +
                                        ray->block.step[1] * ray->block.step[1] +
                                        ray->block.step[2] * ray->block.step[2]);
    ray->block.limit = limit;
    ray->block.stepLength = static_cast<float>(stepLength);
    ray->block.invStepLength = stepLength > 0.0 ? static_cast<float>(1.0 / stepLength) : 0.0f;
    for (int i = 0; i < 3; ++i) {
        ray->block.direction[i] = static_cast<float>(voxelDirection[i]);
        ray->block.farVector[i] = static_cast<float>(limit * voxelDirection[i]);
    }
    ray->block.tolerance = kTolerance;
    ray->out = out;
}

float vrRayCaster::nextRenderScale(float scale, double elapsedMs, double targetMs)
{
    // Adaptive resolution toward the target frame time: the ray count grows with the square of
    // the scale. A frame faster than the target leaves room to grow, however fast it was.
    if (!(elapsedMs > 0.0))
        return 1.0f;
    return std::clamp(static_cast<float>(scale * std::sqrt(targetMs / elapsedMs)), 0.05f, 1.0f);
}

bool vrRayCaster::render()
{
    if (!m_camera.valid || !m_volume || !m_grid || !m_volume->voxels)
        return false;
    const int type = m_volume->pixelType;
    if (type != PIXEL_U8 && type != PIXEL_I16 && type != PIXEL_U16 && type != PIXEL_FLOAT)
        return false;
    clearCancel();
    updateTables();
    m_grid->build();

    const double vw = m_camera.viewWidth, vh = m_camera.viewHeight;
    const double wd = vw * m_renderScale, hd = vh * m_renderScale;
    const int w = wd >= 2.0 && wd < 1e5 ? static_cast<int>(wd) : 0;
    const int h = hd >= 2.0 && hd < 1e5 ? static_cast<int>(hd) : 0;
    // Every pixel step divides by (size - 1): below 2 x 2 there is no frame to make.
    if (w < 2 || h < 2) {
        m_frame = vrFrameBlock();
        return false;
    }
    if (w != m_width || h != m_height) {
        m_output.assign(static_cast<size_t>(w) * h * 3, 0);
        m_width = w;
        m_height = h;
        m_ratio[0] = w / vw;
        m_ratio[1] = h / vh;
    }
    m_unitsPerPixel[0] = vw * m_camera.zoom / (w - 1);
    m_unitsPerPixel[1] = vh * m_camera.zoom / (h - 1);
    prepareProjection(w, h);

    // The volume's box in output pixels, through the same mapping as the rays.
    double vp[16];
    const bool projectable = viewProjection(m_camera, vp);
    double minX = 99999, minY = 99999, maxX = -99999, maxY = -99999;
    bool behind = !projectable;
    for (int corner = 0; corner < 8 && !behind; ++corner) {
        const double p[4] = {(corner & 1) ? (m_info.nx - 1) * m_info.spacing[0] : 0.0,
                             (corner & 2) ? (m_info.ny - 1) * m_info.spacing[1] : 0.0,
                             (corner & 4) ? (m_info.nz - 1) * m_info.spacing[2] : 0.0, 1.0};
        double c[4];
        transform(vp, p, c);
        if (!(c[3] > 0.0)) {
            behind = true;  // a corner behind the eye: the box may cover the whole view
            break;
        }
        const double px = (c[0] / c[3] + 1.0) * 0.5 * (w - 1), py = (c[1] / c[3] + 1.0) * 0.5 * (h - 1);
        minX = std::min(minX, px), maxX = std::max(maxX, px);
        minY = std::min(minY, py), maxY = std::max(maxY, py);
    }
    if (behind) {
        m_box[0] = 0, m_box[1] = 0, m_box[2] = w - 1, m_box[3] = h - 1;
    } else {
        const double x0 = std::max(std::floor(minX), 0.0), x1 = std::min(std::ceil(maxX), w - 1.0);
        // Rows count from the top.
        const double r0 = std::max(std::floor(h - 1 - maxY), 0.0), r1 = std::min(std::ceil(h - 1 - minY), h - 1.0);
        m_box[0] = static_cast<int>(x0), m_box[1] = static_cast<int>(r0);
        m_box[2] = static_cast<int>(x1), m_box[3] = static_cast<int>(r1);
    }

    const auto started = std::chrono::steady_clock::now();
    castRays(w, h);
    // Microseconds: small volumes and small frames take well under a millisecond.
    const auto elapsedUs =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();

    const bool cancelled = isCancelled();
    // A cancelled frame, or one in which no ray met the volume (panned off the view), tells
    // nothing about what a frame of the volume costs.
    if (m_adaptiveScale && !cancelled && m_lastRayCount > 0)
        m_renderScale = nextRenderScale(m_renderScale, static_cast<double>(elapsedUs) / 1000.0, m_targetFrameTime);
    m_frame.width = w;
    m_frame.height = h;
    m_frame.displayScaleX = static_cast<float>(1.0 / m_ratio[0]);
    m_frame.displayScaleY = static_cast<float>(1.0 / m_ratio[1]);
    m_frame.pixels = m_output.data();
    return !cancelled;
}

void vrRayCaster::castRays(int w, int h)
{
    unsigned char* image = m_output.data();
    const unsigned char* bg = m_tables.background;
    const int x0 = m_box[0], r0 = m_box[1], x1 = m_box[2], r1 = m_box[3];
    const int boxWidth = x1 >= x0 ? x1 - x0 + 1 : 0;
    const int boxRows = r1 >= r0 ? r1 - r0 + 1 : 0;
    const int rayCount = boxWidth * boxRows;
    m_lastRayCount = rayCount;
    if (static_cast<int>(m_rays.size()) < rayCount)
        m_rays.resize(rayCount);
    const int workers = rayCount < kMinRaysForHelpers ? 1 : kMaxWorkers;
    m_lastWorkerCount = workers;

    // Pixels outside the box never get a ray.
    auto fillRow = [&](int row, int from, int to) {
        unsigned char* p = image + (static_cast<size_t>(row) * w + from) * 3;
        for (int x = from; x < to; ++x, p += 3)
            p[0] = bg[0], p[1] = bg[1], p[2] = bg[2];
    };
    for (int row = 0; row < h; ++row) {
        if (row < r0 || row > r1 || boxWidth == 0)
            fillRow(row, 0, w);
        else {
            fillRow(row, 0, x0);
            fillRow(row, x1 + 1, w);
        }
    }
    if (rayCount == 0)
        return;

    for (int i = 0; i < workers; ++i) {
        CRayCastingThread& worker = m_workers[i];
        worker.rays = m_rays.data();
        worker.renderMode = m_renderMode;
        worker.volume = &m_info;
        worker.tables = &m_tables;
        worker.grid = m_grid.get();
        worker.cancel = &m_cancel;
        worker.perspective = m_camera.perspective ? 1 : 0;
        worker.index = i;
        worker.light = m_light;
        // The light and the viewer stand at the eye (voxel space).
        for (int a = 0; a < 3; ++a) {
            const float eye = static_cast<float>(m_camera.eye[a] * m_info.invSpacing[a]);
            worker.light.lightPosition[a] = eye;
            worker.light.viewerPosition[a] = eye;
        }
    }

    // Workers take a few rows at a time: each makes the rows' ray records and casts them at
    // once, while they are still in cache. The job captures two pointers, so that handing it
    // to the crew allocates nothing.
    struct Frame {
        std::atomic<int> nextRow{0};
        int boxRows, boxWidth, x0, r0, w;
        unsigned char* image;
    } frame;
    frame.boxRows = boxRows, frame.boxWidth = boxWidth, frame.x0 = x0, frame.r0 = r0, frame.w = w;
    frame.image = image;
    Frame* f = &frame;
    const std::function<void(int)> job = [this, f](int index) {
        CRayCastingThread& worker = m_workers[index];
        for (;;) {
            const int chunk = f->nextRow.fetch_add(kRowsPerChunk, std::memory_order_relaxed);
            if (chunk >= f->boxRows || isCancelled())
                return;
            const int chunkEnd = std::min(chunk + kRowsPerChunk, f->boxRows);
            for (int i = chunk; i < chunkEnd; ++i) {
                const int row = f->r0 + i;
                vrRayRecord* records = m_rays.data() + static_cast<size_t>(i) * f->boxWidth;
                unsigned char* out = f->image + (static_cast<size_t>(row) * f->w + f->x0) * 3;
                for (int x = 0; x < f->boxWidth; ++x, out += 3)
                    makeRay(f->x0 + x, row, records + x, out);
            }
            worker.first = chunk * f->boxWidth;
            worker.end = chunkEnd * f->boxWidth;
            worker.process();
        }
    };
    m_crew.run(workers, job);
}

} // namespace isImageSDK
