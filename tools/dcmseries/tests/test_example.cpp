// The example study's model: the grid a viewer reformats (near-isotropic, the whole body in the
// field of view, head to feet), the CT numbers of known structures, and slices that agree with the
// model at every voxel centre. That the committed archive is what the generator writes is checked
// by the example_archive_matches_generator test.
#include "ExampleStudy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using qvgen::ExampleStudy;

TEST(ExampleStudy, NearIsotropicGridHoldsTheBodyWithItsTissuesAtTheirCtNumbers)
{
    const ExampleStudy study;
    const qvgen::ExampleSpec& spec = study.spec();
    EXPECT_GE(spec.slices, 150);
    EXPECT_LE(spec.sliceSpacing / spec.pixelSpacing, 1.6);
    double first[3], last[3], corner[3];
    study.voxelToPatient(0, 0, 0, first);
    study.voxelToPatient(spec.columns - 1, spec.rows - 1, spec.slices - 1, last);
    EXPECT_DOUBLE_EQ(first[0], -last[0]);  // centred on the body's axis
    EXPECT_DOUBLE_EQ(first[1], -last[1]);
    EXPECT_GT(first[2], last[2]);          // slice 0 is the highest
    EXPECT_GE(first[2] - last[2], 240);
    // Air all around: the edges of the field of view are outside the body in every slice.
    for (int k : {0, spec.slices / 2, spec.slices - 1}) {
        study.voxelToPatient(0, spec.rows / 2, k, corner);
        EXPECT_EQ(study.hu(corner[0], corner[1], corner[2]), -1000) << k;
        study.voxelToPatient(spec.columns / 2, 0, k, corner);
        EXPECT_EQ(study.hu(corner[0], corner[1], corner[2]), -1000) << k;
    }

    struct Probe {
        const char* tissue;
        double x, y, z, hu;
    };
    const Probe probes[] = {
        {"subcutaneous fat", 0, -105, -100, -100}, {"right lung", -100, 20, 60, -850},
        {"descending aorta", 25, 16, 40, 320},     {"left ventricle", 40, -35, 30, 320},
        {"vertebral marrow", 0, 38, 30, 230},      {"disc", 0, 38, 16, 90},
        {"sternum", 0, -96, 40, 450},              {"spinal cord", 0, 70, 0, 35},
        {"back muscle", -40, 85, 0, 50},           {"liver", -90, -10, -40, 65},
        {"spleen", 85, 45, 0, 55},                 {"left kidney", 86, 42, -72, 160},
        {"inferior vena cava", -25, 5, -100, 160}, {"air in the stomach", 45, -54, -12, -1000},
    };
    for (const Probe& p : probes)
        EXPECT_NEAR(study.hu(p.x, p.y, p.z), p.hu, 0.5) << p.tissue;

    // Edges are soft: across the aorta's wall the values pass through the range in between.
    std::vector<double> across;
    for (double x = 25; x < 45; x += 0.2)
        across.push_back(study.hu(x, 16, 40));
    const auto [lo, hi] = std::minmax_element(across.begin(), across.end());
    const double low = *lo, high = *hi;
    EXPECT_EQ(high, 320);
    EXPECT_GE(std::count_if(across.begin(), across.end(), [&](double v) { return v > low + 5 && v < high - 5; }), 3);

    // A slice as written is the model rounded at each voxel centre.
    const int k = 120;
    const std::vector<int16_t> slice = study.sliceHU(k);
    ASSERT_EQ(slice.size(), static_cast<size_t>(spec.columns) * spec.rows);
    int bone = 0;
    for (int j = 0; j < spec.rows; j += 3)
        for (int i = 0; i < spec.columns; i += 3) {
            double p[3];
            study.voxelToPatient(i, j, k, p);
            const int16_t v = slice[static_cast<size_t>(j) * spec.columns + i];
            ASSERT_EQ(v, std::lround(study.hu(p[0], p[1], p[2]))) << i << "," << j;
            bone += v >= 400;
        }
    EXPECT_GT(bone, 30);
}
