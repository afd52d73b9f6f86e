// The single-file reader and the rules it shares with the scan and the loader: pixel types and
// rescale, patient position and the display frame, PET inputs, unusable files.
#include "isDcmReader.h"
#include "isDcmRules.h"
#include "support/IngestFixtures.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>

using namespace isImageSDK;
using qvtest::IngestTest;
using qvtest::Retained;

namespace {

class DcmReaderTest : public IngestTest {
protected:
    // Reads one file; the image stays alive with the returned reader.
    isImageData* read(const qvgen::ImageSpec& spec, Retained<isDcmReader>& reader, const char* name = "f.dcm")
    {
        const std::string path = root + name;
        write(path, spec);
        return read(path, reader);
    }
    isImageData* read(const std::string& path, Retained<isDcmReader>& reader)
    {
        reader->setFileName(path);
        reader->update();
        return reader->getOutputData();
    }
    static std::vector<uint8_t> u16(std::initializer_list<uint16_t> values)
    {
        std::vector<uint8_t> bytes(values.size() * 2);
        std::memcpy(bytes.data(), values.begin(), bytes.size());
        return bytes;
    }
};

template <class T>
T sample(const isSliceInfo* slice, int i)
{
    T v;
    std::memcpy(&v, slice->pixels + i * sizeof(T), sizeof(T));
    return v;
}

} // namespace

TEST(DcmRules, ParsersAndCodes)
{
    double v[3] = {0, 0, 0};
    int count = 0;
    parseMultiValue("1.5\\-2\\3e1", v, 3, count);
    EXPECT_EQ(count, 3);
    EXPECT_DOUBLE_EQ(v[0], 1.5);
    EXPECT_DOUBLE_EQ(v[1], -2.0);
    EXPECT_DOUBLE_EQ(v[2], 30.0);
    // Extra pieces raise the count without writing past the array.
    parseMultiValue("1\\2\\3\\4\\5", v, 3, count);
    EXPECT_EQ(count, 5);
    parseMultiValue("", v, 3, count);
    EXPECT_EQ(count, 1);

    int f[6] = {1, 2, 3, 4, 5, 6};
    parseDicomDateTime(f, "20170722", DATETIME_DA);
    EXPECT_EQ((std::vector<int>(f, f + 6)), (std::vector<int>{2017, 7, 22, 4, 5, 6}));
    parseDicomDateTime(f, "091500.123", DATETIME_TM);
    EXPECT_EQ((std::vector<int>(f, f + 6)), (std::vector<int>{2017, 7, 22, 9, 15, 0}));
    parseDicomDateTime(f, "20010203040506", DATETIME_DT);
    EXPECT_EQ((std::vector<int>(f, f + 6)), (std::vector<int>{2001, 2, 3, 4, 5, 6}));
    parseDicomDateTime(f, "19990101", 7);
    EXPECT_EQ(f[0], 2001);

    // Codes compare the whole text, case and all.
    EXPECT_EQ(modalityCodeOf("DR"), MODALITY_DX);
    EXPECT_EQ(modalityCodeOf("ct"), MODALITY_OTHER);
    EXPECT_EQ(modalityCodeOf("CT "), MODALITY_OTHER);

    // 24 bits allocated is colour whatever the decoder says; unknown combinations have no type.
    EXPECT_EQ(selectPixelType(24, LIBRARY_GREY16, MODALITY_OTHER, 1, 0, 0), PIXEL_RGB);
    EXPECT_EQ(selectPixelType(8, LIBRARY_GREY16, MODALITY_OTHER, 1, 0, 0), -1);
    EXPECT_EQ(selectPixelType(16, LIBRARY_GREY16, MODALITY_CT, 1, 0, 3), PIXEL_I16);

    // A slice type the decoded elements do not fit is never converted (it would read past them).
    uint16_t grey[4] = {1, 2, 3, 4};
    unsigned char rgb[12] = {0};
    EXPECT_FALSE(convertPixels(grey, LIBRARY_GREY16, 4, PIXEL_RGB, 1, 0, 0, rgb));
    EXPECT_FALSE(convertPixels(grey, LIBRARY_GREY8, 4, PIXEL_I16, 1, 0, 0, rgb));
}

TEST(DcmRules, TextFieldsAreCutAtCharacterBoundaries)
{
    char field[6];
    copyTextField(field, sizeof(field), "abcd\xc3\xa9xyz");  // "abcdé..." : é would be cut in two
    EXPECT_STREQ(field, "abcd");
    copyTextField(field, sizeof(field), "ab\xc3\xa9");
    EXPECT_STREQ(field, "ab\xc3\xa9");
    EXPECT_EQ(field[5], 0);
}

