#include "ExampleStudy.h"

#include "DicomSeriesWriter.h"

#include <dcmtk/ofstd/ofuuid.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace qvgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEdge = 1.2;          // mm over which a solid's edge blends into what lies below
constexpr double kReach = kEdge / 2;   // beyond its surface a solid no longer shows
constexpr double kFar = 1e6;

struct Point {
    double x, y, z;
};

// A solid: an elliptic cylinder between two heights (its semi-axes drifting linearly from zA to
// zB), an ellipsoid, or a tube of round section along a polyline. distance() is the signed
// distance to the surface (negative inside), exact for tubes and to first order near the surface
// for the elliptic shapes; it is only asked within the solid's box grown by kReach.
struct Solid {
    enum Kind { Cylinder, Ellipsoid, Tube } kind = Ellipsoid;
    double hu = 0;
    Point c{0, 0, 0};
    double a = 0, b = 0, h = 0;      // semi-axes (x, y, z); cylinder: semi-axes at zA
    double a2 = 0, b2 = 0;           // cylinder: semi-axes at zB
    double zA = 0, zB = 0;           // cylinder: heights of the two sets of semi-axes
    double z0 = -kFar, z1 = kFar;    // cylinder: its extent in z
    std::vector<Point> path;         // tube
    double r = 0;                    // tube radius
    // The box (grown by kReach) outside which the solid is not there.
    double lo[3], hi[3];

    void finish()
    {
        if (kind == Tube) {
            for (int a3 = 0; a3 < 3; ++a3) {
                lo[a3] = kFar;
                hi[a3] = -kFar;
            }
            for (const Point& p : path) {
                const double v[3] = {p.x, p.y, p.z};
                for (int a3 = 0; a3 < 3; ++a3) {
                    lo[a3] = std::min(lo[a3], v[a3] - r - kReach);
                    hi[a3] = std::max(hi[a3], v[a3] + r + kReach);
                }
            }
            return;
        }
        const double sa = kind == Cylinder ? std::max(a, a2) : a, sb = kind == Cylinder ? std::max(b, b2) : b;
        lo[0] = c.x - sa - kReach, hi[0] = c.x + sa + kReach;
        lo[1] = c.y - sb - kReach, hi[1] = c.y + sb + kReach;
        if (kind == Cylinder)
            lo[2] = z0 - kReach, hi[2] = z1 + kReach;
        else
            lo[2] = c.z - h - kReach, hi[2] = c.z + h + kReach;
    }

    bool inBox(double x, double y, double z) const
    {
        return x >= lo[0] && x <= hi[0] && y >= lo[1] && y <= hi[1] && z >= lo[2] && z <= hi[2];
    }

    double distance(double x, double y, double z) const
    {
        switch (kind) {
        case Cylinder: {
            const double t = zB != zA ? std::clamp((z - zA) / (zB - zA), 0.0, 1.0) : 0.0;
            const double sa = a + t * (a2 - a), sb = b + t * (b2 - b);
            const double dx = x - c.x, dy = y - c.y;
            const double q = std::sqrt(dx * dx / (sa * sa) + dy * dy / (sb * sb));
            double d = -std::min(sa, sb);
            if (q > 1e-9) {
                const double gx = dx / (sa * sa), gy = dy / (sb * sb);
                d = (q - 1) * q / std::sqrt(gx * gx + gy * gy);
            }
            return std::max(d, std::max(z0 - z, z - z1));
        }
        case Ellipsoid: {
            const double dx = x - c.x, dy = y - c.y, dz = z - c.z;
            const double q = std::sqrt(dx * dx / (a * a) + dy * dy / (b * b) + dz * dz / (h * h));
            if (q <= 1e-9)
                return -std::min(a, std::min(b, h));
            const double gx = dx / (a * a), gy = dy / (b * b), gz = dz / (h * h);
            return (q - 1) * q / std::sqrt(gx * gx + gy * gy + gz * gz);
        }
        case Tube: {
            double best = kFar;
            for (size_t s = 0; s + 1 < path.size(); ++s) {
                const Point& p = path[s];
                const Point& q = path[s + 1];
                const double ux = q.x - p.x, uy = q.y - p.y, uz = q.z - p.z;
                const double wx = x - p.x, wy = y - p.y, wz = z - p.z;
                const double len2 = ux * ux + uy * uy + uz * uz;
                const double t = len2 > 0 ? std::clamp((wx * ux + wy * uy + wz * uz) / len2, 0.0, 1.0) : 0.0;
                const double ex = wx - t * ux, ey = wy - t * uy, ez = wz - t * uz;
                best = std::min(best, ex * ex + ey * ey + ez * ez);
            }
            return std::sqrt(best) - r;
        }
        }
        return kFar;
    }

