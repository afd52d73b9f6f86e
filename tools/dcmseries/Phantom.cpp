#include "Phantom.h"

#include <dcmtk/dcmdata/dctk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace qvgen {

namespace {

constexpr double kPi = 3.14159265358979323846;

void normalise(double v[3])
{
    const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (n > 0)
        for (int a = 0; a < 3; ++a)
            v[a] /= n;
}

double dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

const char* nameOf(const double o[6])
{
    auto is = [&](double a, double b, double c, double d, double e, double f) {
        return o[0] == a && o[1] == b && o[2] == c && o[3] == d && o[4] == e && o[5] == f;
    };
    if (is(1, 0, 0, 0, 1, 0))
        return "axial";
    if (is(1, 0, 0, 0, 0, -1))
        return "coronal";
    if (is(0, 1, 0, 0, 0, -1))
        return "sagittal";
    return "oblique";
}

} // namespace

void orientationOf(PhantomOrientation orientation, double out[6])
{
    static const double axial[6] = {1, 0, 0, 0, 1, 0};
    static const double coronal[6] = {1, 0, 0, 0, 0, -1};
    static const double sagittal[6] = {0, 1, 0, 0, 0, -1};
    switch (orientation) {
    case PhantomOrientation::Axial: std::copy(axial, axial + 6, out); return;
    case PhantomOrientation::Coronal: std::copy(coronal, coronal + 6, out); return;
    case PhantomOrientation::Sagittal: std::copy(sagittal, sagittal + 6, out); return;
    case PhantomOrientation::Oblique: break;
    }
    // Rz(15) * Rx(20) applied to the axial axes.
    const double t = 20 * kPi / 180, r = 15 * kPi / 180;
    const double ct = std::cos(t), st = std::sin(t), cr = std::cos(r), sr = std::sin(r);
    const double row[3] = {cr, sr, 0};                    // Rz * Rx * (1,0,0)
    const double column[3] = {-sr * ct, cr * ct, st};     // Rz * Rx * (0,1,0)
    std::copy(row, row + 3, out);
    std::copy(column, column + 3, out + 3);
}

bool orientationOf(const std::string& name, double out[6])
{
    if (name == "axial")
        orientationOf(PhantomOrientation::Axial, out);
    else if (name == "coronal")
        orientationOf(PhantomOrientation::Coronal, out);
    else if (name == "sagittal")
        orientationOf(PhantomOrientation::Sagittal, out);
    else if (name == "oblique")
        orientationOf(PhantomOrientation::Oblique, out);
    else
        return false;
    return true;
}

bool PhantomShape::contains(const double local[3]) const
{
    const double du = local[0] - center[0], dv = local[1] - center[1], dw = local[2] - center[2];
    switch (kind) {
    case EllipticCylinder: {
        const double a = du / halfSize[0], b = dv / halfSize[1];
        return a * a + b * b <= 1;
    }
    case Sphere: return du * du + dv * dv + dw * dw <= halfSize[0] * halfSize[0];
    case Box: return std::fabs(du) <= halfSize[0] && std::fabs(dv) <= halfSize[1] && std::fabs(dw) <= halfSize[2];
    }
    return false;
}

double PhantomShape::sectionArea(double w) const
{
    const double dw = w - center[2];
    switch (kind) {
    case EllipticCylinder: return kPi * halfSize[0] * halfSize[1];
    case Sphere: {
        const double r2 = halfSize[0] * halfSize[0] - dw * dw;
        return r2 > 0 ? kPi * r2 : 0;
    }
    case Box: return std::fabs(dw) <= halfSize[2] ? 4 * halfSize[0] * halfSize[1] : 0;
    }
    return 0;
}

