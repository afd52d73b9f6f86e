#include "DicomSeriesWriter.h"

#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dctk.h>
#include <dcmtk/dcmjpls/djencode.h>
#include <dcmtk/ofstd/ofuuid.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>

namespace qvgen {

namespace {

const std::string& processUID(int which)
{
    static std::once_flag once;
    static std::string uids[2];
    std::call_once(once, [] {
        uids[0] = newUID();
        uids[1] = newUID();
    });
    return uids[which];
}

const char* sopClassOf(const std::string& modality)
{
    if (modality == "CT")
        return UID_CTImageStorage;
    if (modality == "MR")
        return UID_MRImageStorage;
    if (modality == "PT")
        return UID_PositronEmissionTomographyImageStorage;
    return UID_SecondaryCaptureImageStorage;
}

std::string numbers(const double* values, int n)
{
    std::string text;
    for (int i = 0; i < n; ++i) {
        if (i)
            text += '\\';
        text += decimalString(values[i]);
    }
    return text;
}

bool fail(std::string* error, const std::string& what, const OFCondition& cond)
{
    if (error)
        *error = what + ": " + cond.text();
    return false;
}

} // namespace

std::string newUID()
{
    // A random UUID (version 4) under the 2.25 root, drawn from std::random_device so that
    // programs started together never share one.
    std::random_device device;
    OFUUID::BinaryRepresentation bytes;
    for (Uint8& byte : bytes.value)
        byte = static_cast<Uint8>(device());
    bytes.value[6] = static_cast<Uint8>((bytes.value[6] & 0x0f) | 0x40);
    bytes.value[8] = static_cast<Uint8>((bytes.value[8] & 0x3f) | 0x80);
    OFString uid;
    return OFUUID(bytes).toString(uid, OFUUID::ER_RepresentationOID).c_str();
}

std::string decimalString(double value)
{
    // A decimal string holds at most 16 characters: the most significant digits that fit.
    char text[64];
    for (int precision = 15; precision > 0; --precision) {
        std::snprintf(text, sizeof(text), "%.*g", precision, value);
        if (std::strlen(text) <= 16)
            break;
    }
    return text;
}

uint16_t patternValue(int instanceNumber, int column, int row, int frame)
{
    return static_cast<uint16_t>((instanceNumber * 131 + column * 7 + row * 3 + frame * 1009) & 0x0fff);
}

std::vector<uint8_t> pixelBytes(const ImageSpec& spec)
{
    if (!spec.pixels.empty())
        return spec.pixels;
    const size_t n = static_cast<size_t>(spec.columns) * spec.rows * spec.frames;
    const int sampleBytes = spec.bitsAllocated / 8;
    std::vector<uint8_t> bytes(n * spec.samplesPerPixel * sampleBytes);
    size_t i = 0;
    for (int f = 0; f < spec.frames; ++f) {
        for (int y = 0; y < spec.rows; ++y) {
            for (int x = 0; x < spec.columns; ++x, ++i) {
                const uint16_t v = patternValue(spec.instanceNumber, x, y, f);
                if (spec.samplesPerPixel == 3) {
                    bytes[3 * i] = static_cast<uint8_t>(v);
                    bytes[3 * i + 1] = static_cast<uint8_t>(v >> 4);
                    bytes[3 * i + 2] = static_cast<uint8_t>(x + y);
                } else if (sampleBytes == 1) {
                    bytes[i] = static_cast<uint8_t>(v);
                } else {
                    std::memcpy(&bytes[2 * i], &v, 2);
                }
            }
        }
    }
    return bytes;
}

bool writeDicomFile(const std::string& path, const ImageSpec& spec, std::string* error)
{
    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    auto put = [&](const DcmTagKey& key, const std::string& value) {
        return ds->putAndInsertString(key, value.c_str()).good();
    };
    put(DCM_SOPClassUID, sopClassOf(spec.modality));
    put(DCM_SOPInstanceUID, spec.sopInstanceUID.empty() ? newUID() : spec.sopInstanceUID);
    put(DCM_StudyInstanceUID, spec.studyUID.empty() ? processUID(0) : spec.studyUID);
    put(DCM_SeriesInstanceUID, spec.seriesUID.empty() ? processUID(1) : spec.seriesUID);
    put(DCM_Modality, spec.modality);
    put(DCM_PatientName, spec.patientName);
    put(DCM_PatientID, spec.patientID);
    put(DCM_InstitutionName, spec.institution);
    put(DCM_SeriesDescription, spec.seriesDescription);
    put(DCM_StudyID, spec.studyID);
    put(DCM_SeriesNumber, spec.seriesNumber);
    if (!spec.patientPosition.empty())
        put(DCM_PatientPosition, spec.patientPosition);
    if (spec.hasInstanceNumber)
        put(DCM_InstanceNumber, std::to_string(spec.instanceNumber));
    if (spec.hasPosition)
        put(DCM_ImagePositionPatient, numbers(spec.position, 3));
    if (spec.hasOrientation)
        put(DCM_ImageOrientationPatient, numbers(spec.orientation, 6));
    if (!spec.pixelSpacing.empty())
        put(DCM_PixelSpacing, spec.pixelSpacing);
    if (!spec.rescaleSlope.empty())
        put(DCM_RescaleSlope, spec.rescaleSlope);
    if (!spec.rescaleIntercept.empty())
        put(DCM_RescaleIntercept, spec.rescaleIntercept);
    if (!spec.windowCenter.empty())
        put(DCM_WindowCenter, spec.windowCenter);
    if (!spec.windowWidth.empty())
        put(DCM_WindowWidth, spec.windowWidth);
    if (spec.frames > 1)
        put(DCM_NumberOfFrames, std::to_string(spec.frames));

    ds->putAndInsertUint16(DCM_Rows, static_cast<Uint16>(spec.rows));
    ds->putAndInsertUint16(DCM_Columns, static_cast<Uint16>(spec.columns));
    ds->putAndInsertUint16(DCM_SamplesPerPixel, static_cast<Uint16>(spec.samplesPerPixel));
    put(DCM_PhotometricInterpretation, spec.samplesPerPixel == 3 ? "RGB" : spec.photometric);
    if (spec.samplesPerPixel == 3)
        ds->putAndInsertUint16(DCM_PlanarConfiguration, 0);
    ds->putAndInsertUint16(DCM_BitsAllocated, static_cast<Uint16>(spec.bitsAllocated));
    const int bitsStored = spec.bitsStored > 0 ? spec.bitsStored : spec.bitsAllocated;
    ds->putAndInsertUint16(DCM_BitsStored, static_cast<Uint16>(bitsStored));
    ds->putAndInsertUint16(DCM_HighBit, static_cast<Uint16>(bitsStored - 1));
    ds->putAndInsertUint16(DCM_PixelRepresentation, static_cast<Uint16>(spec.pixelRepresentation));

    for (const auto& element : spec.extra) {
        const DcmTagKey key(element.first.first, element.first.second);
        OFCondition cond = ds->putAndInsertString(key, element.second.c_str());
        if (cond.bad())
            return fail(error, "cannot set an extra element", cond);
    }

    const std::vector<uint8_t> bytes = pixelBytes(spec);
    OFCondition cond;
    if (spec.bitsAllocated == 8)
        cond = ds->putAndInsertUint8Array(DCM_PixelData, bytes.data(), static_cast<unsigned long>(bytes.size()));
    else
        cond = ds->putAndInsertUint16Array(DCM_PixelData, reinterpret_cast<const Uint16*>(bytes.data()),
                                           static_cast<unsigned long>(bytes.size() / 2));
    if (cond.bad())
        return fail(error, "cannot set the pixel data", cond);
    for (const auto& element : spec.omit)
        delete ds->remove(DcmTagKey(element.first, element.second));
    E_TransferSyntax syntax = EXS_LittleEndianExplicit;
    if (spec.jpegLS) {
        static std::once_flag registered;
        std::call_once(registered, [] { DJLSEncoderRegistration::registerCodecs(); });
        syntax = EXS_JPEGLSLossless;
        cond = ds->chooseRepresentation(syntax, nullptr);
        if (cond.bad() || !ds->canWriteXfer(syntax))
            return fail(error, "cannot compress the pixels", cond);
        // The codec pads a frame of odd length with whatever its buffer held: make it the zero
        // byte, so that the same pixels always give the same file.
        DcmElement* element = nullptr;
        DcmPixelSequence* sequence = nullptr;
        if (ds->findAndGetElement(DCM_PixelData, element).good() &&
            static_cast<DcmPixelData*>(element)->getEncapsulatedRepresentation(syntax, nullptr, sequence).good() &&
            sequence) {
            // Walked along the list (getItem(i) would walk it from its head for every fragment);
            // the first item is the offset table.
            DcmObject* first = sequence->nextInContainer(nullptr);
            for (DcmObject* o = first ? sequence->nextInContainer(first) : nullptr; o; o = sequence->nextInContainer(o)) {
                auto* item = static_cast<DcmPixelItem*>(o);
                Uint8* data = nullptr;
                if (item->getUint8Array(data).bad() || !data)
                    continue;
                const Uint32 length = item->getLength();
                if (length >= 3 && data[length - 3] == 0xff && data[length - 2] == 0xd9)
                    data[length - 1] = 0;
            }
        }
    }
    cond = file.saveFile(path.c_str(), syntax);
    if (cond.bad())
        return fail(error, "cannot write " + path, cond);
    return true;
}

bool writeSparseDicomFile(const std::string& path, ImageSpec spec, std::string* error)
{
    const uint64_t bytes = uint64_t(spec.columns) * spec.rows * spec.frames * spec.samplesPerPixel * (spec.bitsAllocated / 8);
    spec.pixels.assign(2, 0);
    spec.omit.push_back({0x7FE0, 0x0010});
    if (spec.jpegLS || !writeDicomFile(path, spec, error))
        return false;
    // Explicit VR little endian: the pixel data element goes last, its value left as a hole.
    const uint8_t header[12] = {0xE0, 0x7F, 0x10, 0x00, 'O', spec.bitsAllocated == 8 ? uint8_t('B') : uint8_t('W'), 0, 0,
                                uint8_t(bytes), uint8_t(bytes >> 8), uint8_t(bytes >> 16), uint8_t(bytes >> 24)};
    std::ofstream(path, std::ios::binary | std::ios::app).write(reinterpret_cast<const char*>(header), sizeof header);
    std::error_code failed;
    std::filesystem::resize_file(path, std::filesystem::file_size(path) + bytes, failed);
    if (failed && error)
        *error = "cannot extend " + path + ": " + failed.message();
    return !failed;
}

bool writeStack(const std::string& folder, const ImageSpec& spec, int n, double spacing, int firstInstance,
                const std::string& prefix)
{
    const double* o = spec.orientation;
    const double normal[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
    ImageSpec slice = spec;
    for (int k = 0; k < n; ++k) {
        for (int a = 0; a < 3; ++a)
            slice.position[a] = spec.position[a] + k * spacing * normal[a];
        slice.instanceNumber = firstInstance + k;
        char name[64];
        std::snprintf(name, sizeof(name), "%s%04d.dcm", prefix.c_str(), k);
        if (!writeDicomFile(folder + "/" + name, slice))
            return false;
    }
    return true;
}

} // namespace qvgen
