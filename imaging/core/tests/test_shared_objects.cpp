// The shared-object registry, the imaging shutdown and the window presets.
#include "isImageTypes.h"
#include "isImagingShutdown.h"
#include "isSharedObjects.h"
#include "isWindowPresets.h"
#include "support/IngestFixtures.h"

using namespace isImageSDK;
using qvtest::Retained;

namespace {

class SharedObjectsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        shutdownImageSDK();
        cocos2d::PoolManager::getInstance()->drainCurrentThread();
    }
    static isObject* named(const std::string& name)
    {
        isObject* object = createAutoreleased<isObject>();
        object->setName(name);
        return object;
    }
};

} // namespace

TEST_F(SharedObjectsTest, LookupByExactNameAndOneReferenceEach)
{
    auto* registry = isSharedObjects::getInstance();
    ASSERT_EQ(registry, isSharedObjects::getInstance());
    Retained<isObject> series(named("/lib/p/s1/"));
    Retained<isObject> twin(named("/lib/p/s1/"));
    const unsigned int before = series->getReferenceCount();

    registry->addObject(series.get());
    registry->addObject(series.get());  // the same object again: no second entry, no reference
    EXPECT_EQ(registry->getObjects().size(), 1u);
    EXPECT_EQ(series->getReferenceCount(), before + 1);
    registry->addObject(twin.get());

    EXPECT_EQ(registry->getObject("/lib/p/s1/"), series.get());  // the first of two equal names
    EXPECT_EQ(registry->getObject("/lib/p/s1"), nullptr);        // a prefix is not the name
    EXPECT_EQ(registry->getObject("/lib/p/s1//"), nullptr);

    registry->removeObject("/lib/p/s1/");
    EXPECT_EQ(series->getReferenceCount(), before);
    EXPECT_EQ(registry->getObject("/lib/p/s1/"), twin.get());
    registry->removeObject("nothing");
    registry->removeObject(twin.get());
    EXPECT_TRUE(registry->getObjects().empty());
}

TEST_F(SharedObjectsTest, ShutdownReleasesTheRegistryAndRunsTheOtherLayersSteps)
{
    std::vector<int> steps;
    setImagingShutdownStep(SHUTDOWN_PROTOCOLS, [&] { steps.push_back(SHUTDOWN_PROTOCOLS); });
    // Neither singleton created: only the installed steps run.
    shutdownImageSDK();
    EXPECT_EQ(steps, (std::vector<int>{SHUTDOWN_PROTOCOLS}));
    EXPECT_EQ(isSharedObjects::peekInstance(), nullptr);

    Retained<isObject> series(named("s"));
    const unsigned int before = series->getReferenceCount();
    isSharedObjects::getInstance()->addObject(series.get());
    setImagingShutdownStep(SHUTDOWN_PROTOCOLS, [&] { steps.push_back(SHUTDOWN_PROTOCOLS); });
    setImagingShutdownStep(SHUTDOWN_MEASUREMENTS, [&] {
        // The registry is gone before the measurement list goes.
        EXPECT_EQ(isSharedObjects::peekInstance(), nullptr);
        steps.push_back(SHUTDOWN_MEASUREMENTS);
    });
    shutdownImageSDK();
    EXPECT_EQ(series->getReferenceCount(), before);
    EXPECT_EQ(isSharedObjects::peekInstance(), nullptr);
    EXPECT_EQ(steps, (std::vector<int>{SHUTDOWN_PROTOCOLS, SHUTDOWN_MEASUREMENTS, SHUTDOWN_PROTOCOLS}));
    // A step runs once; a later registry is a new one.
    shutdownImageSDK();
    EXPECT_EQ(steps.size(), 3u);
    EXPECT_NE(isSharedObjects::getInstance(), nullptr);
}

TEST(WindowPresets, ByModality)
{
    std::vector<WindowPreset> list;
    loadWindowPresets(MODALITY_CT, list);
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(list[5].name, "Lung");
    EXPECT_FLOAT_EQ(list[5].width, 1500.0f);
    EXPECT_FLOAT_EQ(list[5].centre, -400.0f);
    EXPECT_EQ(list[0].name, "Abdomen");

    loadWindowPresets(MODALITY_PT, list);
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(list[2].name, "40K");
    EXPECT_FLOAT_EQ(list[2].width, 40000.0f);
    EXPECT_FLOAT_EQ(list[2].centre, 20000.0f);

    // MR and anything else: the doubling series; loading again replaces the list.
    loadWindowPresets(MODALITY_MR, list);
    loadWindowPresets(MODALITY_OTHER, list);
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list.front().name, "20/40");
    EXPECT_EQ(list.back().name, "2560/5120");
    EXPECT_FLOAT_EQ(list.back().width, 5120.0f);
    EXPECT_FLOAT_EQ(list.back().centre, 2560.0f);
}