Phantom::Phantom(const PhantomSpec& spec) : spec_(spec)
{
    spec_.columns = std::max(spec_.columns, 1);
    spec_.rows = std::max(spec_.rows, 1);
    spec_.slices = std::max(spec_.slices, 1);
    // Orthonormal axes: the row direction as given, the column direction made perpendicular.
    double* row = spec_.orientation;
    double* column = spec_.orientation + 3;
    normalise(row);
    const double along = dot(row, column);
    for (int a = 0; a < 3; ++a)
        column[a] -= along * row[a];
    normalise(column);
    normal_[0] = row[1] * column[2] - row[2] * column[1];
    normal_[1] = row[2] * column[0] - row[0] * column[2];
    normal_[2] = row[0] * column[1] - row[1] * column[0];
    orientationName_ = nameOf(spec_.orientation);
    if (spec_.studyUID.empty())
        spec_.studyUID = newUID();
    if (spec_.seriesUID.empty())
        spec_.seriesUID = newUID();
    if (spec_.frameOfReferenceUID.empty())
        spec_.frameOfReferenceUID = newUID();
    if (spec_.seriesDescription.empty())
        spec_.seriesDescription = orientationName_ + " " + spec_.modality + " phantom";

    // The solids, sized from the grid's half extents; centres fall on voxel centres, the spheres'
    // on the middle slice, so that a slice shows their full section.
    const double hx = spec_.columns * spec_.columnSpacing / 2, hy = spec_.rows * spec_.rowSpacing / 2;
    const double hz = spec_.slices * spec_.sliceSpacing / 2;
    const double m = std::min(hx, hy);
    const double r = std::min(0.12 * m, 0.8 * hz);
    auto snapU = [&](double u) {
        const double c = (spec_.columns - 1) * 0.5;
        return (std::round(u / spec_.columnSpacing + c) - c) * spec_.columnSpacing;
    };
    auto snapV = [&](double v) {
        const double c = (spec_.rows - 1) * 0.5;
        return (std::round(v / spec_.rowSpacing + c) - c) * spec_.rowSpacing;
    };
    const double wMiddle = (spec_.slices / 2 - (spec_.slices - 1) * 0.5) * spec_.sliceSpacing;
    auto add = [&](const char* name, PhantomShape::Kind kind, double u, double v, double w, double a, double b,
                   double c, double ct, uint16_t mr, uint8_t red, uint8_t green, uint8_t blue) {
        PhantomShape s;
        s.name = name;
        s.kind = kind;
        s.center[0] = snapU(u);
        s.center[1] = snapV(v);
        s.center[2] = w;
        s.halfSize[0] = a;
        s.halfSize[1] = b;
        s.halfSize[2] = c;
        s.ct = ct;
        s.mr = mr;
        s.rgb[0] = red;
        s.rgb[1] = green;
        s.rgb[2] = blue;
        shapes_.push_back(s);
    };
    add("body", PhantomShape::EllipticCylinder, 0, 0, 0, 0.85 * hx, 0.7 * hy, 0, 40, 400, 205, 150, 125);
    add("bone", PhantomShape::EllipticCylinder, -0.45 * hx, 0, 0, 0.14 * m, 0.14 * m, 0, 1000, 120, 250, 250, 240);
    add("air", PhantomShape::EllipticCylinder, 0.45 * hx, 0, 0, 0.1 * m, 0.1 * m, 0, -1000, 0, 0, 0, 0);
    add("contrast", PhantomShape::Sphere, 0, 0.35 * hy, wMiddle, r, r, r, 300, 900, 220, 40, 40);
    add("fat", PhantomShape::Sphere, -0.15 * hx, -0.35 * hy, wMiddle, r, r, r, -100, 1200, 240, 220, 60);
    add("cube", PhantomShape::Box, 0.2 * hx, -0.35 * hy, wMiddle, r, r, r, 200, 650, 60, 90, 220);
}

const PhantomShape* Phantom::shape(const std::string& name) const
{
    for (const PhantomShape& s : shapes_)
        if (s.name == name)
            return &s;
    return nullptr;
}

void Phantom::voxelToLocal(double i, double j, double k, double local[3]) const
{
    local[0] = (i - (spec_.columns - 1) * 0.5) * spec_.columnSpacing;
    local[1] = (j - (spec_.rows - 1) * 0.5) * spec_.rowSpacing;
    local[2] = (k - (spec_.slices - 1) * 0.5) * spec_.sliceSpacing;
}

