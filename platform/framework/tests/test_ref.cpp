// Reference counting, the main thread's autorelease pools and the owning containers (the cases
// across threads are in threads/test_ref_threads.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "cocos2d.h"
#include "support/HeadlessDirector.h"

USING_NS_CC;

namespace {

// Counts its own destruction.
class Probe : public Ref {
public:
    explicit Probe(std::atomic<int>* deaths) : _deaths(deaths) {}
    ~Probe() override { _deaths->fetch_add(1); }

private:
    std::atomic<int>* _deaths;
};

class ClonableProbe : public Ref, public Clonable {
public:
    ClonableProbe* clone() const override
    {
        auto* c = new ClonableProbe();
        c->autorelease();
        return c;
    }
};

using RefTest = qvtest::HeadlessDirectorTest;

} // namespace
TEST_F(RefTest, IdsAreUniqueAndNeverZero)
{
    constexpr int kCount = 1000000;
    std::vector<unsigned int> ids;
    ids.reserve(kCount);
    for (int i = 0; i < kCount; ++i) {
        __String* s = new __String();
        ids.push_back(s->getRefID());
        s->release();
    }
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 0u), 0);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());

    // A copy is a new object with an id of its own.
    __String a("x");
    __String b(a);
    EXPECT_NE(a.getRefID(), b.getRefID());
    EXPECT_EQ(b.getReferenceCount(), 1u);
    EXPECT_TRUE(Ref::equal(&a, &a));
    EXPECT_FALSE(Ref::equal(&a, &b));
}

TEST_F(RefTest, MainThreadPoolDrainsAtTheEndOfTheFrame)
{
    std::atomic<int> deaths{0};
    Probe* p = new Probe(&deaths);
    p->autorelease();
    EXPECT_TRUE(PoolManager::getInstance()->isObjectInPools(p));
    EXPECT_EQ(deaths.load(), 0);
    director->stepFrame(1.0f / 60);
    EXPECT_EQ(deaths.load(), 1);

    // A pool made on the stack collects until it goes out of scope.
    {
        AutoreleasePool inner;
        (new Probe(&deaths))->autorelease();
        EXPECT_EQ(PoolManager::getInstance()->getCurrentPool(), &inner);
        EXPECT_EQ(inner.getObjectCount(), 1u);
    }
    EXPECT_EQ(deaths.load(), 2);
}

TEST_F(RefTest, VectorAndMapOwnTheirElements)
{
    std::atomic<int> deaths{0};
    Probe* a = new Probe(&deaths);
    Probe* b = new Probe(&deaths);
    {
        Vector<Probe*> v;
        v.pushBack(a);
        v.pushBack(b);
        v.pushBack(a);
        EXPECT_EQ(a->getReferenceCount(), 3u);
        {
            Vector<Probe*> copy(v);
            EXPECT_EQ(a->getReferenceCount(), 5u);
        }
        EXPECT_EQ(a->getReferenceCount(), 3u);
        EXPECT_EQ(v.getIndex(b), 1);
        v.eraseObject(a);
        EXPECT_EQ(a->getReferenceCount(), 2u);
        EXPECT_EQ(v.at(1), a);
        v.insert(0, b);
        EXPECT_EQ(v.front(), b);
        EXPECT_EQ(b->getReferenceCount(), 3u);
        v.replace(0, a);
        EXPECT_EQ(b->getReferenceCount(), 2u);

        Map<std::string, Probe*> m;
        m.insert("k", a);
        m.insert("k", b); // replacing releases the old value
        EXPECT_EQ(m.at("k"), b);
        EXPECT_EQ(m.at("missing"), nullptr);
        EXPECT_EQ(a->getReferenceCount(), 3u);
        EXPECT_EQ(b->getReferenceCount(), 3u);
    }
    EXPECT_EQ(a->getReferenceCount(), 1u);
    EXPECT_EQ(b->getReferenceCount(), 1u);
    a->release();
    b->release();
    EXPECT_EQ(deaths.load(), 2);
}

TEST_F(RefTest, StringAndArrayCloneDeeply)
{
    __Array* arr = __Array::create();
    __String* s = __String::create("42");
    arr->addObject(s);
    auto* probe = new ClonableProbe();
    arr->addObject(probe);
    probe->release();
    EXPECT_EQ(s->getReferenceCount(), 2u); // the pool's and the array's
    EXPECT_EQ(s->intValue(), 42);
    EXPECT_FLOAT_EQ(__String::create("1.5")->floatValue(), 1.5f);

    __Array* copy = arr->clone();
    ASSERT_EQ(copy->count(), 2);
    auto* copied = dynamic_cast<__String*>(copy->getObjectAtIndex(0));
    ASSERT_NE(copied, nullptr);
    EXPECT_NE(copied, s);
    EXPECT_STREQ(copied->getCString(), "42");
    EXPECT_NE(copy->getObjectAtIndex(1), probe);
    EXPECT_EQ(copy->getObjectAtIndex(5), nullptr);
    director->stepFrame(0.0f);
}
