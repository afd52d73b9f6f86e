// Study and series queries, one at a time on the find thread (started when queries arrive, ended
// when none are left). Each query is one association with the Study Root FIND context.
//
// A patient search begins a new round: the queries of earlier rounds still waiting are dropped and
// the one running is given up at once (its connection shut), so a search never waits behind a
// server that accepted an earlier one and answers nothing; giveUp does the same for every query (the
// screen that waited is gone). A query given up reports nothing more: whether its answer is posted
// is decided under the search's lock and checked again, by its round, as the message is delivered
// (in the library's message order); whoever begins a new round waits for an answer being delivered
// then, so no answer of a round given up reaches the program once the new round has begun. The
// lock is never held while the program is called (message or log callback), so a callback on any
// library thread may call this object, as it may call any other.
//
// A round holds a bounded number of matches (dcmFindLimits.h), and its log lines are bounded as
// one stream across all its queries (the search and the series queries of the studies it found),
// whatever the number of matches or queries.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/ofstd/ofstd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "dcmFile.h"
#include "dcmFindLimits.h"
#include "dcmLib.h"
#include "dcmLibrary.h"
#include "dcmNetwork.h"
#include "dcmParseBound.h"
#include "dcmText.h"

namespace redIRI {

namespace {

// Return keys, in the order they are written.
const DcmTagKey kStudyKeys[] = {DCM_StudyDate,   DCM_StudyTime,        DCM_InstitutionName, DCM_StudyDescription,
                                DCM_PatientName, DCM_PatientID,        DCM_PatientBirthDate, DCM_PatientSex,
                                DCM_StudyInstanceUID, DCM_StudyID};
const DcmTagKey kSeriesKeys[] = {DCM_SeriesDate,        DCM_SeriesTime,        DCM_Modality,
                                 DCM_SeriesDescription, DCM_StudyInstanceUID,  DCM_SeriesInstanceUID,
                                 DCM_SeriesNumber,      DCM_NumberOfSeriesRelatedInstances};

struct Query {
  bool studies = true;  // studies by patient name, else series of one study
  std::string address, port, calledAE, value;
  unsigned round = 0;
};

std::atomic<size_t> g_queryMatches{detail::kMaxQueryMatches};
std::atomic<void (*)()> g_beforeAnswer{nullptr};

bool isAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// A value of an answer is cut as a stored image's record cuts its texts (DCM_MESSAGE), so a peer's
// answer is listed as the same values read from a file are.
constexpr size_t kAnswerValueBytes = sizeof(DCM_MESSAGE::PatientName) - 1;

// One answer as "gggg,eeee[value] ..." with every key present. The identifier is taken over, not
// copied: its tree was counted within the bound of the parse that built it, and a copy would
// build it again outside any bound.
template <size_t N>
std::string answerText(std::unique_ptr<DcmDataset> identifiers, const DcmTagKey (&keys)[N]) {
  detail::DicomFile file;
  file.setLanguage(detail::networkLanguage());
  file.adopt(std::make_unique<DcmFileFormat>(identifiers.release(), OFFalse), "find answer");
  std::string text;
  char key[16];
  for (const DcmTagKey& k : keys) {
    std::snprintf(key, sizeof(key), "%04x,%04x", k.getGroup(), k.getElement());
    DcmElement* e = nullptr;
    std::string value;
    if (file.dataset()->findAndGetElement(k, e, OFFalse).good() && e) value = file.valueText(e);
    value.resize(text::utf8CutLength(value, kAnswerValueBytes));
    if (!text.empty()) text += ' ';
    text += key;
    text += '[' + detail::findValue(value) + ']';
  }
  return text;
}

}  // namespace

struct dcmFind::Core {
  // Guards the queue, the round's count, the running query's watch, the default title and the
  // thread. Held for short steps only, never while the program is called.
  std::mutex lock;
  std::deque<Query> queue;
  // Written under the lock; read without it where an answer is delivered.
  std::atomic<unsigned> round{0};
  // The matches posted in this round, and whether it holds its bound in all (its series queries,
  // waiting or still to come, are dropped).
  size_t roundMatches = 0;
  bool roundCut = false;
  bool roundTold = false;  // the program was told the round was cut
  // The sockets of the query running, while one runs.
  std::shared_ptr<detail::SocketWatch> runningWatch;
  std::string defaultCalledAE;
  std::thread thread;
  bool threadRunning = false;
  std::mutex joinLock;
  std::atomic<bool> stopping{false};
  // Whether a query waits or runs, kept beside the queue and the watch under the lock and read
  // without it, by whoever asks.
  std::atomic<bool> finding{false};
  detail::MessageGate gate;
  // The log of the round whose queries the find thread runs: one stream across its queries, each
  // run on whatever find thread the search has then. The find thread's alone (a thread that
  // starts joins the one before it first); shutdown writes what is left once the thread is gone.
  struct RoundLog {
    unsigned round = 0;
    bool open = false;
    std::string what;
    detail::LogTally tally;
  } roundLog;

