// The renderer's queue, camera passes, clipping and captures, recorded headless.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cocos2d.h"
#include "support/HeadlessDirector.h"
#include "support/ClipNode.h"
#include "support/TempDir.h"

USING_NS_CC;

namespace {

// A node whose draw adds the commands a test gives it.
class CommandNode : public Node, public ClippingProtocol {
public:
    static CommandNode* create()
    {
        auto* n = new CommandNode();
        n->init();
        n->autorelease();
        return n;
    }
    // Adds a custom command per entry: its global z and 3D flag.
    void addCustom(float z, bool is3D)
    {
        _specs.push_back({z, is3D});
        _commands.emplace_back();
    }
    void draw(Renderer* renderer, const Mat4& transform, uint32_t flags) override
    {
        ++draws;
        if (wrapInScissor) {
            beginScissor();
        }
        for (size_t i = 0; i < _specs.size(); ++i) {
            _commands[i].init(_specs[i].z, transform, flags);
            _commands[i].set3D(_specs[i].is3D);
            _commands[i].setOwner(this);
            _commands[i].func = [this, i] { executed.push_back(int(i)); };
            renderer->addCommand(&_commands[i]);
        }
        if (wrapInScissor) {
            endScissor();
        }
    }
    const CustomCommand& command(size_t i) const { return _commands[i]; }

    int draws = 0;
    bool wrapInScissor = false;
    std::vector<int> executed;

private:
    struct Spec {
        float z;
        bool is3D;
    };
    std::vector<Spec> _specs;
    std::vector<CustomCommand> _commands;
};

class RendererTest : public qvtest::HeadlessDirectorTest {
protected:
    void SetUp() override
    {
        HeadlessDirectorTest::SetUp();
        scene = Scene::create();
        director->runWithScene(scene);
        renderer = director->getRenderer();
    }

    // Records of the last frame, in execution order, issued by the given owner (or all).
    std::vector<Renderer::CommandRecord> records(const void* owner = nullptr) const
    {
        std::vector<Renderer::CommandRecord> out;
        for (const auto& r : renderer->getCommandRecords()) {
            if (!owner || r.owner == owner) {
                out.push_back(r);
            }
        }
        return out;
    }

