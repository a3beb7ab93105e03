// Which child process runs each row of a run, and which row each child runs: the map a child
// starter keeps between the scheduler's rows and the system's child ids.
#pragma once

#include <cstddef>
#include <vector>

class ChildRows {
public:
    explicit ChildRows(std::size_t rows) : child_of_(rows, -1) {}

    void bind(std::size_t row, int child) {
        child_of_[row] = child;
        if (row_of_.size() <= static_cast<std::size_t>(child)) row_of_.resize(child + 1);
        row_of_[child] = row;
    }
    int child(std::size_t row) const { return child_of_[row]; }
    std::size_t row(int child) const { return row_of_[child]; }

private:
    std::vector<int> child_of_;
    std::vector<std::size_t> row_of_;
};
