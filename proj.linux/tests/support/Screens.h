// What the end-to-end tests look for on the program's screens, and the steps a user takes there.
#pragma once

#include <string>
#include <vector>

#include "support/App.h"

namespace e2e {

// The patient list shows this patient with these counts (studies-series-images) in its row.
bool showsPatient(const View& v, const std::string& name, const std::string& counts);
// The example study a first start unpacks and imports: its patient, its row in the list (one
// study of two series: a scout and 200 axial CT slices) and the axial series' description.
inline const char* const kExampleName = "PHANTOM^QUORVANE";
inline const char* const kExampleCounts = "1-2-201";
inline constexpr size_t kExampleImages = 201;
inline const char* const kExampleSeries = "axial CT phantom";
bool showsExample(const View& v);
// The image windows of the viewer, in scene order.
std::vector<const Node*> imageWindows(const View& v);
const Node* firstImageWindow(const View& v);
// A text node inside a box whose text starts with `prefix` (overlay texts of one window).
const Node* textIn(const View& v, const Box& box, const std::string& prefix);
// The window's slice position as its overlay shows it ("S:34.5mm" gives 34.5 with the letter),
// false when none is shown.
bool slicePosition(const View& v, const Box& window, double* mm, std::string* letter = nullptr);
// The window's "ww wl" overlay value ("400 40 "), "" when none.
std::string windowLevelText(const View& v, const Box& window);
// The window's corner texts are all filled: its window/level, and the series' date and time
// ("2024.01.05 10:15:00"), which the viewer reads from the file on a worker and shows only after
// the image is drawn.
bool overlayFilled(const View& v, const Box& window);
// Waits until the frame that `shown` reported has been drawn and shown (two frames later), so
// that a screenshot taken next shows at least what the report holds.
bool waitForDrawn(App& app, const View& shown);
// Waits until the input sent so far has been handled and its frame is on the screen: the frame
// after the one now about to be drawn reads it, and two frames on that one has been shown.
bool waitForInputDrawn(App& app);

// Opens a series of the study panel (or study list screen) from its row's right end; true once
// the viewer shows its image windows with their corner texts filled and that frame is on the
// screen (what a user sees once the series has opened).
bool openSeries(App& app, const std::string& description, View* shown);
// Opens the example's axial series and waits for the viewer to settle: a first opening draws the
// slices at once and turns to the axial, sagittal and coronal planes once the volume is loaded;
// then every window's corner texts are filled and that frame is on the screen.
bool openExample(App& app, View* shown);
// Opens the patient's studies: a touch on the right end of its row.
bool openPatient(App& app, const std::string& name);
// Swipes the patient's row open from its left edge and touches one of its menu buttons ("del",
// "send", "share").
bool rowMenu(App& app, XServer& x, const std::string& patientName, const std::string& button);

// Clicks a text field of a screen and types into it; false when the field does not show.
bool typeInto(App& app, XServer& x, const std::string& name, const std::string& text);
// On the send screen: types "host:port" into the typed-address row and sends to it; true once
// the transfer's row ends "Done".
bool sendToTypedAddress(App& app, XServer& x, const std::string& address, View* shown);
// On the query/retrieve screen: searches the archive at 127.0.0.1:port (entity title "ANY-SCP")
// for a part of a patient's name; true once a series of the answer shows its download button.
bool searchArchive(App& app, XServer& x, int port, const std::string& patient, View* shown);

// Numbers in a text ("Area:3.93,W:2.24" gives 3.93 and 2.24).
std::vector<double> numbersIn(const std::string& text);

}  // namespace e2e