    Scene* scene = nullptr;
    Renderer* renderer = nullptr;
};

TEST_F(RendererTest, GroupsRunNegativeThen3DThen2DThenPositiveKeepingSubmissionOrder)
{
    auto* a = CommandNode::create();
    a->addCustom(0, false); // 0: 2D
    a->addCustom(0, true);  // 1: 3D
    a->addCustom(5, false); // 2: z 5
    a->addCustom(-2, false); // 3: z -2
    a->addCustom(0, true);  // 4: 3D
    a->addCustom(5, true);  // 5: z 5 (a 3D flag does not move a command out of its z group)
    a->addCustom(-7, false); // 6: z -7
    a->addCustom(0, false); // 7: 2D
    scene->addChild(a);
    director->stepFrame(1.0f / 60);

    std::vector<const RenderCommand*> expected = {&a->command(6), &a->command(3), &a->command(1), &a->command(4),
                                                  &a->command(0), &a->command(7), &a->command(2), &a->command(5)};
    const auto rec = records(a);
    ASSERT_EQ(rec.size(), expected.size());
    for (size_t i = 0; i < rec.size(); ++i) {
        EXPECT_EQ(rec[i].command, expected[i]) << "position " << i;
    }
    // Headless: recorded, never run.
    EXPECT_TRUE(a->executed.empty());
}

TEST_F(RendererTest, ConsecutiveCommandsOfOneNodeStayTogetherAcrossNodes)
{
    // A shader-style node with before-draw, draw and after-draw commands between two others.
    auto* first = CommandNode::create();
    first->addCustom(0, true);
    auto* shader = CommandNode::create();
    shader->addCustom(0, true);
    shader->addCustom(0, true);
    shader->addCustom(0, true);
    auto* last = CommandNode::create();
    last->addCustom(0, true);
    scene->addChild(first);
    scene->addChild(shader);
    scene->addChild(last);
    director->stepFrame(1.0f / 60);

    const auto rec = records();
    std::vector<const void*> owners;
    for (const auto& r : rec) {
        owners.push_back(r.owner);
    }
    const std::vector<const void*> expected = {first, shader, shader, shader, last};
    EXPECT_EQ(owners, expected);
    EXPECT_EQ(rec[1].command, &shader->command(0));
    EXPECT_EQ(rec[2].command, &shader->command(1));
    EXPECT_EQ(rec[3].command, &shader->command(2));
}

TEST_F(RendererTest, CameraFlagsAreIdentitiesAndPassesRunUserCamerasFirst)
{
    auto* cam2 = Camera::createOrthographic(100, 100, 1, 1000);
    cam2->setCameraFlag(2);
    auto* cam3 = Camera::createOrthographic(100, 100, 1, 1000);
    cam3->setCameraFlag(3);
    scene->addChild(cam3); // enters first: drawn first among depth 0
    scene->addChild(cam2);

    auto* onlyThree = CommandNode::create();
    onlyThree->addCustom(0, false);
    onlyThree->setCameraMask(3);
    auto* defaultOnly = CommandNode::create();
    defaultOnly->addCustom(0, false);
    auto* none = CommandNode::create();
    none->addCustom(0, false);
    none->removeCameraMask(1, true);
    scene->addChild(onlyThree);
    scene->addChild(defaultOnly);
    scene->addChild(none);

    director->stepFrame(1.0f / 60);

    const auto& passes = renderer->getPassRecords();
    ASSERT_EQ(passes.size(), 3u);
    EXPECT_EQ(passes[0].cameraFlag, 3);
    EXPECT_EQ(passes[1].cameraFlag, 2);
    EXPECT_EQ(passes[2].cameraFlag, 1); // the default camera draws last
    for (const auto& p : passes) {
        EXPECT_TRUE(p.depthCleared);
    }

    // A flag of 3 is not a bit pattern that includes 1 and 2.
    const auto three = records(onlyThree);
    ASSERT_EQ(three.size(), 1u);
    EXPECT_EQ(three[0].cameraFlag, 3);
    const auto def = records(defaultOnly);
    ASSERT_EQ(def.size(), 1u);
    EXPECT_EQ(def[0].cameraFlag, 1);
    EXPECT_TRUE(records(none).empty());
    EXPECT_EQ(onlyThree->draws, 1);
    EXPECT_EQ(none->draws, 0);

    // Depth orders passes before entering order; an invisible camera makes no pass.
    cam2->setDepth(-1);
    cam3->setVisible(false);
    director->stepFrame(1.0f / 60);
    ASSERT_EQ(renderer->getPassRecords().size(), 2u);
    EXPECT_EQ(renderer->getPassRecords()[0].cameraFlag, 2);
    EXPECT_EQ(renderer->getPassRecords()[1].cameraFlag, 1);
    EXPECT_TRUE(records(onlyThree).empty());
}

TEST_F(RendererTest, SceneKnowsItsCamerasAtAnyDepthAndForgetsThemOnExit)
{
    ASSERT_NE(scene->getDefaultCamera(), nullptr);
    EXPECT_EQ(Camera::getDefaultCamera(), nullptr); // the scene is not running before the first frame
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(Camera::getDefaultCamera(), scene->getDefaultCamera());
    ASSERT_EQ(scene->getCameras().size(), 1u);

    auto* holder = Node::create();
    auto* nested = Camera::createPerspective(60, 1, 1, 100);
    holder->addChild(nested);
    scene->addChild(holder);
    ASSERT_EQ(scene->getCameras().size(), 2u);
    EXPECT_EQ(scene->getCameras()[0], scene->getDefaultCamera());
    EXPECT_EQ(scene->getCameras()[1], nested);

    holder->removeFromParent();
    EXPECT_EQ(scene->getCameras().size(), 1u);
    EXPECT_EQ(Camera::getVisitingCamera(), nullptr);
}

TEST_F(RendererTest, DefaultCameraMapsDesignUnitsOntoTheWindow)
{
    director->stepFrame(1.0f / 60);
    Camera* camera = scene->getDefaultCamera();
    const Size win = director->getWinSize();
    for (const Vec2& p : {Vec2(0, 0), Vec2(win.width, win.height), Vec2(123, 456)}) {
        const Vec2 projected = camera->project(Vec3(p.x, p.y, 0));
        EXPECT_NEAR(projected.x, p.x, 0.01f);
        EXPECT_NEAR(projected.y, p.y, 0.01f);
    }
    // unproject at the depth of the z = 0 plane returns the point.
    const Vec2 onPlane = camera->project(Vec3(200, 100, 0));
    Vec4 clip(200, 100, 0, 1);
    camera->getViewProjectionMatrix().transformVector(&clip);
    const float depth = (clip.z / clip.w + 1.0f) / 2.0f;
    const Vec3 back = camera->unproject(Vec3(onPlane.x, onPlane.y, depth));
    EXPECT_NEAR(back.x, 200, 0.05f);
    EXPECT_NEAR(back.y, 100, 0.05f);
    EXPECT_NEAR(back.z, 0, 0.05f);
}

TEST_F(RendererTest, AdditionalProjectionCompoundsOnTheLeft)
{
    auto* camera = Camera::createOrthographic(200, 100, 1, 100);
    const Mat4 base = camera->getProjectionMatrix();
    Mat4 squeeze;
    Mat4::createScale(0.5f, 0.5f, 1.0f, &squeeze);
    camera->setAdditionalProjection(squeeze);
    EXPECT_EQ(camera->getProjectionMatrix(), squeeze * base);
    camera->setAdditionalProjection(squeeze);
    EXPECT_EQ(camera->getProjectionMatrix(), squeeze * squeeze * base);
}

TEST_F(RendererTest, CamerasAreCpuMathsOnAnyThread)
{
    // Built, projected and freed on a worker (with its own pool) that never touches the scene.
    bool ok = false;
    std::thread worker([&ok] {
        PoolManager::getInstance()->addThread(std::this_thread::get_id());
        auto* camera = Camera::createPerspective(60, 1.5f, 1, 1000);
        camera->setPosition3D(Vec3(0, 0, 100));
        camera->lookAt(Vec3(0, 0, 0), Vec3(0, 1, 0));
        Vec4 clip(0, 0, 0, 1);
        camera->getViewProjectionMatrix().transformVector(&clip);
        ok = std::abs(clip.x) < 1e-4f && std::abs(clip.y) < 1e-4f && clip.w > 0;
        PoolManager::getInstance()->removeThread(std::this_thread::get_id());
    });
    worker.join();
    EXPECT_TRUE(ok);
}

TEST_F(RendererTest, ScissorTravelsWithA3DNodeAndNestedClipsIntersect)
{
    auto* outer = qvtest::ClipNode::create(Rect(10, 10, 200, 100));
    auto* inner = qvtest::ClipNode::create(Rect(50, 0, 400, 80));
    auto* node3d = CommandNode::create();
    node3d->addCustom(0, true);
    node3d->setDepthTestEnabled(true);
    node3d->wrapInScissor = true;
    auto* outside = CommandNode::create();
    outside->addCustom(0, true);
    outside->setDepthTestEnabled(true);
    outside->wrapInScissor = true; // no clipping ancestor: no scissor commands
    inner->addChild(node3d);
    outer->addChild(inner);
    scene->addChild(outer);
    scene->addChild(outside);
    director->stepFrame(1.0f / 60);

    const auto rec = records(node3d);
    ASSERT_EQ(rec.size(), 3u);
    EXPECT_EQ(rec[0].type, RenderCommand::Type::SCISSOR_BEGIN_COMMAND);
    EXPECT_TRUE(rec[0].is3D);
    EXPECT_EQ(rec[0].clipRect, Rect(50, 10, 160, 70));
    EXPECT_EQ(rec[1].type, RenderCommand::Type::CUSTOM_COMMAND);
    EXPECT_EQ(rec[2].type, RenderCommand::Type::SCISSOR_END_COMMAND);
    EXPECT_EQ(records(outside).size(), 1u);

    // The layouts' own pairs stay in the 2D group, after every 3D command.
    const auto all = records();
    size_t last3D = 0;
    size_t first2D = all.size();
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].is3D) {
            last3D = i;
        } else {
            first2D = std::min(first2D, i);
        }
    }
    EXPECT_LT(last3D, first2D);
    EXPECT_EQ(all[first2D].clipRect, Rect(10, 10, 200, 100));
    EXPECT_FALSE(renderer->hasClipRect()); // balanced at the end of the visit
}