TEST_F(DcmReaderTest, RescaleChoosesTheTypeAndSaturates)
{
    qvgen::ImageSpec spec;
    spec.columns = 2;
    spec.rows = 2;
    spec.pixels = u16({0, 1024, 3000, 65535});

    // CT, slope 1, intercept -1024, unsigned samples: signed 16-bit shifted by -1024; the sample
    // 65535 would be 64511, which a signed 16-bit value cannot hold: it saturates.
    spec.rescaleSlope = "1";
    spec.rescaleIntercept = "-1024";
    Retained<isDcmReader> a(isDcmReader::create());
    isImageData* image = read(spec, a, "a.dcm");
    ASSERT_EQ(image->getSliceCount(), 1);
    isSliceInfo* slice = image->getSlice(0);
    EXPECT_EQ(slice->pixelType, PIXEL_I16);
    EXPECT_EQ(sample<int16_t>(slice, 0), -1024);
    EXPECT_EQ(sample<int16_t>(slice, 1), 0);
    EXPECT_EQ(sample<int16_t>(slice, 2), 1976);
    EXPECT_EQ(sample<int16_t>(slice, 3), 32767);
    EXPECT_EQ(slice->pixelsLoaded, 1);

    // Identity rescale: unsigned samples copied unchanged.
    spec.rescaleIntercept = "0";
    Retained<isDcmReader> b(isDcmReader::create());
    slice = read(spec, b, "b.dcm")->getSlice(0);
    EXPECT_EQ(slice->pixelType, PIXEL_U16);
    EXPECT_EQ(sample<uint16_t>(slice, 3), 65535);

    // A fractional slope gives float values.
    spec.rescaleSlope = "1.5";
    Retained<isDcmReader> c(isDcmReader::create());
    slice = read(spec, c, "c.dcm")->getSlice(0);
    EXPECT_EQ(slice->pixelType, PIXEL_FLOAT);
    EXPECT_FLOAT_EQ(sample<float>(slice, 1), 1536.0f);

    // PET is always float; signed samples are read signed.
    spec.rescaleSlope = "1";
    spec.modality = "PT";
    spec.pixelRepresentation = 1;
    spec.pixels = u16({0xFFFF, 2, 3, 4});
    Retained<isDcmReader> d(isDcmReader::create());
    slice = read(spec, d, "d.dcm")->getSlice(0);
    EXPECT_EQ(slice->pixelType, PIXEL_FLOAT);
    EXPECT_FLOAT_EQ(sample<float>(slice, 0), -1.0f);
}

TEST_F(DcmReaderTest, PatientPositionMapsTheDisplayFrame)
{
    qvgen::ImageSpec spec;
    spec.position[0] = 10;
    spec.position[1] = 20;
    spec.position[2] = 30;
    struct Case {
        const char* position;
        float x, y, z;
    } cases[] = {{"HFS", 10, 30, -20}, {"HFP", -10, 30, 20}, {"FFS", -10, -30, -20}, {"FFDL", 20, -30, -10}};
    for (const Case& c : cases) {
        spec.patientPosition = c.position;
        Retained<isDcmReader> reader(isDcmReader::create());
        isSliceInfo* slice = read(spec, reader, (std::string(c.position) + ".dcm").c_str())->getSlice(0);
        ASSERT_NE(slice, nullptr) << c.position;
        EXPECT_FLOAT_EQ(slice->matrix.m[12], c.x) << c.position;
        EXPECT_FLOAT_EQ(slice->matrix.m[13], c.y) << c.position;
        EXPECT_FLOAT_EQ(slice->matrix.m[14], c.z) << c.position;
        EXPECT_EQ(slice->geometryValid, 1) << c.position;
        // The third column is the normal of the two mapped directions.
        const cocos2d::Vec3 r(slice->matrix.m[0], slice->matrix.m[1], slice->matrix.m[2]);
        const cocos2d::Vec3 col(slice->matrix.m[4], slice->matrix.m[5], slice->matrix.m[6]);
        cocos2d::Vec3 n;
        cocos2d::Vec3::cross(r, col, &n);
        EXPECT_FLOAT_EQ(slice->matrix.m[8], n.x);
        EXPECT_FLOAT_EQ(slice->matrix.m[9], n.y);
        EXPECT_FLOAT_EQ(slice->matrix.m[10], n.z);
    }
}

