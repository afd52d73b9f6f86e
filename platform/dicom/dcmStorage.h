// Received objects (internal): the storage server and the retrieval write what arrives over
// the network by the same rules, so one instance always lands at one path and is described by
// one record, whichever way it came.
//
// Values are read as the import reads files (UTF-8, padding removed), so a received file and
// the same file imported get the same folder. Writing goes through a temporary file and a
// rename: a file at its final path is always complete, and a second copy of an instance
// replaces the first.
#pragma once

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/dimse.h>

#include <functional>
#include <string>

#include "dcmFile.h"
#include "dcmLib.h"
#include "dcmNetwork.h"
#include "dcmPixels.h"

namespace redIRI {
namespace detail {

class ReceivedObject {
 public:
  // Takes over a data set received in `xfer`. `requestedSopUid` is the SOP Instance UID of the
  // C-STORE request, used when the data set carries none.
  ReceivedObject(DcmDataset* dataset, E_TransferSyntax xfer, int language, const std::string& requestedSopUid);

  // A value as UTF-8 text, "" when absent.
  std::string value(Uint16 group, Uint16 element);

  // "patient/study/series" below a storage root (no trailing "/").
  std::string dicomFolder();
  // The file name: the SOP Instance UID when it is a plain UID, else a hash of it.
  std::string fileName();

  // Writes the object as folder + fileName() (folder absolute, ending in "/"). A file that would
  // leave the disk less than the room kept for the library's index is not kept (a full disk). The
  // file appears there only complete: it is written unnamed in `folder` and then linked, or, where the system
  // has no unnamed files, written in tempFolder (same file system) and renamed. False with the
  // reason in `error`; no file is left behind then. Before the file gets its name, its bytes are
  // walked as the library walks a file it opens (the tree it was written from is the one the
  // library's parse would build, and is not parsed again): one the library would refuse is not
  // kept (unreadable() then).
  bool write(const std::string& folder, const std::string& tempFolder, std::string& error);

  // The record of the stored file: texts cut at character boundaries, empty identifying values
  // replaced, sex as "F", "M" or "U", times cut to HHMMSS. seriesFolder ends in "/".
  DCM_MESSAGE* record(const std::string& seriesFolder);

  // Whether the last write failed because the written file could not be read back.
  bool unreadable() const { return m_unreadable; }

  // Marks the object as one its receiver did not ask for (a retrieval's image of another series):
  // `write` then returns false and the peer is refused it as an object the receiver cannot
  // understand, with `why` (plain text of at most 64 characters) as the answer's error comment.
  void refuse(const std::string& why) { m_refusal = why; }
  const std::string& refusal() const { return m_refusal; }

 private:
  bool readsBack(const char* path, const std::string& final, std::string& error);
  // Whether the written file leaves the disk the room the library's index keeps to grow into; false
  // with the reason when not (the file is then not kept).
  bool leavesRoomForIndex(const std::string& folder, std::string& error);
  std::string sopUid();
  // Writes the file (meta header and data set) into the open file; false with the reason.
  bool saveTo(int fd, std::string& error);

  DicomFile m_file;
  E_TransferSyntax m_xfer;
  std::string m_requestedSopUid;
  bool m_unreadable = false;
  std::string m_refusal;
};

// Writes `format` (meta header and data set) into the open file fd through the one writer
// (diskWrite.h), as DcmFileFormat::saveFile writes a file: false with the reason in `error`, the
// system's own (a full disk) where there is one.
bool writeFileFormat(int fd, DcmFileFormat& format, E_TransferSyntax xfer, E_EncodingType encoding,
                     E_FileWriteMode mode, std::string& error);

// The most bytes a received data set may take as sent. The library opens no image whose pixel
// data declares more than kMaxDecodedBytes, and what an image carries besides is small beside it:
// per-frame functional groups of a few thousand frames take tens of megabytes, overlay planes
// for every frame a sixteenth of 16-bit pixel data (64 MiB at the bound), icons and lookup tables
// less. kNonPixelDataMargin, 256 MiB, leaves that several times over, so no image the library
// would open is refused. A larger data set is dropped as it arrives instead of held twice in
// memory (its bytes, then DCMTK's parse of them), and refused "out of resources".
constexpr uint64_t kNonPixelDataMargin = uint64_t(256) << 20;
constexpr uint64_t kMaxReceivedDataSetBytes = kMaxDecodedBytes + kNonPixelDataMargin;
// Sets the bound serveStoreRequest holds data sets to (read by every serving thread): tests lower
// it, as they cannot send a gigabyte, and set it back with no argument.
void setReceivedDataSetLimit(size_t bytes = kMaxReceivedDataSetBytes);

// Serves one C-STORE request whose command has arrived: receives its data set, lets `write`
// place it, answers the peer (success, or "out of resources" when `write` returned false, "cannot
// understand" with an error comment when it refused the object as not asked for) and
// then, for a written object, calls `stored`. A data set that is empty, lacks its SOP Class or
// Instance UID or names others than the request is refused ("data set does not match SOP
// class") and logged with `who`; nothing is written then. So is one that cannot be parsed or that
// the structural walk refuses, and one whose written file does not read back ("cannot
// understand"): whatever is acknowledged with success is listed and opened by the library. One
// larger than the bound above, or one that finds no room in the receive budget (ServerBounds) for
// its bytes, is read to its end without being kept and refused "out of resources"; so is one whose
// tree finds no room, and one whose file cannot be read back for want of descriptors or memory (the
// peer may retry). Each data set is parsed once. Refusals are logged with `who` and `peer`. False
// when the association broke; the reason is in `error`. `refused`, when given, gets the reason of
// a refusal made before `write` is called ("" otherwise).
bool serveStoreRequest(const char* who, const std::string& peer, T_ASC_Association* assoc,
                       T_ASC_PresentationContextID presId, T_DIMSE_C_StoreRQ& request, int language, int dimseTimeout,
                       const std::function<bool(ReceivedObject&)>& write,
                       const std::function<void(ReceivedObject&)>& stored, std::string& error,
                       std::string* refused = nullptr);

// The record of a stored image, read from `file` by the rules every way into the library shares
// (storage server, retrieval, import): texts cut at character boundaries, empty identifying values
// replaced, sex as "F", "M" or "U", times cut to HHMMSS, InstanceNumber "0" when empty.
// `sopUid` is the instance's SOP Instance UID as it was found; `fileName` and `seriesFolder` (ending
// in "/") say where the file is stored.
void fillStoredRecord(DicomFile& file, const std::string& sopUid, const std::string& fileName,
                      const std::string& seriesFolder, DCM_MESSAGE& record);

// Creates a folder and its missing parents. False with the reason.
bool makeFolders(const std::string& path, std::string& error);

}  // namespace detail
}  // namespace redIRI
