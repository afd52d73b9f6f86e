// The DICOM layer's test peers (storescp, dcmqrscp as child processes on 127.0.0.1, free ports,
// test series), shared rather than copied.
#include "../../../platform/dicom/tests/support/DicomTestData.cpp"
#include "../../../platform/dicom/tests/support/DicomPeers.cpp"
