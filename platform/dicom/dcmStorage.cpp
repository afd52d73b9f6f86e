#include "dcmStorage.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcostrmf.h>
#include <dcmtk/dcmdata/dcwcache.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <dcmtk/ofstd/ofstd.h>

#include "dcmDiskWrite.h"
#include "dcmLibrary.h"
#include "dcmNaming.h"
#include "dcmParseBound.h"
#include "dcmStreams.h"
#include "dcmText.h"
#include "dcmWalk.h"

namespace redIRI {
namespace detail {

namespace {

template <size_t N>
void put(char (&field)[N], const std::string& value) {
  text::copyCut(value, field, N);
}

std::string orDefault(const std::string& value, const char* replacement) {
  return value.empty() ? std::string(replacement) : value;
}

}  // namespace

bool makeFolders(const std::string& path, std::string& error) {
  // Nearly always the folder exists already (every image of a series goes to the same one).
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  std::string partial;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    partial = path.substr(0, slash);
    if (!partial.empty() && ::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
      error = "cannot create folder \"" + partial + "\": " + std::strerror(errno);
      return false;
    }
    start = slash + 1;
  }
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = "\"" + path + "\" is not a folder";
    return false;
  }
  return true;
}

ReceivedObject::ReceivedObject(DcmDataset* dataset, E_TransferSyntax xfer, int language,
                               const std::string& requestedSopUid)
    : m_xfer(xfer), m_requestedSopUid(requestedSopUid) {
  m_file.setLanguage(language);
  // The file format takes the data set over without copying it.
  m_file.adopt(std::make_unique<DcmFileFormat>(dataset, OFFalse), "received object");
}

std::string ReceivedObject::value(Uint16 group, Uint16 element) {
  return m_file.valueText(m_file.find(group, element));
}

std::string ReceivedObject::sopUid() {
  std::string uid = value(0x0008, 0x0018);
  return uid.empty() ? m_requestedSopUid : uid;
}

std::string ReceivedObject::dicomFolder() {
  return naming::dicomFolder(value(0x0010, 0x0010), value(0x0010, 0x0020), value(0x0020, 0x000D),
                             value(0x0020, 0x000E));
}

std::string ReceivedObject::fileName() { return naming::instanceFileName(sopUid()); }

bool writeFileFormat(int fd, DcmFileFormat& format, E_TransferSyntax xfer, E_EncodingType encoding,
                     E_FileWriteMode mode, std::string& error) {
  FILE* file = disk::openStream(fd);
  if (!file) {
    error = std::string("cannot write the file: ") + std::strerror(errno);
    return false;
  }
  // As DcmFileFormat::saveFile does, but into the open file, through the one writer.
  DcmOutputFileStream stream(file);  // closes its copy of the descriptor when it ends
  DcmWriteCache cache;
  // DCMTK names a refused write only as a stream that ended early; the system's reason (a full
  // disk) is the one the writer kept for this thread.
  disk::clearLastError();
  format.transferInit();
  OFCondition cond = format.write(stream, xfer, encoding, &cache, EGL_recalcGL, EPD_noChange, 0, 0, 0, mode);
  format.transferEnd();
  if (cond.good()) {
    stream.flush();
    cond = stream.status();
  }
  if (cond.bad()) {
    const int why = disk::lastError();
    error = std::string("cannot write the file: ") + (why ? std::strerror(why) : cond.text());
    return false;
  }
  // Whatever the C library still buffers must reach the file now, where a failure can be seen.
  if (std::fflush(file) != 0 || std::ferror(file)) {
    const int why = disk::lastError();
    error = std::string("cannot write the file: ") + std::strerror(why ? why : errno);
    return false;
  }
  return true;
}

bool ReceivedObject::saveTo(int fd, std::string& error) {
  // Written in the transfer syntax it arrived in, with a new file meta header.
  return writeFileFormat(fd, *m_file.fileFormat(), m_xfer, EET_ExplicitLength, EWM_createNewMeta, error);
}

