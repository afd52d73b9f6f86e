// The phantom written as DICOM files and read back with dcmdata: the geometry and identity tags
// of every file, the pixels against the analytic value at each voxel's patient coordinates
// (computed from the tags read back, for axis-aligned and oblique grids), the solids' sections
// against counted pixels, and the MR, RGB and multi-frame variants.
#include "Phantom.h"

#include <dcmtk/dcmdata/dctk.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using qvgen::Phantom;
using qvgen::PhantomOrientation;
using qvgen::PhantomShape;
using qvgen::PhantomSpec;

namespace {

struct TempFolder {
    std::string path;
    TempFolder()
    {
        char name[] = "/tmp/qv_phantom_XXXXXX";
        path = mkdtemp(name);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
};

// One file read back.
struct ReadBack {
    DcmFileFormat file;
    DcmDataset* ds = nullptr;

    explicit ReadBack(const std::string& path)
    {
        EXPECT_TRUE(file.loadFile(path.c_str()).good()) << path;
        ds = file.getDataset();
    }
    std::string text(const DcmTagKey& key, int index = -1)
    {
        OFString value;
        if (index < 0)
            ds->findAndGetOFStringArray(key, value);
        else
            ds->findAndGetOFString(key, value, static_cast<unsigned long>(index));
        return value.c_str();
    }
    double number(const DcmTagKey& key, int index = 0)
    {
        Float64 value = 0;
        EXPECT_TRUE(ds->findAndGetFloat64(key, value, static_cast<unsigned long>(index)).good()) << key.toString();
        return value;
    }
    int u16(const DcmTagKey& key)
    {
        Uint16 value = 0;
        EXPECT_TRUE(ds->findAndGetUint16(key, value).good()) << key.toString();
        return value;
    }
    const Uint16* words()
    {
        const Uint16* data = nullptr;
        EXPECT_TRUE(ds->findAndGetUint16Array(DCM_PixelData, data).good());
        return data;
    }
    const Uint8* bytes()
    {
        const Uint8* data = nullptr;
        EXPECT_TRUE(ds->findAndGetUint8Array(DCM_PixelData, data).good());
        return data;
    }
    // The patient coordinates of pixel (i, j) by the file's own geometry.
    void patientOf(double i, double j, double out[3])
    {
        const double rowSpacing = number(DCM_PixelSpacing, 0), columnSpacing = number(DCM_PixelSpacing, 1);
        for (int a = 0; a < 3; ++a)
            out[a] = number(DCM_ImagePositionPatient, a) + i * columnSpacing * number(DCM_ImageOrientationPatient, a) +
                     j * rowSpacing * number(DCM_ImageOrientationPatient, 3 + a);
    }
};

std::vector<std::string> writePhantom(const Phantom& phantom, const std::string& folder)
{
    std::vector<std::string> paths;
    std::string error;
    EXPECT_TRUE(phantom.write(folder, &error, "ph", &paths)) << error;
    return paths;
}

} // namespace

TEST(Phantom, AxialCtFilesCarryTheGeometryAndExactSignedValues)
{
    TempFolder folder;
    PhantomSpec spec;
    spec.columns = 64;
    spec.rows = 48;
    spec.slices = 6;
    spec.columnSpacing = 1.5;
    spec.rowSpacing = 1.5;
    spec.sliceSpacing = 3;
    spec.center[2] = -100;
    const Phantom phantom(spec);
    const std::vector<std::string> paths = writePhantom(phantom, folder.path);
    ASSERT_EQ(paths.size(), 6u);

    std::string studyUID, seriesUID, frameUID;
    bool sawNegative = false;
    for (int k = 0; k < 6; ++k) {
        ReadBack file(paths[k]);
        EXPECT_EQ(file.text(DCM_Modality), "CT");
        EXPECT_EQ(file.text(DCM_SOPClassUID), UID_CTImageStorage);
        EXPECT_EQ(file.u16(DCM_PixelRepresentation), 1);
        EXPECT_EQ(file.u16(DCM_BitsAllocated), 16);
        EXPECT_EQ(file.u16(DCM_Columns), 64);
        EXPECT_EQ(file.u16(DCM_Rows), 48);
        EXPECT_EQ(file.text(DCM_PixelSpacing), "1.5\\1.5");
        EXPECT_EQ(file.text(DCM_SliceThickness), "3");
        EXPECT_EQ(file.text(DCM_ImageOrientationPatient), "1\\0\\0\\0\\1\\0");
        EXPECT_EQ(file.text(DCM_RescaleIntercept), "0");
        EXPECT_EQ(file.text(DCM_RescaleSlope), "1");
        EXPECT_EQ(file.text(DCM_WindowCenter), "40");
        EXPECT_EQ(file.text(DCM_WindowWidth), "400");
        EXPECT_EQ(file.text(DCM_InstanceNumber), std::to_string(k + 1));
        EXPECT_EQ(file.text(DCM_PatientName), "PHANTOM^QUORVANE");
        EXPECT_EQ(file.text(DCM_PatientID), "PH-0001");
        EXPECT_FALSE(file.text(DCM_StudyDate).empty());
        double position[3];
        phantom.slicePosition(k, position);
        for (int a = 0; a < 3; ++a)
            EXPECT_DOUBLE_EQ(file.number(DCM_ImagePositionPatient, a), position[a]);
        // 64 columns of 1.5 mm centred on x = 0: the first centre lies at -47.25.
        EXPECT_DOUBLE_EQ(position[0], -47.25);
        EXPECT_DOUBLE_EQ(position[2], -100 + (k - 2.5) * 3);
        EXPECT_DOUBLE_EQ(file.number(DCM_SliceLocation), position[2]);
        if (k == 0) {
            studyUID = file.text(DCM_StudyInstanceUID);
            seriesUID = file.text(DCM_SeriesInstanceUID);
            frameUID = file.text(DCM_FrameOfReferenceUID);
            EXPECT_FALSE(frameUID.empty());
        }
        EXPECT_EQ(file.text(DCM_StudyInstanceUID), studyUID);
        EXPECT_EQ(file.text(DCM_SeriesInstanceUID), seriesUID);
        EXPECT_EQ(file.text(DCM_FrameOfReferenceUID), frameUID);

        const auto* samples = reinterpret_cast<const int16_t*>(file.words());
        for (int j = 0; j < 48; ++j)
            for (int i = 0; i < 64; ++i) {
                const int16_t stored = samples[j * 64 + i];
                sawNegative = sawNegative || stored < 0;
                ASSERT_EQ(stored, phantom.voxelValue(i, j, k)) << i << "," << j << "," << k;
                double p[3];
                file.patientOf(i, j, p);
                ASSERT_EQ(stored, phantom.value(p)) << i << "," << j << "," << k;
            }
    }
    EXPECT_TRUE(sawNegative);
    EXPECT_NE(studyUID, seriesUID);
}

TEST(Phantom, EveryOrientationMatchesTheFunctionAtThePatientCoordinatesReadBack)
{
    for (PhantomOrientation o : {PhantomOrientation::Coronal, PhantomOrientation::Sagittal, PhantomOrientation::Oblique}) {
        TempFolder folder;
        PhantomSpec spec;
        spec.columns = 40;
        spec.rows = 36;
        spec.slices = 5;
        spec.columnSpacing = 1.3;
        spec.rowSpacing = 2.1;
        spec.sliceSpacing = 2.7;
        spec.center[0] = 12.5;
        spec.center[1] = -30;
        spec.center[2] = 77;
        spec.rescaleIntercept = -1024;
        qvgen::orientationOf(o, spec.orientation);
        const Phantom phantom(spec);
        const std::vector<std::string> paths = writePhantom(phantom, folder.path);
        ASSERT_EQ(paths.size(), 5u);
        int mismatches = 0, shapesSeen = 0;
        std::map<int, int> seen;
        for (int k = 0; k < 5; ++k) {
            ReadBack file(paths[k]);
            const auto* samples = reinterpret_cast<const int16_t*>(file.words());
            for (int j = 0; j < 36; ++j)
                for (int i = 0; i < 40; ++i) {
                    double p[3];
                    file.patientOf(i, j, p);
                    const double hu = samples[j * 40 + i] - 1024;
                    mismatches += hu != phantom.value(p);
                    ++seen[phantom.shapeAt(p)];
                    double voxel[3];
                    phantom.patientToVoxel(p, voxel);
                    EXPECT_NEAR(voxel[0], i, 1e-9);
                    EXPECT_NEAR(voxel[1], j, 1e-9);
                    EXPECT_NEAR(voxel[2], k, 1e-9);
                }
        }
        EXPECT_EQ(mismatches, 0) << static_cast<int>(o);
        shapesSeen = static_cast<int>(seen.size());
        EXPECT_EQ(shapesSeen, 7) << "background and the six solids";  // -1 and 0..5
        // The normal of the written orientation points along increasing slice positions.
        ReadBack first(paths[0]), last(paths[4]);
        double step[3], n[3];
        for (int a = 0; a < 3; ++a)
            step[a] = last.number(DCM_ImagePositionPatient, a) - first.number(DCM_ImagePositionPatient, a);
        std::copy(phantom.normal(), phantom.normal() + 3, n);
        EXPECT_NEAR(step[0] * n[0] + step[1] * n[1] + step[2] * n[2], 4 * 2.7, 1e-9);
    }
}

TEST(Phantom, SolidsHaveTheirSizesInEverySlice)
{
    PhantomSpec spec;
    spec.columns = 256;
    spec.rows = 200;
    spec.slices = 21;
    spec.columnSpacing = 0.8;
    spec.rowSpacing = 0.8;
    spec.sliceSpacing = 1.5;
    const Phantom phantom(spec);
    ASSERT_EQ(phantom.shapes().size(), 6u);
    const PhantomShape* contrast = phantom.shape("contrast");
    ASSERT_NE(contrast, nullptr);
    EXPECT_EQ(phantom.shape("nothing"), nullptr);
    // The spheres are centred on a slice and on a voxel, so the middle slice cuts them in full.
    double centre[3];
    phantom.voxelToLocal(0, 0, 10, centre);
    EXPECT_DOUBLE_EQ(contrast->center[2], centre[2]);
    const double pixelArea = 0.8 * 0.8;
    for (int k : {0, 10, 15}) {
        double local[3];
        phantom.voxelToLocal(0, 0, k, local);
        std::vector<int> count(6, 0);
        std::vector<int8_t> labels(256);
        for (int j = 0; j < 200; ++j) {
            phantom.labelRow(j, k, labels.data());
            for (int i = 0; i < 256; ++i) {
                ASSERT_EQ(labels[i], phantom.shapeAtVoxel(i, j, k));
                // Count every solid the voxel lies in, whether painted over or not.
                double p[3];
                phantom.voxelToLocal(i, j, k, p);
                for (int s = 0; s < 6; ++s)
                    count[s] += phantom.shapes()[s].contains(p);
            }
        }
        for (int s = 0; s < 6; ++s) {
            const double area = phantom.shapes()[s].sectionArea(local[2]);
            EXPECT_NEAR(count[s] * pixelArea, area, 0.03 * area + 4 * pixelArea * std::sqrt(area / pixelArea) + 1e-9)
                << phantom.shapes()[s].name << " slice " << k;
        }
    }
    // The whole object fits in the grid.
    const PhantomShape* body = phantom.shape("body");
    EXPECT_LT(body->halfSize[0], 128 * 0.8);
    EXPECT_LT(body->halfSize[1], 100 * 0.8);
    EXPECT_EQ(phantom.storedValue(40), 40);
    EXPECT_EQ(phantom.voxelValue(0, 0, 0), Phantom::kBackgroundCT);
}

TEST(Phantom, MrRgbAndMultiFrameVariants)
{
    TempFolder folder;
    PhantomSpec spec;
    spec.columns = 32;
    spec.rows = 32;
    spec.slices = 4;
    spec.modality = "MR";
    {
        const Phantom mr(spec);
        const std::vector<std::string> paths = writePhantom(mr, folder.path);
        ReadBack file(paths[2]);
        EXPECT_EQ(file.text(DCM_SOPClassUID), UID_MRImageStorage);
        EXPECT_EQ(file.u16(DCM_PixelRepresentation), 0);
        EXPECT_EQ(file.text(DCM_RescaleSlope), "");
        EXPECT_EQ(file.text(DCM_WindowWidth), "1200");
        const Uint16* samples = file.words();
        for (int j = 0; j < 32; ++j)
            for (int i = 0; i < 32; ++i)
                ASSERT_EQ(samples[j * 32 + i], mr.voxelValue(i, j, 2));
        EXPECT_EQ(mr.voxelValue(0, 0, 2), 0);
        EXPECT_EQ(mr.voxelValue(16, 16, 2), 400);
    }
    spec.modality = "CT";
    spec.multiFrame = true;
    spec.rgb = true;
    const Phantom colour(spec);
    const std::vector<std::string> paths = writePhantom(colour, folder.path);
    ASSERT_EQ(paths.size(), 1u);
    ReadBack file(paths[0]);
    EXPECT_EQ(file.text(DCM_NumberOfFrames), "4");
    EXPECT_EQ(file.text(DCM_PhotometricInterpretation), "RGB");
    EXPECT_EQ(file.text(DCM_SOPClassUID), UID_SecondaryCaptureImageStorage);
    EXPECT_EQ(file.u16(DCM_SamplesPerPixel), 3);
    EXPECT_EQ(file.text(DCM_SpacingBetweenSlices), "2");
    const Uint8* rgb = file.bytes();
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 32; ++j)
            for (int i = 0; i < 32; ++i) {
                double p[3];
                colour.voxelToPatient(i, j, k, p);
                uint8_t want[3];
                colour.colour(p, want);
                const Uint8* got = rgb + ((k * 32 + j) * 32 + i) * 3;
                ASSERT_TRUE(got[0] == want[0] && got[1] == want[1] && got[2] == want[2]) << i << "," << j << "," << k;
            }
}

TEST(Phantom, OrientationNames)
{
    double o[6];
    EXPECT_TRUE(qvgen::orientationOf("sagittal", o));
    EXPECT_EQ(o[1], 1);
    EXPECT_EQ(o[5], -1);
    EXPECT_FALSE(qvgen::orientationOf("diagonal", o));
    ASSERT_TRUE(qvgen::orientationOf("oblique", o));
    EXPECT_NEAR(o[0] * o[3] + o[1] * o[4] + o[2] * o[5], 0, 1e-12);
    EXPECT_NEAR(o[3] * o[3] + o[4] * o[4] + o[5] * o[5], 1, 1e-12);
    EXPECT_EQ(qvgen::decimalString(-243.123456789012345).size(), 16u);
    EXPECT_EQ(qvgen::decimalString(0.1), "0.1");
}
