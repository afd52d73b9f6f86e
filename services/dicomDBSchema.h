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

} // namespace dicomDBSchema
