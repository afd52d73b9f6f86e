// The library database as the screens reach it.
//
// The network service owns the one database of the process. Until that service is part of the
// program, the shell opens the database here at launch (openLibraryDatabase) and stops it at
// shutdown (closeLibraryDatabase); the screens only ever call getLibraryDatabase, so moving the
// ownership changes this unit alone.
//
// Main thread only.
#pragma once

#include <string>

class dicomDB;

// The open database, or null when none is open.
dicomDB* getLibraryDatabase();
// Opens the database in the library folder of the writable path (another folder, ending in "/",
// when libraryFolder is given) and, when startServer is set, its storage server. Does nothing
// when one is open.
void openLibraryDatabase(bool startServer, const std::string& libraryFolder = std::string());
// Stops the database (stored images still queued are written first) and releases it.
void closeLibraryDatabase();