TEST_F(RendererTest, TrianglesWithAnIndexPastTheirVerticesAreSkipped)
{
    // Batching copies vertices by index; a bad index must not read past the caller's array.
    V3F_C4B_T2F verts[3];
    unsigned short good[3] = {0, 1, 2};
    unsigned short bad[3] = {0, 1, 3};
    GLProgramState* state = GLProgramState::getOrCreateWithGLProgramName(GLProgram::SHADER_NAME_POSITION_COLOR_NO_MVP);
    TrianglesCommand::Triangles triangles;
    triangles.verts = verts;
    triangles.vertCount = 3;
    triangles.indexCount = 3;
    TrianglesCommand ok;
    TrianglesCommand broken;
    triangles.indices = good;
    ok.init(0, 0u, state, BlendFunc::DISABLE, triangles, Mat4::IDENTITY, 0);
    triangles.indices = bad;
    broken.init(0, 1u, state, BlendFunc::DISABLE, triangles, Mat4::IDENTITY, 0);
    qvtest::LogCapture logs;
    renderer->beginFrame(Color4F::BLACK);
    renderer->addCommand(&broken);
    renderer->addCommand(&ok);
    renderer->render();
    EXPECT_EQ(renderer->getDrawnBatches(), 1);
    EXPECT_EQ(renderer->getDrawnVertices(), 3);
    EXPECT_EQ(logs.lines().size(), 1u);
}

