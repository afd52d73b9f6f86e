// The DICOM layer: everything the program does with DICOM files goes through the classes and
// callbacks declared here (namespace redIRI), built over DCMTK, with JPEG 2000 frames decoded
// by libopenjp2.
//
// What it is for:
//   - dcmReader: one file's tags as UTF-8 text and its pixels, decoded from every common
//     transfer syntax and normalised (see readDicomPixelPointer), plus a PNG rendering;
//   - dcmReadTag: one file's tag table for display, single tags and the image aspect ratio;
//   - dcmConvertor: writing a Secondary Capture file from pixels in memory;
//   - the five program callbacks (log, message, legacy-text conversion, file reading, PNG
//     saving) and rediri_destroy, which ends the library at shutdown.
// What it is not: it reads no settings, touches no UI, and knows nothing of the framework.
//
// Rules that hold for every class:
//   - Every text returned is UTF-8 and NUL-terminated. Cuts never split a character.
//   - No exception crosses this interface: failures are false, null or empty results, and
//     the reason goes to the log callback as one line naming what failed and on what.
//   - Separate objects may be used on separate threads at once; one object must not be used
//     by two threads at the same time. All calls here block the calling thread.
//   - The library initialises itself on first use. After rediri_destroy every call fails
//     without calling back.
#pragma once

#include <string>

namespace redIRI {

// ---- Callbacks, installed by the program at start-up ----------------------------------------

// One complete log line per call, without a trailing newline. May be called from any thread.
typedef void (*LogCallback)(const char* text);
// Library events for the program (codes 0..11). Calls are serialised. The text is valid only
// during the call, except for code 3, where it is a DCM_MESSAGE* whose ownership passes to
// the program (free it with delete).
typedef void (*MsgCallback)(int code, const char* text);
// Converts a legacy (GB18030) text to UTF-8. The callback zeroes `out` and writes at most
// outSize - 1 bytes. Used only for undeclared texts that are not valid UTF-8 while the
// language is chinese; without it, or when its output is not UTF-8, the library converts
// by itself.
typedef void (*Gb2Utf8Callback)(const char* in, char* out, int outSize);
// Reads a whole file into a new[] buffer of size + 10 bytes (freed by the caller with
// delete[]). Kept for the program's interface; this library opens files by their UTF-8
// paths and never calls it.
typedef char* (*ReadFileCallback)(const char* path, unsigned long* size, bool raw);
// Writes an 8-bit RGB PNG: rgb holds width * height * 3 bytes, rows from the top. Returns
// true when the file was written. Used by dcmReader::convertToPngFile only.
typedef bool (*SavePngCallback)(int width, int height, unsigned char* rgb, const char* path);

void setLogCallback(LogCallback callback);
void setMsgCallback(MsgCallback callback);
void setgb2utf8Callback(Gb2Utf8Callback callback);
void setReadFileCallback(ReadFileCallback callback);
void setSavePngCallback(SavePngCallback callback);

// Ends the library at shutdown: stops and waits for every library thread, deregisters the
// decoders and clears the callbacks. No callback runs after it returns; a second call does
// nothing; objects used afterwards fail without calling back.
void rediri_destroy();

// ---- Records ---------------------------------------------------------------------------------

// One stored image, as the storage server and the import describe it: sixteen texts of 256
// bytes and two paths of 1024 bytes, each NUL-terminated UTF-8, cut at a character boundary.
// Allocated with new; whoever receives it through the message callback (code 3) deletes it.
struct DCM_MESSAGE {
  char Modality[256];
  char StudyInstanceUID[256];
  char StudyID[256];
  char StudyDate[256];
  char StudyTime[256];  // first 6 characters (HHMMSS)
  char SeriesInstanceUID[256];
  char SeriesDate[256];
  char SeriesTime[256];  // first 6 characters (HHMMSS)
  char StudyDescription[256];
  char SeriesDescription[256];
  char SOPInstanceUID[256];
  char PatientName[256];
  char PatientID[256];
  char PatientBirthDate[256];
  char PatientSex[256];
  char InstanceNumber[256];
  char FileName[1024];
  char SeriesFolder[1024];  // relative to the library root, ending in "/"
};
static_assert(sizeof(DCM_MESSAGE) == 6144, "DCM_MESSAGE is a fixed 6144-byte record");

// ---- dcmReader: one file, its tags and its pixels --------------------------------------------

class dcmReader {
 public:
  // The element format of readDicomPixelPointer. Signedness of 16-bit grey comes from
  // Pixel Representation (0028,0103), which the caller reads itself.
  enum PixelType {
    PIXEL_GREY8 = 0,   // one byte per element
    PIXEL_GREY16 = 1,  // two bytes per element, host byte order
    PIXEL_RGB24 = 2,   // three bytes per element, R, G, B
  };

