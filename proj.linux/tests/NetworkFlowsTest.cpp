// The program's network screens used through its window against DCMTK's tools on 127.0.0.1: a
// study sent to a storage peer from the send screen, and a study found on an archive and retrieved
// through the query/retrieve screen.
#include "support/AppTest.h"
#include "support/Screens.h"

#include "../../platform/dicom/tests/support/DicomPeers.h"
#include "../../platform/dicom/tests/support/DicomTestData.h"

namespace e2e {
namespace {

const char* const kExampleName = "PHANTOM^QUORVANE";

bool showsExample(const View& v)
{
    return showsPatient(v, kExampleName, "1-1-20");
}

// Clicks a text field of a screen and types into it.
void typeInto(App& app, XServer& x, const std::string& name, const std::string& text)
{
    View view;
    ASSERT_TRUE(app.waitFor([&](const View& v) { return v.named(name) != nullptr; }, 10, &view)) << view.dump();
    app.click(*view.named(name));
    pause(300);
    x.type(text);
    pause(200);
}

}  // namespace

class NetworkFlows : public AppTest {};

// The example patient sent from its row's menu to a typed address: storescp receives every one of
// its images and the task's row ends "Done".
TEST_F(NetworkFlows, ExampleStudySentToAStoragePeerArrivesWhole)
{
    qvtest::TempDir dir;
    qvtest::StorePeer peer(dir);
    ASSERT_TRUE(peer.ready());
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view)) << view.dump();
    ASSERT_TRUE(rowMenu(*app, *x, kExampleName, "send"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("dcmSend") != nullptr; }, 10, &view))
        << view.dump();
    pause(500);
    view = app->probe();
    keep("send-screen");
    // The typed address row: the second of the node list, its field over the whole row.
    const std::vector<const Node*> rows = view.allNamed("dcmNodeInfo");
    ASSERT_GE(rows.size(), 2u) << view.dump();
    app->click(*rows[1]);
    pause(300);
    for (int i = 0; i < 24; ++i)
        x->key("BackSpace");
    x->type("127.0.0.1:" + std::to_string(peer.port()));
    pause(300);
    ASSERT_TRUE(app->clickNamed("dcmNode_send_input"));
    ASSERT_TRUE(app->waitForText("Done", 60, &view)) << view.dump() << peer.files().size();
    keep("sent");
    EXPECT_EQ(peer.files().size(), 20u);
    quitCleanly();
}

// A study of the archive found by a part of its patient's name and its series retrieved from the
// result list: it lands in the patient list with all its images.
TEST_F(NetworkFlows, StudyFoundOnAnArchiveIsRetrievedIntoThePatientList)
{
    qvtest::TempDir dir;
    const std::string source = writeStudy("archive-source", mrSpec(6, 64, "RETRIEVE^ME", "QR-0001"));
    qvtest::ArchivePeer archive(dir, filesBelow(source));
    ASSERT_TRUE(archive.ready());
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view)) << view.dump();
    ASSERT_TRUE(app->clickNamed("search"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("editIP") != nullptr; }, 10, &view))
        << view.dump();
    pause(500);
    keep("finder");
    typeInto(*app, *x, "editIP", "127.0.0.1");
    typeInto(*app, *x, "editPort", std::to_string(archive.port()));
    typeInto(*app, *x, "editTitle", "ANY-SCP");
    typeInto(*app, *x, "editPatient", "RETRIEVE");
    ASSERT_TRUE(app->clickNamed("btnSearch"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("btnDownload") != nullptr; }, 20, &view))
        << view.dump();
    keep("found");
    app->click(*view.named("btnDownload"));
    ASSERT_TRUE(app->clickNamed("btn_back"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return showsPatient(v, "RETRIEVE^ME", "1-1-6"); }, 60, &view))
        << view.dump();
    keep("retrieved");
    quitCleanly();
}

}  // namespace e2e