void Phantom::localToPatient(const double local[3], double patient[3]) const
{
    for (int a = 0; a < 3; ++a)
        patient[a] = spec_.center[a] + local[0] * rowDirection()[a] + local[1] * columnDirection()[a] +
                     local[2] * normal_[a];
}

void Phantom::patientToLocal(const double patient[3], double local[3]) const
{
    const double d[3] = {patient[0] - spec_.center[0], patient[1] - spec_.center[1], patient[2] - spec_.center[2]};
    local[0] = dot(d, rowDirection());
    local[1] = dot(d, columnDirection());
    local[2] = dot(d, normal_);
    // A coordinate within rounding of a voxel centre is taken as that centre, so that the value at
    // a voxel's patient coordinates (computed from the tags, say) is the voxel's value even where
    // the centre lies on a solid's surface.
    const double spacing[3] = {spec_.columnSpacing, spec_.rowSpacing, spec_.sliceSpacing};
    const int count[3] = {spec_.columns, spec_.rows, spec_.slices};
    for (int a = 0; a < 3; ++a) {
        const double c = (count[a] - 1) * 0.5;
        const double t = local[a] / spacing[a] + c;
        const double nearest = std::round(t);
        if (std::fabs(t - nearest) < 1e-7)
            local[a] = (nearest - c) * spacing[a];
    }
}

void Phantom::voxelToPatient(double i, double j, double k, double patient[3]) const
{
    double local[3];
    voxelToLocal(i, j, k, local);
    localToPatient(local, patient);
}

void Phantom::patientToVoxel(const double patient[3], double voxel[3]) const
{
    double local[3];
    patientToLocal(patient, local);
    voxel[0] = local[0] / spec_.columnSpacing + (spec_.columns - 1) * 0.5;
    voxel[1] = local[1] / spec_.rowSpacing + (spec_.rows - 1) * 0.5;
    voxel[2] = local[2] / spec_.sliceSpacing + (spec_.slices - 1) * 0.5;
}

int Phantom::shapeAtLocal(const double local[3]) const
{
    for (int s = static_cast<int>(shapes_.size()) - 1; s >= 0; --s)
        if (shapes_[s].contains(local))
            return s;
    return -1;
}

int Phantom::shapeAt(const double patient[3]) const
{
    double local[3];
    patientToLocal(patient, local);
    return shapeAtLocal(local);
}

int Phantom::shapeAtVoxel(int i, int j, int k) const
{
    double local[3];
    voxelToLocal(i, j, k, local);
    return shapeAtLocal(local);
}

namespace {

double valueOf(const std::vector<PhantomShape>& shapes, int s, bool mr)
{
    if (s < 0)
        return mr ? 0 : Phantom::kBackgroundCT;
    return mr ? shapes[s].mr : shapes[s].ct;
}

} // namespace

double Phantom::value(const double patient[3]) const { return valueOf(shapes_, shapeAt(patient), spec_.modality == "MR"); }

double Phantom::voxelValue(int i, int j, int k) const
{
    return valueOf(shapes_, shapeAtVoxel(i, j, k), spec_.modality == "MR");
}

void Phantom::colour(const double patient[3], uint8_t rgb[3]) const
{
    const int s = shapeAt(patient);
    for (int c = 0; c < 3; ++c)
        rgb[c] = s < 0 ? 0 : shapes_[s].rgb[c];
}

int Phantom::storedValue(double value) const
{
    if (spec_.modality == "MR")
        return static_cast<int>(std::clamp(std::lround(value), 0L, 65535L));
    const double slope = spec_.rescaleSlope != 0 ? spec_.rescaleSlope : 1;
    return static_cast<int>(std::clamp(std::lround((value - spec_.rescaleIntercept) / slope), -32768L, 32767L));
}

double Phantom::windowCenter() const { return spec_.modality == "MR" ? 600 : 40; }

double Phantom::windowWidth() const { return spec_.modality == "MR" ? 1200 : 400; }

