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
};
