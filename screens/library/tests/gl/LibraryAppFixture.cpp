#include "LibraryAppFixture.h"

#include "GLTestProgram.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "AppConfig.h"
#include "NSFileUtil.h"
#include "NSNotificationCenter.h"
#include "Phantom.h"
#include "UILocalConfig.h"
#include "dataService.h"
#include "dicomDB.h"
#include "importDcm.h"
#include "qvTestPaths.h"

USING_NS_CC;

void LibraryAppTest::SetUp()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch = std::string(QV_TEST_BINARY_DIR) + "/library-app/" + info->test_suite_name() + "." + info->name() + "/";
    FileUtils* files = FileUtils::getInstance();
    files->removeDirectory(scratch);
    files->createDirectory(scratch + "data/");
    files->setWritablePath(scratch + "data/");
    files->clearChooseFileAnswer();
    // The storage server stays closed: tests that need one start their own on loopback.
    dataService::setDatabaseSetupForTest([](dicomDB* db) { db->setStartServerForTest(false); });
    AppDelegate::setEndsDicomLibrary(false);  // one DICOM library for every launch of the program
}

void LibraryAppTest::TearDown()
{
    if (launched)
        quit();
    FileUtils::getInstance()->setWritablePath("");
    FileUtils::getInstance()->clearChooseFileAnswer();
    FileUtils::getInstance()->removeDirectory(scratch);
}

void LibraryAppTest::launch(bool withExample)
{
    UserDefault::destroyInstance();  // the settings of this test's writable folder
    if (!withExample) {
        AppConfig::getInstance();  // its first-run bookkeeping asks for the example; undo that
        NSUI::UILocalConfig::setLocalString("app_init_db", "0");
    }
    Director* director = Director::getInstance();
    director->setOpenGLView(qvtest::testWindow());
    app = new AppDelegate();
    ASSERT_TRUE(app->applicationDidFinishLaunching());
    launched = true;
    frame();
    frame(0.5f);  // the notification centre's first delay
}

void LibraryAppTest::quit()
{
    Director* director = Director::getInstance();
    // The scenes end before the services (onExit and clean-up of every screen).
    while (Scene* scene = director->getRunningScene()) {
        scene->retain();
        scene->onExit();
        scene->cleanup();
        scene->removeAllChildren();
        scene->release();
        break;
    }
    app->shutdown();
    delete app;
    app = nullptr;
    launched = false;
    Director::destroyInstance();
    UserDefault::destroyInstance();
}

bool LibraryAppTest::frameUntil(const std::function<bool()>& pred, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

patientList* LibraryAppTest::home() const
{
    Director* director = Director::getInstance();
    Scene* scene = director->getRunningScene();
    if (!scene)
        return nullptr;
    for (Node* child : scene->getChildren()) {
        if (auto* screen = dynamic_cast<patientList*>(child))
            return screen;
    }
    return nullptr;
}

studyList* LibraryAppTest::panel() const
{
    patientList* screen = home();
    if (!screen || !screen->getTable())
        return nullptr;
    return dynamic_cast<studyList*>(screen->getTable()->getParent()->getChildByName(patientList::kStudyPanelName));
}

void LibraryAppTest::clickNode(Node* node)
{
    const Size size = node->getContentSize();
    const Vec2 centre = node->convertToWorldSpace(Vec2(size.width / 2, size.height / 2));
    InputSimulator::click(centre.x, centre.y);
}

void LibraryAppTest::writeStudy(const std::string& folder, const std::string& patientName,
                                const std::string& patientID, int slices)
{
    writeSeries(folder, studySpec(patientName, patientID, slices));
}

qvgen::PhantomSpec LibraryAppTest::studySpec(const std::string& patientName, const std::string& patientID, int slices)
{
    qvgen::PhantomSpec spec;
    spec.columns = 64;
    spec.rows = 64;
    spec.slices = slices;
    spec.patientName = patientName;
    spec.patientID = patientID;
    spec.studyDescription = "Study of " + patientID;
    return spec;
}

void LibraryAppTest::writeSeries(const std::string& folder, const qvgen::PhantomSpec& spec)
{
    std::string error;
    FileUtils::getInstance()->createDirectory(folder);
    ASSERT_TRUE(qvgen::Phantom(spec).write(folder, &error)) << error;
}

namespace libraryapp {

patientList::listObject* rowAt(patientList* screen, ssize_t i)
{
    return static_cast<patientList::listObject*>(screen->getTable()->getRowData().at(i));
}

int rowCount(patientList* screen)
{
    return screen && screen->getTable() ? int(screen->getTable()->getRowCount()) : -1;
}

bool importIdle(patientList* screen)
{
    return screen && !screen->isUnpacking() && screen->pendingZipCount() == 0 && screen->getImporter() &&
           !screen->getImporter()->isBusy();
}

namespace {

ui::Text* toastText(Node** box = nullptr)
{
    Scene* scene = Director::getInstance()->getRunningScene();
    if (box)
        *box = scene ? scene->getChildByNameDeep("messageBox") : nullptr;
    return dynamic_cast<ui::Text*>(scene ? scene->getChildByNameDeep("messageBox.text") : nullptr);
}

} // namespace

std::string toastShown()
{
    Node* box = nullptr;
    ui::Text* text = toastText(&box);
    return text && box && box->isVisible() ? text->getString() : std::string();
}

std::string takeToast()
{
    ui::Text* text = toastText();
    if (!text)
        return "";
    const std::string shown = text->getString();
    text->setString("");
    return shown;
}

} // namespace libraryapp

std::vector<std::string> filesBelow(const std::string& folder)
{
    std::vector<std::string> files;
    listFiles(folder, files, true, true);
    for (std::string& f : files)
        f = f.substr(folder.size());
    std::sort(files.begin(), files.end());
    return files;
}

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}