namespace {

// Kernels and file systems without unnamed temporary files (or without /proc to name one
// by) are found out once; from then on every image takes the named temporary file.
std::atomic<bool> g_unnamedTemporaries{true};

// A name no other writer of this process or another uses at the same moment.
std::string uniqueName(const char* prefix) {
  static std::atomic<unsigned long> counter{0};
  return std::string(prefix) + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

}  // namespace

bool ReceivedObject::write(const std::string& folder, const std::string& tempFolder, std::string& error) {
  if (!makeFolders(folder, error)) return false;
  const std::string final = folder + fileName();

  // The file is written as an unnamed file in its series folder and gets its name only once it
  // is complete: no reader ever sees part of it, a crash leaves nothing behind, and the connections
  // storing at once never queue on one shared folder. An earlier copy of the instance is replaced
  // in one step through a hidden name beside it.
  if (g_unnamedTemporaries.load(std::memory_order_relaxed)) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::fchmod(fd, 0644);
      char self[64];
      std::snprintf(self, sizeof(self), "/proc/self/fd/%d", fd);
      if (!saveTo(fd, error) || !leavesRoomForIndex(folder, error) || !readsBack(self, final, error)) {
        ::close(fd);
        return false;
      }
      bool linked = ::linkat(AT_FDCWD, self, AT_FDCWD, final.c_str(), AT_SYMLINK_FOLLOW) == 0;
      int linkError = linked ? 0 : errno;
      if (!linked && linkError == EEXIST) {
        const std::string hidden = folder + uniqueName(".incoming-");
        linked = ::linkat(AT_FDCWD, self, AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0;
        linkError = linked ? 0 : errno;
        if (linked && ::rename(hidden.c_str(), final.c_str()) != 0) {
          error = "cannot move the file to \"" + final + "\": " + std::strerror(errno);
          ::unlink(hidden.c_str());
          ::close(fd);
          return false;
        }
      }
      ::close(fd);
      if (linked) return true;
      const bool noProc = linkError == ENOENT && ::access("/proc/self/fd", F_OK) != 0;
      if (!noProc && linkError != EPERM && linkError != EOPNOTSUPP) {
        disk::noteFailure(linkError);
        error = "cannot move the file to \"" + final + "\": " + std::strerror(linkError);
        return false;
      }
      g_unnamedTemporaries = false;
    } else if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
      g_unnamedTemporaries = false;
    } else {
      disk::noteFailure(errno);
      error = "cannot create a file in \"" + folder + "\": " + std::strerror(errno);
      return false;
    }
  }

  // Otherwise through a named temporary file in tempFolder and a rename.
  if (!makeFolders(tempFolder, error)) return false;
  std::string pattern = tempFolder + "incoming-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = "cannot create a temporary file in \"" + tempFolder + "\": " + std::strerror(errno);
    return false;
  }
  ::fchmod(fd, 0644);
  const std::string temp(name.data());
  const bool saved = saveTo(fd, error) && leavesRoomForIndex(folder, error) && readsBack(temp.c_str(), final, error);
  ::close(fd);
  if (!saved) {
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), final.c_str()) != 0) {
    error = "cannot move the file to \"" + final + "\": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool ReceivedObject::leavesRoomForIndex(const std::string& folder, std::string& error) {
  if (disk::freeBytes(folder) >= disk::kKeptForIndexBytes) return true;
  // Acknowledged, the image would have to be listed; its rows need room the image would take.
  disk::noteFailure(ENOSPC);
  error = "the disk is full (its last " + std::to_string(disk::kKeptForIndexBytes >> 20) +
          " MiB are kept for the library's index)";
  return false;
}