TEST_F(DcmReaderTest, IncompleteGeometryFallsBack)
{
    qvgen::ImageSpec spec;
    spec.extra = {{{0x0020, 0x0037}, "1\\0\\0\\0\\1"}};  // five numbers
    spec.hasOrientation = false;
    Retained<isDcmReader> a(isDcmReader::create());
    isSliceInfo* slice = read(spec, a, "a.dcm")->getSlice(0);
    ASSERT_NE(slice, nullptr);
    EXPECT_EQ(slice->geometryValid, 0);
    EXPECT_FLOAT_EQ(slice->matrix.m[0], 1.0f);  // identity orientation, head-first supine mapped
    EXPECT_FLOAT_EQ(slice->matrix.m[6], -1.0f);

    // Without a patient position CT keeps a valid geometry, undetermined position; US does not.
    spec.extra.clear();
    spec.hasOrientation = true;
    spec.patientPosition = "";
    Retained<isDcmReader> b(isDcmReader::create());
    slice = read(spec, b, "b.dcm")->getSlice(0);
    EXPECT_EQ(slice->geometryValid, 1);
    EXPECT_EQ(slice->headFeet, 2);
    spec.modality = "US";
    Retained<isDcmReader> c(isDcmReader::create());
    slice = read(spec, c, "c.dcm")->getSlice(0);
    EXPECT_EQ(slice->geometryValid, 0);
    EXPECT_EQ(slice->headFeet, 0);

    // Pixel spacing absent: 1 mm, flagged; present: column spacing is the second value.
    spec.pixelSpacing = "";
    Retained<isDcmReader> d(isDcmReader::create());
    slice = read(spec, d, "d.dcm")->getSlice(0);
    EXPECT_EQ(slice->pixelSpacingPresent, 0);
    EXPECT_FLOAT_EQ(slice->spacingX, 1.0f);
    spec.pixelSpacing = "0.7\\0.3";
    Retained<isDcmReader> e(isDcmReader::create());
    slice = read(spec, e, "e.dcm")->getSlice(0);
    EXPECT_FLOAT_EQ(slice->spacingX, 0.3f);
    EXPECT_FLOAT_EQ(slice->spacingY, 0.7f);
}

TEST_F(DcmReaderTest, PetInputsAndDates)
{
    qvgen::ImageSpec spec;
    spec.modality = "PT";
    spec.extra = {{{0x0008, 0x0020}, "20170722"},
                  {{0x0008, 0x0030}, "093000"},
                  {{0x0018, 0x1072}, "101500"},
                  {{0x0054, 0x1001}, "BQML"},
                  {{0x0054, 0x1102}, "START"},
                  {{0x0018, 0x1075}, "6586.2"},
                  {{0x0010, 0x1030}, "70"}};
    Retained<isDcmReader> a(isDcmReader::create());
    isSliceInfo* slice = read(spec, a, "a.dcm")->getSlice(0);
    ASSERT_NE(slice, nullptr);
    EXPECT_EQ((std::vector<int>(slice->acquisitionTime, slice->acquisitionTime + 6)),
              (std::vector<int>{2017, 7, 22, 9, 30, 0}));
    EXPECT_EQ((std::vector<int>(slice->startTime, slice->startTime + 6)), (std::vector<int>{2017, 7, 22, 10, 15, 0}));
    EXPECT_EQ(slice->suvValid, 1);
    EXPECT_EQ(slice->units, 1);
    EXPECT_EQ(slice->decayCorrection, 2);
    EXPECT_FLOAT_EQ(slice->halfLife, 6586.2f);
    EXPECT_FLOAT_EQ(slice->patientWeight, 70.0f);
    EXPECT_FLOAT_EQ(slice->patientSize, -1.0f);
    // No window in the file: PET's own default, marked as a default.
    EXPECT_FLOAT_EQ(slice->windowWidth, 20000.0f);
    EXPECT_EQ(slice->windowPresent, 0);

    // No date at all: year 1900 and no uptake values.
    spec.extra.clear();
    Retained<isDcmReader> b(isDcmReader::create());
    slice = read(spec, b, "b.dcm")->getSlice(0);
    EXPECT_EQ(slice->acquisitionTime[0], 1900);
    EXPECT_EQ(slice->suvValid, 0);
    EXPECT_EQ(slice->units, 3);
    EXPECT_EQ(slice->decayCorrection, 4);
}

