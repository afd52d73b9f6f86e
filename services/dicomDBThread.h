// The library database's worker and its requests.
//
// dicomDB queues dicomDBRequests on its one dicomDBThread; the worker runs the queries (and writes
// received images) holding the database lock for the whole request, and the finished request
// comes back to dicomDB::onRequestDone on the main thread.
#pragma once

#include "NSDBDataModel.h"
#include "NSThread.h"
#include "NSThreadRequest.h"
#include "dcmLib.h"

#include <functional>
#include <memory>
#include <mutex>
#include <set>

class dicomDB;

enum dicomDBRequestType : uint32_t {
    DB_REQUEST_PATIENTS = 0,
    DB_REQUEST_STUDIES = 1,
    DB_REQUEST_STORE_IMAGE = 2,
    DB_REQUEST_FAVORITES = 3,
    // A file found in the library without a row: read it and index it as a stored image.
    DB_REQUEST_STORE_FILE = 4,
    // The check of the whole library against its rows (after a run that did not close, or after
    // a row write failed).
    DB_REQUEST_RECONCILE = 5,
    // A piece of work that must run in order with the stores (the deletes).
    DB_REQUEST_RUN = 6,
};

class dicomDBRequest;

// The requests alive anywhere (queued, running or waiting for delivery), so that a screen going
// away can clear its listener on each of them whichever list of the worker holds it.
struct dicomDBRequestRegistry {
    std::mutex mutex;
    std::set<dicomDBRequest*> live;
};

class dicomDBRequest : public NSUI::NSThreadRequest {
public:
    using DoneFunction = std::function<void(NSUI::NSDBDataModel*)>;

    explicit dicomDBRequest(std::shared_ptr<dicomDBRequestRegistry> registry);
    ~dicomDBRequest() override;

    uint32_t type = DB_REQUEST_PATIENTS;
    // Runs on the main thread with a non-empty result, and only while listener is set.
    DoneFunction done;
    // The asking object (not retained); cleared by dicomDB::cancelRequests. Guarded by the
    // registry's mutex.
    void* listener = nullptr;
    // The stored image to index (type 2 only), owned.
    std::unique_ptr<redIRI::DCM_MESSAGE> record;
    // Told on the worker whether a type-2 request's rows were written; false when the request is
    // dropped unrun.
    std::function<void(bool)> stored;
    // The work of a type-6 request.
    std::function<void()> work;
    // A stored image (type 2) or a file of the journal (type 4) that waited: it goes before the
    // images stored after it.
    bool retried = false;
    // Made by the worker; owned here until handed on.
    std::unique_ptr<NSUI::NSDBDataModel> result;

private:
    std::shared_ptr<dicomDBRequestRegistry> registry_;
};

class dicomDBThread : public NSUI::NSThread {
public:
    explicit dicomDBThread(dicomDB* owner) : owner_(owner) {}

protected:
    ~dicomDBThread() override = default;
    void process(NSUI::NSThreadRequest* request) override;

private:
    dicomDB* owner_;
};
