// The statements that define the library database file "dicomDB", version 4.
//
// These texts are what older and newer builds of the program expect to find in sqlite_master:
// change nothing in them (not even the blanks), or existing libraries stop matching.
#pragma once

namespace dicomDBSchema {

constexpr int kVersion = 4;
constexpr const char* kFileName = "dicomDB";

struct Table {
    const char* name;
    const char* createSql;
};

// In creation order.
constexpr Table kTables[] = {
    {"version", "create table version (ID integer primary key autoincrement,version integer);"},
    {"patient", "create table patient (ID integer primary key autoincrement,name TEXT,sex  TEXT,"
                "birthday TEXT,patientIDHospital TEXT,updateTime TEXT);"},
    {"study", "create table study (ID integer primary key autoincrement,patientID integer,studyUID TEXT,"
              "studyIDHospital TEXT,studyDesc TEXT,date TEXT,time TEXT,updateTime TEXT);"},
    {"series", "create table series (ID integer primary key autoincrement,studyID integer,seriesUID TEXT,"
               "date TEXT,time TEXT,studyDesc,SeriesDesc TEXT,updateTime TEXT,path TEXT);"},
    {"image", "create table image (ID integer primary key autoincrement,seriesID integer,imageUID TEXT,"
              "instanceID TEXT,file TEXT);"},
    {"neighbor", "create table neighbor (ID integer primary key autoincrement,device integer,ip TEXT,"
                 "port TEXT,name TEXT,saveType integer,lastTime TEXT,wifi TEXT,appid TEXT);"},
    {"favorite", "create table favorite (ID integer primary key autoincrement,type integer,message TEXT,"
                 "icon TEXT,image TEXT,valid integer,updateTime datetime,scale float);"},
    {"favoriteDetail", "create table favoriteDetail (ID integer primary key autoincrement,type integer,"
                       "message TEXT,icon TEXT,image TEXT,valid integer,updateTime datetime,scale float,"
                       "favoriteID integer not null);"},
};

// Indexes on the columns every stored image is looked up by. They only speed up the lookups of
// large libraries; the tables stay as above, and a file without them works the same.
constexpr const char* kIndexes[] = {
    "create index if not exists patient_name on patient(name,patientIDHospital);",
    "create index if not exists study_patient on study(patientID);",
    "create index if not exists series_study on series(studyID);",
    "create index if not exists image_series on image(seriesID);",
};

// Set on every connection. A write-ahead log with normal syncing commits each stored image
// without waiting for the disk, and a process killed at any moment still leaves a consistent
// file holding every committed image (only a power loss may undo the last commits).
constexpr const char* kConnectionSetup = "PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;";

} // namespace dicomDBSchema