bool ReceivedObject::readsBack(const char* path, const std::string& final, std::string& error) {
  // What is acknowledged is always listed and opened later. The library opens a file by walking its
  // meta group and data set (walkDataSet) and then letting DCMTK parse them; the data set here is
  // DCMTK's own encoding of the tree it parsed from the received bytes, within the same bound, so
  // only the walk of what was written is left to do: it is run as the library's open runs it (a
  // file of DCMTK's writing can still fail it: a data set of empty items of undefined length
  // halves on disk, and its tree may then cost more than the file's bytes allow). The tree is not
  // parsed a second time: two trees of a dense data set were twice the memory.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    const int openError = errno;
    if (fd >= 0) ::close(fd);
    // Out of descriptors or memory: the same file reads back later, so the peer is told to retry
    // rather than that its object cannot be understood.
    const bool transient = openError == EMFILE || openError == ENFILE || openError == ENOMEM;
    m_unreadable = !transient;
    error = transient ? "the written file cannot be read back for now" : "the written file cannot be read back";
    return false;
  }
  const auto blocks = std::make_shared<FileBlocks>(fd, static_cast<offile_off_t>(info.st_size));  // closes fd
  // The meta group DCMTK wrote: preamble, "DICM", then its group length (UL) first.
  const offile_off_t kMetaStart = 132, kLengthAt = 140;
  unsigned char head[kLengthAt + 4 - kMetaStart] = {0};
  const bool hasLength = blocks->read(head, sizeof(head), kMetaStart) == offile_off_t(sizeof(head)) &&
                         head[0] == 0x02 && head[1] == 0x00 && head[2] == 0x00 && head[3] == 0x00 &&
                         head[4] == 'U' && head[5] == 'L';
  const offile_off_t dataSetAt = kLengthAt + 4 + offile_off_t(head[8] | head[9] << 8 | head[10] << 16 | uint32_t(head[11]) << 24);
  std::string unsound = hasLength ? "" : "its file meta group has no group length";
  if (unsound.empty()) {
    DescriptorStream meta(path, blocks, kMetaStart);
    WalkLimits limits;
    limits.lengthsMustFit = false;  // values left in the file are checked when read
    limits.metaGroupOnly = true;
    const OFCondition walked = walkDataSet(meta, EXS_LittleEndianExplicit, "file meta group", limits);
    if (walked.bad()) unsound = walked.text();
  }
  if (unsound.empty()) {
    DescriptorStream data(path, blocks, dataSetAt);
    WalkLimits limits;
    limits.lengthsMustFit = false;
    std::string what = "data set";
    if (DcmXfer(m_xfer).getStreamCompression() == ESC_zlib) {
      if (data.installCompressionFilter(ESC_zlib).bad()) unsound = "the deflated data set cannot be inflated";
      what = "deflated data set";
      limits.lengthsMustFit = true;
      limits.limit = kMaxInflatedBytes;
    }
    const OFCondition walked = unsound.empty() ? walkDataSet(data, m_xfer, what, limits) : EC_Normal;
    if (walked.bad()) unsound = walked.text();
  }
  if (unsound.empty() && blocks->status().bad()) unsound = blocks->status().text();
  if (unsound.empty()) return true;
  logLine("stored image check: cannot read \"%s\": %s", final.c_str(), unsound.c_str());
  m_unreadable = true;
  error = "the written file cannot be read back";
  return false;
}

DCM_MESSAGE* ReceivedObject::record(const std::string& seriesFolder) {
  auto* m = new DCM_MESSAGE();
  fillStoredRecord(m_file, sopUid(), fileName(), seriesFolder, *m);
  return m;
}

