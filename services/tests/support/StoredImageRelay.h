// Stands in for the network service in tests of the library: turns the DICOM library's "image
// stored" message (code 3) into notification 2017, urgent, with the record as the payload's owned
// user data, as the network service does. Installed while the object lives.
#pragma once

#include <atomic>

class StoredImageRelay {
public:
    StoredImageRelay();
    ~StoredImageRelay();
    StoredImageRelay(const StoredImageRelay&) = delete;
    StoredImageRelay& operator=(const StoredImageRelay&) = delete;

    // Records relayed so far.
    static std::atomic<int> relayed;
    // When above 0, the library thread that relays this many-th record stays there for good (for a
    // process that is about to be killed): the server never reads its peer's next request.
    static std::atomic<int> holdAt;
};