    // How much of the solid covers the point: 0 outside, 1 inside, smooth across the edge.
    double cover(double x, double y, double z) const
    {
        if (!inBox(x, y, z))
            return 0;
        const double d = distance(x, y, z);
        if (d >= kReach)
            return 0;
        if (d <= -kReach)
            return 1;
        const double t = 0.5 - d / kEdge;
        return t * t * (3 - 2 * t);
    }
};

// A small deterministic generator for the branching of the lung vessels.
struct Lcg {
    uint64_t state;
    double next()
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }
};

} // namespace

struct ExampleStudy::Model {
    std::vector<Solid> solids;

    Solid& add(Solid s, double hu)
    {
        s.hu = hu;
        s.finish();
        solids.push_back(s);
        return solids.back();
    }
    Solid& ellipsoid(Point c, double a, double b, double h, double hu)
    {
        Solid s;
        s.kind = Solid::Ellipsoid;
        s.c = c;
        s.a = a, s.b = b, s.h = h;
        return add(s, hu);
    }
    Solid& cylinder(double x, double y, double a, double b, double z0, double z1, double hu)
    {
        Solid s;
        s.kind = Solid::Cylinder;
        s.c = {x, y, 0};
        s.a = s.a2 = a, s.b = s.b2 = b;
        s.z0 = z0, s.z1 = z1;
        return add(s, hu);
    }
    // A section of the trunk, its semi-axes those of the skin less an inset.
    Solid& trunk(double y, double insetA, double insetB, double hu)
    {
        Solid s;
        s.kind = Solid::Cylinder;
        s.c = {0, y, 0};
        s.zA = 100, s.zB = -150;
        s.a = 165 - insetA, s.b = 118 - insetB;
        s.a2 = 156 - insetA, s.b2 = 112 - insetB;
        return add(s, hu);
    }
    Solid& tube(std::vector<Point> path, double r, double hu)
    {
        Solid s;
        s.kind = Solid::Tube;
        s.path = std::move(path);
        s.r = r;
        return add(s, hu);
    }

    Model();
    double hu(double x, double y, double z) const
    {
        double v = -1000;
        for (const Solid& s : solids) {
            const double c = s.cover(x, y, z);
            if (c > 0)
                v += c * (s.hu - v);
        }
        return v;
    }
};

