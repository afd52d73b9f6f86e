#include "NSDBDataModel.h"

namespace NSUI {

void NSDBDataModel::clear()
{
    row_.clear();
    rows_.clear();
}

void NSDBDataModel::addValue(const std::string& value)
{
    row_.push_back(value);
}

void NSDBDataModel::addIntValue(int value)
{
    row_.push_back(std::to_string(value));
}

void NSDBDataModel::endRow()
{
    rows_.push_back(std::move(row_));
    row_.clear();
}

int NSDBDataModel::getRowCount() const
{
    return static_cast<int>(rows_.size());
}

int NSDBDataModel::getColumnCount(int rowIndex) const
{
    if (rowIndex < 0 || rowIndex >= getRowCount())
        return 0;
    return static_cast<int>(rows_[static_cast<size_t>(rowIndex)].size());
}

std::string NSDBDataModel::getValue(int rowIndex, int column) const
{
    if (column < 0 || column >= getColumnCount(rowIndex))
        return std::string();
    return rows_[static_cast<size_t>(rowIndex)][static_cast<size_t>(column)];
}

} // namespace NSUI
