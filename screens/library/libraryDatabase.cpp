#include "libraryDatabase.h"

#include "dicomDB.h"

namespace {
dicomDB* g_database = nullptr;
} // namespace

dicomDB* getLibraryDatabase()
{
    return g_database;
}

void openLibraryDatabase(bool startServer, const std::string& libraryFolder)
{
    if (g_database)
        return;
    auto* db = new dicomDB();
    if (!libraryFolder.empty())
        db->setLibraryFolderForTest(libraryFolder);
    db->setStartServerForTest(startServer);
    db->init();
    g_database = db;
}

void closeLibraryDatabase()
{
    if (!g_database)
        return;
    dicomDB* db = g_database;
    g_database = nullptr;
    db->stop();
    db->release();
}
