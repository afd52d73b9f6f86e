// The five callbacks the program hands to the DICOM library at launch: its log lines go to the
// framework log, its messages become notifications, legacy texts are converted to UTF-8, files
// are read whole, and PNG files (thumbnails) are written with the framework's image writer.
//
// The network service will own these; until it is part of the program the shell installs them
// from here.
#pragma once

void installSdkCallbacks();