ExampleStudy::Model::Model()
{
    // Hounsfield units of the tissues.
    const double kSkin = 30, kFat = -100, kInnerFat = -90, kMuscle = 50, kLung = -850, kAir = -1000;
    const double kArtery = 320, kVein = 160, kBone = 700, kCortex = 950, kMarrow = 230;

    // The trunk: skin, subcutaneous fat, the muscle wall and the cavity it holds.
    trunk(0, 0, 0, kSkin);
    trunk(0, 2.5, 2.5, kFat);
    trunk(0, 16, 15, kMuscle);
    trunk(-8, 30, 38, kInnerFat);
    // The muscles along the spine and, below the chest, the psoas.
    cylinder(-40, 82, 26, 19, -kFar, kFar, kMuscle);
    cylinder(40, 82, 26, 19, -kFar, kFar, kMuscle);
    for (double s : {-1.0, 1.0})
        tube({{s * 24, 32, -55}, {s * 38, 26, -110}, {s * 50, 18, -170}}, 15, kMuscle);

    // Below the liver the front of the abdomen is filled with bowel and its fat, denser than the
    // fat of the back where the kidneys lie.
    ellipsoid({0, -30, -150}, 118, 62, 95, 20);

    // Lungs, the airways and the pulmonary vessels.
    const Point lungs[2] = {{-72, 0, 72}, {72, 0, 70}};
    for (const Point& c : lungs)
        ellipsoid(c, 58, 62, 118, kLung);
    tube({{0, -18, 120}, {0, -6, 72}}, 10.5, 40);
    tube({{0, -6, 72}, {-40, 2, 56}}, 8, 40);
    tube({{0, -6, 72}, {40, 4, 54}}, 8, 40);
    tube({{0, -18, 120}, {0, -6, 72}}, 8, kAir);
    tube({{0, -6, 72}, {-40, 2, 56}}, 5.5, kAir);
    tube({{0, -6, 72}, {40, 4, 54}}, 5.5, kAir);
    Lcg random{20240105};
    for (int side = 0; side < 2; ++side) {
        const Point& c = lungs[side];
        const double s = side == 0 ? -1 : 1;
        const Point hilum{s * 42, 0, 58};
        for (int branch = 0; branch < 9; ++branch) {
            // An end deep in the lung, spread over its height and around its axis.
            const double up = -0.85 + 1.5 * (branch + random.next()) / 9;
            const double around = (random.next() - 0.5) * 2.6;
            const double spread = 0.78 * std::sqrt(std::max(0.0, 1 - up * up * 0.6));
            const Point end{c.x + s * 58 * spread * std::cos(around) * 0.9, c.y + 62 * spread * std::sin(around),
                            c.z + 118 * up * 0.62};
            const Point mid{(hilum.x + end.x) / 2 + (random.next() - 0.5) * 12, (hilum.y + end.y) / 2,
                            (hilum.z + end.z) / 2 + (random.next() - 0.5) * 10};
            tube({hilum, mid, end}, 3.2, 130);
            const Point twig{end.x + (random.next() - 0.5) * 30, end.y + (random.next() - 0.5) * 30,
                             end.z + (random.next() - 0.5) * 30};
            tube({mid, twig}, 1.8, 110);
        }
    }

    // Abdominal organs.
    ellipsoid({-60, -10, -30}, 75, 70, 72, 65);          // liver
    ellipsoid({-55, -58, -72}, 14, 14, 28, 10);          // gallbladder
    ellipsoid({80, 45, -20}, 30, 40, 50, 55);            // spleen
    ellipsoid({45, -35, -30}, 45, 34, 40, 25);           // stomach
    ellipsoid({45, -54, -12}, 32, 13, 20, kAir);         // and its air, towards the front
    tube({{-20, -22, -50}, {10, -24, -44}, {50, -8, -36}, {75, 18, -30}}, 10, 45);  // pancreas
    const Point kidneys[2] = {{-68, 42, -85}, {68, 42, -72}};
    for (const Point& k : kidneys) {
        ellipsoid(k, 28, 26, 52, 160);
        ellipsoid({k.x * 0.86, k.y - 6, k.z}, 12, 12, 28, -40);  // the fat of the renal sinus
    }
    // The colon, air-filled, along the flanks and across the front; small bowel below it.
    const std::vector<Point> colon = {{-95, 0, -160}, {-95, -10, -95}, {-40, -62, -100}, {40, -62, -95},
                                      {95, -10, -85}, {100, 10, -160}};
    tube(colon, 20, 40);
    tube(colon, 17, -950);
    const std::vector<Point> bowel = {{-60, -40, -150}, {-30, -55, -125}, {0, -40, -150}, {30, -55, -128},
                                      {60, -35, -150}, {40, -15, -135}, {0, -20, -140}, {-40, -15, -132}};
    tube(bowel, 12, 60);
    tube(bowel, 9, 15);

    // The heart: muscle around four contrast-filled chambers.
    ellipsoid({20, -35, 35}, 62, 50, 45, 55);
    ellipsoid({40, -35, 30}, 26, 24, 30, kArtery);       // left ventricle
    ellipsoid({5, -58, 30}, 28, 15, 27, 260);            // right ventricle
    ellipsoid({20, -10, 52}, 28, 15, 16, 310);           // left atrium
    ellipsoid({-25, -30, 35}, 22, 22, 25, 230);          // right atrium

    // Arteries: aorta with its branches, the pulmonary arteries.
    tube({{22, -30, 45}, {12, -25, 80}, {10, -22, 105}, {16, -5, 118}, {26, 16, 112}}, 15, kArtery);
    tube({{26, 16, 112}, {25, 16, 40}, {18, 8, -20}, {10, 4, -80}, {4, 4, -130}, {2, 4, -140}}, 12, kArtery);
    tube({{2, 4, -140}, {-30, 10, -180}}, 8, kArtery);
    tube({{2, 4, -140}, {32, 10, -180}}, 8, kArtery);
    tube({{16, 0, -25}, {10, -25, -30}, {-40, -25, -30}, {-70, -15, -25}}, 3.5, kArtery);  // celiac, hepatic
    tube({{10, -25, -30}, {50, 0, -28}, {80, 35, -22}}, 3.5, kArtery);                     // splenic
    tube({{14, -4, -42}, {12, -25, -55}, {8, -40, -110}}, 4, kArtery);                     // mesenteric
    tube({{12, 8, -66}, {60, 36, -70}}, 3.5, kArtery);                                     // renal
    tube({{8, 8, -70}, {-60, 36, -82}}, 3.5, kArtery);
    tube({{5, -60, 45}, {5, -45, 68}, {45, 0, 60}}, 10, 260);                             // pulmonary
    tube({{5, -45, 68}, {-45, -5, 62}}, 9, 260);
    // Veins: the venae cavae, portal, splenic and hepatic veins.
    tube({{-25, 8, -160}, {-26, 5, -60}, {-30, 0, -10}, {-28, -22, 18}}, 11, kVein);
    tube({{-30, -28, 115}, {-28, -28, 45}}, 9, 250);
    tube({{0, -20, -45}, {-35, -15, -25}, {-60, -10, -15}}, 6, 180);
    tube({{-35, -15, -25}, {-80, -30, -5}}, 4, 180);
    tube({{0, -20, -45}, {40, 0, -40}, {70, 30, -28}}, 4.5, 170);
    for (const Point& end : {Point{-90, -40, -10}, Point{-50, -60, -20}, Point{-100, 20, -30}})
        tube({{-28, -10, 5}, end}, 4, 150);

    // The spine: discs between vertebrae, each a body of cortex around marrow with its arch, the
    // processes, and the canal with the cord.
    cylinder(0, 38, 21, 17, -kFar, kFar, 90);
    for (int n = 0; n < 10; ++n) {
        const double zc = 86 - 28 * n, grow = 1 + 0.03 * n;
        cylinder(0, 38, 21 * grow, 17 * grow, zc - 11, zc + 11, kCortex);
        cylinder(0, 38, 21 * grow - 2.5, 17 * grow - 2.5, zc - 9, zc + 9, kMarrow);
        cylinder(0, 70, 16, 14, zc - 8, zc + 8, kBone);
        for (double s : {-1.0, 1.0}) {
            tube({{s * 11, 50, zc}, {s * 12, 62, zc}}, 5, kBone);
            tube({{s * 10, 66, zc}, {s * 40, 70, zc + 2}}, 5, kBone);
        }
        tube({{0, 82, zc}, {0, 100, zc - 12}}, 5, kBone);
    }
    cylinder(0, 70, 9.5, 8.5, -kFar, kFar, 15);
    cylinder(0, 70, 5, 4.5, -kFar, kFar, 35);

    // Ribs around the chest, each falling towards the front, the upper ones joined to the sternum
    // by cartilage.
    for (int i = 0; i < 10; ++i) {
        const double zr = 92 - 19 * i;
        const double end = kPi * (0.82 - 0.035 * std::max(0, i - 6));
        for (double s : {-1.0, 1.0}) {
            std::vector<Point> rib;
            const double start = 0.32;
            for (int p = 0; p <= 14; ++p) {
                const double t = start + (end - start) * p / 14;
                const double f = (t - start) / (kPi - start);
                const double z = zr - 50 * std::pow(f, 1.3);
                // Just outside the cavity, in the muscle of the chest wall.
                const double along = std::clamp((100 - z) / 250, 0.0, 1.0);
                const double a = 165 - 9 * along - 25, b = 118 - 6 * along - 33;
                rib.push_back({s * a * std::sin(t), -8 + b * std::cos(t), z});
            }
            tube(rib, 5, kBone);
            if (i < 7)
                tube({rib.back(), {s * 16, -96, zr - 62 - 4 * i}}, 4.5, 120);
        }
    }
    cylinder(0, -96, 20, 7, -20, kFar, 450);  // sternum
}