void fillStoredRecord(DicomFile& file, const std::string& sopUid, const std::string& fileName,
                      const std::string& seriesFolder, DCM_MESSAGE& m) {
  auto value = [&file](Uint16 group, Uint16 element) { return file.valueText(file.find(group, element)); };
  put(m.Modality, value(0x0008, 0x0060));
  put(m.StudyInstanceUID, orDefault(value(0x0020, 0x000D), naming::kUnknownStudy));
  put(m.StudyID, value(0x0020, 0x0010));
  put(m.StudyDate, value(0x0008, 0x0020));
  put(m.StudyTime, value(0x0008, 0x0030).substr(0, 6));
  put(m.SeriesInstanceUID, orDefault(value(0x0020, 0x000E), naming::kUnknownSeries));
  put(m.SeriesDate, value(0x0008, 0x0021));
  put(m.SeriesTime, value(0x0008, 0x0031).substr(0, 6));
  put(m.StudyDescription, value(0x0008, 0x1030));
  put(m.SeriesDescription, value(0x0008, 0x103E));
  put(m.SOPInstanceUID, orDefault(sopUid, naming::kUnknownInstance));
  put(m.PatientName, orDefault(value(0x0010, 0x0010), naming::kAnonymous));
  put(m.PatientID, orDefault(value(0x0010, 0x0020), naming::kEmptyPatientId));
  put(m.PatientBirthDate, value(0x0010, 0x0030));
  const std::string sex = value(0x0010, 0x0040);
  put(m.PatientSex, !sex.empty() && (sex[0] == 'F' || sex[0] == 'M') ? sex.substr(0, 1) : std::string("U"));
  put(m.InstanceNumber, orDefault(value(0x0020, 0x0013), "0"));
  put(m.FileName, fileName);
  put(m.SeriesFolder, seriesFolder);
}

namespace {

std::atomic<size_t> g_receivedDataSetLimit{kMaxReceivedDataSetBytes};
// A data set that held this much gives its memory back to the system when it is gone (small
// images are not worth a walk over the heap).
const uint64_t kGiveBackAfterBytes = uint64_t(32) << 20;

std::string trimmedUid(const char* uid) {
  std::string out = uid ? uid : "";
  while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) out.pop_back();
  return out;
}

// Why a received data set must not be stored ("" when it may): it names the SOP class and
// instance the request announced. Anything else (an empty data set, another object) would be
// stored under placeholder names or replace a good copy of the announced instance.
std::string mismatch(DcmDataset* dataset, const T_DIMSE_C_StoreRQ& request) {
  OFString sopClass, sopInstance;
  if (!dataset || dataset->card() == 0) return "the data set is empty";
  if (dataset->findAndGetOFString(DCM_SOPClassUID, sopClass).bad() || trimmedUid(sopClass.c_str()).empty())
    return "the data set has no SOP Class UID";
  if (dataset->findAndGetOFString(DCM_SOPInstanceUID, sopInstance).bad() ||
      trimmedUid(sopInstance.c_str()).empty())
    return "the data set has no SOP Instance UID";
  if (trimmedUid(sopClass.c_str()) != trimmedUid(request.AffectedSOPClassUID))
    return "its SOP Class UID " + trimmedUid(sopClass.c_str()) + " differs from the request's";
  if (trimmedUid(sopInstance.c_str()) != trimmedUid(request.AffectedSOPInstanceUID))
    return "its SOP Instance UID " + trimmedUid(sopInstance.c_str()) + " differs from the request's";
  return std::string();
}

}  // namespace

void setReceivedDataSetLimit(size_t bytes) { g_receivedDataSetLimit = bytes; }