TEST_F(DcmReaderTest, FramesColourAndTheSeriesKey)
{
    qvgen::ImageSpec spec;
    spec.frames = 3;
    spec.bitsAllocated = 8;
    spec.modality = "XA";
    spec.windowCenter = "40\\50";
    Retained<isDcmReader> a(isDcmReader::create());
    isImageData* image = read(spec, a, "a.dcm");
    isSliceInfo* slice = image->getSlice(0);
    ASSERT_NE(slice, nullptr);
    EXPECT_EQ(slice->frames, 3);
    EXPECT_EQ(slice->pixelType, PIXEL_U8);
    EXPECT_EQ(slice->modality, MODALITY_XA);
    EXPECT_FLOAT_EQ(slice->windowCenter, 40.0f);
    EXPECT_EQ(std::memcmp(slice->pixels, qvgen::pixelBytes(spec).data(), 3 * 32 * 24), 0);
    // A single file is its own series: its path is the key.
    EXPECT_EQ(image->getFileNames(), root + "a.dcm");

    spec.frames = 1;
    spec.samplesPerPixel = 3;
    Retained<isDcmReader> b(isDcmReader::create());
    slice = read(spec, b, "b.dcm")->getSlice(0);
    ASSERT_NE(slice, nullptr);
    EXPECT_EQ(slice->pixelType, PIXEL_RGB);
    EXPECT_EQ(std::memcmp(slice->pixels, qvgen::pixelBytes(spec).data(), 3 * 32 * 24), 0);
}

TEST_F(DcmReaderTest, UnusableFilesLeaveTheImageEmpty)
{
    {
        std::ofstream text(root + "notes.txt");
        text << "not an image";
    }
    Retained<isDcmReader> a(isDcmReader::create());
    EXPECT_EQ(read(root + "notes.txt", a)->getSliceCount(), 0);
    Retained<isDcmReader> b(isDcmReader::create());
    EXPECT_EQ(read(root + "missing.dcm", b)->getSliceCount(), 0);

    qvgen::ImageSpec spec;
    spec.omit = {{0x0028, 0x0011}};  // no Columns
    Retained<isDcmReader> c(isDcmReader::create());
    EXPECT_EQ(read(spec, c, "c.dcm")->getSliceCount(), 0);

    // A reader pointed at a good file after a bad one reads it.
    spec.omit.clear();
    write(root + "good.dcm", spec);
    b->setFileName(root + "good.dcm");
    b->update();
    EXPECT_EQ(b->getOutputData()->getSliceCount(), 1);
}

// A window width of 0 or less describes no window at all (every value would be an edge): such a
// file reads as one without a window, with the defaults marked as defaults, in the single-file
// reader and in the scan's cache alike, so the viewer starts from the pixels' range. A narrow real
// window stays as it is.
TEST_F(DcmReaderTest, AWindowWidthOfZeroOrLessCountsAsNoWindow)
{
    struct Case {
        const char* modality;
        const char* width;
        int present;
        float readWidth, readCentre;
    };
    for (const Case& c : {Case{"CT", "0", 0, 255, 128}, Case{"MR", "-350", 0, 255, 128},
                          Case{"CT", "abc", 0, 255, 128}, Case{"PT", "0", 0, 20000, 10000},
                          Case{"CT", "0.5", 1, 0.5f, 40}}) {
        qvgen::ImageSpec spec;
        spec.modality = c.modality;
        spec.windowCenter = "40";
        spec.windowWidth = c.width;
        const std::string where = std::string(c.modality) + " width " + c.width;
        Retained<isDcmReader> reader(isDcmReader::create());
        const isSliceInfo* slice = read(spec, reader)->getSlice(0);
        ASSERT_NE(slice, nullptr) << where;
        EXPECT_EQ(slice->windowPresent, c.present) << where;
        EXPECT_FLOAT_EQ(slice->windowWidth, c.readWidth) << where;
        EXPECT_FLOAT_EQ(slice->windowCenter, c.readCentre) << where;

        const std::string dir = folder(std::string("w") + c.modality + c.width);
        write(dir + "a.dcm", spec);
        ASSERT_TRUE(isDcmScan::createBuffer(dir)) << where;
        SeriesCacheContents cache;
        const std::string cachePath = isDcmScan::getBufferPathOfFolder(dir);
        ASSERT_EQ(readSeriesCache(cachePath, cache), CacheReadResult::Ok) << where;
        ASSERT_EQ(cache.records.size(), 1u) << where;
        EXPECT_EQ(cache.records[0].windowAbsent, 1 - c.present) << where;
        EXPECT_FLOAT_EQ(cache.records[0].windowWidth, c.readWidth) << where;
    }
}
