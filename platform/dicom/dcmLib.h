// The DICOM layer: everything the program does with DICOM files goes through the classes and
// callbacks declared here (namespace redIRI), built over DCMTK, with JPEG 2000 frames decoded
// by libopenjp2.
//
// What it is for:
//   - dcmReader: one file's tags as UTF-8 text and its pixels, decoded from every common
//     transfer syntax and normalised (see readDicomPixelPointer), plus a PNG rendering;
//   - dcmReadTag: one file's tag table for display, single tags and the image aspect ratio;
//   - dcmConvertor: writing a Secondary Capture file from pixels in memory;
//   - dcmServer: the storage server that receives images from other devices into the library;
//   - dcmSender, dcmEcho, dcmFind, dcmGet: sending, verifying peers, querying and retrieving;
//   - the five program callbacks (log, message, legacy-text conversion, file reading, PNG
//     saving) and rediri_destroy, which ends the library at shutdown.
// What it is not: it reads no settings, touches no UI, and knows nothing of the framework.
//
// Rules that hold for every class:
//   - Every text returned is UTF-8 and NUL-terminated. Cuts never split a character.
//   - No exception crosses this interface: failures are false, null or empty results, and
//     the reason goes to the log callback as one line naming what failed and on what.
//   - The file classes (dcmReader, dcmReadTag, dcmConvertor) block the calling thread; separate
//     objects may be used on separate threads at once, one object by one thread at a time.
//   - The network classes may be called from any thread and never wait on the network: their
//     work runs on library threads, which report through the message callback only. Their
//     stop() ends the object for good (nothing further starts, no further message); the
//     destructor stops it too and waits for its threads.
//   - The message callback may call any network object, its own included, from whichever
//     library thread it runs on: no object holds a lock of its own while it calls the program.
//     The calls that end messages (stop(), and dcmFind's new search and giveUp) return only once a
//     message of the object being delivered on another thread has been delivered, so that none
//     follows them; a callback must therefore not wait for a thread making such a call on its
//     object. Destroying an object from the callback is not allowed (it waits for its threads).
//   - The library initialises itself on first use. After rediri_destroy every call fails
//     without calling back.
#pragma once

#include <memory>
#include <string>
#include <vector>

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

// Whether the bound the library holds DCMTK's parse to (nesting and size of what one file or data
// set builds) is in effect; checked once as the library starts. When it is not (a DCMTK that
// calls its own readers directly), the library fails closed: it parses no bytes it did not write
// itself. The storage server does not start, data sets from peers (query answers, retrieved
// images) are refused, and the program refuses to import; images already stored still open.
bool rediri_parseBounded();

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

  // The record of the file set last, for a copy of it stored in the library: the record the
  // storage server sends with code 3 for a received image, by the same rules (values, empty-value
  // replacements, cuts). SeriesFolder is getDicomFolder(...) + "/"; FileName is the SOP Instance
  // UID when it is a plain UID, else the file's own name made a safe file name ("" when the path
  // names none). False, and the record untouched, when no file is set.
  bool getDicomMessage(DCM_MESSAGE& record);

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
    char studyID[17];  // SH: up to 16 characters
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

// ---- dcmServer: the storage server ------------------------------------------------------------

// Receives images (C-STORE) and answers verification (C-ECHO) on one port of every IPv4
// interface, for any calling and called AE title, answering as its own title. Each image is
// written below the root at <root><getDicomFolder(...)>/<file name> (the SOP Instance UID, or
// a hash of it when it is not a plain UID). The file appears there only complete (written
// unnamed and then linked, or, where the system cannot, through a temporary file in
// <root>.incoming/ and a rename), and a second copy of an instance replaces the first. After the peer has been answered,
// the message callback gets code 3 with a DCM_MESSAGE describing the file. A file that cannot
// be written is answered "out of resources" and announced nowhere.
class dcmServer {
 public:
  dcmServer();
  ~dcmServer();  // stops the server
  dcmServer(const dcmServer&) = delete;
  dcmServer& operator=(const dcmServer&) = delete;

  // Chooses how texts of received files without a declared character set are read (see
  // dcmReader::setLanguage); also the default for query and retrieval answers.
  void setLanguage(int language);
  // localAddresses: the machine's addresses, each followed by "," (kept for the log only;
  // the server listens on every interface). port: "1".."65535". aeTitle: the title the server
  // answers with (at most 16 characters).
  void setPort(const char* localAddresses, const char* port, const char* aeTitle);
  // The library folder, ending in "/"; getRoot returns it as given.
  void setRoot(const char* folder);
  const char* getRoot() const;