bool serveStoreRequest(const char* who, const std::string& peer, T_ASC_Association* assoc,
                       T_ASC_PresentationContextID presId, T_DIMSE_C_StoreRQ& request, int language, int dimseTimeout,
                       const std::function<bool(ReceivedObject&)>& write,
                       const std::function<void(ReceivedObject&)>& stored, std::string& error,
                       std::string* refused) {
  // The data set's tree is held to the bound of one parse, and charged to the hold; the file
  // written from it is walked, not parsed again (ReceivedObject::write).
  ParseBound bound;
  DcmDataset* dataset = nullptr;
  T_ASC_PresentationContextID dataPresId = presId;
  std::string why;
  ReceiveHold hold(dimseTimeout * 1000);  // until the data set is answered and gone
  // A large data set's memory goes back to the system before its share of the budget goes back
  // to the others: the allocator would keep it (in this thread's arena, which another thread's
  // data set does not reuse), and the process would hold more than the budget says, and keep it
  // once the associations end. Declared after the hold, ended before it, after everything below.
  struct GiveBack {
    ReceiveHold& hold;
    ~GiveBack() {
      if (hold.peak() >= kGiveBackAfterBytes) ::malloc_trim(0);
      hold.release();
    }
  } giveBack{hold};
  ChargedParses charged(hold);  // the data set's tree
  // From the data set's last byte to the end (its parse, the checks, the write, the answer and the
  // record handed on), the server holds the connection up: none of it is its peer's time, by which
  // a full server judges whose slot to give a newcomer (dcmServerSlots.h). Ends before the hold.
  std::optional<HeldByServer> serverTurn;
  const Receipt receipt = receiveDataSet(assoc, dimseTimeout, dataPresId, dataset, why, g_receivedDataSetLimit,
                                         PastLimit::Drop, &hold, &serverTurn);
  if (receipt == Receipt::Failed) {
    error = "receiving an image failed: " + why;
    return false;
  }
  Uint16 status = STATUS_Success;
  bool written = false;
  std::unique_ptr<ReceivedObject> object;
  const bool unsound = receipt == Receipt::Refused, tooLarge = receipt == Receipt::TooLarge;
  const std::string refusal = unsound || tooLarge ? why : mismatch(dataset, request);
  if (refused) *refused = refusal;
  if (!refusal.empty()) {
    // Nothing is written: an unsound, empty or foreign object never replaces a stored instance.
    logLine("%s: refused the image %s from %s: %s", who, trimmedUid(request.AffectedSOPInstanceUID).c_str(),
            peer.c_str(), refusal.c_str());
    delete dataset;
    status = tooLarge  ? STATUS_STORE_Refused_OutOfResources
             : unsound ? STATUS_STORE_Error_CannotUnderstand
                       : STATUS_STORE_Error_DataSetDoesNotMatchSOPClass;
  } else {
    // Written in the transfer syntax negotiated for it.
    T_ASC_PresentationContext context;
    E_TransferSyntax xfer = dataset->getOriginalXfer();
    if (ASC_findAcceptedPresentationContext(assoc->params, presId, &context).good())
      xfer = DcmXfer(context.acceptedTransferSyntax).getXfer();
    object = std::make_unique<ReceivedObject>(dataset, xfer, language, request.AffectedSOPInstanceUID);
    written = write(*object);
    status = written ? STATUS_Success
             : object->unreadable() || !object->refusal().empty() ? STATUS_STORE_Error_CannotUnderstand
                                                                   : STATUS_STORE_Refused_OutOfResources;
  }
  // The peer is told why an object it need not have sent was refused.
  std::unique_ptr<DcmDataset> statusDetail;
  if (!written && object && !object->refusal().empty()) {
    statusDetail = std::make_unique<DcmDataset>();
    statusDetail->putAndInsertString(DCM_ErrorComment, object->refusal().c_str());
  }

  T_DIMSE_C_StoreRSP response;
  std::memset(&response, 0, sizeof(response));
  response.MessageIDBeingRespondedTo = request.MessageID;
  OFStandard::strlcpy(response.AffectedSOPClassUID, request.AffectedSOPClassUID, sizeof(response.AffectedSOPClassUID));
  OFStandard::strlcpy(response.AffectedSOPInstanceUID, request.AffectedSOPInstanceUID,
                      sizeof(response.AffectedSOPInstanceUID));
  response.DimseStatus = status;
  response.DataSetType = DIMSE_DATASET_NULL;
  response.opts = O_STORE_AFFECTEDSOPCLASSUID | O_STORE_AFFECTEDSOPINSTANCEUID;
  const OFCondition cond = DIMSE_sendStoreResponse(assoc, presId, &request, &response, statusDetail.get());

  // A written file is in place whether or not the answer reached the peer.
  if (written) stored(*object);
  object.reset();  // the tree, before its share of the budget goes back (giveBack)
  if (cond.bad()) {
    error = std::string("answering a stored image failed: ") + cond.text();
    return false;
  }
  return true;
}

}  // namespace detail
}  // namespace redIRI
