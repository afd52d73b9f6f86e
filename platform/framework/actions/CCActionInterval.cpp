#include "actions/CCActionInterval.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "node/CCNode.h"

namespace cocos2d {

namespace {
// A step within this margin of the end counts as the end (frame times are floats).
constexpr double kEndEpsilon = 1e-6;

float lerp(float a, float b, float t)
{
    return a + (b - a) * t;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// ActionInterval

ActionInterval::ActionInterval(float duration)
{
    _duration = std::max(0.0f, duration);
}

bool ActionInterval::isDone() const
{
    return _elapsed + kEndEpsilon >= _duration;
}

void ActionInterval::startWithTarget(Node* target)
{
    FiniteTimeAction::startWithTarget(target);
    _elapsed = 0.0;
}

void ActionInterval::step(float dt)
{
    _elapsed += dt;
    const bool done = isDone();
    const float progress = done ? 1.0f : static_cast<float>(_elapsed / _duration);
    update(std::max(0.0f, progress));
}

// ---------------------------------------------------------------------------------------------
// Sequence

namespace {
float totalDuration(const std::vector<FiniteTimeAction*>& actions)
{
    float d = 0.0f;
    for (const FiniteTimeAction* a : actions) {
        d += a->getDuration();
    }
    return d;
}

float longestDuration(const std::vector<FiniteTimeAction*>& actions)
{
    float d = 0.0f;
    for (const FiniteTimeAction* a : actions) {
        d = std::max(d, a->getDuration());
    }
    return d;
}
} // namespace

Sequence::Sequence(const std::vector<FiniteTimeAction*>& actions) : ActionGroup(totalDuration(actions), actions) {}

bool Sequence::isDone() const
{
    return _current >= partCount();
}

void Sequence::startWithTarget(Node* target)
{
    ActionInterval::startWithTarget(target);
    _current = 0;
    _currentStarted = false;
    if (!_actions.empty()) {
        partAt(0)->startWithTarget(target);
        _currentStarted = true;
    }
}

void Sequence::stop()
{
    if (_currentStarted && _current < partCount()) {
        partAt(_current)->stop();
    }
    _currentStarted = false;
    ActionInterval::stop();
}

void Sequence::finishCurrent()
{
    partAt(_current)->stop();
    ++_current;
    _currentStarted = false;
}

void Sequence::step(float dt)
{
    // The frame's time goes to the first part with a duration that is stepped in this frame;
    // what it leaves over is not carried into the next part. Parts without duration (CallFunc,
    // Hide, ...) take no time and pass it on.
    float partDt = dt;
    while (_target && !isDone()) {
        FiniteTimeAction* part = partAt(_current);
        if (!_currentStarted) {
            part->startWithTarget(_target);
            _currentStarted = true;
        }
        part->step(partDt);
        if (!_target || !part->isDone()) {
            return; // stopped from inside the part, or the part goes on next frame
        }
        if (part->getDuration() > 0.0f) {
            partDt = 0.0f;
        }
        finishCurrent();
    }
}

void Sequence::update(float t)
{
    const double now = static_cast<double>(t) * _duration;
    double start = 0.0;
    for (size_t i = 0; i < partCount() && _target; ++i) {
        FiniteTimeAction* part = partAt(i);
        const double d = part->getDuration();
        if (i < _current) {
            start += d;
            continue;
        }
        if (!_currentStarted) {
            part->startWithTarget(_target);
            _currentStarted = true;
        }
        const bool ended = t >= 1.0f || now + kEndEpsilon >= start + d;
        if (!ended) {
            if (d > 0.0) {
                part->update(static_cast<float>(std::max(0.0, (now - start) / d)));
            }
            return;
        }
        part->update(1.0f);
        if (!_target) {
            return;
        }
        finishCurrent();
        start += d;
    }
}

// ---------------------------------------------------------------------------------------------
// Spawn

Spawn::Spawn(const std::vector<FiniteTimeAction*>& actions)
    : ActionGroup(longestDuration(actions), actions), _finished(actions.size(), false)
{
}

bool Spawn::isDone() const
{
    return std::all_of(_finished.begin(), _finished.end(), [](bool f) { return f; });
}

void Spawn::startWithTarget(Node* target)
{
    ActionInterval::startWithTarget(target);
    std::fill(_finished.begin(), _finished.end(), false);
    for (FiniteTimeAction* a : _actions) {
        a->startWithTarget(target);
    }
}

void Spawn::stop()
{
    for (size_t i = 0; i < _finished.size(); ++i) {
        if (!_finished[i]) {
            partAt(i)->stop();
        }
    }
    ActionInterval::stop();
}

void Spawn::step(float dt)
{
    for (size_t i = 0; i < _finished.size() && _target; ++i) {
        if (_finished[i]) {
            continue;
        }
        FiniteTimeAction* part = partAt(i);
        part->step(dt);
        if (_target && part->isDone()) {
            part->stop();
            _finished[i] = true;
        }
    }
}

void Spawn::update(float t)
{
    for (size_t i = 0; i < _finished.size() && _target; ++i) {
        if (_finished[i]) {
            continue;
        }
        FiniteTimeAction* part = partAt(i);
        const float d = part->getDuration();
        const float local = (d <= 0.0f || t >= 1.0f) ? 1.0f : std::min(1.0f, t * _duration / d);
        part->update(local);
        if (_target && local >= 1.0f) {
            part->stop();
            _finished[i] = true;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Repeat, RepeatForever

Repeat::Repeat(FiniteTimeAction* action, unsigned int times, bool forever)
    : ActionInterval(action->getDuration() * static_cast<float>(forever ? 1 : times)), _inner(action), _times(times),
      _forever(forever)
{
    _inner->retain();
}

Repeat::~Repeat()
{
    _inner->release();
}

Repeat* Repeat::create(FiniteTimeAction* action, unsigned int times)
{
    return action ? autoreleased(new (std::nothrow) Repeat(action, times, false)) : nullptr;
}

RepeatForever* RepeatForever::create(ActionInterval* action)
{
    return action ? autoreleased(new (std::nothrow) RepeatForever(action)) : nullptr;
}

void Repeat::startWithTarget(Node* target)
{
    ActionInterval::startWithTarget(target);
    _count = 0;
    _innerStarted = false;
    if (!isDone()) {
        _inner->startWithTarget(target);
        _innerStarted = true;
    }
}

void Repeat::stop()
{
    if (_innerStarted) {
        _inner->stop();
        _innerStarted = false;
    }
    ActionInterval::stop();
}

void Repeat::step(float dt)
{
    if (!_target || isDone()) {
        return;
    }
    if (!_innerStarted) {
        _inner->startWithTarget(_target);
        _innerStarted = true;
    }
    _inner->step(dt);
    if (_target && _inner->isDone()) {
        _inner->stop();
        _innerStarted = false;
        if (!_forever) {
            ++_count;
        }
    }
}

DelayTime* DelayTime::create(float duration)
{
    return autoreleased(new (std::nothrow) DelayTime(duration));
}

// ---------------------------------------------------------------------------------------------
// MoveBy, MoveTo

MoveBy::MoveBy(float duration, const Vec3& delta, bool is3D) : ActionInterval(duration), _delta(delta), _is3D(is3D) {}

MoveBy* MoveBy::create(float duration, const Vec2& delta)
{
    return autoreleased(new (std::nothrow) MoveBy(duration, Vec3(delta.x, delta.y, 0.0f), false));
}

MoveBy* MoveBy::create(float duration, const Vec3& delta)
{
    return autoreleased(new (std::nothrow) MoveBy(duration, delta, true));
}

void MoveBy::startWithTarget(Node* target)
{
    ActionInterval::startWithTarget(target);
    _startPosition = _previousPosition = target->getPosition3D();
}

void MoveBy::update(float t)
{
    if (!_target) {
        return;
    }
    // Whatever moved the node since the last update moves the path with it.
    const Vec3 current = _target->getPosition3D();
    _startPosition += current - _previousPosition;
    const Vec3 next = _startPosition + _delta * t;
    if (_is3D) {
        _target->setPosition3D(next);
    } else {
        _target->setPosition(next.x, next.y);
    }
    _previousPosition = _target->getPosition3D();
}

MoveTo::MoveTo(float duration, const Vec3& position, bool is3D)
    : ActionInterval(duration), _endPosition(position), _is3D(is3D)
{
}

MoveTo* MoveTo::create(float duration, const Vec2& position)
{
    return autoreleased(new (std::nothrow) MoveTo(duration, Vec3(position.x, position.y, 0.0f), false));
}

MoveTo* MoveTo::create(float duration, const Vec3& position)
{
    return autoreleased(new (std::nothrow) MoveTo(duration, position, true));
}

void MoveTo::startWithTarget(Node* target)
{
    ActionInterval::startWithTarget(target);
    _startPosition = target->getPosition3D();
}

void MoveTo::update(float t)
{
    if (!_target) {
        return;
    }
    const Vec3 p = t >= 1.0f ? _endPosition
                             : Vec3(lerp(_startPosition.x, _endPosition.x, t), lerp(_startPosition.y, _endPosition.y, t),
                                    lerp(_startPosition.z, _endPosition.z, t));
    if (_is3D) {
        _target->setPosition3D(p);
    } else {
        _target->setPosition(p.x, p.y);
    }
}

// ---------------------------------------------------------------------------------------------
// ScaleTo

ScaleTo::ScaleTo(float duration, float scaleX, float scaleY, float scaleZ, bool uniform)
    : ActionInterval(duration), _endX(scaleX), _endY(scaleY), _endZ(scaleZ), _uniform(uniform)
{
}

ScaleTo* ScaleTo::create(float duration, float scale)
{
    return autoreleased(new (std::nothrow) ScaleTo(duration, scale, scale, scale, true));
}

ScaleTo* ScaleTo::create(float duration, float scaleX, float scaleY)
{
    return autoreleased(new (std::nothrow) ScaleTo(duration, scaleX, scaleY, 1.0f, false));
}

void ScaleTo::startWithTarget(Node* target)
{
    ActionInterval::startWithTarget(target);
    _startX = target->getScaleX();
    _startY = target->getScaleY();
    _startZ = target->getScaleZ();
}

void ScaleTo::update(float t)
{
    if (!_target) {
        return;
    }
    const bool end = t >= 1.0f;
    _target->setScale(end ? _endX : lerp(_startX, _endX, t), end ? _endY : lerp(_startY, _endY, t));
    if (_uniform) {
        _target->setScaleZ(end ? _endZ : lerp(_startZ, _endZ, t));
    }
}

// ---------------------------------------------------------------------------------------------
// RotateBy

RotateBy::RotateBy(float duration, const Vec3& delta, bool is3D) : ActionInterval(duration), _delta(delta), _is3D(is3D)
{
}

RotateBy* RotateBy::create(float duration, float deltaAngle)
{
    return autoreleased(new (std::nothrow) RotateBy(duration, Vec3(0.0f, 0.0f, deltaAngle), false));
}

RotateBy* RotateBy::create(float duration, const Vec3& deltaAngle3D)
{
    return autoreleased(new (std::nothrow) RotateBy(duration, deltaAngle3D, true));
}

void RotateBy::startWithTarget(Node* target)
{
    ActionInterval::startWithTarget(target);
    _start = target->getRotation3D();
}

void RotateBy::update(float t)
{
    if (!_target) {
        return;
    }
    if (_is3D) {
        _target->setRotation3D(_start + _delta * t);
    } else {
        _target->setRotation(_start.z + _delta.z * t);
    }
}

// ---------------------------------------------------------------------------------------------
// FadeTo, FadeIn, FadeOut

FadeTo* FadeTo::create(float duration, GLubyte opacity)
{
    return autoreleased(new (std::nothrow) FadeTo(duration, opacity));
}

void FadeTo::startWithTarget(Node* target)
{
    ActionInterval::startWithTarget(target);
    _fromOpacity = target->getOpacity();
}

void FadeTo::update(float t)
{
    if (!_target) {
        return;
    }
    const float value = t >= 1.0f ? _toOpacity : std::lround(lerp(_fromOpacity, _toOpacity, t));
    _target->setOpacity(static_cast<GLubyte>(std::min(255.0f, std::max(0.0f, value))));
}

FadeIn* FadeIn::create(float duration)
{
    return autoreleased(new (std::nothrow) FadeIn(duration));
}

FadeOut* FadeOut::create(float duration)
{
    return autoreleased(new (std::nothrow) FadeOut(duration));
}

} // namespace cocos2d