  // Binds the port and starts the listener. True once the port is listening (also when the
  // server already runs and listens); false, logged, when the port is invalid, no root is set, or
  // the port is in use. In use, the server still runs: it tries the port again and again, quietly,
  // a few seconds apart at most, and listens as soon as it is free (logged then).
  bool BeginDicomServer();
  // Whether the port is listening now. When its listening socket fails (closed or shut down from
  // outside), the server logs it once, closes it and opens it again, a few seconds apart at most.
  bool isListening() const;
  // How many times the listening socket has failed since this object was made, counting a socket
  // that fails again soon after it was opened again as one: for the program to tell the user once.
  unsigned getPortFailures() const;
  // Stops accepting at once, lets associations finish the message in progress (at most one
  // DIMSE timeout, 10 s) and returns when every server thread has ended; the port is free
  // afterwards. The server may be begun again.
  void StopDicomServer();

  // "patient/study/series" below the root (no trailing "/"), each component made safe: the
  // patient component is PatientName + "_" + PatientID (with a hash of the two appended when
  // either holds "_", so two patients never share it); empty values are replaced
  // ("ANONYMOUS", "EmptyID", "unknownStudy", "unknownSeries"). Pure; NUL-terminated in out.
  static void getDicomFolder(const char* patientName, const char* patientID, const char* studyUID,
                             const char* seriesUID, char out[1024]);

 private:
  struct Core;
  std::shared_ptr<Core> m_core;
  int m_hook;
};

// ---- dcmSender: sending files to a peer (C-STORE) -------------------------------------------------

// One transfer at a time, to the address set by setIP, calling AE "tolvrane", called AE
// "ANY-SCP". Messages of one transfer: code 0 ({"taskID":"<id>","value":"<percent>"}) after
// each file, then exactly one of code 1 (every file stored) or code 2 (anything failed:
// nothing to send, connection or association refused, a file refused or not stored).
class dcmSender {
 public:
  dcmSender();
  ~dcmSender();
  dcmSender(const dcmSender&) = delete;
  dcmSender& operator=(const dcmSender&) = delete;

  void setIP(const char* address, const char* port);
  // Starts sending `path`: one file, or every DICOM file below a folder (recursively, in name
  // order; anything that is not DICOM, such as thumbnails, is skipped). Returns at once. False,
  // with nothing sent and no message, while a transfer runs (or after stop); otherwise
  // isSending() is already true when it returns.
  bool send(unsigned int taskId, const char* path);
  // True from send() until the final message of that transfer has been delivered.
  bool isSending() const;
  // Ends the object: the transfer stops before its next file, its association is aborted,
  // and no further message is sent.
  void stop();

 private:
  struct Core;
  std::shared_ptr<Core> m_core;
  int m_hook;
};

// ---- dcmEcho: verification of peers (C-ECHO) ----------------------------------------------------

// Entries are "name,address,port" for known nodes (sweep false) or "address,port" for a sweep
// of possible hosts (sweep true). Every known node is answered with code 4, success or not;
// a sweep reports only the hosts that answered. Code 4 text:
// {"ok":"1"|"0","appid":"dicom_<address>_<port>","name":"<name>","port":"<port>","ip":"<address>"}
// where a swept host's name is its responding AE title (or its address when that is
// "ANY-SCP"). Up to 16 entries run at once; one sweep at a time (a sweep asked for while one
// runs is ignored); a known node already waiting or running is not queued twice.
class dcmEcho {
 public:
  dcmEcho();
  ~dcmEcho();
  dcmEcho(const dcmEcho&) = delete;
  dcmEcho& operator=(const dcmEcho&) = delete;

  // Copies the entries and returns at once.
  void echo(char** entries, int count, bool sweep);
  void stop();

 private:
  struct Core;
  std::shared_ptr<Core> m_core;
  int m_hook;
};

// ---- dcmFind: study and series queries (C-FIND, Study Root) -------------------------------------

// Queries run one at a time, in call order. Each match gives code 5: "gggg,eeee[value]" pairs
// (lower-case hex) separated by one space, every requested key present ("[]" when empty), with
// "[" and "]" in values turned into "(" and ")" and any "hhhh,hhhh" in a value written
// "hhhh.hhhh", so a value never reads as a key; each value is cut to 255 bytes at a character
// boundary, as DCM_MESSAGE's texts are. Study answers never hold "0008,0060"; series answers
// always do. A failed query gives code 6 ("find failed: <reason>"); a search cut at its
// bound of matches gives code 6 once ("find cut: ..."); a query without matches gives nothing.
class dcmFind {
 public:
  dcmFind();
  ~dcmFind();
  dcmFind(const dcmFind&) = delete;
  dcmFind& operator=(const dcmFind&) = delete;

  // The called AE title used when a query passes "" (default "ANY-SCP").
  void setDefaultCalledAETitle(const char* title);
  // The calling title is always "tolvrane"; callingAE is accepted for the interface only.
  // Studies whose Patient's Name matches `pattern` ("*name*"). A new search: the queries of
  // earlier searches, waiting or running, are given up and report nothing once this returns.
  void findPatientByName(const char* address, const char* port, const char* callingAE, const char* calledAE,
                         const char* pattern);
  // The series of one study.
  void findStudyByUID(const char* address, const char* port, const char* callingAE, const char* calledAE,
                      const char* studyUID);
  // True while a query waits or runs.
  bool isFinding();
  // Gives up every query, waiting or running; they report nothing once this returns.
  void giveUp();
  void stop();

