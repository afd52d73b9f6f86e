#include "ui/UILayoutParameter.h"

namespace cocos2d {
namespace ui {

namespace {
template <class T> T* make()
{
    T* p = new T();
    p->autorelease();
    return p;
}
} // namespace

LayoutParameter* LayoutParameter::create() { return make<LayoutParameter>(); }

LayoutParameter* LayoutParameter::clone()
{
    LayoutParameter* copy = createCloneInstance();
    copy->copyProperties(this);
    return copy;
}

LayoutParameter* LayoutParameter::createCloneInstance() { return create(); }

void LayoutParameter::copyProperties(LayoutParameter* model) { _margin = model->_margin; }

LinearLayoutParameter* LinearLayoutParameter::create() { return make<LinearLayoutParameter>(); }

LayoutParameter* LinearLayoutParameter::createCloneInstance() { return create(); }

void LinearLayoutParameter::copyProperties(LayoutParameter* model)
{
    LayoutParameter::copyProperties(model);
    if (auto* linear = dynamic_cast<LinearLayoutParameter*>(model))
        _linearGravity = linear->_linearGravity;
}

RelativeLayoutParameter* RelativeLayoutParameter::create() { return make<RelativeLayoutParameter>(); }

LayoutParameter* RelativeLayoutParameter::createCloneInstance() { return create(); }

void RelativeLayoutParameter::copyProperties(LayoutParameter* model)
{
    LayoutParameter::copyProperties(model);
    if (auto* relative = dynamic_cast<RelativeLayoutParameter*>(model)) {
        _relativeAlign = relative->_relativeAlign;
        _relativeWidgetName = relative->_relativeWidgetName;
        _relativeLayoutName = relative->_relativeLayoutName;
    }
}

} // namespace ui
} // namespace cocos2d
