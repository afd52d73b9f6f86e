#include "support/Screens.h"

#include <cmath>
#include <cstdlib>
#include <cctype>
#include <regex>

namespace e2e {

bool showsPatient(const View& v, const std::string& name, const std::string& counts)
{
    for (const Node& n : v.nodes) {
        if (n.name != "name" || n.text != name)
            continue;
        for (const Node* c : v.allNamed("imageNumber"))
            if (c->text == counts && std::abs(c->box.cy() - n.box.cy()) < 60 * v.pixelsPerUnit)
                return true;
    }
    return false;
}

bool showsExample(const View& v)
{
    return showsPatient(v, kExampleName, kExampleCounts);
}

std::vector<const Node*> imageWindows(const View& v)
{
    std::vector<const Node*> out;
    for (const Node& n : v.nodes)
        if (n.cls == "isImageSDK::isViewerImage")
            out.push_back(&n);
    return out;
}

const Node* firstImageWindow(const View& v)
{
    const std::vector<const Node*> all = imageWindows(v);
    return all.empty() ? nullptr : all.front();
}

const Node* textIn(const View& v, const Box& box, const std::string& prefix)
{
    for (const Node& n : v.nodes)
        if (n.hasText && n.text.compare(0, prefix.size(), prefix) == 0 && box.contains(n.box))
            return &n;
    return nullptr;
}

namespace {

// A decimal number filling text[from, to): optional '-', digits, optional '.' and digits.
bool isNumber(const std::string& text, size_t from, size_t to)
{
    if (from < to && text[from] == '-')
        ++from;
    bool digits = false, point = false;
    for (size_t i = from; i < to; ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])))
            digits = true;
        else if (text[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}

}  // namespace

bool slicePosition(const View& v, const Box& window, double* mm, std::string* letter)
{
    // "<S|I|A|P|R|L>:<number>mm"
    for (const Node& n : v.nodes) {
        const std::string& t = n.text;
        if (!n.hasText || !window.contains(n.box) || t.size() < 5 || t[1] != ':' ||
            std::string("SIAPRL").find(t[0]) == std::string::npos || t.compare(t.size() - 2, 2, "mm") != 0 ||
            !isNumber(t, 2, t.size() - 2))
            continue;
        *mm = std::atof(t.c_str() + 2);
        if (letter)
            *letter = t.substr(0, 1);
        return true;
    }
    return false;
}

std::string windowLevelText(const View& v, const Box& window)
{
    // "<width> <level>" with an optional trailing space
    for (const Node& n : v.nodes) {
        if (!n.hasText || !window.contains(n.box))
            continue;
        std::string t = n.text;
        if (!t.empty() && t.back() == ' ')
            t.pop_back();
        const size_t space = t.find(' ');
        if (space != std::string::npos && isNumber(t, 0, space) && isNumber(t, space + 1, t.size()))
            return n.text;
    }
    return "";
}

bool overlayFilled(const View& v, const Box& window)
{
    if (windowLevelText(v, window).empty())
        return false;
    static const std::regex dateAndTime(R"(\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}(:\d{0,2})?)");
    for (const Node& n : v.nodes)
        if (n.hasText && window.contains(n.box) && std::regex_match(n.text, dateAndTime))
            return true;
    return false;
}

bool waitForDrawn(App& app, const View& shown)
{
    // The probe reports the frame about to be drawn: two frames on, it has been drawn and swapped.
    return app.waitFor([&](const View& v) { return v.frames >= shown.frames + 2; }, 10);
}

bool waitForInputDrawn(App& app)
{
    View next = app.probe();
    next.frames += 1;
    return next.valid() && waitForDrawn(app, next);
}

namespace {

// Every image window of the view shows its corner texts filled.
bool allOverlaysFilled(const View& v)
{
    const std::vector<const Node*> windows = imageWindows(v);
    if (windows.empty())
        return false;
    for (const Node* w : windows)
        if (!overlayFilled(v, w->box))
            return false;
    return true;
}

}  // namespace

bool openSeries(App& app, const std::string& description, View* shown)
{
    View view;
    if (!app.waitFor([&](const View& v) { return v.withText(description) != nullptr; }, 30, &view))
        return false;
    const Node* desc = view.withText(description);
    const Node* open = nullptr;
    for (const Node* mark : view.allNamed("openMark"))
        if (std::abs(mark->box.cy() - desc->box.cy()) < 60 * view.pixelsPerUnit && mark->box.x > desc->box.x)
            open = mark;
    if (!open)
        return false;
    app.click(*open);
    return app.waitFor([](const View& v) { return v.hasScreen("imageViewerPC") && allOverlaysFilled(v); }, 60, shown) &&
           waitForDrawn(app, *shown);
}