 private:
  struct Core;
  std::shared_ptr<Core> m_core;
  int m_hook;
};

// ---- dcmGet: series retrieval (C-GET, Study Root) -------------------------------------------------

// Retrievals run one at a time in queue order. Files are written to
// <saveFolder><series component>/<file name> (as the storage server names them). Messages of
// one retrieval: code 9 (the series UID) when it starts, that is when its image-level query
// begins: it runs from there (getRunningSeries) until its last messages; code 7
// ("<seriesUID>|<remaining>|<completed>|<failed>|<warning>", the peer's counts) per counted
// response, the last with remaining "0"; on success code 8 (the series download folder, ending in
// "/") and then code 10 ("<seriesUID>|<patientName>(<seriesNumber>,<modality>)", "|" in the UID
// made "_"); on failure or cancellation code 11: the ten task fields, then the number of images
// its series folder holds, the number the series holds (0 when not known) and why it failed, all
// joined by ",". The reason is one line of clean UTF-8 (no control characters) of at most 1024
// bytes, whatever the peer's answers put into it; it names a few of the classes the program cannot
// take and counts the rest ("and N images of M more classes").
//
// Before the C-GET an image-level C-FIND learns the SOP classes of the series' images, and the
// storage contexts are proposed for those; the usual image classes are proposed when the peer does
// not say, lists more images than a search may hold, or has not listed them within a minute (the
// query is cancelled then). A class the peer accepted no context for is named in the failure.
//
// A retrieval succeeds only when every image the series holds was written: as many as the
// image-level query counted, or, when the peer did not say, as its C-GET counts add up to. It fails
// when the association is refused or lost, the peer stops answering, the final status is a
// failure or cancel, a sub-operation failed, fewer images than the series holds were written, or
// the program itself refused an image, whatever the peer answers then: its reason says
// "the disk is full" when the disk was (whether or not the program had told the user before), else
// how many images the program refused and why the first was.
//
// Only a whole series is handed on (code 8): what a failed retrieval stored stays in its series
// folder, never reported as a series, until a later retrieval of the series succeeds (the files
// arriving again replace their namesakes, and the folder is handed on whole) or the failed
// retrieval is discarded (discardSeries).
class dcmGet {
 public:
  dcmGet();
  ~dcmGet();
  dcmGet(const dcmGet&) = delete;
  dcmGet& operator=(const dcmGet&) = delete;

  void setDefaultCalledAETitle(const char* title);  // as dcmFind
  // Queues a retrieval and returns at once; a series already waiting or running is not queued
  // twice.
  void getSeriesByUID(const char* address, const char* port, const char* callingAE, const char* calledAE,
                      const char* studyUID, const char* seriesUID, const char* saveFolder,
                      const char* patientName, const char* seriesNumber, const char* modality);
  // The waiting and running retrievals.
  int getListSize();
  // The series UID of the retrieval that runs, "" when none runs: from its start (its code 9 follows
  // at once), its image-level query included, until its last messages (code 8, 10 or 11), which
  // come once it no longer runs. getList lists it first.
  std::string getRunningSeries();
  // Writes the waiting and running retrievals into buffer as one NUL-terminated text of at
  // most bufferSize - 1 bytes: records separated by "@", each the ten fields in argument order
  // separated by "," ("," and "@" inside fields become "_"). Whole records only; returns how
  // many were written.
  int getList(char* buffer, int bufferSize);
  // A waiting retrieval is dropped silently; a running one is cancelled and ends with code 11.
  void removeTask(const char* seriesUID);
  // Removes the series folder below saveFolder with what a failed retrieval of the series left
  // in it; nothing while a retrieval of the series waits or runs. Where the series folder is a
  // link, the link alone goes. Returns at once: the folder goes on the retrievals' thread, before
  // its next retrieval (nothing is written into it meanwhile); a stop ends the removal.
  void discardSeries(const char* saveFolder, const char* seriesUID);
  // The folder below saveFolder where the series' files are written (ends in "/").
  static std::string seriesFolderOf(const char* saveFolder, const char* seriesUID);
  // The retrievals that left images below saveFolder without completing (in this run or an
  // earlier one), one text each as code 11 carries it, from the record each series folder keeps
  // (or, without one, from its images, the address and port then empty). Folders that hold no
  // image, or none of the series they are named after, and unfinished temporary files are
  // removed, each with a log line; a link is left alone, and so is what it leads to. Series
  // waiting, running or retrieved by this object (whose own messages tell of them) are left out;
  // each folder is judged and removed under the queue's lock, so a retrieval begun meanwhile never
  // loses what it writes, nor is listed again when it ended meanwhile. Reads the disk: not for the
  // main thread.
  std::vector<std::string> keptRetrievals(const char* saveFolder);
  void stop();

 private:
  struct Core;
  std::shared_ptr<Core> m_core;
  int m_hook;
};

}  // namespace redIRI