ExampleStudy::ExampleStudy(const ExampleSpec& spec) : spec_(spec), model_(new Model()) {}

ExampleStudy::~ExampleStudy() { delete model_; }

double ExampleStudy::hu(double x, double y, double z) const { return model_->hu(x, y, z); }

void ExampleStudy::voxelToPatient(double i, double j, int k, double out[3]) const
{
    out[0] = (i - (spec_.columns - 1) * 0.5) * spec_.pixelSpacing;
    out[1] = (j - (spec_.rows - 1) * 0.5) * spec_.pixelSpacing;
    out[2] = spec_.top - k * spec_.sliceSpacing;
}

std::vector<int16_t> ExampleStudy::sliceHU(int k) const
{
    const int columns = spec_.columns, rows = spec_.rows;
    std::vector<double> v(static_cast<size_t>(columns) * rows, -1000.0);
    double origin[3];
    voxelToPatient(0, 0, k, origin);
    const double z = origin[2], step = spec_.pixelSpacing;
    // Each solid is painted over the pixels of its box only; a pixel outside the box is left as
    // the solid's cover() would leave it.
    for (const Solid& s : model_->solids) {
        if (z < s.lo[2] || z > s.hi[2])
            continue;
        const int i0 = std::max(0, static_cast<int>(std::floor((s.lo[0] - origin[0]) / step)));
        const int i1 = std::min(columns - 1, static_cast<int>(std::ceil((s.hi[0] - origin[0]) / step)));
        const int j0 = std::max(0, static_cast<int>(std::floor((s.lo[1] - origin[1]) / step)));
        const int j1 = std::min(rows - 1, static_cast<int>(std::ceil((s.hi[1] - origin[1]) / step)));
        for (int j = j0; j <= j1; ++j) {
            double p[3];
            double* row = &v[static_cast<size_t>(j) * columns];
            for (int i = i0; i <= i1; ++i) {
                voxelToPatient(i, j, k, p);
                const double c = s.cover(p[0], p[1], p[2]);
                if (c > 0)
                    row[i] += c * (s.hu - row[i]);
            }
        }
    }
    std::vector<int16_t> out(v.size());
    for (size_t n = 0; n < v.size(); ++n)
        out[n] = static_cast<int16_t>(std::clamp(std::lround(v[n]), -1024L, 3071L));
    return out;
}

