// qv_make_series: writes a synthetic series of DICOM files, for trying the viewer by hand, for the
// example study and for benchmarks.
//
//   qv_make_series <folder> [slices=100] [columns=512] [rows=512] [spacing=1.25] [modality=CT] [options]
//
// By default the series is the phantom (see Phantom.h): a body of soft tissue with bone, air, two
// spheres and a cube, head-first supine, signed 16-bit HU for CT, unsigned 16-bit for MR.
// Options:
//   --orientation=axial|coronal|sagittal|oblique   the slice orientation (axial)
//   --pixel-spacing=<mm>     in-plane spacing (1)
//   --intercept=<HU>         rescale intercept of CT samples (0)
//   --rgb                    8-bit RGB pixels
//   --multiframe             one file with every slice as a frame
//   --pattern                the older test pattern in place of the phantom (0.5 mm pixels)
//
//   qv_make_series <folder> --example[=<archive.zip>]
//
// writes the example study (see ExampleStudy.h) into <folder> and, when named, packs it into the
// archive the program ships; always the same bytes.
#include "DicomSeriesWriter.h"
#include "ExampleStudy.h"
#include "Phantom.h"

#include <dcmtk/oflog/oflog.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

int usage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s <folder> [slices] [columns] [rows] [spacing] [modality] [--orientation=axial|coronal|"
                 "sagittal|oblique] [--pixel-spacing=mm] [--intercept=HU] [--rgb] [--multiframe] [--pattern]\n"
                 "       %s <folder> --example[=<archive.zip>]\n",
                 program, program);
    return 2;
}

bool positiveNumber(const char* text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && out > 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> positional;
    std::string orientation = "axial";
    double pixelSpacing = 1.0, intercept = 0.0;
    bool rgb = false, multiFrame = false, pattern = false, example = false;
    std::string archive;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg.rfind("--orientation=", 0) == 0)
            orientation = arg.substr(14);
        else if (arg.rfind("--pixel-spacing=", 0) == 0) {
            if (!positiveNumber(arg.c_str() + 16, pixelSpacing))
                return usage(argv[0]);
        } else if (arg.rfind("--intercept=", 0) == 0)
            intercept = std::atof(arg.c_str() + 12);
        else if (arg == "--rgb")
            rgb = true;
        else if (arg == "--multiframe")
            multiFrame = true;
        else if (arg == "--pattern")
            pattern = true;
        else if (arg == "--example" || arg.rfind("--example=", 0) == 0) {
            example = true;
            archive = arg.size() > 10 ? arg.substr(10) : "";
        }
        else if (arg.rfind("--", 0) == 0)
            return usage(argv[0]);
        else
            positional.push_back(arg);
    }
    if (positional.empty() || positional.size() > 6 || (example && positional.size() > 1))
        return usage(argv[0]);
    const std::string folder = positional[0];
    if (example) {
        // The codec's notes on every image are of no use here.
        OFLog::configure(OFLogger::WARN_LOG_LEVEL);
        mkdir(folder.c_str(), 0755);
        std::string error;
        const qvgen::ExampleStudy study;
        if (!(archive.empty() ? study.write(folder, &error) : study.writeArchive(folder, archive, &error))) {
            std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
            return 1;
        }
        return 0;
    }
    const int slices = positional.size() > 1 ? std::atoi(positional[1].c_str()) : 100;
    const int columns = positional.size() > 2 ? std::atoi(positional[2].c_str()) : 512;
    const int rows = positional.size() > 3 ? std::atoi(positional[3].c_str()) : 512;
    double spacing = 1.25;
    if (positional.size() > 4 && !positiveNumber(positional[4].c_str(), spacing))
        return usage(argv[0]);
    const std::string modality = positional.size() > 5 ? positional[5] : "CT";
    if (slices < 1 || columns < 1 || rows < 1 || columns > 65535 || rows > 65535) {
        std::fprintf(stderr, "%s: the slices, columns and rows must be positive\n", argv[0]);
        return 2;
    }
    mkdir(folder.c_str(), 0755);

    std::string error;
    bool written;
    if (pattern) {
        qvgen::ImageSpec spec;
        spec.columns = columns;
        spec.rows = rows;
        spec.modality = modality;
        spec.pixelRepresentation = 1;
        spec.rescaleIntercept = "-1024";
        spec.rescaleSlope = "1";
        spec.windowCenter = "40";
        spec.windowWidth = "400";
        written = qvgen::writeStack(folder, spec, slices, spacing);
    } else {
        qvgen::PhantomSpec spec;
        spec.columns = columns;
        spec.rows = rows;
        spec.slices = slices;
        spec.columnSpacing = spec.rowSpacing = pixelSpacing;
        spec.sliceSpacing = spacing;
        spec.modality = modality;
        spec.rescaleIntercept = intercept;
        spec.rgb = rgb;
        spec.multiFrame = multiFrame;
        if (!qvgen::orientationOf(orientation, spec.orientation))
            return usage(argv[0]);
        written = qvgen::Phantom(spec).write(folder, &error);
    }
    if (!written) {
        std::fprintf(stderr, "%s: could not write the series into %s%s%s\n", argv[0], folder.c_str(),
                     error.empty() ? "" : ": ", error.c_str());
        return 1;
    }
    std::printf("%d slices written to %s\n", slices, folder.c_str());
    return 0;
}
