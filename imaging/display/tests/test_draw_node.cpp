// The draw node's vertex arrays and its render commands (recorded by the headless renderer).
#include "isDrawNode.h"
#include "support/DisplayScene.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace isImageSDK;
using cocos2d::Vec3;

namespace {

class DrawNode : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(640, 480)));
        rig.start();
        rig.lookAt(0, 0);
        node = isDrawNode::create();
        ASSERT_NE(node, nullptr);
        rig.add(node);
    }
    void TearDown() override { rig.stop(); }

    // The commands this node issued in the last frame.
    std::vector<cocos2d::Renderer::CommandRecord> commands() const
    {
        std::vector<cocos2d::Renderer::CommandRecord> mine;
        for (const auto& record : rig.director->getRenderer()->getCommandRecords())
            if (record.owner == node)
                mine.push_back(record);
        return mine;
    }

    qvtest::DisplayScene rig;
    isDrawNode* node = nullptr;
};

} // namespace

TEST_F(DrawNode, OutlinesCloseAndCirclesHaveFiftyOnePoints)
{
    EXPECT_FALSE(node->hasCameraFlag(1));
    EXPECT_EQ(node->getLineWidth(), 4);
    EXPECT_FALSE(node->isStipple());

    const Vec3 square[4] = {Vec3(0, 0, 0), Vec3(10, 0, 0), Vec3(10, 10, 0), Vec3(0, 10, 0)};
    node->drawPoly(square, 4, cocos2d::Color4F(1, 0, 0, 1));
    ASSERT_EQ(node->getLineVertexCount(), 8);
    const cocos2d::V3F_C4B_T2F* v = node->getLineVertices();
    EXPECT_EQ(v[6].vertices, square[3]);
    EXPECT_EQ(v[7].vertices, square[0]);  // closed back to the first point
    EXPECT_EQ(v[0].colors.r, 255);
    EXPECT_EQ(v[0].colors.g, 0);

    node->clear();
    EXPECT_EQ(node->getLineVertexCount(), 0);
    for (float radius : {0.001f, 5.0f, 1e4f}) {
        node->clear();
        node->drawCircle(Vec3(1, 2, 3), Vec3(1, 0, 0), Vec3(0, 1, 0), radius, 0.0f, 1.0f, 2.0f,
                         cocos2d::Color4F::GREEN);
        ASSERT_EQ(node->getLineVertexCount(), 2 * 51) << radius;
        v = node->getLineVertices();
        // The first point on axis A, a quarter turn on axis B (scaled by 2), the 51st repeats
        // the first: the closing segment has length 0.
        EXPECT_NEAR(v[0].vertices.x, 1 + radius, radius * 1e-5 + 1e-6);
        EXPECT_NEAR(v[2 * 12 + 1].vertices.y, 2 + 2 * radius * std::sin(13 * 0.12566371f), radius * 1e-4 + 1e-5);
        EXPECT_NEAR(v[100].vertices.x, v[0].vertices.x, radius * 1e-5 + 1e-6);
        EXPECT_NEAR(v[100].vertices.y, v[0].vertices.y, radius * 1e-5 + 1e-6);
        EXPECT_EQ(v[101].vertices, v[0].vertices);
    }

    node->drawPoint(Vec3(4, 5, 6), 9.0f, cocos2d::Color4F::BLUE);
    ASSERT_EQ(node->getPointCount(), 1);
    EXPECT_EQ(node->getPointVertices()[0].texCoords.u, 9.0f);
}

TEST_F(DrawNode, GrowingKeepsEveryEarlierVertex)
{
    for (int i = 0; i < 1000; ++i)
        node->drawLine(Vec3(float(i), 0, 0), Vec3(float(i), 1, 0), cocos2d::Color4F::RED);
    for (int i = 0; i < 300; ++i)
        node->drawPoint(Vec3(0, float(i), 0), 3.0f, cocos2d::Color4F::RED);
    ASSERT_EQ(node->getLineVertexCount(), 2000);
    ASSERT_EQ(node->getPointCount(), 300);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(node->getLineVertices()[2 * i].vertices.x, float(i));
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(node->getPointVertices()[i].vertices.y, float(i));
}

TEST_F(DrawNode, IssuesOneCommandPerNonEmptyArrayAndNoneWhenEmpty)
{
    rig.frame();
    EXPECT_TRUE(commands().empty());

    node->drawLine(Vec3(0, 0, 0), Vec3(5, 5, 0), cocos2d::Color4F::RED);
    rig.frame();
    auto mine = commands();
    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(mine[0].type, cocos2d::RenderCommand::Type::CUSTOM_COMMAND);
    EXPECT_FALSE(mine[0].is3D);  // lines and handles draw over the slices
    EXPECT_EQ(mine[0].cameraFlag, qvtest::kSceneFlag);

    node->drawPoint(Vec3(1, 1, 0), 5.0f, cocos2d::Color4F::RED);
    rig.frame();
    EXPECT_EQ(commands().size(), 2u);

    node->clear();
    rig.frame();
    EXPECT_TRUE(commands().empty());
}
