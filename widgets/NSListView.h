// NSListView: the table the program instantiates: vertical, filled top-down, with the invisible
// background layer under the visible window. Owners size it with setContentSize, set its delegate
// and fill it with insertRow, or with row data and reloadData.
#pragma once

#include "NSTableView.h"

namespace NSUI
{

class NSListView : public NSTableView
{
public:
    static NSListView* create();
    bool init() override;

    // The row's shown cell; otherwise a new cell from the delegate, not placed in the table (the
    // caller owns what it does with it); null past the last row or without a delegate.
    NSTableViewCell* cellAtIndexOrCreate(ssize_t index);
};

} // namespace NSUI
