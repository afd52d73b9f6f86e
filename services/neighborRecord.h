// neighborRecord: one peer as the library database keeps it, a workstation heard over discovery or
// a DICOM node that answered an echo. Plain value type; copy and destruction are member-wise.
//
// "wifi" is the local date and time ("%d-%02d-%02d %02d:%02d:%02d") at which the peer was last heard;
// "lastTime" is written empty by the database.
#pragma once

#include <string>

// Device kinds, as peers announce them and as the database stores them.
enum neighborDevice {
    NEIGHBOR_ANDROID = 1,
    NEIGHBOR_PC = 2,
    NEIGHBOR_IOS = 3,
    NEIGHBOR_MAC = 4,
    NEIGHBOR_DICOM_NODE = 5,
};

struct neighborRecord {
    int id = -1;  // the neighbor row's ID
    int device = NEIGHBOR_PC;
    std::string lastTime;
    std::string wifi;
    int saveType = 3;
    std::string ip;
    std::string port = "4587";
    std::string name;
    int value1 = 0;
    int value2 = 0;
    std::string appid;
};
