// Reading interchanges for the writer tests: a parse under the built-in spec
// that the bytes select, a fixed envelope, tables with one cell changed, and
// the cells in which two sets of tables differ.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zarvi_core/document.h"
#include "zarvi_core/process.h"
#include "zarvi_core/spec/builtin.h"
#include "zarvi_core/write/envelope.h"

namespace zarvi_core::write::testing {

struct Parsed {
  spec::SpecPtr spec;
  process::RunResult run;
};

// None when the bytes cannot be indexed.
inline std::optional<Parsed> parse_builtin(std::string_view bytes) {
  auto document = Document::parse(bytes);
  if (!document.ok()) return std::nullopt;
  Segments segments(document.value());
  const spec::Compiled selected = spec::select_builtin([&] { return segments.next(); });
  if (!selected.ok()) return std::nullopt;
  return Parsed{selected.value(), process::Processor::run(*selected.value(), document.value())};
}

// Sender and receiver fixed, 2026-01-06 at 12:00, control number 1.
inline envelope::Envelope fixed_envelope() {
  return envelope::Envelope("ZZ", "SENDER", "ZZ", "RECEIVER", 20459, 12 * 3600);
}

// A copy of `input` whose table `table` holds `cell` at (`column`, `row`).
inline column::table::Tables with_cell(const column::table::Tables& input, std::string_view table,
                                std::string_view column, size_t row, column::Cell cell) {
  std::vector<column::table::Table> out;
  for (const column::table::Table& t : input) {
    std::vector<std::pair<std::string, column::ColumnType>> types;
    for (const column::table::ColumnRef c : t.columns()) types.emplace_back(c.name, c.data.type());
    column::table::Table copy(t.name(), types);
    std::vector<column::Cell> cells;
    for (size_t r = 0; r < t.rows(); ++r) {
      cells.clear();
      for (const column::table::ColumnRef c : t.columns())
        cells.push_back(t.name() == table && c.name == column && r == row
                            ? cell
                            : c.data.get(r).value_or(column::Cell::null()));
      if (!copy.push_row(cells).ok()) return {};
    }
    out.push_back(std::move(copy));
  }
  return column::table::Tables(std::move(out));
}

inline column::table::Tables copy_of(const column::table::Tables& input) {
  return with_cell(input, {}, {}, 0, column::Cell::null());
}

// Where `got` differs from `want`, every column compared but "segment":
// "table T column C row R: want X, got Y", one line per cell; empty when
// they agree.
inline std::vector<std::string> differences(const column::table::Tables& want,
                                            const column::table::Tables& got) {
  if (want.size() != got.size())
    return {std::to_string(want.size()) + " tables, got " + std::to_string(got.size())};
  std::vector<std::string> out;
  for (size_t t = 0; t < want.size(); ++t) {
    const column::table::Table& a = want[t];
    const column::table::Table& b = got[t];
    const std::string where = "table " + a.name();
    if (a.name() != b.name() || a.rows() != b.rows()) {
      out.push_back(where + " (" + std::to_string(a.rows()) + " rows): got table " + b.name() +
                    " (" + std::to_string(b.rows()) + " rows)");
      continue;
    }
    for (const column::table::ColumnRef c : a.columns()) {
      if (c.name == "segment") continue;
      const std::optional<column::ColumnView> other = b.column(c.name);
      if (!other) {
        out.push_back(where + " column " + c.name + ": missing");
        continue;
      }
      for (size_t r = 0; r < a.rows(); ++r)
        if (!(c.data.get(r) == other->get(r)))
          out.push_back(where + " column " + c.name + " row " + std::to_string(r) + ": want " +
                        c.data.render(r).value_or("?") + ", got " +
                        other->render(r).value_or("?"));
    }
  }
  return out;
}

}  // namespace zarvi_core::write::testing
