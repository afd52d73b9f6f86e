// dcmNodeObject: one row of the send screen's node list, a reference-counted twin of the stored peer
// record (neighborRecord) whose two integers the screen uses as a lock flag and a row kind.
#pragma once

#include "base/CCRef.h"
#include "neighborRecord.h"

#include <string>

class dcmNodeObject : public cocos2d::Ref {
public:
    enum RowKind { ROW_PEER = 0, ROW_TYPED_ADDRESS = 1, ROW_LOCAL = 2 };

    // A new autoreleased row with the defaults below.
    static dcmNodeObject* create()
    {
        auto* node = new dcmNodeObject();
        node->autorelease();
        return node;
    }
    // A new autoreleased row holding the stored peer's fields.
    static dcmNodeObject* create(const neighborRecord& peer)
    {
        dcmNodeObject* node = create();
        node->id = peer.id;
        node->device = peer.device;
        node->lastTime = peer.lastTime;
        node->wifi = peer.wifi;
        node->saveType = peer.saveType;
        node->ip = peer.ip;
        node->port = peer.port;
        node->name = peer.name;
        node->locked = peer.value1;
        node->rowKind = peer.value2;
        node->appid = peer.appid;
        return node;
    }

    int id = -1;  // the stored peer's row id; -1 for rows that are not stored
    int device = NEIGHBOR_PC;
    std::string lastTime;
    std::string wifi;  // when the peer was last heard
    int saveType = 3;  // 1: marked by the user
    std::string ip;
    std::string port = "4587";
    std::string name;
    int locked = 0;  // non-zero: the send buttons do nothing for this row
    int rowKind = ROW_PEER;
    std::string appid;
};
