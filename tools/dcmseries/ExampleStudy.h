// The example study installed on a first start: a CT-like chest and upper abdomen of a fictitious
// patient, made from an analytic model so that it can be rebuilt bit for bit from source.
//
// The body is a set of smooth solids in patient coordinates (millimetres, x to the patient's left,
// y to the back, z to the head): skin, subcutaneous fat, muscle, lungs with their vessels and
// airways, heart with contrast-filled chambers, aorta with its branches, caval and portal veins,
// liver, spleen, stomach with an air bubble, kidneys, pancreas, colon, spine, ribs and sternum.
// Each solid has a CT number and a soft edge about a millimetre wide; where solids overlap the one
// painted later covers the earlier, its edge blending into what lies below.
//
// The study holds two series of one patient: an axial CT series (head first supine, slices from
// head to feet, near-isotropic voxels, 12-bit samples of HU + 1024, the soft-tissue, lung and bone
// windows in the files) and a single coronal scout computed as the projection of the axial
// volume from front to back. Every UID is derived from fixed names, and the files are written
// with JPEG-LS lossless compression, so two runs write the same bytes.
//
//   qvgen::ExampleStudy study;                   // the shipped geometry
//   double hu = study.hu(0, 30, -40);            // the CT number at a patient point
//   study.write(folder, &error);                 // <folder>/scout/.. and <folder>/axial/..
//   study.writeArchive(folder, "example.zip");   // the same, packed as the program ships it
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvgen {

struct ExampleSpec {
    int columns = 512;
    int rows = 512;
    int slices = 200;
    double pixelSpacing = 0.8;   // mm, rows and columns alike
    double sliceSpacing = 1.25;  // mm between slices, also the slice thickness
    double top = 100;            // z of the first (highest) slice
};

class ExampleStudy {
public:
    explicit ExampleStudy(const ExampleSpec& spec = ExampleSpec());
    ~ExampleStudy();
    ExampleStudy(const ExampleStudy&) = delete;
    ExampleStudy& operator=(const ExampleStudy&) = delete;

    const ExampleSpec& spec() const { return spec_; }

    // The CT number of the model at a patient point.
    double hu(double x, double y, double z) const;
    // The patient coordinates of the centre of voxel (column i, row j, slice k) of the axial
    // series; slice 0 is the highest.
    void voxelToPatient(double i, double j, int k, double out[3]) const;
    // The HU of every voxel of slice k, rounded as written (rows x columns, row by row).
    std::vector<int16_t> sliceHU(int k) const;

    // Writes both series into folder (which must exist): axial/CT0000.dcm .. in slice order and
    // scout/SC0000.dcm. False, with the reason in `error`, when a file cannot be written.
    bool write(const std::string& folder, std::string* error = nullptr) const;
    // Writes both series into folder as write() does, then packs them into the zip file archive
    // under "phantom/", uncompressed (the pixels are compressed already), in name order and with
    // fixed times, so that every run writes the same archive.
    bool writeArchive(const std::string& folder, const std::string& archive, std::string* error = nullptr) const;

    static constexpr const char* kPatientName = "PHANTOM^QUORVANE";
    static constexpr const char* kPatientID = "PH-0001";
    static constexpr const char* kAxialDescription = "axial CT phantom";
    static constexpr const char* kScoutDescription = "scout CT phantom";

private:
    struct Model;
    ExampleSpec spec_;
    Model* model_;
};

// A fixed UID under the 2.25 root, derived from a name: the same name gives the same UID.
std::string namedUID(const std::string& name);

} // namespace qvgen