void Phantom::labelRow(int j, int k, int8_t* labels) const
{
    const int columns = spec_.columns;
    std::fill(labels, labels + columns, static_cast<int8_t>(-1));
    double local[3];
    voxelToLocal(0, j, k, local);
    const double v = local[1], w = local[2];
    const double c0 = (columns - 1) * 0.5;
    for (size_t s = 0; s < shapes_.size(); ++s) {
        const PhantomShape& shape = shapes_[s];
        const double dv = v - shape.center[1], dw = w - shape.center[2];
        double half;
        if (shape.kind == PhantomShape::EllipticCylinder) {
            const double b = dv / shape.halfSize[1];
            if (b * b > 1)
                continue;
            half = shape.halfSize[0] * std::sqrt(1 - b * b);
        } else if (shape.kind == PhantomShape::Sphere) {
            const double t = shape.halfSize[0] * shape.halfSize[0] - dv * dv - dw * dw;
            if (t < 0)
                continue;
            half = std::sqrt(t);
        } else {
            if (std::fabs(dv) > shape.halfSize[1] || std::fabs(dw) > shape.halfSize[2])
                continue;
            half = shape.halfSize[0];
        }
        // The candidate columns, one wider on each side; the exact test decides each voxel, so
        // that the row agrees with shapeAtVoxel() to the last bit.
        const double lo = (shape.center[0] - half) / spec_.columnSpacing + c0;
        const double hi = (shape.center[0] + half) / spec_.columnSpacing + c0;
        const int i0 = std::max(0, static_cast<int>(std::floor(lo)) - 1);
        const int i1 = std::min(columns - 1, static_cast<int>(std::ceil(hi)) + 1);
        for (int i = i0; i <= i1; ++i) {
            local[0] = (i - c0) * spec_.columnSpacing;
            if (shape.contains(local))
                labels[i] = static_cast<int8_t>(s);
        }
    }
}

std::vector<uint8_t> Phantom::sliceBytes(int k) const
{
    const size_t columns = static_cast<size_t>(spec_.columns);
    const size_t pixels = columns * static_cast<size_t>(spec_.rows);
    std::vector<int8_t> labels(columns);
    const int n = static_cast<int>(shapes_.size());
    if (spec_.rgb) {
        std::vector<uint8_t> bytes(pixels * 3);
        for (int j = 0; j < spec_.rows; ++j) {
            labelRow(j, k, labels.data());
            uint8_t* out = &bytes[static_cast<size_t>(j) * columns * 3];
            for (size_t i = 0; i < columns; ++i) {
                const int s = labels[i];
                for (int c = 0; c < 3; ++c)
                    out[3 * i + c] = s < 0 ? 0 : shapes_[s].rgb[c];
            }
        }
        return bytes;
    }
    // One sample per label: index 0 the background, s + 1 the solid s.
    std::vector<uint16_t> sample(n + 1);
    const bool mr = spec_.modality == "MR";
    for (int s = -1; s < n; ++s)
        sample[s + 1] = static_cast<uint16_t>(storedValue(valueOf(shapes_, s, mr)));
    std::vector<uint8_t> bytes(pixels * 2);
    for (int j = 0; j < spec_.rows; ++j) {
        labelRow(j, k, labels.data());
        uint16_t row[1];
        uint8_t* out = &bytes[static_cast<size_t>(j) * columns * 2];
        for (size_t i = 0; i < columns; ++i) {
            row[0] = sample[labels[i] + 1];
            std::memcpy(out + 2 * i, row, 2);
        }
    }
    return bytes;
}

