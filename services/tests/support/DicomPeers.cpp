// The DICOM layer's test peers (DCMTK's tools on 127.0.0.1, free ports) and test data helpers,
// shared rather than copied.
#include "../../../platform/dicom/tests/support/DicomPeers.cpp"
#include "../../../platform/dicom/tests/support/DicomTestData.cpp"
#include "../../../platform/dicom/tests/support/FindFloodPeer.cpp"
#include "../../../platform/dicom/tests/support/RawStore.cpp"
