// File, folder and archive helpers.
//
// Paths are UTF-8 byte strings with '/' as separator. Relative names given to readFileData are
// resolved through the framework's search paths, as FileUtils does; everything else takes paths
// as they are. Folder listings are sorted by name in byte order, each folder's entries in turn,
// a subfolder's files appearing where the subfolder is met; symbolic links to folders are not
// descended. The functions keep no shared state and may run on any thread.
#pragma once

#include <string>
#include <vector>

// The whole file in a new[] buffer of size + 10 bytes, zero-filled past the data; the caller
// frees it with delete[]. raw reads bytes; otherwise the file is read as text and copied up to
// its first NUL, *size still being the file's whole length. Null, with *size 0, for a missing or
// empty file.
unsigned char* readFileData(const std::string& path, unsigned long* size, bool raw);

// Creates the file's folder (with missing parents), then writes the buffer ("wb+"). False, with
// the log line "writeBufferToFile: faild, size=...,writeSize=...", when not every byte reached
// the file, including a failure to flush it at close.
bool writeBufferToFile(const std::string& path, const void* buffer, size_t size);
bool writeStringToFile(const std::string& path, const std::string& text);

// True without copying when both paths are the same text; false for a missing or empty source.
bool copyFile(const std::string& source, const std::string& target);
// Copies every file below source to the same place below target (empty files too), creating
// folders as needed. What was copied before a failure stays.
bool copyDirectory(const std::string& source, const std::string& target);

// Drops every trailing '/', then cuts before the last '/' or '\'. a/b/c.txt -> a/b, a/b/ -> a,
// c.txt -> c.txt.
std::string getParentDirectory(const std::string& path);

// Appends the folder's files (out is not cleared): the name alone, or folder + "/" + name with
// fullPath. recursive descends into subfolders whose names do not begin with '.'. A folder given
// with one trailing '/' lists the same. A missing folder appends nothing.
void listFiles(const std::string& folder, std::vector<std::string>& out, bool recursive, bool fullPath);
// Appends folder + "/" + name for every direct subfolder whose name does not begin with '.'.
void listSubdirectories(const std::string& folder, std::vector<std::string>& out);

// Zips a file, or every file below a folder, at the best compression; stored names begin with
// the source's own name. Posts progress and stops on zipCancelFlag (NSZip.h). True on success.
bool zipFiles(const std::string& archivePath, const std::string& source, const std::string& password);
// Extracts every entry below destination, creating their folders and overwriting files. Every
// entry name is checked first: an archive holding an absolute name or a ".." component, or one
// that would expand without bound (NSZip.h), is refused whole, before anything is created; a
// failure during extraction removes what was extracted and the folders made for it. Logs
// "unzip result:%i". The result of the extraction (NSZip.h) goes to *result when given;
// kUnzipTooLarge says the archive would not fit on the disk. An archive refused for an unsafe
// entry name puts that name in *unsafeEntry when given.
bool unzipFile(const std::string& archivePath, const std::string& destination, const std::string& password,
               int* result = nullptr, std::string* unsafeEntry = nullptr);
