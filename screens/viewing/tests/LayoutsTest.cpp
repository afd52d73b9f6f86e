// Every layout of the viewer screen loads, holds each child the code looks up with the kind the
// code expects, and names only pictures that exist.
#include "support/ViewingFixture.h"

#include "cocostudio/CSLoader.h"
#include "qvTestPaths.h"
#include "ui/CocosGUI.h"

#include <fstream>
#include <set>
#include <regex>
#include <sstream>

USING_NS_CC;

namespace {

template <class Kind>
void expectChild(Node* root, const std::string& layout, const std::string& name)
{
    Node* node = root->getChildByNameDeep(name);
    ASSERT_NE(node, nullptr) << layout << ": no " << name;
    EXPECT_NE(dynamic_cast<Kind*>(node), nullptr) << layout << ": " << name << " is of another kind";
}

const char* const kPanelButtons[] = {
    "btnTile1x1", "btnTile1x2", "btnTile2x1", "btnTile2x2", "btnViewAxial", "btnViewSagittal", "btnViewCoronal",
    "btnViewVR", "btnCmdSelection", "btnCmdMove", "btnCmdZoom", "btnCmdRotate", "btnCmdPlay", "btnCmdPrior",
    "btnCmdNext", "btnCmdOriS", "btnCmdOriI", "btnCmdOriA", "btnCmdOriP", "btnCmdOriR", "btnCmdOriL", "btnCmdWL",
    "btnCmdClut", "btnCmdWLOpaticy", "btnCmdPoint", "btnCmdLine", "btnCmdAngle", "btnCmdPolygon", "btnCmdCircle",
    "btnCmdRemoveROI", "btnCmdCapture"};

} // namespace

using LayoutsTest = ViewingTest;

TEST_F(LayoutsTest, ScreenLayoutHoldsItsControls)
{
    Node* root = CSLoader::createNode("singleViewPC.csb");
    ASSERT_NE(root, nullptr);
    expectChild<Node>(root, "singleViewPC", "tool");
    EXPECT_EQ(int(root->getChildByName("tool")->getContentSize().width), 300);
    expectChild<ui::ImageView>(root, "singleViewPC", "Image_5");
    expectChild<ui::ImageView>(root, "singleViewPC", "selectLine");
    for (const char* name : {"btnCmdFavorite", "btnCmdToolbox", "goBack"})
        expectChild<ui::Button>(root, "singleViewPC", name);

    Node* message = CSLoader::createNode("noSupport.csb");
    ASSERT_NE(message, nullptr);
    expectChild<ui::Text>(message, "noSupport", "intro");
    EXPECT_GT(message->getContentSize().width, 0);
}

TEST_F(LayoutsTest, ToolPanelsHoldTheirButtonsAndTogetherEveryOne)
{
    std::set<std::string> seen;
    for (const char* file : {"2DTool.csb", "3DTool.csb", "3DVRTool.csb"}) {
        Node* panel = CSLoader::createNode(file);
        ASSERT_NE(panel, nullptr) << file;
        EXPECT_EQ(int(panel->getContentSize().width), 300) << file;
        expectChild<ui::Slider>(panel, file, "sliderSlice");
        ASSERT_NE(panel->getChildByName("roiList"), nullptr) << file;
        EXPECT_FALSE(panel->getChildByName("roiList")->isVisible()) << file;
        for (const char* name : kPanelButtons) {
            if (Node* node = panel->getChildByName(name)) {
                EXPECT_NE(dynamic_cast<ui::Button*>(node), nullptr) << file << ": " << name;
                seen.insert(name);
            }
        }
    }
    for (const char* name : kPanelButtons)
        EXPECT_TRUE(seen.count(name)) << name << " is on no panel";
    // Plane panels carry the cine and the measurements; only the volume panel the orientation.
    Node* plain = CSLoader::createNode("2DTool.csb");
    Node* planes = CSLoader::createNode("3DTool.csb");
    Node* volume = CSLoader::createNode("3DVRTool.csb");
    EXPECT_NE(plain->getChildByName("btnCmdPlay"), nullptr);
    EXPECT_EQ(plain->getChildByName("btnViewVR"), nullptr);
    EXPECT_NE(planes->getChildByName("btnViewVR"), nullptr);
    EXPECT_NE(volume->getChildByName("btnCmdOriS"), nullptr);
    EXPECT_EQ(volume->getChildByName("btnCmdLine"), nullptr);
}

TEST_F(LayoutsTest, DiskPagesHoldTheirItems)
{
    Node* disk = CSLoader::createNode("toolDisk.csb");
    ASSERT_NE(disk, nullptr);
    Node* image = CSLoader::createNode("toolImage.csb");
    ASSERT_NE(image, nullptr);
    EXPECT_NEAR(image->getContentSize().width, 310, 1);
    const std::vector<std::pair<const char*, std::vector<const char*>>> pages = {
        {"toolImageClut.csb", {"bwInverse", "hotMetal", "geColor", "perfusion", "noClut"}},
        {"tooLayout.csb", {"win1x1", "win1x2", "win2x1", "win2x2"}},
        {"toolROI.csb", {"angle", "cross", "polygon", "circle", "line"}},
        {"toolViewType.csb", {"axial", "cor", "sag", "vr"}},
    };
    for (const auto& [file, items] : pages) {
        Node* page = CSLoader::createNode(file);
        ASSERT_NE(page, nullptr) << file;
        for (const char* item : items) {
            expectChild<ui::ImageView>(page, file, item);
            EXPECT_GT(page->getChildByName(item)->getContentSize().width, 0) << file << ": " << item;
        }
    }
}

TEST_F(LayoutsTest, EveryPictureNamedExists)
{
    // The layouts, and the pictures the screen, the disk and the bar name in code.
    std::vector<std::string> names = {"imgs/play.png", "imgs/pause.png", "imgs/Linear.png", "imgs/Log10.png",
                                      "imgs/Log10Inv.png", "imgs/bwInverse.png", "imgs/hotMetal.png",
                                      "imgs/geColor.png", "imgs/perfusion.png", "imgs/noClut.png", "imgs/return.png",
                                      "res/fullscreen.png", "res/fullscreen_exit.png", "res/cameraBlue.png",
                                      "res/favoriteBlue.png", "res/dcmInfoBlue.png", "res/link.png",
                                      "res/unlink.png", "res/arrowDown.png"};
    const std::regex picture("\"([A-Za-z0-9_/]+\\.png)\"");
    for (const char* file : {"singleViewPC.csb", "2DTool.csb", "3DTool.csb", "3DVRTool.csb", "noSupport.csb",
                             "toolDisk.csb", "toolImage.csb", "toolImageClut.csb", "tooLayout.csb", "toolROI.csb",
                             "toolViewType.csb"}) {
        std::ifstream in(std::string(QV_RESOURCE_DIR) + "/res/pad/" + file);
        ASSERT_TRUE(in.good()) << file;
        std::stringstream text;
        text << in.rdbuf();
        const std::string s = text.str();
        for (std::sregex_iterator it(s.begin(), s.end(), picture), end; it != end; ++it)
            names.push_back((*it)[1]);
    }
    for (const std::string& name : names)
        EXPECT_TRUE(FileUtils::getInstance()->isFileExist(name)) << name;
}
