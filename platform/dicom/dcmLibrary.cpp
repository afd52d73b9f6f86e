#include "dcmLibrary.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcvr.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/appender.h>
#include <dcmtk/oflog/logger.h>
#include <dcmtk/oflog/oflog.h>
#include <dcmtk/oflog/spi/logevent.h>

#include <cxxabi.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <typeinfo>
#include <vector>

#include "dcmGuard.h"
#include "dcmJpeg2000.h"
#include "dcmParseBound.h"
#include "dcmText.h"

namespace redIRI {
namespace {

std::once_flag g_initOnce;
std::atomic<bool> g_initialised{false};  // decoders registered and dictionary present
std::atomic<bool> g_destroyed{false};
// The bound on DCMTK's parse is in effect (checked as the library starts; tests may say otherwise).
std::atomic<bool> g_parseBounded{false};

// Guards the callback pointers. Callbacks run under the shared side; installing, clearing and
// shutdown take the exclusive side, so no callback is running once rediri_destroy has it.
std::shared_mutex g_callbackLock;
LogCallback g_logCallback = nullptr;
MsgCallback g_msgCallback = nullptr;
Gb2Utf8Callback g_gbCallback = nullptr;
ReadFileCallback g_readFileCallback = nullptr;
SavePngCallback g_savePngCallback = nullptr;

// Serialises message calls across library threads.
std::mutex g_messageOrder;

std::mutex g_hookLock;
std::map<int, std::function<void()>> g_hooks;
int g_nextHookId = 1;

// Runs every shutdown hook once (the network objects stop and join their threads) and forgets them.
// rediri_destroy runs them; a process that exits without it (a test program) runs them at exit,
// before exit destroys DCMTK's statics (its dictionary) under those threads, while the rest of the
// library stays up for the workers the program's own exit handler waits for.
void runShutdownHooks() {
  std::map<int, std::function<void()>> hooks;
  {
    std::lock_guard<std::mutex> lock(g_hookLock);
    hooks.swap(g_hooks);
  }
  for (auto& entry : hooks) entry.second();
}

std::mutex g_destroyLock;

// DCMTK's last error line on this thread. Appenders run on the thread that logs.
thread_local std::string t_lastDcmtkError;

// How much of DCMTK's own logging reaches the program's log: QV_DCMTK_LOG names the least level
// ("trace", "debug", "info", "warn", "error", "fatal" or "off"), "warn" when unset. DCMTK's
// warnings (odd lengths, unusual encodings it reads all the same) and whatever the level lets
// through are written as "DCMTK <level>: <text>". Its errors belong to a file or data set the
// layer then refuses: the refusal's one line quotes the last of them as its detail, so they are
// written on their own only when the level is raised to info or below. Within a parse, the lines
// are bounded (keepLogLine).
dcmtk::log4cplus::LogLevel g_forwardFrom = dcmtk::log4cplus::WARN_LOG_LEVEL;

dcmtk::log4cplus::LogLevel forwardLevel() {
  using namespace dcmtk::log4cplus;
  const char* text = std::getenv("QV_DCMTK_LOG");
  if (!text || !*text) return WARN_LOG_LEVEL;
  const std::string name(text);
  if (name == "trace") return TRACE_LOG_LEVEL;
  if (name == "debug") return DEBUG_LOG_LEVEL;
  if (name == "info") return INFO_LOG_LEVEL;
  if (name == "error") return ERROR_LOG_LEVEL;
  if (name == "fatal") return FATAL_LOG_LEVEL;
  if (name == "off") return OFF_LOG_LEVEL;
  return WARN_LOG_LEVEL;
}

class DcmtkLogAppender : public dcmtk::log4cplus::Appender {
 public:
  ~DcmtkLogAppender() override { destructorImpl(); }
  void close() override { closed = true; }

