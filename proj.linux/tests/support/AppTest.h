// The fixture of the end-to-end tests: a private display per test, a fresh writable folder, the
// program started and restarted on it, screenshots kept under <build>/proj.linux/e2e-shots/, and
// the library's files and rows read back from disk.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Phantom.h"
#include "support/App.h"
#include "support/XServer.h"

namespace e2e {

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts a private X server (replacing the one of SetUp).
    void useScreen(int width, int height, int dpi = 96);
    // Starts the program on the test's writable folder (the same folder on every start).
    App& launch();
    // Closes the window as a user does; the program must end cleanly (exit status 0).
    void quitCleanly();

    // Saves a screenshot as <test>-<label>.png and returns it.
    Screenshot keep(const std::string& label);

    // Where the program keeps its data ("<xdg>/quorvane/").
    std::string writable() const { return folder + "xdg/quorvane/"; }
    std::string library() const { return writable() + "qv/dicom/"; }

    // The rows of an SQL query on the library database (read only), each row's values joined by '|'.
    std::vector<std::string> query(const std::string& sql) const;
    // Every image file of the library as the database names it (absolute paths).
    std::vector<std::string> imageFiles() const;

    // An MR phantom of slices images of size x size, 1.5 mm pixels, 3 mm apart, of its own patient.
    static qvgen::PhantomSpec mrSpec(int slices, int size, const std::string& patientName,
                                     const std::string& patientID);
    // Writes the phantom's series into a new folder of the test; returns the folder.
    std::string writeStudy(const std::string& name, const qvgen::PhantomSpec& spec);

    // Imports a folder as a user does: the Import button, the path typed into the prompt, Enter.
    void importFolder(const std::string& path);

    // The study panel's series row of this description, and its "open" end.
    const Node* seriesRow(const View& view, const std::string& description) const;

    std::string testName;
    std::string folder;  // the test's own folder, ending in "/"
    std::unique_ptr<XServer> x;
    std::unique_ptr<App> app;
};

// Files below a folder (recursive, absolute), sorted.
std::vector<std::string> filesBelow(const std::string& folder);
// The same without the checks the caches are written with ("<file>.check"); each file listed
// must have its check.
std::vector<std::string> checkedFilesBelow(const std::string& folder);

}  // namespace e2e
