// Helpers for scene-graph tests: a journal of lifecycle and draw calls, and a fixture with a
// running scene on the headless director.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cocos2d.h"
#include "support/HeadlessDirector.h"

namespace qvtest {

using Journal = std::vector<std::string>;

// A node that writes "<label>:<call>" for its lifecycle calls and draws to a shared journal.
// Enter calls are written after the base (children first), exit calls before it.
template <class Base>
class Journaled : public Base {
public:
    static Journaled* make(const std::string& label, std::shared_ptr<Journal> journal)
    {
        auto* n = new Journaled();
        n->_label = label;
        n->_journal = std::move(journal);
        n->init();
        n->setName(label);
        n->autorelease();
        return n;
    }
    void onEnter() override
    {
        Base::onEnter();
        _journal->push_back(_label + ":enter");
    }
    void onEnterTransitionDidFinish() override
    {
        Base::onEnterTransitionDidFinish();
        _journal->push_back(_label + ":entered");
    }
    void onExitTransitionDidStart() override
    {
        _journal->push_back(_label + ":exitStart");
        Base::onExitTransitionDidStart();
    }
    void onExit() override
    {
        _journal->push_back(_label + ":exit");
        Base::onExit();
    }
    void cleanup() override
    {
        _journal->push_back(_label + ":cleanup");
        Base::cleanup();
    }
    void draw(cocos2d::Renderer*, const cocos2d::Mat4&, uint32_t) override { _journal->push_back(_label + ":draw"); }
    ~Journaled() override { _journal->push_back(_label + ":deleted"); }

    const std::string& label() const { return _label; }

private:
    std::string _label;
    std::shared_ptr<Journal> _journal;
};

using JNode = Journaled<cocos2d::Node>;

// A headless director running one scene.
class SceneGraphTest : public HeadlessDirectorTest {
protected:
    void SetUp() override
    {
        HeadlessDirectorTest::SetUp();
        scene = cocos2d::Scene::create();
        director->runWithScene(scene);
        director->stepFrame(0.0f);
    }

    JNode* node(const std::string& label) { return JNode::make(label, journal); }
    // The lifecycle entries so far (draws left out); the journal starts afresh.
    Journal take()
    {
        Journal j;
        for (const auto& e : *journal) {
            if (e.size() < 5 || e.compare(e.size() - 5, 5, ":draw") != 0) {
                j.push_back(e);
            }
        }
        journal->clear();
        return j;
    }
    // Only the entries of one kind (":enter", ":draw", ...), in order.
    Journal only(const std::string& kind) const
    {
        Journal out;
        for (const auto& e : *journal) {
            if (e.size() > kind.size() && e.compare(e.size() - kind.size(), kind.size(), kind) == 0) {
                out.push_back(e);
            }
        }
        return out;
    }

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    cocos2d::Scene* scene = nullptr;
};

} // namespace qvtest