std::string namedUID(const std::string& name)
{
    // Two 64-bit FNV-1a hashes of the name, mixed, as the 128 bits of a name-based UUID.
    uint64_t h[2] = {0xcbf29ce484222325ULL, 0x84222325cbf29ce4ULL};
    for (int n = 0; n < 2; ++n) {
        for (unsigned char ch : name) {
            h[n] ^= ch;
            h[n] *= 0x100000001b3ULL;
        }
        h[n] ^= h[n] >> 31;
        h[n] *= 0xbf58476d1ce4e5b9ULL;
        h[n] ^= h[n] >> 29;
    }
    OFUUID::BinaryRepresentation bytes;
    for (int n = 0; n < 16; ++n)
        bytes.value[n] = static_cast<Uint8>(h[n / 8] >> (8 * (n % 8)));
    bytes.value[6] = static_cast<Uint8>((bytes.value[6] & 0x0f) | 0x50);
    bytes.value[8] = static_cast<Uint8>((bytes.value[8] & 0x3f) | 0x80);
    OFString uid;
    return OFUUID(bytes).toString(uid, OFUUID::ER_RepresentationOID).c_str();
}

bool ExampleStudy::write(const std::string& folder, std::string* error) const
{
    const int columns = spec_.columns, rows = spec_.rows, slices = spec_.slices;
    // The slices are computed on every core, then written in order.
    std::vector<std::vector<int16_t>> volume(slices);
    const int workers = std::max(1u, std::min(16u, std::thread::hardware_concurrency()));
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&, w] {
            for (int k = w; k < slices; k += workers)
                volume[k] = sliceHU(k);
        });
    for (std::thread& t : threads)
        t.join();

    std::error_code failed;
    for (const char* sub : {"/scout", "/axial"})
        if (!std::filesystem::create_directories(folder + sub, failed) && failed) {
            if (error)
                *error = "cannot make " + folder + sub + ": " + failed.message();
            return false;
        }

    ImageSpec base;
    base.columns = columns;
    base.modality = "CT";
    base.bitsAllocated = 16;
    base.bitsStored = 12;
    base.pixelRepresentation = 0;
    base.patientName = kPatientName;
    base.patientID = kPatientID;
    base.institution = "Phantom Laboratory";
    base.studyID = "1";
    base.studyUID = namedUID("quorvane example study");
    base.rescaleIntercept = "-1024";
    base.rescaleSlope = "1";
    base.jpegLS = true;
    const std::string frame = namedUID("quorvane example frame of reference");
    const std::vector<std::pair<std::pair<uint16_t, uint16_t>, std::string>> common = {
        {{0x0008, 0x0020}, "20240105"}, {{0x0008, 0x0021}, "20240105"}, {{0x0008, 0x0030}, "101500"},
        {{0x0008, 0x0031}, "101500"},   {{0x0008, 0x0050}, "PHA0001"},  {{0x0008, 0x0070}, "Quorvane phantom generator"},
        {{0x0008, 0x1030}, "CT chest and abdomen with contrast"},        {{0x0010, 0x0030}, "19700101"},
        {{0x0010, 0x0040}, "O"},        {{0x0018, 0x0015}, "CHEST"},    {{0x0018, 0x0060}, "120"},
        {{0x0018, 0x0010}, "IV contrast"},                               {{0x0020, 0x0052}, frame},
    };

    // The scout: the volume projected from front to back, a coronal image from head to feet.
    {
        ImageSpec scout = base;
        scout.rows = slices;
        scout.seriesNumber = "2";
        scout.seriesDescription = kScoutDescription;
        scout.seriesUID = namedUID("quorvane example scout");
        scout.sopInstanceUID = namedUID("quorvane example scout image 1");
        scout.instanceNumber = 1;
        double first[3];
        voxelToPatient(0, 0, 0, first);
        scout.position[0] = first[0], scout.position[1] = 0, scout.position[2] = first[2];
        const double coronal[6] = {1, 0, 0, 0, 0, -1};
        std::copy(coronal, coronal + 6, scout.orientation);
        scout.pixelSpacing = decimalString(spec_.sliceSpacing) + "\\" + decimalString(spec_.pixelSpacing);
        scout.rescaleIntercept = "0";
        scout.windowCenter = "1400";
        scout.windowWidth = "2600";
        // Attenuation along each ray: water 0.019 per mm, scaled to 12 bits.
        const double perHU = 0.019 / 1000 * spec_.pixelSpacing * 420;
        std::vector<uint8_t> bytes(static_cast<size_t>(columns) * slices * 2);
        for (int k = 0; k < slices; ++k)
            for (int i = 0; i < columns; ++i) {
                double sum = 0;
                for (int j = 0; j < rows; ++j)
                    sum += std::max(0, volume[k][static_cast<size_t>(j) * columns + i] + 1000);
                const uint16_t value = static_cast<uint16_t>(std::min(4095L, std::lround(sum * perHU)));
                const size_t at = (static_cast<size_t>(k) * columns + i) * 2;
                bytes[at] = static_cast<uint8_t>(value & 0xff);
                bytes[at + 1] = static_cast<uint8_t>(value >> 8);
            }
        scout.pixels = std::move(bytes);
        scout.extra = common;
        scout.extra.push_back({{0x0008, 0x0008}, "ORIGINAL\\PRIMARY\\LOCALIZER"});
        if (!writeDicomFile(folder + "/scout/SC0000.dcm", scout, error))
            return false;
    }

    // The axial series, head to feet.
    ImageSpec axial = base;
    axial.rows = rows;
    axial.seriesNumber = "1";
    axial.seriesDescription = kAxialDescription;
    axial.seriesUID = namedUID("quorvane example axial");
    axial.pixelSpacing = decimalString(spec_.pixelSpacing) + "\\" + decimalString(spec_.pixelSpacing);
    // Soft tissue, lung and bone.
    axial.windowCenter = "40\\-600\\400";
    axial.windowWidth = "400\\1500\\1800";
    for (int k = 0; k < slices; ++k) {
        ImageSpec slice = axial;
        slice.instanceNumber = k + 1;
        slice.sopInstanceUID = namedUID("quorvane example axial image " + std::to_string(k + 1));
        voxelToPatient(0, 0, k, slice.position);
        std::vector<uint8_t> bytes(volume[k].size() * 2);
        for (size_t n = 0; n < volume[k].size(); ++n) {
            const uint16_t value = static_cast<uint16_t>(volume[k][n] + 1024);
            bytes[2 * n] = static_cast<uint8_t>(value & 0xff);
            bytes[2 * n + 1] = static_cast<uint8_t>(value >> 8);
        }
        slice.pixels = std::move(bytes);
        slice.extra = common;
        slice.extra.push_back({{0x0008, 0x0008}, "ORIGINAL\\PRIMARY\\AXIAL"});
        slice.extra.push_back({{0x0018, 0x0050}, decimalString(spec_.sliceSpacing)});
        slice.extra.push_back({{0x0018, 0x0088}, decimalString(spec_.sliceSpacing)});
        slice.extra.push_back({{0x0020, 0x1041}, decimalString(slice.position[2])});
        slice.extra.push_back({{0x0028, 0x1054}, "HU"});
        slice.extra.push_back({{0x0028, 0x1055}, "SOFT TISSUE\\LUNG\\BONE"});
        char name[32];
        std::snprintf(name, sizeof(name), "/axial/CT%04d.dcm", k);
        if (!writeDicomFile(folder + name, slice, error))
            return false;
    }
    return true;
}

