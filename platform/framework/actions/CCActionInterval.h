// Actions that take time: composition (Sequence, Spawn, Repeat, RepeatForever, DelayTime) and
// the node changes the program runs (move, scale, rotate, fade).
//
// Every end state is exact: at progress 1 MoveTo sets the target position itself, FadeTo the
// target opacity, and so on, whatever rounding the frames produced on the way.
#pragma once

#include <initializer_list>
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

// The parts one after the other.
class Sequence : public ActionInterval {
public:
    // Takes actions up to the first null: Sequence::create(a, b, c, nullptr).
    template <class... Rest>
    static Sequence* create(FiniteTimeAction* first, Rest... rest)
    {
        return createWithList({first, static_cast<FiniteTimeAction*>(rest)...});
    }
    static Sequence* create(const Vector<FiniteTimeAction*>& actions);
    static Sequence* createWithTwoActions(FiniteTimeAction* first, FiniteTimeAction* second);

    bool isDone() const override;
    void startWithTarget(Node* target) override;
    void stop() override;
    void step(float dt) override;
    // Drives the parts by overall progress (under an ease): parts whose time has passed finish.
    void update(float t) override;

protected:
    explicit Sequence(const std::vector<FiniteTimeAction*>& actions);
    static Sequence* createWithList(std::initializer_list<FiniteTimeAction*> actions);
    void finishCurrent();

    Vector<FiniteTimeAction*> _actions;
    size_t _current = 0;
    bool _currentStarted = false;
};

// The parts at the same time; done when all are.
class Spawn : public ActionInterval {
public:
    template <class... Rest>
    static Spawn* create(FiniteTimeAction* first, Rest... rest)
    {
        return createWithList({first, static_cast<FiniteTimeAction*>(rest)...});
    }
    static Spawn* create(const Vector<FiniteTimeAction*>& actions);
    static Spawn* createWithTwoActions(FiniteTimeAction* first, FiniteTimeAction* second);

    bool isDone() const override;
    void startWithTarget(Node* target) override;
    void stop() override;
    void step(float dt) override;
    // Each part at its own share of the progress.
    void update(float t) override;

protected:
    explicit Spawn(const std::vector<FiniteTimeAction*>& actions);
    static Spawn* createWithList(std::initializer_list<FiniteTimeAction*> actions);

    Vector<FiniteTimeAction*> _actions;
    std::vector<bool> _finished;
};

// The inner action `times` times; each run starts at the step after the previous one ended.
class Repeat : public ActionInterval {
public:
    static Repeat* create(FiniteTimeAction* action, unsigned int times);

    bool isDone() const override { return _count >= _times; }
    void startWithTarget(Node* target) override;
    void stop() override;
    void step(float dt) override;

protected:
    Repeat(FiniteTimeAction* action, unsigned int times);
    ~Repeat() override;

    FiniteTimeAction* _inner;
    unsigned int _times;
    unsigned int _count = 0;
    bool _innerStarted = false;
};

// The inner action again and again; each run starts at the step after the previous one ended.
class RepeatForever : public ActionInterval {
public:
    static RepeatForever* create(ActionInterval* action);

    bool isDone() const override { return false; }
    void startWithTarget(Node* target) override;
    void stop() override;
    void step(float dt) override;
    ActionInterval* getInnerAction() const { return _inner; }

protected:
    explicit RepeatForever(ActionInterval* action);
    ~RepeatForever() override;

    ActionInterval* _inner;
    bool _innerStarted = false;
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
