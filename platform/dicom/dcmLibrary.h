// Library-wide state of the DICOM layer (internal): one-time initialisation of DCMTK and the
// decoders, the program's callbacks, and shutdown.
//
// Every entry point of the public classes calls libraryReady() first; it initialises on first
// use and answers false once rediri_destroy has run. Callbacks are only ever invoked through
// the functions here, which make the shutdown guarantee hold: no callback runs after
// rediri_destroy returns.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "dcmLib.h"

namespace redIRI {
namespace detail {

// Initialises the library once (decoders, DCMTK logging, data dictionary check). False after
// rediri_destroy or when DCMTK's data dictionary is missing.
bool libraryReady();

// Tests: the bound on DCMTK's parse is taken to be in effect or not (rediri_parseBounded), as if
// the start-up check had found so.
void setParseBoundedForTest(bool bounded);

// DCMTK's last error line on the calling thread (empty when none), and forgets it. DCMTK's
// warnings (and, with QV_DCMTK_LOG raised, its other lines) are written to the log callback.
std::string takeDcmtkError();

// The longest line the log callback is given, in bytes.
constexpr size_t kMaxLogLineBytes = 4096;

// One line to the log callback (printf-style); nothing when no callback is installed. Whatever the
// values put into it (a peer's UIDs and texts, DCMTK's texts of several lines), the line is one
// line of clean text (text::cleanLine) of at most kMaxLogLineBytes bytes.
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A message to the program. Calls are serialised under one library mutex, so the order in
// which a task emits its messages is the order the program sees. False when no callback is
// installed or the library has ended.
bool postMessage(int code, const char* text);
// postMessage when `deliver`, called in the message order just before the callback, says so; then
// `delivered` is called in the message order once the callback has returned. A message's last
// check is made where no other message is delivered (see MessageGate).
bool postMessageIf(int code, const char* text, const std::function<bool()>& deliver,
                   const std::function<void()>& delivered);

// Code 3: hands a stored-image record to the program, which takes ownership. Deleted here
// when no callback is installed or the library has ended.
void postStoredRecord(DCM_MESSAGE* record);

// The program's GB-to-UTF-8 conversion; false when none is installed or its output is empty.
bool convertGbByCallback(const std::string& in, std::string& out);

// The program's PNG writer; false when none is installed.
bool savePngByCallback(int width, int height, unsigned char* rgb, const char* path);

// Objects that run library threads (the network half) register how to stop and join them;
// rediri_destroy runs every registered hook before clearing the callbacks, and an exit handler
// (registered with the first hook) runs those still registered when the process exits without it. The id returned
// is used to remove the hook when the object is destroyed first. Returns 0 after shutdown.
int addShutdownHook(std::function<void()> hook);
void removeShutdownHook(int id);

// The network objects' registration: the core's shutdown() runs at rediri_destroy while the core
// lives (the hook holds it weakly). After shutdown the core is stopped at once and 0 is returned.
template <class Core>
int hookShutdown(const std::shared_ptr<Core>& core) {
  std::weak_ptr<Core> weak = core;
  const int id = addShutdownHook([weak] {
    if (auto alive = weak.lock()) alive->shutdown();
  });
  if (id == 0) core->stop();
  return id;
}

}  // namespace detail
}  // namespace redIRI
