// Input tables for the writer tests, built row by row from cells.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "zarvi_core/column/table.h"

namespace zarvi_core::write::testing {

using column::Cell;
using column::ColumnType;

inline constexpr ColumnType kInt = ColumnType::int64();
inline constexpr ColumnType kText = ColumnType::binary();

// A table of the given columns; each row gives one cell per column.
inline column::Table table(std::string name,
                           std::initializer_list<std::pair<std::string, ColumnType>> columns,
                           std::initializer_list<std::vector<Cell>> rows = {}) {
  column::Table t(std::move(name), columns);
  for (const auto& row : rows) EXPECT_TRUE(t.push_row(row).ok());
  return t;
}

// A column of int64 references or row numbers; -1 stands for null.
inline column::Table int_table(std::string name, std::vector<std::string> columns,
                               std::vector<std::vector<int64_t>> rows) {
  std::vector<std::pair<std::string, ColumnType>> list;
  for (auto& c : columns) list.emplace_back(std::move(c), kInt);
  column::Table t(std::move(name), list);
  for (const auto& row : rows) {
    std::vector<Cell> cells;
    for (int64_t v : row) cells.push_back(v == -1 ? Cell::null() : Cell::int64(v));
    EXPECT_TRUE(t.push_row(cells).ok());
  }
  return t;
}

template <class... T>
column::Tables tables(T&&... list) {
  std::vector<column::Table> v;
  (v.push_back(std::forward<T>(list)), ...);
  return column::Tables(std::move(v));
}

}  // namespace zarvi_core::write::testing
