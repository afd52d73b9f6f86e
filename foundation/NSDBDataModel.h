// NSDBDataModel: the rows of one query, every value as text.
//
// NSDBUtil::query fills it column by column in the order SQLite delivers the rows; screens and
// services read it with getValue. A NULL column reads as the four letters "None" (the query's
// row callback writes them), an empty text column as "". The model does no locking: it belongs
// to whoever filled it, and is handed between threads whole (for example inside a thread request).
#pragma once

#include <string>
#include <vector>

namespace NSUI {

class NSDBDataModel {
public:
    NSDBDataModel() = default;
    virtual ~NSDBDataModel() = default;

    // Empties the row being filled and every stored row.
    void clear();

    // Appends a value to the row being filled.
    void addValue(const std::string& value);
    // Appends the "%i" text of value to the row being filled.
    void addIntValue(int value);
    // Closes the row being filled: it is stored after the rows already there and a new one begins.
    void endRow();

    int getRowCount() const;
    // 0 for a row index outside [0, getRowCount()).
    int getColumnCount(int rowIndex) const;
    // A copy of the value; "" for a row or column outside the model.
    std::string getValue(int rowIndex, int column) const;

private:
    std::vector<std::string> row_;
    std::vector<std::vector<std::string>> rows_;
};

} // namespace NSUI