  void add(Query query);
  // Drops the waiting queries and gives up the running one. Under the lock; whoever calls it waits
  // for the gate to settle once the lock is let go (an answer of the round being delivered).
  void giveUpLocked();
  bool busy();
  // Under the lock, after the queue or the running query's watch changed.
  void noteFindingLocked() { finding = !queue.empty() || runningWatch; }
  void stop();
  void shutdown();

 private:
  void serve();
  void run(const Query& query);
  bool givenUp(const Query& query);
  // Posts a message of `query`'s round, unless the round is given up when it is delivered.
  void post(const Query& query, int code, const std::string& text);
  enum class Posted { Yes, GivenUp, Cut };
  // Posts one match of `query` unless its round was given up or has its matches in full.
  Posted postMatch(const Query& query, const std::string& text, size_t queryMatches, size_t queryLimit,
                   size_t roundLimit);
  void fail(const Query& query, const std::string& reason);
  // The round's log stream for `query`: the one open when the query is of its round, else a new one
  // (the one before written off). Find thread.
  void openRoundLog(const Query& query);
};

void dcmFind::Core::add(Query query) {
  if (!detail::networkReady()) return;
  const bool newRound = query.studies;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (stopping) return;
    if (query.calledAE.empty())
      query.calledAE = defaultCalledAE.empty() ? detail::kAnyCalledAETitle : defaultCalledAE;
    if (newRound) giveUpLocked();
    // The round holds its matches in full: no more of its series are asked for.
    if (!roundCut) {
      query.round = round;
      queue.push_back(std::move(query));
      noteFindingLocked();
      if (!threadRunning) {
        // The thread before has left its loop and takes no lock any more. Ended by shutdown, or
        // by the next start.
        if (thread.joinable()) thread.join();
        threadRunning = true;
        thread = std::thread(&Core::serve, this);
      }
    }
  }
  if (newRound) gate.settle();
}

void dcmFind::Core::giveUpLocked() {
  ++round;
  roundMatches = 0;
  roundCut = false;
  roundTold = false;
  queue.clear();
  noteFindingLocked();
  if (runningWatch) runningWatch->interrupt();
}

bool dcmFind::Core::busy() { return finding; }

bool dcmFind::Core::givenUp(const Query& query) { return query.round != round; }

void dcmFind::Core::post(const Query& query, int code, const std::string& text) {
  gate.post(code, text, [this, &query] { return !stopping && query.round == round; });
}

dcmFind::Core::Posted dcmFind::Core::postMatch(const Query& query, const std::string& text, size_t queryMatches,
                                               size_t queryLimit, size_t roundLimit) {
  // Decided under the lock, posted once it is let go.
  Posted posted = Posted::Yes;
  std::string cut;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (stopping || query.round != round) return Posted::GivenUp;
    if (queryMatches > queryLimit || roundMatches >= roundLimit) {
      // A query past its bound is given up; the series of the studies listed are still asked for
      // until the round holds its bound in all, then the rest of the round is dropped.
      posted = Posted::Cut;
      if (roundMatches >= roundLimit && !roundCut) {
        roundCut = true;
        queue.clear();
        noteFindingLocked();
      }
      if (!roundTold) {
        roundTold = true;
        char told[160];
        std::snprintf(told, sizeof(told),
                      "find cut: the search was cut at %zu matches (at most %zu per query, %zu in all)", roundMatches,
                      queryLimit, roundLimit);
        cut = told;
      }
    } else {
      ++roundMatches;
    }
  }
  if (!cut.empty()) post(query, 6, cut);
  if (posted == Posted::Yes) post(query, 5, text);
  return posted;
}