 protected:
  void append(const dcmtk::log4cplus::spi::InternalLoggingEvent& event) override {
    using namespace dcmtk::log4cplus;
    const LogLevel level = event.getLogLevel();
    if (level >= ERROR_LOG_LEVEL) t_lastDcmtkError.assign(event.getMessage().c_str());
    if (level < g_forwardFrom || (level >= ERROR_LOG_LEVEL && g_forwardFrom > INFO_LOG_LEVEL)) return;
    // A few of each kind per file or data set: damaged data can make DCMTK warn millions of times.
    if (!detail::keepLogLine(level, event.getMessage().c_str())) return;
    const char* name = level >= FATAL_LOG_LEVEL ? "fatal"
                       : level >= ERROR_LOG_LEVEL ? "error"
                       : level >= WARN_LOG_LEVEL  ? "warning"
                       : level >= INFO_LOG_LEVEL  ? "info"
                       : level >= DEBUG_LOG_LEVEL ? "debug"
                                                  : "trace";
    detail::logLine("DCMTK %s: %s", name, event.getMessage().c_str());
  }
};

void initialise() {
  // DCMTK's lines never reach stderr: they go to the program's log as far as QV_DCMTK_LOG lets
  // them, and its errors to the calling thread's last-error slot, which our own log line (the one
  // record of a refusal, naming the file) quotes as its detail.
  g_forwardFrom = forwardLevel();
  const dcmtk::log4cplus::LogLevel least = std::min<dcmtk::log4cplus::LogLevel>(g_forwardFrom, dcmtk::log4cplus::ERROR_LOG_LEVEL);
  OFLog::configure(static_cast<OFLogger::LogLevel>(least));
  dcmtk::log4cplus::Logger root = dcmtk::log4cplus::Logger::getRoot();
  root.removeAllAppenders();
  root.addAppender(dcmtk::log4cplus::SharedAppenderPtr(new DcmtkLogAppender));
  if (!dcmDataDict.isDictionaryLoaded()) {
    detail::logLine("DICOM library: no DCMTK data dictionary found (DCMDICTPATH); files cannot be read");
    return;
  }
  // Elements stored as UN (files rewritten by tools that keep every element so) are read with
  // the VR the dictionary gives their tag, so their values read as the values they are.
  dcmEnableUnknownVRConversion.set(OFTrue);
  // Deep or dense data is refused by the bound inside DCMTK's parse, which holds only while this
  // program's definitions take the place of DCMTK's own.
  // Without it the library fails closed: it parses no bytes it did not write itself.
  const std::string fault = detail::parseBoundFault();
  g_parseBounded = fault.empty();
  if (!fault.empty())
    detail::logLine("DICOM library: error: the bound on DCMTK's parse is not in effect: %s. Importing, receiving, "
                    "query answers and retrieving are refused; images already stored still open",
                    fault.c_str());
  // What DCMTK said of the check's refusal is no refusal of the caller's.
  detail::takeDcmtkError();
  // Colour JPEG frames come back as coded; the pixel reader converts YCbCr to RGB itself,
  // from what the stream's own markers say or else the photometric interpretation, since
  // files labelled RGB often hold YCbCr streams and vice versa.
  DJDecoderRegistration::registerCodecs(EDC_never);
  DJLSDecoderRegistration::registerCodecs();
  DcmRLEDecoderRegistration::registerCodecs();
  detail::registerJpeg2000Decoder();
  g_initialised = true;
}

template <typename T>
void storeCallback(T& slot, T value) {
  std::unique_lock<std::shared_mutex> lock(g_callbackLock);
  if (!g_destroyed) slot = value;
}

}  // namespace

void setLogCallback(LogCallback callback) { storeCallback(g_logCallback, callback); }
void setMsgCallback(MsgCallback callback) { storeCallback(g_msgCallback, callback); }
void setgb2utf8Callback(Gb2Utf8Callback callback) { storeCallback(g_gbCallback, callback); }
void setReadFileCallback(ReadFileCallback callback) { storeCallback(g_readFileCallback, callback); }
void setSavePngCallback(SavePngCallback callback) { storeCallback(g_savePngCallback, callback); }

void rediri_destroy() {
  std::lock_guard<std::mutex> destroyGuard(g_destroyLock);
  if (g_destroyed.exchange(true)) return;

  // Stop the library's threads first; they may still log or post while they wind down.
  runShutdownHooks();

  {
    std::unique_lock<std::shared_mutex> lock(g_callbackLock);
    g_logCallback = nullptr;
    g_msgCallback = nullptr;
    g_gbCallback = nullptr;
    g_readFileCallback = nullptr;
    g_savePngCallback = nullptr;
  }
  // Deregistering waits for decodes in progress on other threads (DCMTK's codec list lock).
  if (g_initialised.exchange(false)) {
    DJDecoderRegistration::cleanup();
    DJLSDecoderRegistration::cleanup();
    DcmRLEDecoderRegistration::cleanup();
    detail::cleanupJpeg2000Decoder();
  }
}

bool rediri_parseBounded() { return detail::libraryReady() && g_parseBounded; }

namespace detail {

void setParseBoundedForTest(bool bounded) {
  libraryReady();
  g_parseBounded = bounded;
}

bool libraryReady() {
  if (g_destroyed) return false;
  std::call_once(g_initOnce, initialise);
  return g_initialised && !g_destroyed;
}

std::string takeDcmtkError() {
  std::string text;
  text.swap(t_lastDcmtkError);
  return text;
}

void logLine(const char* format, ...) {
  if (g_destroyed) return;
  char small[512];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof(small), format, args);
  va_end(args);
  std::string text;
  if (needed < 0) {
    text = "DICOM library: unprintable log line";
  } else if (static_cast<size_t>(needed) < sizeof(small)) {
    text.assign(small, static_cast<size_t>(needed));
  } else {
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    text.assign(big.data(), static_cast<size_t>(needed));
  }
  va_end(copy);
  text = text::cleanLine(text, kMaxLogLineBytes);
  // A few of each kind per association or import (see dcmParseBound.h).
  if (!keepStreamLine(text.c_str())) return;