TEST_F(RendererTest, CullingOnlyForTheDefaultCamera)
{
    director->stepFrame(1.0f / 60);
    Camera::setVisitingCamera(scene->getDefaultCamera());
    Mat4 inside;
    Mat4::createTranslation(100, 100, 0, &inside);
    Mat4 outside;
    Mat4::createTranslation(5000, 100, 0, &outside);
    EXPECT_TRUE(renderer->checkVisibility(inside, Size(10, 10)));
    EXPECT_FALSE(renderer->checkVisibility(outside, Size(10, 10)));
    auto* other = Camera::createOrthographic(10, 10, 1, 10);
    Camera::setVisitingCamera(other);
    EXPECT_TRUE(renderer->checkVisibility(outside, Size(10, 10)));
    Camera::setVisitingCamera(nullptr);
}

TEST_F(RendererTest, HeadlessCaptureReportsFailureOnceAfterTheNextFrame)
{
    qvtest::TempDir dir;
    int calls = 0;
    bool result = true;
    std::thread::id thread;
    utils::captureScreen(
        [&](bool ok, const std::string&) {
            ++calls;
            result = ok;
            thread = std::this_thread::get_id();
        },
        dir / "shot.png", 0, 0, 0, 0);
    EXPECT_EQ(calls, 0);
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(result);
    EXPECT_EQ(thread, std::this_thread::get_id());
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(qvtest::countEntries(dir.path()), 0);
}

TEST_F(RendererTest, PendingCaptureIsAnsweredWhenTheDirectorGoes)
{
    int calls = 0;
    utils::captureScreen([&](bool ok, const std::string&) { calls += ok ? 100 : 1; }, "x.jpg");
    Director::destroyInstance();
    EXPECT_EQ(calls, 1);
    director = Director::getInstance();
    director->setOpenGLView(GLViewHeadless::create(Size(960, 640)));
}

TEST_F(RendererTest, BuiltinProgramsExistHeadlessButSourcesDoNotCompile)
{
    for (const char* name : {GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR, GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR_NO_MVP,
                             GLProgram::SHADER_NAME_POSITION_COLOR, GLProgram::SHADER_NAME_POSITION_COLOR_NO_MVP,
                             GLProgram::SHADER_NAME_POSITION_LENGTH_TEXTURE_COLOR,
                             GLProgram::SHADER_NAME_POSITION_COLOR_TEXASPOINTSIZE, GLProgram::SHADER_NAME_LABEL_NORMAL}) {
        GLProgram* program = GLProgramCache::getInstance()->getGLProgram(name);
        ASSERT_NE(program, nullptr) << name;
        EXPECT_EQ(program->getProgram(), 0u);
        GLProgramState* state = GLProgramState::getOrCreateWithGLProgramName(name);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state, GLProgramState::getOrCreateWithGLProgramName(name)); // shared
    }
    EXPECT_EQ(GLProgram::createWithByteArrays("void main(){}", "void main(){}"), nullptr);

    // A state keeps values for a program that has not linked; the last value of a name wins.
    GLProgramState* state = GLProgramState::create(
        GLProgramCache::getInstance()->getGLProgram(GLProgram::SHADER_NAME_POSITION_TEXTURE_COLOR_NO_MVP));
    state->setUniformFloat("u_wwMin", 1.5f);
    state->setUniformInt("u_pt", 2);
    state->setUniformFloat("u_wwMin", 2.5f);
    EXPECT_EQ(state->getUniformCount(), 2u);
    EXPECT_FLOAT_EQ(state->getUniformFloatsForTest("u_wwMin")[0], 2.5f);
    EXPECT_EQ(state->getUniformIntForTest("u_pt", -1), 2);
}

} // namespace
