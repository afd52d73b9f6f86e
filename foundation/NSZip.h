// Zip and unzip front-ends over minizip.
//
// zipMain and unzipMain take a command-line style argument vector (argv[0] is ignored). They are
// called in-process by zipFiles and unzipFile (NSFileUtil.h), which build the vectors, and run
// on the caller's thread (a worker of the screens that share or import).
//
// zipMain [-o] [-a] [-0..-9] [-p password] archive baseFolder file...
//   Every file is stored under its path after baseFolder and one separator. A file path ending
//   in '/' becomes an empty folder entry. Progress: before each file, NOTIFY_UI_PROGRESS (1001) is
//   posted urgent with no sender and context 0, carrying the percentage of files already done
//   (four files report 0, 25, 50, 75). Setting zipCancelFlag above 0 from another thread stops
//   the writer before the next file with -1000; the archive then holds the files done so far.
//
// unzipMain [-e] [-o] [-p password] archive [entry] -d destination
//   Extracts every entry (or the one named) to destination + entry name, overwriting existing
//   files. Folders are not created here: the caller creates them first (unzipFile does).
//   Entry names are taken with '\' as a separator; an entry that is absolute, has a drive prefix
//   or a ".." component is refused (-1004), so nothing is ever written outside destination.
//   Archives that would expand without limit are refused before anything is written: more than
//   200000 entries (-1005), entries whose stored data overlap (-1006), or declared sizes that
//   would leave less than kUnzipMinFreeBytes free on the destination's file system (-1007); so
//   is an archive holding an unsafe name. While extracting, the bytes actually written count
//   against the same free space, asked again every few megabytes: an entry that expands past
//   its declared size, or past what the file system can take while keeping the margin, stops
//   the extraction (-1007, with a log line naming the entry; or minizip's CRC error), and any
//   failure removes every file already extracted from the archive.
//
// Results (0 is success):
//    1  unzip: no archive argument, or the archive cannot be opened (also with ".zip" appended)
//    2  unzip: the named entry is not in the archive
//   -1  zip: a file cannot be read, or writing an entry failed
//   -102 zip: the archive cannot be opened or created; unzip: no archive
//   -104 zip: no memory for the copy buffer      -105 zip: a file path not longer than the base folder
//   -109 unzip: moving to the next entry failed
//   -1000 zip: cancelled; unzip: an entry's information cannot be read
//   -1001 unzip: no memory    -1002 unzip: an output file cannot be created
//   -1003 unzip: an output file cannot be written    -1004 unzip: an unsafe entry name
//   other: minizip's own codes (for example -105, a CRC mismatch, from unzipMain)
#pragma once

#include <atomic>
#include <string>

#include "unzip.h"

// Cleared by zipMain when it starts; above 0 stops it before the next file. Written by the main
// thread (the share panel's cancel), read by the zip worker.
extern std::atomic<int> zipCancelFlag;

// Extraction keeps this much free on the destination's file system: the library, its caches
// and the system's own files need room after an archive was unpacked.
constexpr unsigned long long kUnzipMinFreeBytes = 1ull << 30;
// The result of an extraction refused or stopped because it would take more than the free space.
constexpr int kUnzipTooLarge = -1007;

// How the free space below a destination folder is learnt: true with the bytes available, false
// when it cannot be known (extraction is then unbounded). The file system's own answer unless
// replaced; tests replace it to stand for a disk that fills, null restores it.
typedef bool (*ZipFreeSpaceProbe)(const char* destination, unsigned long long* available);
void setZipFreeSpaceProbe(ZipFreeSpaceProbe probe);

int zipMain(int argc, char* argv[]);
int unzipMain(int argc, char* argv[]);

// Checks an open archive against the bounds above (entry names, entry count, overlapping
// entries, declared size against the free space below destination); 0 when it may be extracted. The current
// entry stays where it was. On an unsafe entry name the name goes to *unsafeName when given.
int checkZipArchive(unzFile archive, const char* destination, std::string* unsafeName = nullptr);

// Extracts every entry of an open archive in order, after checkZipArchive; the first non-zero
// result stops it.
int unzipExtractAll(unzFile archive, const char* destination, int withoutPath, int overwrite,
                    const char* password);
// Extracts the archive's current entry. After the first file opened, *overwrite is set: existing
// files are always replaced.
int unzipExtractCurrentFile(unzFile archive, const char* destination, int* withoutPath, int* overwrite,
                            const char* password);

// CRC-32 of a whole file read in blocks through buffer; 0 on success, -1 (crc 0 when the file
// cannot be opened) on failure.
int getFileCrc(const char* path, void* buffer, unsigned long bufferSize, unsigned long* crc);

// True when an archive entry name may be extracted below a destination folder: not empty after
// the check, not absolute, no drive prefix, no ".." component ('\' counts as a separator).
bool isSafeZipEntryName(const char* name);