namespace {

uint32_t crc32(const std::vector<char>& data)
{
    static uint32_t table[256];
    static std::once_flag made;
    std::call_once(made, [] {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    });
    uint32_t c = 0xffffffffu;
    for (char byte : data)
        c = table[(c ^ static_cast<unsigned char>(byte)) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

void put16(std::string& out, uint32_t v)
{
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>((v >> 8) & 0xff);
}

void put32(std::string& out, uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

} // namespace

bool ExampleStudy::writeArchive(const std::string& folder, const std::string& archive, std::string* error) const
{
    if (!write(folder, error))
        return false;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            names.push_back(std::filesystem::relative(entry.path(), folder).generic_string());
    std::sort(names.begin(), names.end());

    // A plain zip file: stored entries, each time 2024-01-05 10:15 in MS-DOS form.
    const uint32_t dosTime = (10u << 11) | (15u << 5), dosDate = ((2024u - 1980u) << 9) | (1u << 5) | 5u;
    std::string out, directory;
    for (const std::string& relative : names) {
        std::ifstream in(folder + "/" + relative, std::ios::binary);
        const std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string name = "phantom/" + relative;
        const uint32_t crc = crc32(data), size = static_cast<uint32_t>(data.size());
        const uint32_t offset = static_cast<uint32_t>(out.size());
        std::string common;
        put16(common, 10);  // version needed
        put16(common, 0);   // flags
        put16(common, 0);   // stored
        put16(common, dosTime);
        put16(common, dosDate);
        put32(common, crc);
        put32(common, size);
        put32(common, size);
        put16(common, static_cast<uint32_t>(name.size()));
        put16(common, 0);   // extra field
        put32(out, 0x04034b50);
        out += common + name;
        out.append(data.begin(), data.end());
        put32(directory, 0x02014b50);
        put16(directory, (3u << 8) | 20u);  // made by: Unix
        directory += common;
        put16(directory, 0);  // comment
        put16(directory, 0);  // disk
        put16(directory, 0);  // internal attributes
        put32(directory, 0100644u << 16);
        put32(directory, offset);
        directory += name;
    }
    const uint32_t start = static_cast<uint32_t>(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(names.size()));
    put16(out, static_cast<uint32_t>(names.size()));
    put32(out, static_cast<uint32_t>(directory.size()));
    put32(out, start);
    put16(out, 0);
    std::ofstream file(archive, std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file) {
        if (error)
            *error = "cannot write " + archive;
        return false;
    }
    return true;
}

} // namespace qvgen