  std::shared_lock<std::shared_mutex> lock(g_callbackLock);
  if (g_logCallback && !g_destroyed) g_logCallback(text.c_str());
}

bool postMessage(int code, const char* text) { return postMessageIf(code, text, nullptr, nullptr); }

bool postMessageIf(int code, const char* text, const std::function<bool()>& deliver,
                   const std::function<void()>& delivered) {
  std::lock_guard<std::mutex> order(g_messageOrder);
  std::shared_lock<std::shared_mutex> lock(g_callbackLock);
  if (!g_msgCallback || g_destroyed) return false;
  if (deliver && !deliver()) return false;
  struct Done {
    const std::function<void()>& delivered;
    ~Done() {
      if (delivered) delivered();
    }
  } done{delivered};
  g_msgCallback(code, text ? text : "");
  return true;
}

void postStoredRecord(DCM_MESSAGE* record) {
  if (!record) return;
  std::lock_guard<std::mutex> order(g_messageOrder);
  std::shared_lock<std::shared_mutex> lock(g_callbackLock);
  if (!g_msgCallback || g_destroyed) {
    delete record;
    return;
  }
  g_msgCallback(3, reinterpret_cast<const char*>(record));
}

bool convertGbByCallback(const std::string& in, std::string& out) {
  std::shared_lock<std::shared_mutex> lock(g_callbackLock);
  if (!g_gbCallback || g_destroyed) return false;
  // Room for the worst case of 4 UTF-8 bytes per input byte, plus the NUL.
  std::vector<char> buffer(4 * in.size() + 1, '\0');
  g_gbCallback(in.c_str(), buffer.data(), static_cast<int>(buffer.size()));
  buffer.back() = '\0';
  out.assign(buffer.data());
  return !out.empty() || in.empty();
}

bool savePngByCallback(int width, int height, unsigned char* rgb, const char* path) {
  std::shared_lock<std::shared_mutex> lock(g_callbackLock);
  if (!g_savePngCallback || g_destroyed) return false;
  return g_savePngCallback(width, height, rgb, path);
}

std::string describeThrown(std::exception_ptr thrown) {
  auto typeName = [](const std::type_info& type) {
    int status = -1;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    return std::string(status == 0 && name ? name.get() : type.name());
  };
  try {
    std::rethrow_exception(thrown);
  } catch (const std::exception& e) {
    return typeName(typeid(e)) + ": " + e.what();
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    return type ? typeName(*type) : std::string("an unknown exception");
  }
}

int addShutdownHook(std::function<void()> hook) {
  static std::once_flag armed;
  std::call_once(armed, [] { std::atexit(runShutdownHooks); });
  std::lock_guard<std::mutex> lock(g_hookLock);
  if (g_destroyed) return 0;
  int id = g_nextHookId++;
  g_hooks.emplace(id, std::move(hook));
  return id;
}

void removeShutdownHook(int id) {
  std::lock_guard<std::mutex> lock(g_hookLock);
  g_hooks.erase(id);
}

}  // namespace detail
}  // namespace redIRI
