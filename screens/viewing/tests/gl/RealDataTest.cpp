// Series of the kinds clinics produce, end to end: files made from the phantom of known geometry,
// re-encoded by DCMTK's own tools (every common transfer syntax), imported into the library by
// the import service, opened on the viewer screen and drawn. The decoded values are compared
// with what was written (modality values after the rescale, colour triplets), the slice order and
// the slices' positions with the files', the drawing with the window (MONOCHROME1 inverted) and
// the edge letters with the acquisition plane.
#include "support/ViewingFixture.h"

#include "GLTestProgram.h"
#include "imageViewerPC.h"
#include "importDcm.h"
#include "UIScrollViewBase.h"
#include "isActorOverlay.h"
#include "isActorROI.h"
#include "isBinReader.h"
#include "isNodeOverlayText.h"
#include "isSharedObjects.h"
#include "isViewerBrowser.h"
#include "isViewerImage.h"
#include "isViewerMulti.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

USING_NS_CC;
using namespace isImageSDK;
namespace fs = std::filesystem;

namespace {

// What one written file holds: modality values (grey) or RGB triplets, frame after frame.
struct Written {
    std::string sop;
    int columns = 0, rows = 0, frames = 1;
    bool rgb = false;
    std::vector<double> values;
    std::vector<uint8_t> colours;
    double position[3] = {0, 0, 0};
    double normal[3] = {0, 0, 1};
};

// Whether a library file (named by the import after its SOP Instance UID) holds this instance.
bool holds(const std::string& fileName, const std::string& sop)
{
    return fileName == sop || fileName == sop + ".dcm";
}

std::string extraOf(const qvgen::ImageSpec& spec, uint16_t group, uint16_t element)
{
    std::string value;
    for (const auto& e : spec.extra)
        if (e.first.first == group && e.first.second == element)
            value = e.second;
    return value;
}

void setExtra(qvgen::ImageSpec& spec, uint16_t group, uint16_t element, const std::string& value)
{
    spec.extra.push_back({{group, element}, value});
}

uint8_t paletteColour(int index, int channel);

// The values a viewer must find in a file written from spec (read before any re-encoding).
Written expectedOf(const qvgen::ImageSpec& spec)
{
    Written w;
    w.columns = spec.columns;
    w.rows = spec.rows;
    w.frames = spec.frames;
    std::copy(spec.position, spec.position + 3, w.position);
    const double* o = spec.orientation;
    w.normal[0] = o[1] * o[5] - o[2] * o[4];
    w.normal[1] = o[2] * o[3] - o[0] * o[5];
    w.normal[2] = o[0] * o[4] - o[1] * o[3];
    const std::vector<uint8_t> bytes = qvgen::pixelBytes(spec);
    const size_t n = size_t(spec.columns) * spec.rows * spec.frames;
    if (spec.photometric == "PALETTE COLOR") {
        w.rgb = true;
        w.colours.resize(3 * n);
        for (size_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c)
                w.colours[3 * i + c] = paletteColour(bytes[i], c);
        return w;
    }
    if (spec.samplesPerPixel == 3) {
        w.rgb = true;
        w.colours.resize(3 * n);
        const bool planar = extraOf(spec, 0x0028, 0x0006) == "1";
        const size_t frame = size_t(spec.columns) * spec.rows;
        for (size_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c)
                w.colours[3 * i + c] = planar ? bytes[(i / frame) * 3 * frame + c * frame + i % frame] : bytes[3 * i + c];
        if (extraOf(spec, 0x0028, 0x0004) == "YBR_FULL") {
            for (size_t i = 0; i < n; ++i) {
                const double y = w.colours[3 * i], cb = w.colours[3 * i + 1] - 128.0, cr = w.colours[3 * i + 2] - 128.0;
                const double rgb[3] = {y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb};
                for (int c = 0; c < 3; ++c)
                    w.colours[3 * i + c] = uint8_t(std::clamp(std::lround(rgb[c]), 0L, 255L));
            }
        }
        return w;
    }
    const std::string stored = extraOf(spec, 0x0028, 0x0101);
    const int bitsStored = stored.empty() ? spec.bitsAllocated : std::atoi(stored.c_str());
    const double slope = spec.rescaleSlope.empty() ? 1.0 : std::atof(spec.rescaleSlope.c_str());
    const double intercept = spec.rescaleIntercept.empty() ? 0.0 : std::atof(spec.rescaleIntercept.c_str());
    w.values.resize(n);
    for (size_t i = 0; i < n; ++i) {
        int sample;
        if (spec.bitsAllocated == 8) {
            sample = bytes[i];
        } else {
            uint16_t raw;
            std::memcpy(&raw, &bytes[2 * i], 2);
            const std::string high = extraOf(spec, 0x0028, 0x0102);
            const int shift = high.empty() ? 0 : std::atoi(high.c_str()) + 1 - bitsStored;
            sample = (raw >> shift) & ((1u << bitsStored) - 1);
            if (spec.pixelRepresentation == 1 && (sample & (1 << (bitsStored - 1))))
                sample -= 1 << bitsStored;
        }
        w.values[i] = sample * slope + intercept;
    }
    return w;
}

// A value of a loaded slice as a modality value.
double loadedValue(const isSliceInfo* s, size_t i)
{
    switch (s->pixelType) {
    case PIXEL_U8: return s->pixels[i];
    case PIXEL_I16: { int16_t v; std::memcpy(&v, s->pixels + 2 * i, 2); return v; }
    case PIXEL_U16: { uint16_t v; std::memcpy(&v, s->pixels + 2 * i, 2); return v; }
    case PIXEL_FLOAT: { float v; std::memcpy(&v, s->pixels + 4 * i, 4); return v; }
    default: return std::nan("");
    }
}

// 8-bit grey from the MR phantom's signal (0..1200).
void toGrey8(qvgen::ImageSpec& spec)
{
    const std::vector<uint8_t> words = qvgen::pixelBytes(spec);
    spec.pixels.resize(words.size() / 2);
    for (size_t i = 0; i < spec.pixels.size(); ++i) {
        uint16_t v;
        std::memcpy(&v, &words[2 * i], 2);
        spec.pixels[i] = static_cast<uint8_t>(std::min(255, v / 5));
    }
    spec.bitsAllocated = 8;
    spec.windowCenter = "128";
    spec.windowWidth = "256";
}

// RGB interleaved to planar (Planar Configuration 1), frame by frame.
void toPlanar(qvgen::ImageSpec& spec)
{
    const std::vector<uint8_t> in = qvgen::pixelBytes(spec);
    const size_t frame = size_t(spec.columns) * spec.rows;
    spec.pixels.assign(in.size(), 0);
    for (size_t i = 0; i < in.size() / 3; ++i)
        for (int c = 0; c < 3; ++c)
            spec.pixels[(i / frame) * 3 * frame + c * frame + i % frame] = in[3 * i + c];
    setExtra(spec, 0x0028, 0x0006, "1");
}

// Each 16-bit word of the pixels through f.
void eachWord(qvgen::ImageSpec& spec, const std::function<uint16_t(uint16_t)>& f)
{
    spec.pixels = qvgen::pixelBytes(spec);
    for (size_t i = 0; i + 1 < spec.pixels.size(); i += 2) {
        uint16_t v;
        std::memcpy(&v, &spec.pixels[i], 2);
        v = f(v);
        std::memcpy(&spec.pixels[i], &v, 2);
    }
}

// RGB to YBR_FULL (full range, the standard's coefficients), expected back within rounding.
void toYbrFull(qvgen::ImageSpec& spec)
{
    spec.pixels = qvgen::pixelBytes(spec);
    for (size_t i = 0; i + 2 < spec.pixels.size(); i += 3) {
        const double r = spec.pixels[i], g = spec.pixels[i + 1], b = spec.pixels[i + 2];
        const double y = 0.299 * r + 0.587 * g + 0.114 * b;
        const double cb = -0.168736 * r - 0.331264 * g + 0.5 * b + 128;
        const double cr = 0.5 * r - 0.418688 * g - 0.081312 * b + 128;
        spec.pixels[i] = uint8_t(std::clamp(std::lround(y), 0L, 255L));
        spec.pixels[i + 1] = uint8_t(std::clamp(std::lround(cb), 0L, 255L));
        spec.pixels[i + 2] = uint8_t(std::clamp(std::lround(cr), 0L, 255L));
    }
    setExtra(spec, 0x0028, 0x0004, "YBR_FULL");
}

// PALETTE COLOR: the 8-bit grey as indices into 16-bit tables (entries v * 257, so that either
// byte gives the 8-bit colour).
uint8_t paletteColour(int index, int channel)
{
    return channel == 0 ? uint8_t(index) : channel == 1 ? uint8_t(255 - index) : uint8_t((index * 3) & 255);
}

void toPalette(qvgen::ImageSpec& spec)
{
    toGrey8(spec);
    spec.photometric = "PALETTE COLOR";
    spec.windowCenter.clear();
    spec.windowWidth.clear();
}

// Adds the colour tables to a written PALETTE COLOR file.
bool addPalette(const std::string& path)
{
    DcmFileFormat file;
    if (file.loadFile(path.c_str()).bad())
        return false;
    DcmDataset* data = file.getDataset();
    const DcmTagKey descriptors[3] = {DCM_RedPaletteColorLookupTableDescriptor,
                                      DCM_GreenPaletteColorLookupTableDescriptor,
                                      DCM_BluePaletteColorLookupTableDescriptor};
    const DcmTagKey tables[3] = {DCM_RedPaletteColorLookupTableData, DCM_GreenPaletteColorLookupTableData,
                                 DCM_BluePaletteColorLookupTableData};
    const Uint16 descriptor[3] = {256, 0, 16};
    for (int c = 0; c < 3; ++c) {
        Uint16 table[256];
        for (int i = 0; i < 256; ++i)
            table[i] = Uint16(paletteColour(i, c) * 257);
        if (data->putAndInsertUint16Array(descriptors[c], descriptor, 3).bad() ||
            data->putAndInsertUint16Array(tables[c], table, 256).bad())
            return false;
    }
    return file.saveFile(path.c_str(), EXS_LittleEndianExplicit).good();
}

struct Case {
    const char* name;
    std::function<void(qvgen::PhantomSpec&)> phantom;  // the series' phantom
    std::function<void(qvgen::ImageSpec&, int k)> file; // each file before writing
    std::string tool;         // DCMTK command run on each file ("in" and "out" appended), or ""
    // For lossy encodings of 8-bit pixels: the values expected are DCMTK's own decompression of
    // the encoded file (its colour conversion included), not the values before encoding.
    std::string reference;
    double tolerance = 0;     // decoded values may differ from the written ones by this much
    std::vector<int> keep;    // the phantom's slices written (all when empty), in this order
    bool volume = true;       // a regular stack (one slice record per file, or per frame)

