// Screen captures saved as JPEG files in the working tree's capture folder.
//
// A capture is taken by the framework at the end of the next rendered frame (utils::captureScreen);
// when the file is written, NOTIFY_CAPTURE_SAVED (1004) is posted with the file's full path (no
// sender, context 0, not urgent), and the library files it as a favourite image. A capture that
// cannot be written posts nothing and leaves no file behind; whoever started it hears why, in words
// for the user. Main thread only.
#pragma once

#include <functional>
#include <string>

// Extension of the capture files.
inline constexpr const char* kCaptureExtension = ".jpg";

// The capture folder: the writable path + "qv/tmp/capture/" (ends in '/').
std::string getCaptureFolder();

// Claims a new capture file in folder (which ends in '/') for the timestamp text stamp:
// "<stamp>.jpg", or "<stamp>_1.jpg", "<stamp>_2.jpg", ... when that name is taken. The name is
// claimed by creating the file exclusively (empty), so two captures in the same second, or two
// processes, never share a file. Returns the full path, or "" when no file can be created there.
// Other files named by a timestamp (the viewer's favourite DICOM files) pass their own extension.
std::string claimCaptureFile(const std::string& folder, const std::string& stamp,
                             const std::string& extension = kCaptureExtension);

// Why a capture was not saved, in words for the user ("The capture was not saved: the disk is
// full"); the log has the system's own reason.
using CaptureFailed = std::function<void(const std::string& text)>;

// Starts one capture of the rectangle (x, y, width, height) of the window, in design units with
// the origin bottom-left; a width or height of 0 captures the whole window. Creates the capture
// folder chain, claims the file and returns at once: true when the capture was started (its
// outcome arrives as notification 1004 or, on failure, as a log line and a call of `failed`),
// false when the folder or the file could not be created (logged, `failed` called at once,
// nothing posted).
bool captureScreenToFile(int x, int y, int width, int height, const CaptureFailed& failed = nullptr);

// The text a capture that failed with the system's error `error` (0: unknown) is reported with.
std::string captureFailedText(int error);