  dcmReader();
  ~dcmReader();
  dcmReader(const dcmReader&) = delete;
  dcmReader& operator=(const dcmReader&) = delete;

  // The framework's language value (0 english, 1 chinese, ...). It only chooses how texts of
  // files that declare no character set are read when they are not UTF-8.
  void setLanguage(int language);

  // Parses one file's tags; pixel data stays on disk. False when the file cannot be opened
  // or is not DICOM (logged). Discards the previous file and its pixels.
  bool setFile(const char* path);

  // The value of one element as UTF-8 text: padding removed, multiple values joined by "\",
  // numbers in decimal. Looked up in the data set, then in the file meta header; the
  // radiopharmaceutical timing and dose tags also in the first item of (0054,0016). Cut to
  // size - 1 bytes at a character boundary. False when the element is absent (buffer
  // untouched); true with "" for an empty element.
  bool readDicomTagString(unsigned short group, unsigned short element, char* buffer, int size);

  // The first value of a US element, or the bit pattern of an SS element. False for any other
  // VR and for an absent element.
  bool readDicomTagUint16(unsigned short group, unsigned short element, unsigned short& value);

  // The pixel format, decided from the header without decoding. False when the file has no
  // pixel data, an unsupported layout, or a transfer syntax this library cannot decode.
  bool readDicomPixelType(PixelType& type);

  // Decodes every frame. Returns a buffer owned by the reader (valid until the next setFile
  // or the reader's destruction) holding rows * columns * frames elements (count): grey
  // samples shifted down to bit 0 and cut to Bits Stored, sign-extended when signed; colour
  // as interleaved RGB (planar data interleaved, YBR converted, palettes expanded). Null with
  // count 0 when decoding fails (logged).
  char* readDicomPixelPointer(PixelType& type, int& count);

  // Renders frame 0 to 8-bit RGB and writes it through the save-PNG callback: grey through
  // the modality rescale and the file's window (when useFileWindow and present) or the
  // frame's range, inverted for MONOCHROME1. False, and no file, without pixels or callback.
  bool convertToPngFile(const char* pngPath, bool useFileWindow);

 private:
  struct State;
  State* m_state;
};

// ---- dcmReadTag: one file's tag table ----------------------------------------------------------

class dcmReadTag {
 public:
  struct DicomTags {
    char tag[16];           // "(GGGG,EEEE)", upper-case hex
    char value[1024];       // display text, cut at a character boundary
    char description[128];  // dictionary keyword, "PrivateTag" or "UnknownTag"
    unsigned char flag;     // 0: standard data-set element; 1: file meta or private element
  };

  dcmReadTag();
  ~dcmReadTag();
  dcmReadTag(const dcmReadTag&) = delete;
  dcmReadTag& operator=(const dcmReadTag&) = delete;

  void setLanguage(int language);
  bool setFile(const char* path);  // as dcmReader::setFile

  // The value of one element by the rules of dcmReader::readDicomTagString, uncut; "" when
  // absent or when no file is set.
  std::string getTag(unsigned short group, unsigned short element);

  // Every element of the file meta header and of the data set's top level, in ascending tag
  // order. The array belongs to the caller, stays valid after this reader is gone, and is
  // freed with freeTagList. Null with count 0 when no file is set.
  DicomTags* getTagList(int& count);
  static void freeTagList(DicomTags* list);

  // Width over height of the image in millimetres: (columns * column spacing) /
  // (rows * row spacing), Pixel Spacing being row\column. A missing or zero spacing counts as
  // 1; missing rows or columns, or no file, give 1.
  float getImageScale();

 private:
  struct State;
  State* m_state;
};

// ---- dcmConvertor: a DICOM file from pixels in memory ------------------------------------------

class dcmConvertor {
 public:
  // Filled by the caller after zeroing.
  struct ConvertRecord {
    char outputPath[1024];
    char sourcePath[1024];  // a DICOM file whose patient and study attributes are copied; may be ""
    char studyUID[65];
    char seriesUID[65];
    char seriesNumber[16];
    char instanceNumber[16];
    char studyID[16];
    int rows, columns;
    float windowWidth, windowCenter;
    float spacing[2];  // [0] column spacing (x), [1] row spacing (y), millimetres
    float position[3], rowDirection[3], columnDirection[3];  // patient coordinates
    float rescaleSlope;  // 0 is read as 1
    bool isSigned;       // 16-bit grey only
    int samplesPerPixel;  // 0 or 1: 16-bit grey words; 3: 8-bit RGB triplets
    const void* pixels;   // rows * columns elements
  };

  // Writes a Secondary Capture image in Explicit VR Little Endian. True only when the whole
  // file was written; on any failure no file is left at outputPath.
  bool convert(const ConvertRecord& record);
};

}  // namespace redIRI
