// The demand-driven pipeline: ownership between stages, flag propagation, and that a stage
// recomputes only when its own or an upstream flag is set.
#include "isFilterObject.h"
#include "isImageFilter.h"
#include "isImagePlane.h"
#include "isImageSlice.h"
#include "support/ImageFixtures.h"

#include <gtest/gtest.h>

using namespace isImageSDK;

namespace {

// A filter that counts its work and copies the input's first slice.
class CountingFilter : public isImageFilter {
public:
    static CountingFilter* create() { return createAutoreleased<CountingFilter>(); }
    void updateInformation() override
    {
        if (!beginInformationUpdate())
            return;
        ++information;
        isImageData* out = getOutputData();
        out->releaseData();
        out->resetGeometry();
        if (m_inputData && m_inputData->getSliceCount() > 0)
            out->addSliceCopy(m_inputData->getSlices()[0]);
    }
    void execute(isImageData* input, isImageData* output) override
    {
        ++executed;
        if (input && output && output->getSliceCount() > 0 && input->getSliceCount() > 0)
            output->getSlices()[0]->pixels[0] = static_cast<unsigned char>(input->getSlices()[0]->pixels[0] + 1);
    }
    int information = 0;
    int executed = 0;
};

isImageData* makeSource()
{
    auto* image = isImageData::create();
    const int size[2] = {2, 2};
    const float sp[2] = {1, 1};
    isSliceInfo* s = image->addSlice(size, 1, sp, PIXEL_U8, 0, 0, cocos2d::Mat4());
    std::memset(s->pixels, 7, 4);
    return image;
}

} // namespace

TEST(Pipeline, ConnectingStagesRetainsProducersButNeverTheFillingFilter)
{
    qvtest::PoolScope scope;
    isImageData* source = makeSource();
    CountingFilter* filter = CountingFilter::create();
    const unsigned sourceRefs = source->getReferenceCount();

    filter->setInput(source);
    EXPECT_EQ(source->getReferenceCount(), sourceRefs + 1);
    EXPECT_EQ(source->getConsumers().size(), 1u);
    EXPECT_TRUE(filter->getInformationModifiedFlag() && filter->getDataModifiedFlag());

    // The same producer again changes nothing, not even the flags.
    filter->update();
    EXPECT_FALSE(filter->getInformationModifiedFlag() || filter->getDataModifiedFlag());
    filter->setInput(source);
    EXPECT_FALSE(filter->getInformationModifiedFlag() || filter->getDataModifiedFlag());
    EXPECT_EQ(source->getReferenceCount(), sourceRefs + 1);
    EXPECT_EQ(source->getConsumers().size(), 1u);

    // The output has the filter as producer without retaining it or being listed.
    isImageData* output = filter->getOutputData();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->getProducer(), filter);
    EXPECT_TRUE(filter->getConsumers().empty());
    EXPECT_EQ(output->getReferenceCount(), 1u);

    // Disconnecting releases the producer and sets both flags.
    filter->setInput(nullptr);
    EXPECT_EQ(source->getReferenceCount(), sourceRefs);
    EXPECT_TRUE(source->getConsumers().empty());
    EXPECT_EQ(filter->getProducer(), nullptr);
    EXPECT_TRUE(filter->getInformationModifiedFlag() && filter->getDataModifiedFlag());

    // Setting null on an object without producer still sets both flags.
    filter->update();
    filter->setInformationModified(false);
    filter->setDataModified(false);
    filter->setInput(nullptr);
    EXPECT_TRUE(filter->getInformationModifiedFlag() && filter->getDataModifiedFlag());
}

