// qv_make_series: writes a synthetic series of DICOM files for trying the viewer by hand.
//
//   qv_make_series <folder> [slices=100] [columns=512] [rows=512] [spacing=1.25] [modality=CT]
//
// The slices form an axial head-first supine stack of signed 16-bit CT-like images.
#include "DicomSeriesWriter.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder> [slices] [columns] [rows] [spacing] [modality]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int slices = argc > 2 ? std::atoi(argv[2]) : 100;
    qvgen::ImageSpec spec;
    spec.columns = argc > 3 ? std::atoi(argv[3]) : 512;
    spec.rows = argc > 4 ? std::atoi(argv[4]) : 512;
    const double spacing = argc > 5 ? std::atof(argv[5]) : 1.25;
    spec.modality = argc > 6 ? argv[6] : "CT";
    spec.pixelRepresentation = 1;
    spec.rescaleIntercept = "-1024";
    spec.rescaleSlope = "1";
    spec.windowCenter = "40";
    spec.windowWidth = "400";
    mkdir(folder.c_str(), 0755);
    if (slices < 1 || spec.columns < 1 || spec.rows < 1 || !qvgen::writeStack(folder, spec, slices, spacing)) {
        std::fprintf(stderr, "%s: could not write the series into %s\n", argv[0], folder.c_str());
        return 1;
    }
    std::printf("%d slices written to %s\n", slices, folder.c_str());
    return 0;
}
