// The DICOM layer's test peers and test data helpers, shared rather than copied.
#pragma once
#include "../../../../platform/dicom/tests/support/DicomPeers.h"
#include "../../../../platform/dicom/tests/support/DicomTestData.h"
#include "../../../../platform/dicom/tests/support/RetrievePeer.h"