void dcmFind::Core::openRoundLog(const Query& query) {
  if (roundLog.open && roundLog.round == query.round) return;
  if (roundLog.open) detail::tellLeftOut(roundLog.what, roundLog.tally, true);
  roundLog = RoundLog{query.round, true, "DICOM find on " + query.address + ":" + query.port, detail::LogTally()};
}

void dcmFind::Core::serve() {
  bool drained = false;
  for (;;) {
    Query query;
    bool taken = false;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (stopping || (queue.empty() && drained)) {
        threadRunning = false;
        return;
      }
      if (!queue.empty()) {
        query = std::move(queue.front());
        queue.pop_front();
        runningWatch = std::make_shared<detail::SocketWatch>();
        noteFindingLocked();
        taken = true;
      }
    }
    if (!taken) {
      // Nothing waits now. More of the round may come (the series of studies still being listed),
      // so its count goes on; said here, outside the lock, only its first few times.
      drained = true;
      if (roundLog.open) detail::tellLeftOut(roundLog.what, roundLog.tally, false);
      continue;
    }
    drained = false;
    openRoundLog(query);
    {
      // Every match is a parse of its own, every query an association: their lines are bounded
      // together for the whole round.
      detail::LogStream logStream(roundLog.what, roundLog.tally);
      run(query);
    }
    std::lock_guard<std::mutex> guard(lock);
    runningWatch.reset();
    noteFindingLocked();
  }
}

void dcmFind::Core::fail(const Query& query, const std::string& reason) {
  if (stopping) return;
  if (givenUp(query)) {
    detail::logLine("DICOM find on %s:%s given up: nobody waits for its answer any more", query.address.c_str(),
                    query.port.c_str());
    return;
  }
  detail::logLine("DICOM find on %s:%s failed: %s", query.address.c_str(), query.port.c_str(), reason.c_str());
  post(query, 6, "find failed: " + reason);
}

void dcmFind::Core::run(const Query& query) {
  int port = 0;
  if (!detail::isIPv4Address(query.address) || !detail::parsePort(query.port, port)) {
    fail(query, "\"" + query.address + ":" + query.port + "\" is not an IPv4 address and port");
    return;
  }
  const char* model = UID_FINDStudyRootQueryRetrieveInformationModel;
  const size_t queryLimit = detail::findMatchLimit();
  const size_t roundLimit = 4 * queryLimit;
  std::shared_ptr<detail::SocketWatch> watch;
  {
    std::lock_guard<std::mutex> guard(lock);
    watch = runningWatch;
  }
  detail::ClientAssociation association(*watch);
  std::string error;
  if (!association.open(query.address, port, query.calledAE, {{model, detail::uncompressedSyntaxes()}}, error)) {
    fail(query, error);
    return;
  }
  T_ASC_Association* assoc = association.get();
  const T_ASC_PresentationContextID presId = ASC_findAcceptedPresentationContextID(assoc, model);

  DcmDataset identifiers;
  if (!isAscii(query.value)) identifiers.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
  identifiers.putAndInsertString(DCM_QueryRetrieveLevel, query.studies ? "STUDY" : "SERIES");
  if (query.studies) {
    for (const DcmTagKey& k : kStudyKeys) identifiers.insertEmptyElement(k);
    identifiers.putAndInsertString(DCM_PatientName, query.value.c_str());
  } else {
    for (const DcmTagKey& k : kSeriesKeys) identifiers.insertEmptyElement(k);
    identifiers.putAndInsertString(DCM_StudyInstanceUID, query.value.c_str());
  }

  DIC_US messageId = 0;
  OFCondition cond = detail::sendFindRequest(assoc, presId, model, identifiers, messageId);
  DIC_US status = STATUS_FIND_Pending_MatchesAreContinuing;
  size_t matches = 0;
  // Pending answers carry one match each; the final one carries none.
  while (cond.good() && DICOM_PENDING_STATUS(status)) {
    T_DIMSE_Message answer;
    std::unique_ptr<DcmDataset> match;
    cond = detail::receiveResponse(assoc, detail::kClientDimseTimeout, DIMSE_C_FIND_RSP, messageId, answer,
                                   &match);
    if (cond.bad()) break;
    status = answer.msg.CFindRSP.DimseStatus;
    if (!DICOM_PENDING_STATUS(status) || !match || stopping || givenUp(query)) continue;
    const std::string text =
        query.studies ? answerText(std::move(match), kStudyKeys) : answerText(std::move(match), kSeriesKeys);
    if (void (*hook)() = g_beforeAnswer.load()) hook();
    const Posted posted = postMatch(query, text, ++matches, queryLimit, roundLimit);
    if (posted == Posted::Cut) {
      // Given up: the peer is asked to stop, and the association ends without waiting for it.
      DIMSE_sendCancelRequest(assoc, presId, messageId);
      association.abort();
      detail::logLine("DICOM find on %s:%s cut after %zu matches: the search holds as many as it lists",
                      query.address.c_str(), query.port.c_str(), matches - 1);
      return;
    }
  }
  if (cond.bad()) {
    association.abort();
    fail(query, cond.text());
    return;
  }
  association.release();
  if (status != STATUS_FIND_Success) {
    char text[48];
    std::snprintf(text, sizeof(text), "the peer answered status 0x%04x", status);
    fail(query, text);
  }
}