    Case(const char* n, std::function<void(qvgen::PhantomSpec&)> p, std::function<void(qvgen::ImageSpec&, int)> f,
         std::string t, double tol = 0, std::vector<int> k = {}, bool v = true, std::string r = "")
        : name(n), phantom(std::move(p)), file(std::move(f)), tool(std::move(t)), reference(std::move(r)),
          tolerance(tol), keep(std::move(k)), volume(v)
    {
    }
};

qvgen::PhantomSpec small(const char* modality = "CT")
{
    qvgen::PhantomSpec spec;
    spec.columns = 48;
    spec.rows = 40;
    spec.slices = 4;
    spec.modality = modality;
    spec.rescaleIntercept = std::string(modality) == "CT" ? -1024 : 0;
    return spec;
}

class RealDataTest : public ViewingTest {
protected:
    // The 8-bit pixels of DCMTK's decompression of path (RGB or grey) into w.
    static void readReference(const std::string& command, const std::string& path, Written& w)
    {
        const std::string out = path + ".ref";
        const std::string line = command + " " + path + " " + out + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(line.c_str()), 0) << line;
        DcmFileFormat file;
        ASSERT_TRUE(file.loadFile(out.c_str()).good());
        DcmDataset* data = file.getDataset();
        OFString photometric;
        Uint16 planar = 0, bits = 8, stored = 8;
        data->findAndGetOFString(DCM_PhotometricInterpretation, photometric);
        data->findAndGetUint16(DCM_PlanarConfiguration, planar);
        data->findAndGetUint16(DCM_BitsAllocated, bits);
        data->findAndGetUint16(DCM_BitsStored, stored);
        const size_t n = size_t(w.columns) * w.rows * w.frames;
        if (bits == 16) {
            // Grey words (unsigned here), through the rescale of the file.
            const Uint16* words = nullptr;
            unsigned long count = 0;
            ASSERT_TRUE(data->findAndGetUint16Array(DCM_PixelData, words, &count).good());
            ASSERT_EQ(count, n);
            // (DCMTK zeroes the output of a look-up that finds nothing.)
            Float64 slope = 1, intercept = 0;
            if (data->findAndGetFloat64(DCM_RescaleSlope, slope).bad())
                slope = 1;
            if (data->findAndGetFloat64(DCM_RescaleIntercept, intercept).bad())
                intercept = 0;
            for (size_t i = 0; i < n; ++i)
                w.values[i] = (words[i] & ((1u << stored) - 1)) * slope + intercept;
            fs::remove(out);
            return;
        }
        const Uint8* pixels = nullptr;
        unsigned long count = 0;
        ASSERT_TRUE(data->findAndGetUint8Array(DCM_PixelData, pixels, &count).good());
        fs::remove(out);
        if (!w.rgb) {
            ASSERT_EQ(count, n);
            w.values.assign(pixels, pixels + n);
            return;
        }
        ASSERT_EQ(photometric, "RGB");
        ASSERT_EQ(count, 3 * n);
        const size_t frame = size_t(w.columns) * w.rows;
        for (size_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c)
                w.colours[3 * i + c] = planar ? pixels[(i / frame) * 3 * frame + c * frame + i % frame] : pixels[3 * i + c];
    }

