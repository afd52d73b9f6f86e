#include "NSListView.h"

namespace NSUI
{

NSListView* NSListView::create()
{
    auto* list = new (std::nothrow) NSListView();
    if (list != nullptr && list->init())
    {
        list->autorelease();
        return list;
    }
    delete list;
    return nullptr;
}

bool NSListView::init()
{
    if (!NSTableView::init())
        return false;
    setDirection(ScrollDirection::VERTICAL);
    fillOrder = TOP_DOWN;
    return true;
}

NSTableViewCell* NSListView::cellAtIndexOrCreate(ssize_t index)
{
    if (index < 0 || index >= rowCount)
        return nullptr;
    if (NSTableViewCell* cell = cellAtIndex(index))
        return cell;
    if (delegate == nullptr)
        return nullptr;
    return delegate->tableCellAtIndex(this, index, cocos2d::Size(getContentSize().width, rowLength(index)));
}

} // namespace NSUI
