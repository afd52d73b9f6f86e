// The records the network service keeps for DICOM transfers: one send task per file or folder sent
// to a node, one retrieve task per series fetched from the query server.
//
// The tasks belong to dataService (retained in its lists); the send screen reads and writes their
// fields directly. A task changes state only on the main thread, in dataService's notification
// handling. Nothing here touches the network.
#pragma once

#include "base/CCRef.h"

#include <string>
#include <vector>

// The life of a task: waiting, running, then done or failed. Tasks stay listed after they end.
enum dcmTaskState {
    DCM_TASK_WAITING = 0,
    DCM_TASK_RUNNING = 1,
    DCM_TASK_DONE = 2,
    DCM_TASK_FAILED = 3,
};

class dcmTask : public cocos2d::Ref {
public:
    enum { TYPE_SEND = 1, TYPE_RETRIEVE = 2 };
    explicit dcmTask(int taskType) : type(taskType) {}

    int type;
};

// One file or folder to send to one node. Its task id towards the DICOM library is its reference id
// (getRefID), which the send messages carry back.
class dcmSendingObject : public dcmTask {
public:
    dcmSendingObject() : dcmTask(TYPE_SEND) {}
    // A new autoreleased task in state waiting.
    static dcmSendingObject* create(const std::string& address, const std::string& port, const std::string& name,
                                    const std::string& file);

    std::string address;
    std::string port = "4587";
    std::string name;  // the node's name
    std::string file;  // the DICOM file or folder to send
    float progress = 0.0f;  // percent
    std::string text1;  // two texts for the send screen's use
    std::string text2;
    int state = DCM_TASK_WAITING;
};

// One series retrieval. The ten texts are those of the DICOM library's retrieval list, in its order.
class dcmGetingObject : public dcmTask {
public:
    static constexpr int kFieldCount = 10;
    // A failed retrieval's message adds three: images kept, images of the series, the reason.
    static constexpr int kFailureFieldCount = 13;

    dcmGetingObject() : dcmTask(TYPE_RETRIEVE) {}
    // A new autoreleased task from exactly ten fields (address, port, two empty texts, study UID,
    // series UID, save folder, patient name, series number, modality), or the thirteen of a
    // failure message, and the state; null for any other count.
    static dcmGetingObject* create(const std::vector<std::string>& fields, int state);
    // Takes the three outcome fields of a failure message (thirteen fields; others change nothing).
    // The reason is kept as shownText makes it: it may come from a peer's answer, or from a record
    // an earlier version wrote with the peer's bytes as they came.
    void setOutcome(const std::vector<std::string>& fields);
    // Text fit for one line of a screen (cleanOutsideText): valid UTF-8, control characters and
    // line breaks as single spaces, nothing that reorders or hides it, no space at either end, and
    // at most maxBytes bytes, a longer text cut at a character with an ellipsis ("…") that the
    // bound includes.
    static std::string shownText(const std::string& text, size_t maxBytes = kReasonBytes);
    // The longest reason kept, in bytes: more than a row of the widest screen shows.
    static constexpr size_t kReasonBytes = 600;

    // The ten fields in the library's order, for a new retrieval of the same series.
    std::vector<std::string> fields() const;

    std::string address;
    std::string port;
    std::string text1;  // passed empty to the library
    std::string text2;
    std::string studyUID;
    std::string seriesUID;
    std::string saveFolder;
    std::string patientName;
    std::string seriesNumber;
    std::string modality;
    std::string imageCount;  // the image count the send screen shows in the row
    // Of a failed retrieval: the images its folder keeps, the images of the series (0 when the
    // server did not say, or said fewer than were kept), and why the rest did not arrive.
    int keptImages = 0;
    int seriesImages = 0;
    std::string failureReason;
    int flag = 0;
    int state = DCM_TASK_WAITING;
    float progress = 0.0f;  // percent
};