ImageSpec Phantom::imageSpec(int k) const
{
    ImageSpec image;
    image.columns = spec_.columns;
    image.rows = spec_.rows;
    image.frames = spec_.multiFrame ? spec_.slices : 1;
    image.modality = spec_.modality;
    const bool ct = spec_.modality != "MR";
    if (spec_.rgb) {
        image.bitsAllocated = 8;
        image.samplesPerPixel = 3;
        image.photometric = "RGB";
        image.pixelRepresentation = 0;
    } else {
        image.bitsAllocated = 16;
        image.samplesPerPixel = 1;
        image.pixelRepresentation = ct ? 1 : 0;
        if (ct) {
            image.rescaleIntercept = decimalString(spec_.rescaleIntercept);
            image.rescaleSlope = decimalString(spec_.rescaleSlope != 0 ? spec_.rescaleSlope : 1);
        }
        image.windowCenter = decimalString(windowCenter());
        image.windowWidth = decimalString(windowWidth());
    }
    slicePosition(spec_.multiFrame ? 0 : k, image.position);
    std::copy(spec_.orientation, spec_.orientation + 6, image.orientation);
    image.pixelSpacing = decimalString(spec_.rowSpacing) + "\\" + decimalString(spec_.columnSpacing);
    image.instanceNumber = spec_.multiFrame ? 1 : k + 1;
    image.seriesNumber = spec_.seriesNumber;
    image.patientName = spec_.patientName;
    image.patientID = spec_.patientID;
    image.institution = "Phantom Laboratory";
    image.seriesDescription = spec_.seriesDescription;
    image.studyUID = spec_.studyUID;
    image.seriesUID = spec_.seriesUID;

    std::string imageType = "ORIGINAL\\PRIMARY\\";
    imageType += orientationName_ == "axial" ? "AXIAL" : "OTHER";
    double position[3];
    slicePosition(k, position);
    image.extra = {
        {{0x0008, 0x0008}, imageType},
        {{0x0008, 0x0020}, spec_.studyDate},
        {{0x0008, 0x0021}, spec_.studyDate},
        {{0x0008, 0x0030}, spec_.studyTime},
        {{0x0008, 0x0031}, spec_.studyTime},
        {{0x0008, 0x0050}, spec_.accessionNumber},
        {{0x0008, 0x0070}, "Quorvane phantom generator"},
        {{0x0008, 0x1030}, spec_.studyDescription},
        {{0x0010, 0x0030}, spec_.patientBirthDate},
        {{0x0010, 0x0040}, spec_.patientSex},
        {{0x0018, 0x0050}, decimalString(spec_.sliceSpacing)},
        {{0x0018, 0x0088}, decimalString(spec_.sliceSpacing)},
        {{0x0020, 0x0052}, spec_.frameOfReferenceUID},
    };
    if (!spec_.multiFrame)
        image.extra.push_back({{0x0020, 0x1041}, decimalString(dot(position, normal_))});
    if (ct && !spec_.rgb)
        image.extra.push_back({{0x0028, 0x1054}, "HU"});
    if (spec_.multiFrame && spec_.modality == "US")  // an ultrasound cine loop
        image.extra.push_back({{0x0008, 0x0016}, UID_UltrasoundMultiframeImageStorage});
    else if (spec_.rgb)  // colour pixels: a secondary capture
        image.extra.push_back({{0x0008, 0x0016}, UID_SecondaryCaptureImageStorage});
    if (!spec_.characterSet.empty())
        image.extra.push_back({{0x0008, 0x0005}, spec_.characterSet});

    if (spec_.multiFrame) {
        for (int s = 0; s < spec_.slices; ++s) {
            const std::vector<uint8_t> bytes = sliceBytes(s);
            image.pixels.insert(image.pixels.end(), bytes.begin(), bytes.end());
        }
    } else {
        image.pixels = sliceBytes(k);
    }
    return image;
}

bool Phantom::write(const std::string& folder, std::string* error, const std::string& prefix,
                    std::vector<std::string>* paths) const
{
    const int files = spec_.multiFrame ? 1 : spec_.slices;
    for (int k = 0; k < files; ++k) {
        char name[64];
        std::snprintf(name, sizeof(name), "%04d.dcm", k);
        const std::string path = folder + "/" + prefix + name;
        if (!writeDicomFile(path, imageSpec(k), error))
            return false;
        if (paths)
            paths->push_back(path);
    }
    return true;
}

} // namespace qvgen