    // Writes the case's files into a source folder outside the library, re-encodes them, and
    // returns what each holds (by SOP Instance UID).
    std::map<std::string, Written> makeSource(const Case& c, const std::string& source, qvgen::Phantom*& phantom)
    {
        qvgen::PhantomSpec spec = small();
        if (c.phantom)
            c.phantom(spec);
        phantom = new qvgen::Phantom(spec);
        std::vector<int> order = c.keep;
        if (order.empty())
            for (int k = 0; k < (spec.multiFrame ? 1 : spec.slices); ++k)
                order.push_back(k);
        fs::create_directories(source);
        std::map<std::string, Written> written;
        int index = 0;
        for (int k : order) {
            qvgen::ImageSpec image = phantom->imageSpec(k);
            if (c.file)
                c.file(image, k);
            Written w = expectedOf(image);
            char name[32];
            std::snprintf(name, sizeof(name), "f%03d.dcm", index++);
            const std::string path = source + name;
            std::string error;
            EXPECT_TRUE(qvgen::writeDicomFile(path, image, &error)) << error;
            if (image.photometric == "PALETTE COLOR") {
                EXPECT_TRUE(addPalette(path));
            }
            if (!c.tool.empty()) {
                const std::string out = path + ".enc";
                const std::string command = c.tool + " " + path + " " + out + " >/dev/null 2>&1";
                EXPECT_EQ(std::system(command.c_str()), 0) << command;
                std::error_code error;
                fs::rename(out, path, error);
            }
            if (!c.reference.empty())
                readReference(c.reference, path, w);
            DcmFileFormat file;
            EXPECT_TRUE(file.loadFile(path.c_str()).good()) << path;
            OFString sop;
            file.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, sop);
            w.sop = sop.c_str();
            written[w.sop] = w;
        }
        return written;
    }

    // Imports the folder through the import service; the library folders of the series.
    std::vector<std::string> import(const std::string& source, const std::map<std::string, Written>& written)
    {
        const int files = int(written.size());
        importDcm* importer = importDcm::create();
        importer->retain();
        importer->setRoot(libraryRoot());
        importer->importFolder(source);
        EXPECT_TRUE(stepUntil([&] { return importer->getFinishedCount() == files; }, 30));
        EXPECT_EQ(importer->getCopiedCount(), files);
        importer->stop();
        importer->release();
        std::vector<std::string> folders;
        for (const auto& entry : fs::recursive_directory_iterator(libraryRoot())) {
            const std::string name = entry.path().filename().string();
            if (!entry.is_regular_file() || entry.path().string().find(".incoming") != std::string::npos ||
                std::none_of(written.begin(), written.end(), [&](const auto& w) { return holds(name, w.first); }))
                continue;
            std::string folder = fs::relative(entry.path().parent_path(), libraryRoot()).string() + "/";
            if (std::find(folders.begin(), folders.end(), folder) == folders.end())
                folders.push_back(folder);
        }
        return folders;
    }

    isImageData* loadedImage(imageViewerPC* screen)
    {
        if (screen->getSeriesFolders().empty())
            return nullptr;
        auto* reader = dynamic_cast<isBinReader*>(isSharedObjects::getInstance()->getObject(screen->getSeriesFolders()[0]));
        if (!reader || !stepUntil([&] { return reader->isLoadComplete(); }, 30))
            return nullptr;
        return reader->getOutputData();
    }

    // The edge letters of the active window: top, right, bottom, left.
    std::array<std::string, 4> edgeLetters(imageViewerPC* screen)
    {
        std::array<std::string, 4> out;
        KeyViewProperty* cell = screen->getViewer() ? screen->getViewer()->getActiveCell() : nullptr;
        isViewerBrowser* browser = cell ? cell->getBrowser() : nullptr;
        isViewerImage* window = browser ? browser->getActiveWindow() : nullptr;
        isActorOverlay* overlay = window ? window->getActorManager()->getOverlayActor() : nullptr;
        if (!overlay)
            return out;
        const int edges[4] = {OVERLAY_EDGE_TOP, OVERLAY_EDGE_RIGHT, OVERLAY_EDGE_BOTTOM, OVERLAY_EDGE_LEFT};
        for (int i = 0; i < 4; ++i)
            if (isNodeOverlayText* label = overlay->getEdgeLabel(edges[i]))
                out[i] = label->getString();
        return out;
    }

    // Runs one case: written, imported, opened, compared. Returns the screen (still shown).
    imageViewerPC* run(const Case& c, isImageData** image = nullptr)
    {
        const std::string source = scratch + "source/" + c.name + "/";
        qvgen::Phantom* phantom = nullptr;
        const std::map<std::string, Written> written = makeSource(c, source, phantom);
        delete phantom;
        const std::vector<std::string> folders = import(source, written);
        EXPECT_EQ(folders.size(), 1u) << c.name;
        if (folders.size() != 1)
            return nullptr;
        imageViewerPC* screen = openViewer(folders[0]);
        EXPECT_NE(screen, nullptr) << c.name;
        if (!screen)
            return nullptr;
        EXPECT_EQ(screen->getChildByName("imageViewerMsg"), nullptr) << c.name;
        isImageData* data = loadedImage(screen);
        EXPECT_NE(data, nullptr) << c.name;
        if (!data)
            return screen;
        if (image)
            *image = data;
        size_t frames = 0;
        for (const auto& [sop, w] : written)
            frames += w.frames;
        EXPECT_EQ(data->isVolume(), c.volume) << c.name;
        // Every slice (or frame) of every file is there once, with the file's values.
        size_t seen = 0;
        double lastDistance = std::nan("");
        int direction = 0;
        for (int s = 0; s < data->getSliceCount(); ++s) {
            const isSliceInfo* slice = data->getSlice(s);
            const std::string file = fs::path(slice->filePath).filename().string();
            auto it = std::find_if(written.begin(), written.end(),
                                   [&](const auto& item) { return holds(file, item.first); });
            if (it == written.end()) {
                ADD_FAILURE() << c.name << ": slice " << s << " from an unknown file " << slice->filePath;
                continue;
            }
            const Written& w = it->second;
            if (slice->columns != w.columns || slice->rows != w.rows) {
                ADD_FAILURE() << c.name << ": slice " << s << " is " << slice->columns << "x" << slice->rows;
                continue;
            }
            // A multi-frame file comes in as one record of every frame or as one record per frame.
            const int frameCount = slice->frames;
            const int firstFrame = frameCount == w.frames ? 0 : (s % std::max(1, w.frames));
            const size_t perFrame = size_t(w.columns) * w.rows;
            int bad = 0;
            double worst = 0;
            for (int f = 0; f < frameCount; ++f) {
                for (size_t i = 0; i < perFrame; ++i) {
                    const size_t at = (firstFrame + f) * perFrame + i;
                    if (w.rgb && slice->pixelType != PIXEL_RGB) {
                        ++bad;
                    } else if (w.rgb) {
                        for (int ch = 0; ch < 3; ++ch) {
                            const double d = std::abs(double(slice->pixels[3 * (f * perFrame + i) + ch]) - w.colours[3 * at + ch]);
                            worst = std::max(worst, d);
                            bad += d > c.tolerance;
                        }
                    } else {
                        const double d = std::abs(loadedValue(slice, f * perFrame + i) - w.values[at]);
                        worst = std::max(worst, std::isnan(d) ? 1e9 : d);
                        bad += !(d <= c.tolerance + 1e-3 * std::abs(w.values[at]));
                    }
                }
            }
            EXPECT_EQ(bad, 0) << c.name << ": slice " << s << " differs by up to " << worst;
            seen += frameCount;
            // Slices in stack order along the normal (the files' own positions).
            if (w.frames == 1) {
                const double distance = w.position[0] * w.normal[0] + w.position[1] * w.normal[1] + w.position[2] * w.normal[2];
                if (c.volume && !std::isnan(lastDistance)) {
                    const int d = distance > lastDistance + 1e-3 ? 1 : distance < lastDistance - 1e-3 ? -1 : 0;
                    if (direction == 0)
                        direction = d;
                    EXPECT_TRUE(d != 0 && d == direction) << c.name << ": slice " << s << " out of order";
                }
                lastDistance = distance;
            }
        }
        EXPECT_EQ(seen, frames) << c.name;
        return screen;
    }

    void leave()
    {
        director->popScene();
        step(3);
    }

    // The axial view of the screen (null when none).
    static isViewerImage* axialView(imageViewerPC* screen)
    {
        const auto axial = screen->getViewer()->cellsOfKind(VIEW_AXIAL);
        isViewerBrowser* browser = axial.empty() ? nullptr : axial.front()->getBrowser();
        return browser ? browser->getActiveWindow() : nullptr;
    }

    // Where on screen the view draws a point of the phantom's body (signal 400) away from every
    // other solid, in the slice it shows.
    static bool bodyPointOnScreen(const qvgen::Phantom& phantom, isViewerImage* view, Vec2& at)
    {
        const isSliceInfo* slice = view->getImageActor()->getCurrentSliceInfo();
        if (!slice)
            return false;
        const int k = view->getImageActor()->getSliceIndex();
        const qvgen::PhantomShape* body = phantom.shape("body");
        double voxel[3], local[3], patient[3];
        phantom.voxelToLocal(0, 0, k, local);
        // Off the middle, where the reference lines of the reformatted layout run.
        local[1] = -0.2 * body->halfSize[1];
        bool inBody = false;
        for (double fraction : {0.15, -0.15, 0.3, -0.3}) {
            local[0] = fraction * body->halfSize[0];
            phantom.localToPatient(local, patient);
            if ((inBody = phantom.value(patient) == 400))
                break;
        }
        if (!inBody)
            return false;
        phantom.patientToVoxel(patient, voxel);
        Vec3 world(float(voxel[0] * slice->spacingX), float(voxel[1] * slice->spacingY), 0.0f);
        slice->matrix.transformPoint(&world);
        at = view->convertToWorldSpace(view->worldToScreen(world));
        return true;
    }
};

} // namespace