namespace detail {

void setFindMatchLimit(size_t perQuery) { g_queryMatches = perQuery ? perQuery : 1; }

size_t findMatchLimit() { return g_queryMatches; }

void setBeforeFindAnswerForTest(void (*hook)()) { g_beforeAnswer = hook; }

}  // namespace detail

void dcmFind::Core::stop() {
  gate.close();
  std::lock_guard<std::mutex> guard(lock);
  stopping = true;
  giveUpLocked();
}

void dcmFind::Core::shutdown() {
  stop();
  std::lock_guard<std::mutex> join(joinLock);
  std::thread ending;
  {
    std::lock_guard<std::mutex> guard(lock);
    ending = std::move(thread);
  }
  if (ending.joinable()) ending.join();
  // No find thread is left (stopping starts none): the last round's count is written here.
  if (roundLog.open) detail::tellLeftOut(roundLog.what, roundLog.tally, true);
  roundLog.open = false;
}

dcmFind::dcmFind() : m_core(std::make_shared<Core>()) { m_hook = detail::hookShutdown(m_core); }

dcmFind::~dcmFind() {
  detail::removeShutdownHook(m_hook);
  m_core->shutdown();
}

void dcmFind::setDefaultCalledAETitle(const char* title) {
  std::lock_guard<std::mutex> guard(m_core->lock);
  m_core->defaultCalledAE = detail::trimmed(detail::textOf(title));
}

void dcmFind::findPatientByName(const char* address, const char* port, const char*, const char* calledAE,
                                const char* pattern) {
  m_core->add({true, detail::trimmed(detail::textOf(address)), detail::trimmed(detail::textOf(port)),
               detail::trimmed(detail::textOf(calledAE)), detail::textOf(pattern)});
}

void dcmFind::findStudyByUID(const char* address, const char* port, const char*, const char* calledAE,
                             const char* studyUID) {
  m_core->add({false, detail::trimmed(detail::textOf(address)), detail::trimmed(detail::textOf(port)),
               detail::trimmed(detail::textOf(calledAE)), detail::trimmed(detail::textOf(studyUID))});
}

bool dcmFind::isFinding() { return m_core->busy(); }

void dcmFind::giveUp() {
  {
    std::lock_guard<std::mutex> guard(m_core->lock);
    m_core->giveUpLocked();
  }
  m_core->gate.settle();
}

void dcmFind::stop() { m_core->stop(); }

}  // namespace redIRI
