// The record of a stored image: a file read through dcmReadTag::getDicomMessage is described
// exactly as the storage server describes the same object received over the network, except for
// the file name of an instance whose UID cannot name a file (the import keeps the file's own name).
#include <gtest/gtest.h>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <cstring>
#include <memory>
#include <string>

#include "dcmLib.h"
#include "dcmStorage.h"
#include "support/DicomTestData.h"

using namespace qvtest;

namespace {

// The record the storage server sends for `path` received as a C-STORE data set.
std::unique_ptr<redIRI::DCM_MESSAGE> receivedRecord(const std::string& path, std::string& folder) {
  DcmFileFormat file;
  EXPECT_TRUE(file.loadFile(path.c_str()).good());
  file.loadAllDataIntoMemory();
  OFString sop;
  file.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, sop);
  redIRI::detail::ReceivedObject object(new DcmDataset(*file.getDataset()), EXS_LittleEndianExplicit, 0,
                                        sop.c_str());
  folder = object.dicomFolder();
  return std::unique_ptr<redIRI::DCM_MESSAGE>(object.record(folder + "/"));
}

std::unique_ptr<redIRI::DCM_MESSAGE> fileRecord(const std::string& path) {
  redIRI::dcmReadTag reader;
  auto record = std::make_unique<redIRI::DCM_MESSAGE>();
  EXPECT_TRUE(reader.setFile(path.c_str())) << path;
  EXPECT_TRUE(reader.getDicomMessage(*record)) << path;
  return record;
}

void expectSameExceptFileName(const redIRI::DCM_MESSAGE& a, const redIRI::DCM_MESSAGE& b) {
  redIRI::DCM_MESSAGE x = a, y = b;
  std::memset(x.FileName, 0, sizeof(x.FileName));
  std::memset(y.FileName, 0, sizeof(y.FileName));
  EXPECT_EQ(std::memcmp(&x, &y, sizeof(x)), 0);
  EXPECT_STREQ(a.SeriesFolder, b.SeriesFolder);
  EXPECT_STREQ(a.PatientName, b.PatientName);
  EXPECT_STREQ(a.SOPInstanceUID, b.SOPInstanceUID);
}

}  // namespace

TEST(StoredRecord, AFileIsDescribedAsTheServerDescribesItReceived) {
  TempDir dir;
  const std::string longName(300, 'x');
  const std::string path = dir.file("plain.dcm");
  ImageSpec spec = greySpec(4, 4);
  spec.strings = {{DCM_SpecificCharacterSet, "ISO_IR 192"},
                  {DCM_SOPInstanceUID, "2.25.1001.7"},
                  {DCM_PatientName, "M\xC3\xBCller^J\xC3\xBCrgen"},
                  {DCM_PatientID, "ID/7"},
                  {DCM_PatientSex, "O"},
                  {DCM_Modality, "CT"},
                  {DCM_StudyInstanceUID, "2.25.1001"},
                  {DCM_SeriesInstanceUID, "2.25.1001.2"},
                  {DCM_StudyTime, "101112.123456"},
                  {DCM_SeriesTime, "0930"},
                  {DCM_StudyDescription, "\xC3\xA9" + longName}};
  writeImage(path, spec);

  std::string folder;
  auto received = receivedRecord(path, folder);
  auto imported = fileRecord(path);
  expectSameExceptFileName(*imported, *received);
  EXPECT_STREQ(imported->FileName, "2.25.1001.7");
  EXPECT_STREQ(imported->FileName, received->FileName);
  EXPECT_EQ(std::string(imported->SeriesFolder), folder + "/");
  EXPECT_STREQ(imported->PatientName, "M\xC3\xBCller^J\xC3\xBCrgen");
  EXPECT_STREQ(imported->PatientSex, "U");
  EXPECT_STREQ(imported->StudyTime, "101112");
  EXPECT_STREQ(imported->SeriesTime, "0930");
  EXPECT_STREQ(imported->InstanceNumber, "0");
  EXPECT_EQ(std::strlen(imported->StudyDescription), 255u);

  char expectedFolder[1024];
  redIRI::dcmServer::getDicomFolder("M\xC3\xBCller^J\xC3\xBCrgen", "ID/7", "2.25.1001", "2.25.1001.2",
                                    expectedFolder);
  EXPECT_EQ(std::string(imported->SeriesFolder), std::string(expectedFolder) + "/");
}

TEST(StoredRecord, EmptyValuesAreReplacedAndAnUnusableUidKeepsTheFilesOwnName) {
  TempDir dir;
  const std::string path = dir.file("scan 01.dcm");
  ImageSpec spec = greySpec(4, 4);
  spec.strings = {{DCM_SOPInstanceUID, "../../evil"}, {DCM_PatientSex, "F"}, {DCM_InstanceNumber, "12"}};
  writeImage(path, spec);
  editFile(path, [](DcmDataset& data) {
    for (const DcmTagKey& key : {DCM_StudyInstanceUID, DCM_SeriesInstanceUID, DCM_PatientName, DCM_PatientID})
      data.findAndDeleteElement(key);
  });

  std::string folder;
  auto received = receivedRecord(path, folder);
  auto imported = fileRecord(path);
  expectSameExceptFileName(*imported, *received);
  EXPECT_STREQ(imported->PatientName, "ANONYMOUS");
  EXPECT_STREQ(imported->PatientID, "EmptyID");
  EXPECT_STREQ(imported->StudyInstanceUID, "unknownStudy");
  EXPECT_STREQ(imported->SeriesInstanceUID, "unknownSeries");
  EXPECT_STREQ(imported->SOPInstanceUID, "../../evil");
  EXPECT_STREQ(imported->PatientSex, "F");
  EXPECT_STREQ(imported->InstanceNumber, "12");
  // The server hashes the UID; a copied file keeps its own name, which needs no change here.
  EXPECT_EQ(std::strlen(received->FileName), 8u);
  EXPECT_STREQ(imported->FileName, "scan 01.dcm");

  // A name that must change is made safe, never a path.
  const std::string hostile = dir.file("..odd:name.dcm");
  writeImage(hostile, spec);
  auto odd = fileRecord(hostile);
  EXPECT_EQ(std::strchr(odd->FileName, '/'), nullptr);
  EXPECT_NE(odd->FileName[0], '.');
  EXPECT_EQ(std::string(odd->FileName).rfind("odd_name.dcm_", 0), 0u) << odd->FileName;
}

TEST(StoredRecord, NothingIsFilledWithoutAFile) {
  TempDir dir;
  redIRI::dcmReadTag reader;
  redIRI::DCM_MESSAGE record;
  std::memset(&record, 0x5A, sizeof(record));
  EXPECT_FALSE(reader.getDicomMessage(record));
  std::string text = dir.file("note.txt");
  FILE* f = std::fopen(text.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("not an image", f);
  std::fclose(f);
  EXPECT_FALSE(reader.setFile(text.c_str()));
  EXPECT_FALSE(reader.getDicomMessage(record));
  EXPECT_EQ(record.Modality[0], 0x5A);
}