TEST(Pipeline, ReleasingTheFilterDetachesItsOutputAndItsInput)
{
    qvtest::PoolScope outer;
    isImageData* source = makeSource();  // held by the outer pool
    source->retain();
    isImageData* output = nullptr;
    {
        qvtest::PoolScope scope;
        CountingFilter* filter = CountingFilter::create();
        filter->setInput(source);
        output = filter->getOutputData();
        output->retain();  // someone still shows the output
    }
    // The filter is gone: the output survives unconnected, the source lost its consumer.
    EXPECT_EQ(output->getProducer(), nullptr);
    EXPECT_TRUE(source->getConsumers().empty());
    EXPECT_EQ(source->getReferenceCount(), 2u);
    output->release();
    source->release();
}

TEST(Pipeline, StagesRecomputeOnlyWhatAFlagAsksFor)
{
    qvtest::PoolScope scope;
    isImageData* source = makeSource();
    CountingFilter* a = CountingFilter::create();
    CountingFilter* b = CountingFilter::create();
    a->setInput(source);
    b->setInput(a->getOutputData());

    // Reading the end of the chain pulls both stages once.
    ASSERT_NE(b->getOutputData()->getSlice(0), nullptr);
    EXPECT_EQ(b->getOutputData()->getSlice(0)->pixels[0], 9);
    EXPECT_EQ(a->information, 1);
    EXPECT_EQ(a->executed, 1);
    EXPECT_EQ(b->information, 1);
    EXPECT_EQ(b->executed, 1);

    // Nothing modified: reading again, or updating, computes nothing.
    b->getOutputData()->getSlice(0);
    b->update();
    a->update();
    EXPECT_EQ(a->executed + b->executed + a->information + b->information, 4);

    // A data change at the downstream stage reruns only its execute.
    b->setDataModified(true);
    b->getOutputData()->getSlice(0);
    EXPECT_EQ(b->executed, 2);
    EXPECT_EQ(b->information, 1);
    EXPECT_EQ(a->executed, 1);

    // A data change upstream reruns both executes and no geometry.
    source->getSlices()[0]->pixels[0] = 20;
    a->setDataModified(true);
    EXPECT_EQ(b->getOutputData()->getSlice(0)->pixels[0], 22);
    EXPECT_EQ(a->executed, 2);
    EXPECT_EQ(b->executed, 3);
    EXPECT_EQ(a->information + b->information, 2);

    // An information change upstream reruns every stage's geometry and data.
    a->setInformationModified(true);
    b->getOutputData()->getSlice(0);
    EXPECT_EQ(a->information, 2);
    EXPECT_EQ(b->information, 2);

    // A missing output is still created by update() with nothing modified.
    CountingFilter* c = CountingFilter::create();
    c->update();
    EXPECT_EQ(c->information + c->executed, 0);
    EXPECT_NE(c->getOutputData(), nullptr);
}

TEST(Pipeline, PlaneAndPassThroughFollowIndexChanges)
{
    qvtest::PoolScope scope;
    qvtest::Volume<int16_t> vol(4, 3, 5);
    for (size_t i = 0; i < vol.v.size(); ++i)
        vol.v[i] = static_cast<int16_t>(i);
    const float sp[3] = {1, 1, 2};
    isImageData* image = qvtest::makeVolumeImage(vol, PIXEL_I16, sp);
    isImagePlane* plane = isImagePlane::create();
    isImageSlice* slice = isImageSlice::create();
    plane->setInput(image);
    slice->setInput(plane->getOutputData());

    auto first = [&] { return reinterpret_cast<int16_t*>(slice->getOutputData()->getSlice(0)->pixels)[0]; };
    EXPECT_EQ(first(), vol.at(0, 0, 0));
    plane->setIndex(3);
    plane->setModified();
    EXPECT_EQ(first(), vol.at(0, 0, 3));
    // Switching the axis moves to another cut without touching the pass-through's wiring.
    plane->setAxis(PLANE_REFORMAT1);
    plane->setIndex(0);
    plane->setModified();
    EXPECT_EQ(first(), vol.at(3, 0, 0));
    EXPECT_EQ(slice->getOutputData()->getSlice(0)->columns, 5);
    image->release();
}
