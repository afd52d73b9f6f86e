// A CT-like phantom of known geometry, written as a real DICOM series, for tests, benchmarks and
// the example study.
//
// The phantom is an object made of simple solids (a soft-tissue body of elliptic section, a bone
// cylinder, an air cylinder, two spheres and a cube of exact values) sampled on a regular grid of
// columns x rows x slices voxels. The solids are placed in the grid's own frame: u along the rows
// (the first orientation vector), v along the columns (the second), w along the slice normal
// (u x v), all in millimetres from the centre of the grid, and sized from the grid's extent so
// that every size from a 20-slice example up to 512x512x400 holds the whole object. The grid's
// orientation in the patient (axial, coronal, sagittal or oblique) and its centre are free; the
// object turns with the grid.
//
// Everything written can be recomputed: value() gives the modality value (HU for CT) at any
// patient coordinate, voxelValue() the value of a voxel exactly as written, shapes() the solids
// for expected areas, volumes and means. A voxel takes the value at its centre (no partial
// volume), so a pixel read back equals the function at the voxel's patient coordinates.
//
//   qvgen::PhantomSpec spec;           // 128x128x20, 1 x 1 x 2 mm, axial CT
//   spec.slices = 40;
//   qvgen::orientationOf(qvgen::PhantomOrientation::Oblique, spec.orientation);
//   qvgen::Phantom phantom(spec);
//   phantom.write(folder);             // <folder>/ph0000.dcm ... in slice order
//   double hu = phantom.value(point);  // the expected value at a patient point
#pragma once

#include "DicomSeriesWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qvgen {

enum class PhantomOrientation { Axial, Coronal, Sagittal, Oblique };

// The Image Orientation (Patient) of a preset: axial (1,0,0 / 0,1,0), coronal (1,0,0 / 0,0,-1),
// sagittal (0,1,0 / 0,0,-1), oblique (axial tilted 20 degrees about x, then turned 15 about z).
void orientationOf(PhantomOrientation orientation, double out[6]);
// The same from a name ("axial", "coronal", "sagittal", "oblique"); false for another name.
bool orientationOf(const std::string& name, double out[6]);

// One solid of the phantom, in the grid frame (millimetres from the grid centre).
struct PhantomShape {
    enum Kind {
        EllipticCylinder,  // axis along w, unbounded; semi-axes halfSize[0] (u) and halfSize[1] (v)
        Sphere,            // radius halfSize[0]
        Box                // half edges halfSize[0..2] along u, v, w
    };
    std::string name;  // "body", "bone", "air", "contrast", "fat", "cube"
    Kind kind = Sphere;
    double center[3] = {0, 0, 0};
    double halfSize[3] = {0, 0, 0};
    double ct = 0;       // HU
    uint16_t mr = 0;     // MR signal
    uint8_t rgb[3] = {0, 0, 0};

    // Whether the point (grid frame) lies inside or on the surface.
    bool contains(const double local[3]) const;
    // The area of the solid's section by the plane w = const (0 when the plane misses it).
    double sectionArea(double w) const;
};

struct PhantomSpec {
    int columns = 128;
    int rows = 128;
    int slices = 20;
    double columnSpacing = 1.0;  // mm between the centres of neighbouring columns (along u)
    double rowSpacing = 1.0;     // mm between the centres of neighbouring rows (along v)
    double sliceSpacing = 2.0;   // mm between slices; also written as the slice thickness
    double orientation[6] = {1, 0, 0, 0, 1, 0};
    double center[3] = {0, 0, 0};  // patient coordinates of the grid centre
    // "CT": signed 16-bit samples of (HU - intercept) / slope; "MR": unsigned 16-bit signal.
    std::string modality = "CT";
    double rescaleIntercept = 0;  // CT only
    double rescaleSlope = 1;      // CT only
    bool rgb = false;         // 8-bit RGB pixels (the shapes' colours) in place of grey values
    bool multiFrame = false;  // one file holding every slice as a frame
    // Specific Character Set of the texts ("" : none written); the texts are written as given,
    // already in that set.
    std::string characterSet;
    std::string patientName = "PHANTOM^QUORVANE";
    std::string patientID = "PH-0001";
    std::string patientBirthDate = "19700101";
    std::string patientSex = "O";
    std::string studyDate = "20240105";
    std::string studyTime = "101500";
    std::string studyDescription = "Phantom study";
    std::string seriesDescription;  // "" : "<orientation> <modality> phantom"
    std::string seriesNumber = "1";
    std::string accessionNumber = "PHA0001";
    // Study, series and frame of reference UIDs; "" : generated once per Phantom.
    std::string studyUID;
    std::string seriesUID;
    std::string frameOfReferenceUID;
};

class Phantom {
public:
    explicit Phantom(const PhantomSpec& spec = PhantomSpec());

    const PhantomSpec& spec() const { return spec_; }
    // The solids in painting order: where they overlap, the later one holds the point.
    const std::vector<PhantomShape>& shapes() const { return shapes_; }
    // The solid of this name, or null.
    const PhantomShape* shape(const std::string& name) const;
    // Value outside every solid (air).
    static constexpr double kBackgroundCT = -1000;

    // Geometry. Voxel indices are (column, row, slice); fractional indices are allowed.
    const double* rowDirection() const { return spec_.orientation; }
    const double* columnDirection() const { return spec_.orientation + 3; }
    const double* normal() const { return normal_; }
    void voxelToLocal(double i, double j, double k, double local[3]) const;
    void localToPatient(const double local[3], double patient[3]) const;
    // (A coordinate within 1e-7 voxel of a voxel centre comes back as that centre exactly.)
    void patientToLocal(const double patient[3], double local[3]) const;
    void voxelToPatient(double i, double j, double k, double patient[3]) const;
    void patientToVoxel(const double patient[3], double voxel[3]) const;
    // Image Position (Patient) of slice k: the centre of its first voxel.
    void slicePosition(int k, double patient[3]) const { voxelToPatient(0, 0, k, patient); }

    // Values. The solid at a point: its index in shapes(), -1 for the background.
    int shapeAt(const double patient[3]) const;
    int shapeAtLocal(const double local[3]) const;
    int shapeAtVoxel(int i, int j, int k) const;
    // The modality value at a patient point: HU for CT, the signal for MR.
    double value(const double patient[3]) const;
    double voxelValue(int i, int j, int k) const;
    // The colour of the RGB variant at a patient point.
    void colour(const double patient[3], uint8_t rgb[3]) const;
    // The sample written for a value (CT: (HU - intercept) / slope rounded; MR: the signal).
    int storedValue(double value) const;
    // The window written into the files (centre, width), in modality values.
    double windowCenter() const;
    double windowWidth() const;

    // The pixel bytes of slice k as written (host order; RGB interleaved).
    std::vector<uint8_t> sliceBytes(int k) const;
    // The solid index of every voxel of row j of slice k (columns entries).
    void labelRow(int j, int k, int8_t* labels) const;
    // The file description of slice k (every slice for the multi-frame variant).
    ImageSpec imageSpec(int k) const;
    // Writes the series into folder (which must exist): <prefix>NNNN.dcm per slice in slice order,
    // or the single file <prefix>0000.dcm of the multi-frame variant. The written paths go to
    // `paths` when given. False, with the reason in `error`, when a file cannot be written.
    bool write(const std::string& folder, std::string* error = nullptr, const std::string& prefix = "ph",
               std::vector<std::string>* paths = nullptr) const;

private:
    PhantomSpec spec_;
    double normal_[3];
    std::vector<PhantomShape> shapes_;
    std::string orientationName_;
};

} // namespace qvgen