bool openExample(App& app, View* shown)
{
    if (!openSeries(app, kExampleSeries, shown))
        return false;
    return app.waitFor(
               [](const View& v) {
                   return v.withText("Sagittal") && v.withText("Coronal") && imageWindows(v).size() >= 3 &&
                          allOverlaysFilled(v);
               },
               90, shown) &&
           waitForDrawn(app, *shown);
}

bool openPatient(App& app, const std::string& name)
{
    View view;
    if (!app.waitFor([&](const View& v) { return v.withText(name) != nullptr; }, 30, &view))
        return false;
    // The row's right end opens it in any window (a touch anywhere does only in a wide one).
    const Node* text = view.withText(name);
    for (const Node* row : view.allNamed("patientRecord")) {
        if (!row->box.contains(text->box))
            continue;
        for (const Node* mark : view.allNamed("openMark"))
            if (row->box.contains(mark->box)) {
                app.click(*mark);
                return true;
            }
    }
    return false;
}

bool rowMenu(App& app, XServer& x, const std::string& patientName, const std::string& button)
{
    View view;
    if (!app.waitFor([&](const View& v) { return v.withText(patientName) != nullptr; }, 30, &view))
        return false;
    const Node* name = view.withText(patientName);
    const Node* row = nullptr;
    for (const Node* r : view.allNamed("patientRecord"))
        if (r->box.contains(name->box))
            row = r;
    if (!row)
        return false;
    const int y = row->box.cy();
    x.drag(row->box.x + int(8 * view.pixelsPerUnit), y, row->box.x + int(320 * view.pixelsPerUnit), y, 1, 16);
    // The row slides open over some frames: the button is touched once it stays put from one
    // report (one frame) to the next.
    View menu;
    Box last{-1, -1, 0, 0};
    const auto settled = [&](const View& v) {
        const Node* b = v.named(button);
        if (!b || !v.named("leftMenu"))
            return false;
        const bool still = b->box.x == last.x && b->box.y == last.y;
        last = b->box;
        return still;
    };
    if (!app.waitFor(settled, 10, &menu))
        return false;
    app.click(*menu.named(button));
    return true;
}

bool typeInto(App& app, XServer& x, const std::string& name, const std::string& text)
{
    View view;
    if (!app.waitFor([&](const View& v) { return v.named(name) != nullptr; }, 10, &view))
        return false;
    // The field takes the keys once the click has been handled; the caller's next step sees them.
    app.click(*view.named(name));
    if (!waitForInputDrawn(app))
        return false;
    x.type(text);
    return waitForInputDrawn(app);
}

bool sendToTypedAddress(App& app, XServer& x, const std::string& address, View* shown)
{
    // The typed address row: the second of the node list, its field over the whole row.
    View view;
    if (!app.waitFor([](const View& v) { return v.allNamed("dcmNodeInfo").size() >= 2; }, 10, &view))
        return false;
    app.click(*view.allNamed("dcmNodeInfo")[1]);
    if (!waitForInputDrawn(app))
        return false;
    for (int i = 0; i < 24; ++i)
        x.key("BackSpace");
    x.type(address);
    return waitForInputDrawn(app) && app.clickNamed("dcmNode_send_input") && app.waitForText("Done", 60, shown);
}

bool searchArchive(App& app, XServer& x, int port, const std::string& patient, View* shown)
{
    return typeInto(app, x, "editIP", "127.0.0.1") && typeInto(app, x, "editPort", std::to_string(port)) &&
           typeInto(app, x, "editTitle", "ANY-SCP") && typeInto(app, x, "editPatient", patient) &&
           app.clickNamed("btnSearch") &&
           app.waitFor([](const View& v) { return v.named("btnDownload") != nullptr; }, 20, shown);
}

std::vector<double> numbersIn(const std::string& text)
{
    std::vector<double> out;
    for (size_t i = 0; i < text.size();) {
        const bool negative = text[i] == '-' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]));
        if (!negative && !std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        char* end = nullptr;
        out.push_back(std::strtod(text.c_str() + i, &end));
        i = size_t(end - text.c_str());
    }
    return out;
}

}  // namespace e2e
