// Actions that take time: composition (Sequence, Spawn, Repeat, RepeatForever, DelayTime) and
// the node changes the program runs (move, scale, rotate, fade).
//
// Every end state is exact: at progress 1 MoveTo sets the target position itself, FadeTo the
// target opacity, and so on, whatever rounding the frames produced on the way.
#pragma once

#include <initializer_list>
#include <new>
#include <vector>

#include "actions/CCAction.h"
#include "base/CCVector.h"
#include "base/ccTypes.h"
#include "math/CCMath.h"

namespace cocos2d {

class ActionInterval : public FiniteTimeAction {
public:
    // Seconds since the start.
    float getElapsed() const { return static_cast<float>(_elapsed); }
    bool isDone() const override;
    void startWithTarget(Node* target) override;
    // Adds dt to the elapsed time and applies the progress min(1, elapsed / duration).
    void step(float dt) override;

protected:
    explicit ActionInterval(float duration);

    // Accumulated in double: float frame times would otherwise miss the end by an ulp.
    double _elapsed = 0.0;
};

// The parts of a Sequence or a Spawn, retained, in order; and their create functions.
template <class Derived>
class ActionGroup : public ActionInterval {
public:
    // Takes actions up to the first null: Sequence::create(a, b, c, nullptr).
    template <class... Rest>
    static Derived* create(FiniteTimeAction* first, Rest... rest)
    {
        return make(upToFirstNull({first, static_cast<FiniteTimeAction*>(rest)...}));
    }
    static Derived* create(const Vector<FiniteTimeAction*>& actions) { return make(actions.data()); }
    static Derived* createWithTwoActions(FiniteTimeAction* first, FiniteTimeAction* second)
    {
        return make(upToFirstNull({first, second}));
    }

protected:
    ActionGroup(float duration, const std::vector<FiniteTimeAction*>& actions) : ActionInterval(duration)
    {
        for (FiniteTimeAction* a : actions) {
            _actions.pushBack(a);
        }
    }
    static Derived* make(const std::vector<FiniteTimeAction*>& actions)
    {
        return autoreleased(new (std::nothrow) Derived(actions));
    }
    static std::vector<FiniteTimeAction*> upToFirstNull(std::initializer_list<FiniteTimeAction*> actions)
    {
        std::vector<FiniteTimeAction*> out;
        for (FiniteTimeAction* a : actions) {
            if (!a) {
                break;
            }
            out.push_back(a);
        }
        return out;
    }
    FiniteTimeAction* partAt(size_t i) const { return _actions.at(static_cast<ssize_t>(i)); }
    size_t partCount() const { return static_cast<size_t>(_actions.size()); }

    Vector<FiniteTimeAction*> _actions;
};

// The parts one after the other.
class Sequence : public ActionGroup<Sequence> {
public:
    bool isDone() const override;
    void startWithTarget(Node* target) override;
    void stop() override;
    void step(float dt) override;
    // Drives the parts by overall progress (under an ease): parts whose time has passed finish.
    void update(float t) override;

protected:
    friend class ActionGroup<Sequence>;
    explicit Sequence(const std::vector<FiniteTimeAction*>& actions);
    void finishCurrent();

    size_t _current = 0;
    bool _currentStarted = false;
};

// The parts at the same time; done when all are.
class Spawn : public ActionGroup<Spawn> {
public:
    bool isDone() const override;
    void startWithTarget(Node* target) override;
    void stop() override;
    void step(float dt) override;
    // Each part at its own share of the progress.
    void update(float t) override;

protected:
    friend class ActionGroup<Spawn>;
    explicit Spawn(const std::vector<FiniteTimeAction*>& actions);

    std::vector<bool> _finished;
};

// The inner action `times` times; each run starts at the step after the previous one ended.
class Repeat : public ActionInterval {
public:
    static Repeat* create(FiniteTimeAction* action, unsigned int times);

    bool isDone() const override { return !_forever && _count >= _times; }
    void startWithTarget(Node* target) override;
    void stop() override;
    void step(float dt) override;

protected:
    Repeat(FiniteTimeAction* action, unsigned int times, bool forever);
    ~Repeat() override;

    FiniteTimeAction* _inner;
    unsigned int _times;
    bool _forever;
    unsigned int _count = 0;
    bool _innerStarted = false;
};

// The inner action again and again; each run starts at the step after the previous one ended.
class RepeatForever : public Repeat {
public:
    static RepeatForever* create(ActionInterval* action);
    ActionInterval* getInnerAction() const { return static_cast<ActionInterval*>(_inner); }

protected:
    explicit RepeatForever(ActionInterval* action) : Repeat(action, 1, true) {}
};

class DelayTime : public ActionInterval {
public:
    static DelayTime* create(float duration);

protected:
    explicit DelayTime(float duration) : ActionInterval(duration) {}
};

// Moves by a delta. Moves made to the node meanwhile (by code or another action) are kept.
class MoveBy : public ActionInterval {
public:
    static MoveBy* create(float duration, const Vec2& delta);
    static MoveBy* create(float duration, const Vec3& delta);

    void startWithTarget(Node* target) override;
    void update(float t) override;

protected:
    MoveBy(float duration, const Vec3& delta, bool is3D);

    Vec3 _delta;
    Vec3 _startPosition;
    Vec3 _previousPosition;
    bool _is3D;
};

// Moves from wherever the node is at the start to a position.
class MoveTo : public ActionInterval {
public:
    static MoveTo* create(float duration, const Vec2& position);
    static MoveTo* create(float duration, const Vec3& position);

    void startWithTarget(Node* target) override;
    void update(float t) override;

protected:
    MoveTo(float duration, const Vec3& position, bool is3D);

    Vec3 _endPosition;
    Vec3 _startPosition;
    bool _is3D;
};

class ScaleTo : public ActionInterval {
public:
    static ScaleTo* create(float duration, float scale);
    static ScaleTo* create(float duration, float scaleX, float scaleY);

    void startWithTarget(Node* target) override;
    void update(float t) override;

protected:
    ScaleTo(float duration, float scaleX, float scaleY, float scaleZ, bool uniform);

    float _endX, _endY, _endZ;
    float _startX = 1.0f, _startY = 1.0f, _startZ = 1.0f;
    bool _uniform;
};

// Turns by degrees (clockwise for the 2D form; about X, Y and Z for the 3D form).
class RotateBy : public ActionInterval {
public:
    static RotateBy* create(float duration, float deltaAngle);
    static RotateBy* create(float duration, const Vec3& deltaAngle3D);

    void startWithTarget(Node* target) override;
    void update(float t) override;

protected:
    RotateBy(float duration, const Vec3& delta, bool is3D);

    Vec3 _delta;
    Vec3 _start;
    bool _is3D;
};

class FadeTo : public ActionInterval {
public:
    static FadeTo* create(float duration, GLubyte opacity);

    void startWithTarget(Node* target) override;
    void update(float t) override;

protected:
    FadeTo(float duration, GLubyte opacity) : ActionInterval(duration), _toOpacity(opacity) {}

    GLubyte _toOpacity;
    GLubyte _fromOpacity = 255;
};

// To opacity 255.
class FadeIn : public FadeTo {
public:
    static FadeIn* create(float duration);

protected:
    explicit FadeIn(float duration) : FadeTo(duration, 255) {}
};

// To opacity 0.
class FadeOut : public FadeTo {
public:
    static FadeOut* create(float duration);

protected:
    explicit FadeOut(float duration) : FadeTo(duration, 0) {}
};

} // namespace cocos2d