namespace {

void mr(qvgen::PhantomSpec& s) { s.modality = "MR"; }
void rgb(qvgen::PhantomSpec& s) { s.rgb = true; }
void twelveBits(qvgen::ImageSpec& f, int)
{
    setExtra(f, 0x0028, 0x0101, "12");
    setExtra(f, 0x0028, 0x0102, "11");
}

} // namespace

// The transfer syntaxes: each series is decoded to the values written.
TEST_F(RealDataTest, TransferSyntaxesDecodeToTheWrittenValues)
{
    const std::vector<Case> cases = {
        {"ct_explicit_le", nullptr, nullptr, ""},
        {"ct_implicit_le", nullptr, nullptr, "dcmconv +ti"},
        {"ct_big_endian", nullptr, nullptr, "dcmconv +tb"},
        {"ct_deflated", nullptr, nullptr, "dcmconv +td"},
        {"ct_jpeg_lossless_sv1", nullptr, nullptr, "dcmcjpeg +e1"},
        {"ct_jpegls_lossless", nullptr, nullptr, "dcmcjpls +el"},
        {"mr_jpegls_near_lossless", mr, nullptr, "dcmcjpls +en +md 2", 2},
        {"ct_rle", nullptr, nullptr, "dcmcrle"},
        {"mr_12bit_jpeg_lossless", mr, twelveBits, "dcmcjpeg +e1"},
        {"mr_12bit_rle", mr, twelveBits, "dcmcrle"},
        {"grey8", mr, [](qvgen::ImageSpec& f, int) { toGrey8(f); }, ""},
        {"grey8_jpeg_baseline", mr, [](qvgen::ImageSpec& f, int) { toGrey8(f); }, "dcmcjpeg +eb +q 90", 1, {}, true,
         "dcmdjpeg"},
        {"grey8_rle", mr, [](qvgen::ImageSpec& f, int) { toGrey8(f); }, "dcmcrle"},
        {"rgb_planar0", rgb, nullptr, ""},
        {"rgb_planar1", rgb, [](qvgen::ImageSpec& f, int) { toPlanar(f); }, ""},
        {"rgb_planar1_rle", rgb, [](qvgen::ImageSpec& f, int) { toPlanar(f); }, "dcmcrle"},
        {"rgb_jpeg_baseline_ybr", rgb, nullptr, "dcmcjpeg +eb +q 90", 2, {}, true, "dcmdjpeg"},
        {"rgb_jpeg_baseline_rgb", rgb, nullptr, "dcmcjpeg +eb +q 90 +cr", 1, {}, true, "dcmdjpeg"},
        {"rgb_jpegls", rgb, nullptr, "dcmcjpls +el"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (run(c))
            leave();
    }
}

// The pixel kinds: stored bits, signedness, colour models, frames and rescales.
TEST_F(RealDataTest, PixelKindsDecodeToTheWrittenValues)
{
    const std::vector<Case> cases = {
        // One file of many frames without per-frame positions: a list of frames, not a volume.
        {"multiframe_jpegls", [](qvgen::PhantomSpec& s) { s.multiFrame = true; }, nullptr, "dcmcjpls +el", 0, {}, false},
        // Bits above Bits Stored hold other data (overlays, leftovers) and are not part of the value.
        {"mr_12bit_high_bits_set", mr,
         [](qvgen::ImageSpec& f, int k) {
             twelveBits(f, k);
             eachWord(f, [](uint16_t v) { return uint16_t(v | 0xA000); });
         },
         ""},
        // Signed 12-bit samples whose upper bits are clear: negative values by bit 11.
        {"ct_signed_12bit", nullptr,
         [&](qvgen::ImageSpec& f, int k) {
             f.rescaleIntercept = "0";
             eachWord(f, [](uint16_t v) { return uint16_t((int16_t(v) - 1024) & 0x0fff); });
             twelveBits(f, k);
         },
         "dcmcrle"},
        // The stored bits at the top of the word (High Bit 15).
        {"mr_12bit_high_bit_15", mr,
         [](qvgen::ImageSpec& f, int) {
             eachWord(f, [](uint16_t v) { return uint16_t(v << 4); });
             setExtra(f, 0x0028, 0x0101, "12");
             setExtra(f, 0x0028, 0x0102, "15");
         },
         ""},
        // Lossy 12-bit (extended process), as older archives hold it.
        {"mr_12bit_jpeg_extended", mr, twelveBits, "dcmcjpeg +ee +q 90", 0.5, {}, true, "dcmdjpeg"},
        // 8-bit pixels in the syntaxes where their value representation is OW or byte order matters.
        {"grey8_big_endian", mr, [](qvgen::ImageSpec& f, int) { toGrey8(f); }, "dcmconv +tb"},
        {"rgb_big_endian", rgb, nullptr, "dcmconv +tb"},
        {"grey8_odd_size", [](qvgen::PhantomSpec& s) { s.modality = "MR"; s.columns = 47; s.rows = 39; },
         [](qvgen::ImageSpec& f, int) { toGrey8(f); }, "dcmconv +ti"},
        // Uncompressed YBR_FULL colour (some ultrasound devices).
        {"ybr_full_uncompressed", rgb, [](qvgen::ImageSpec& f, int) { toYbrFull(f); }, "", 2},
        // An ultrasound cine: one file of colour frames, lossy JPEG in YBR_FULL_422.
        {"us_cine_jpeg_ybr", [](qvgen::PhantomSpec& s) { s.rgb = true; s.multiFrame = true; }, nullptr,
         "dcmcjpeg +eb +q 90", 2, {}, false, "dcmdjpeg"},
        // PET as scanners write it: every slice with its own rescale slope.
        {"pet_slope_per_slice", mr,
         [](qvgen::ImageSpec& f, int k) {
             f.modality = "PT";
             f.rescaleSlope = qvgen::decimalString(0.37 * (1 + 0.5 * k));
             f.rescaleIntercept = "0";
             setExtra(f, 0x0028, 0x1054, "BQML");
         },
         ""},
        // MR with a slope on some slices only: one stack all the same, each slice rescaled by its own.
        {"mr_slope_on_some_slices", mr,
         [](qvgen::ImageSpec& f, int k) {
             if (k % 2)
                 f.rescaleSlope = "1.5";
         },
         ""},
        {"palette_colour", mr, [](qvgen::ImageSpec& f, int) { toPalette(f); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (run(c))
            leave();
    }
}

// Series as they arrive from the modalities: slices not evenly spaced, one slice missing, a
// gantry tilt, files in no order in the folder, a scout among the axials, one slice only. Every
// image is there with its values; a regular stack (only) is a volume, in position order.
TEST_F(RealDataTest, IrregularSeriesOpenWithEveryImage)
{
    auto fourteen = [](qvgen::PhantomSpec& s) { s.slices = 14; };
    const std::vector<Case> cases = {
        {"one_slice", [](qvgen::PhantomSpec& s) { s.slices = 1; }, nullptr, "", 0, {}, false},
        {"uneven_spacing", fourteen, nullptr, "", 0, {0, 1, 2, 3, 5, 7, 9, 12}, false},
        {"missing_slice", fourteen, nullptr, "", 0, {0, 1, 2, 3, 4, 6, 7, 8, 9}, false},
        {"out_of_order", fourteen, nullptr, "", 0, {7, 2, 11, 0, 5, 13, 9, 1, 3, 12, 6, 10, 4, 8}},
        {"reversed_instance_numbers", fourteen, [](qvgen::ImageSpec& f, int) { f.instanceNumber = 100 - f.instanceNumber; },
         ""},
        // Tilted planes stacked along the table: positions off the slice normal.
        {"gantry_tilt", fourteen,
         [](qvgen::ImageSpec& f, int k) {
             const double tilt = 15 * M_PI / 180;
             const double o[6] = {1, 0, 0, 0, std::cos(tilt), -std::sin(tilt)};
             std::copy(o, o + 6, f.orientation);
             f.position[2] = -20 + 2.0 * k;
             setExtra(f, 0x0018, 0x1120, "15");
         },
         "", 0, {}, false},
        // A localiser of another size and plane in the same series, as the first file.
        {"scout_among_axials", fourteen,
         [](qvgen::ImageSpec& f, int k) {
             if (k != 13)
                 return;
             f.columns = 40;
             f.rows = 30;
             const double o[6] = {1, 0, 0, 0, 0, -1};
             std::copy(o, o + 6, f.orientation);
             f.position[0] = -20;
             f.position[1] = 0;
             f.position[2] = 15;
             f.instanceNumber = 1000;
             f.pixels.clear();  // the writer's own pattern
             f.rescaleIntercept = "0";
             setExtra(f, 0x0008, 0x0008, "ORIGINAL\\PRIMARY\\LOCALIZER");
         },
         "", 0, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (run(c))
            leave();
    }
}


namespace {

// A view's screen axes in patient directions (DICOM axes: x to the left, y to the back, z to the
// head), as a radiologist reads them for a head-first supine patient.
struct ViewAxes {
    int kind;
    const char* letters[4];  // top, right, bottom, left
    double right[3];
    double down[3];
};
const ViewAxes kViews[] = {
    {VIEW_AXIAL, {"A", "L", "P", "R"}, {1, 0, 0}, {0, 1, 0}},
    {VIEW_SAGITTAL, {"S", "P", "I", "A"}, {0, 1, 0}, {0, 0, -1}},
    {VIEW_CORONAL, {"S", "L", "I", "R"}, {1, 0, 0}, {0, 0, -1}},
};

double dot3(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The grey a modality value is drawn with through a window (MONOCHROME2).
double greyOf(double value, double centre, double width)
{
    return std::clamp((value - (centre - width / 2)) / width, 0.0, 1.0) * 255.0;
}

} // namespace

// The acquisition planes opened as a volume (the three orthogonal views): each view's edge
// letters follow the patient, and its picture shows the phantom where those letters say it is
// (no view mirrored, a reformat of a sagittal or coronal acquisition included). MONOCHROME1 is
// drawn inverted.
TEST_F(RealDataTest, PlanesLettersAndPicturesFollowThePatient)
{
    struct Plane {
        const char* name;
        qvgen::PhantomOrientation orientation;
        bool monochrome1;
        bool reversed = false;  // instance numbers falling as the positions rise
    };
    const std::vector<Plane> planes = {
        {"axial", qvgen::PhantomOrientation::Axial, false},
        {"sagittal", qvgen::PhantomOrientation::Sagittal, false},
        {"coronal", qvgen::PhantomOrientation::Coronal, false},
        {"oblique", qvgen::PhantomOrientation::Oblique, false},
        {"axial_monochrome1", qvgen::PhantomOrientation::Axial, true},
        {"sagittal_reversed", qvgen::PhantomOrientation::Sagittal, false, true},
        {"coronal_reversed", qvgen::PhantomOrientation::Coronal, false, true},
    };
    // 14 of 20 slices: the spheres, on the phantom's middle slice, lie off the volume's centre, so
    // that a reformat mirrored across the slices shows them on the wrong side.
    std::vector<int> kept;
    for (int k = 0; k < 14; ++k)
        kept.push_back(k);
    for (const Plane& p : planes) {
        SCOPED_TRACE(p.name);
        auto phantomSpec = [&](qvgen::PhantomSpec& s) {
            s.modality = "MR";
            s.columns = s.rows = 64;
            s.slices = 20;
            qvgen::orientationOf(p.orientation, s.orientation);
        };
        Case c{p.name, phantomSpec,
               [&](qvgen::ImageSpec& f, int) {
                   if (p.monochrome1)
                       f.photometric = "MONOCHROME1";
                   if (p.reversed)
                       f.instanceNumber = 100 - f.instanceNumber;
               },
               "", 0, kept};
        imageViewerPC* screen = run(c);
        ASSERT_NE(screen, nullptr);
        step(10);
        qvtest::savePicture(std::string("realdata-") + p.name);
        qvgen::PhantomSpec spec = small();
        phantomSpec(spec);
        // (The same geometry; the solids depend only on it.)
        const qvgen::Phantom phantom(spec);
        double centre[3];
        phantom.voxelToPatient((spec.columns - 1) * 0.5, (spec.rows - 1) * 0.5, (kept.front() + kept.back()) * 0.5, centre);
        const double lengths[3] = {spec.columns * spec.columnSpacing, spec.rows * spec.rowSpacing,
                                   kept.size() * spec.sliceSpacing};
        const double* axes[3] = {phantom.rowDirection(), phantom.columnDirection(), phantom.normal()};
        const double windowCentre = 600, windowWidth = 1200;

        int views = 0;
        for (const auto& [group, cells] : screen->getViewer()->getGroups()) {
            for (KeyViewProperty* cell : cells) {
                isViewerBrowser* browser = cell->getBrowser();
                isViewerImage* window = browser ? browser->getActiveWindow() : nullptr;
                const ViewAxes* view = nullptr;
                for (const ViewAxes& v : kViews)
                    view = v.kind == cell->getViewKind() ? &v : view;
                if (!window || !view)
                    continue;
                ++views;
                SCOPED_TRACE(std::string("view kind ") + std::to_string(view->kind));
                isActorOverlay* overlay = window->getActorManager()->getOverlayActor();
                ASSERT_NE(overlay, nullptr);
                const int edges[4] = {OVERLAY_EDGE_TOP, OVERLAY_EDGE_RIGHT, OVERLAY_EDGE_BOTTOM, OVERLAY_EDGE_LEFT};
                for (int e = 0; e < 4; ++e) {
                    const std::string shown = overlay->getEdgeLabel(edges[e]) ? overlay->getEdgeLabel(edges[e])->getString() : "";
                    if (p.orientation == qvgen::PhantomOrientation::Oblique)
                        EXPECT_EQ(shown.substr(0, 1), view->letters[e]) << "edge " << e;
                    else
                        EXPECT_EQ(shown, view->letters[e]) << "edge " << e;
                }
                if (p.orientation == qvgen::PhantomOrientation::Oblique)
                    continue;  // its views are the volume's own planes: letters only

                // The acquired plane may show any slice: only points whose value does not change
                // across the slices are compared there. A reformat cuts through the centre.
                const bool acquired = std::abs(dot3(phantom.normal(), view->right)) < 0.5 &&
                                      std::abs(dot3(phantom.normal(), view->down)) < 0.5;
                double extentRight = 0, extentDown = 0;
                for (int a = 0; a < 3; ++a) {
                    extentRight += std::abs(dot3(axes[a], view->right)) * lengths[a];
                    extentDown += std::abs(dot3(axes[a], view->down)) * lengths[a];
                }
                const Vec2 origin = window->convertToWorldSpace(Vec2::ZERO);
                const Size size = window->getContentSize();
                const double scale = std::min(size.width / extentRight, size.height / extentDown);
                const Vec2 middle(origin.x + size.width / 2, origin.y + size.height / 2);
                int compared = 0, wrong = 0;
                for (double fy = -0.45; fy <= 0.45; fy += 0.05) {
                    for (double fx = -0.45; fx <= 0.45; fx += 0.05) {
                        const double dx = fx * extentRight, dy = fy * extentDown;
                        double point[3];
                        for (int a = 0; a < 3; ++a)
                            point[a] = centre[a] + dx * view->right[a] + dy * view->down[a];
                        // Away from every edge between solids (1.5 mm), and for the acquired
                        // plane the same on every slice.
                        const double value = phantom.value(point);
                        bool steady = true;
                        for (int a = 0; a < 3 && steady; ++a) {
                            for (double d : {-1.5, 1.5}) {
                                double q[3] = {point[0], point[1], point[2]};
                                q[a] += d;
                                steady = steady && phantom.value(q) == value;
                            }
                        }
                        if (acquired) {
                            for (int k = kept.front(); k <= kept.back() && steady; ++k) {
                                double q[3], local[3];
                                phantom.patientToLocal(point, local);
                                double voxel[3];
                                phantom.patientToVoxel(point, voxel);
                                phantom.voxelToPatient(voxel[0], voxel[1], k, q);
                                steady = phantom.value(q) == value;
                            }
                        }
                        if (!steady)
                            continue;
                        const Vec2 at(float(middle.x + dx * scale), float(middle.y - dy * scale));
                        double expected = greyOf(value, windowCentre, windowWidth);
                        if (p.monochrome1)
                            expected = 255 - expected;
                        // (The reference lines of the other views are coloured: not compared.)
                        const auto rgb = qvtest::pixelAt(at.x, at.y);
                        if (std::abs(rgb[0] - rgb[1]) > 8 || std::abs(rgb[1] - rgb[2]) > 8)
                            continue;
                        const double drawn = (rgb[0] + rgb[1] + rgb[2]) / 3.0;
                        ++compared;
                        if (std::abs(drawn - expected) > 40) {
                            ++wrong;
                            if (wrong <= 5)
                                ADD_FAILURE() << "at " << at.x << "," << at.y << " (patient " << point[0] << ","
                                              << point[1] << "," << point[2] << ") drawn " << drawn << ", expected "
                                              << expected << " for " << value;
                        }
                    }
                }
                EXPECT_GT(compared, 40);
                EXPECT_EQ(wrong, 0);
            }
        }
        EXPECT_EQ(views, 3);
        leave();
    }
}

// Rescaled values (unsigned samples, slope 0.37, as PET writes them): the file's window is taken in
// modality values, the picture is drawn through it, and a point measurement shows the modality
// value, not the stored sample.
TEST_F(RealDataTest, RescaledValuesInTheWindowAndThePointMeasurement)
{
    auto phantomSpec = [](qvgen::PhantomSpec& s) {
        s.modality = "MR";
        s.columns = s.rows = 64;
    };
    Case c{"pet_slope", phantomSpec,
           [](qvgen::ImageSpec& f, int) {
               f.modality = "PT";
               f.rescaleSlope = "0.37";
               f.rescaleIntercept = "0";
               f.windowCenter = "222";
               f.windowWidth = "444";
               setExtra(f, 0x0028, 0x1054, "BQML");
           },
           ""};
    imageViewerPC* screen = run(c);
    ASSERT_NE(screen, nullptr);
    step(10);
    qvgen::PhantomSpec spec = small();
    phantomSpec(spec);
    const qvgen::Phantom phantom(spec);
    float width = 0, level = 0;
    ASSERT_TRUE(screen->getViewer()->getWindowLevel(width, level));
    EXPECT_NEAR(width, 444, 0.5);
    EXPECT_NEAR(level, 222, 0.5);

    isViewerImage* view = axialView(screen);
    ASSERT_NE(view, nullptr);
    // A point in the body (signal 400: 148 after the rescale).
    Vec2 at;
    ASSERT_TRUE(bodyPointOnScreen(phantom, view, at));
    // PET is drawn inverted: activity dark on white.
    const auto rgb = qvtest::pixelAt(at.x, at.y);
    EXPECT_NEAR(rgb[0], 255 - 148.0 / 444.0 * 255.0, 6);

    Node* panel = screen->getToolScrollView()->getChildByName("toolPanel");
    ASSERT_NE(panel, nullptr);
    clickNode(panel->getChildByName("btnCmdPoint"));
    step(3);
    InputSimulator::click(at.x, at.y);
    step(3);
    const auto& shown = view->getROIActor()->getROIActors();
    std::string text;
    ASSERT_TRUE(stepUntil(
        [&] {
            if (shown.empty() || !shown.back()->getLabel())
                return false;
            text = shown.back()->getLabel()->getString();
            return !text.empty() && text != "Unknown";
        },
        5));
    const size_t colon = text.find(':');
    ASSERT_NE(colon, std::string::npos) << text;
    EXPECT_NEAR(std::atof(text.c_str() + colon + 1), 148.0, 0.05) << text;
    leave();
}

// 16-bit MR without a window of its own (derived maps, some makers' files): the view starts from
// the value range of the slice it shows, so that the body is drawn grey, not white through the
// 8-bit default window. Files with a window keep theirs.
TEST_F(RealDataTest, SeriesWithoutAWindowStartFromTheirValueRange)
{
    auto phantomSpec = [](qvgen::PhantomSpec& s) {
        s.modality = "MR";
        s.columns = s.rows = 64;
    };
    qvgen::PhantomSpec spec = small();
    phantomSpec(spec);
    const qvgen::Phantom phantom(spec);
    for (const bool windowed : {false, true}) {
        SCOPED_TRACE(windowed ? "with a window" : "without a window");
        Case c{windowed ? "mr_window" : "mr_no_window", phantomSpec,
               [windowed](qvgen::ImageSpec& f, int) {
                   if (!windowed) {
                       f.windowCenter.clear();
                       f.windowWidth.clear();
                   }
               },
               ""};
        imageViewerPC* screen = run(c);
        ASSERT_NE(screen, nullptr);
        step(10);
        isViewerImage* view = axialView(screen);
        ASSERT_NE(view, nullptr);
        const isSliceInfo* slice = view->getImageActor()->getCurrentSliceInfo();
        ASSERT_NE(slice, nullptr);
        ASSERT_TRUE(slice->isLoaded());
        ASSERT_NE(slice->pixelType, PIXEL_U8);
        double low = 1e30, high = -1e30;
        for (size_t i = 0; i < size_t(slice->columns) * slice->rows; ++i) {
            low = std::min(low, loadedValue(slice, i));
            high = std::max(high, loadedValue(slice, i));
        }
        ASSERT_LT(low, high);
        const float width = view->getImageActor()->getClut()->getWidth();
        const float level = view->getImageActor()->getClut()->getLevel();
        const double expectedWidth = windowed ? phantom.windowWidth() : high - low;
        const double expectedLevel = windowed ? phantom.windowCenter() : (high + low) / 2;
        EXPECT_NEAR(width, expectedWidth, 0.5);
        EXPECT_NEAR(level, expectedLevel, 0.5);

        // After a window of the user's, the default window command brings back the same window
        // (the range for a file without one, not the 8-bit default).
        view->getImageActor()->setWindow(3000.0f, 1500.0f);
        step(2);
        screen->getViewer()->sendCommand(NOTIFY_WL_DEFAULT, nullptr);
        step(3);
        EXPECT_NEAR(view->getImageActor()->getClut()->getWidth(), expectedWidth, 0.5);
        EXPECT_NEAR(view->getImageActor()->getClut()->getLevel(), expectedLevel, 0.5);

        Vec2 at;
        ASSERT_TRUE(bodyPointOnScreen(phantom, view, at));
        const auto rgb = qvtest::pixelAt(at.x, at.y);
        const double grey = greyOf(400, expectedLevel, expectedWidth);
        EXPECT_GT(grey, 20);
        EXPECT_LT(grey, 235);
        EXPECT_NEAR(rgb[0], grey, 6);
        leave();
    }
}
