#include "zarvi_core/write/finding.h"

#include <type_traits>

#include "zarvi_core/text.h"

namespace zarvi_core::write::finding {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

void append_names(std::string& out, const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ", ";
    append_quoted(out, names[i]);
  }
}

void append_byte(std::string& out, char byte) { append_quoted(out, std::string_view(&byte, 1)); }

// "table {} row {} column {} ", the head of the reference findings.
void append_cell_head(std::string& out, std::string_view table, uint64_t row,
                      std::string_view column) {
  out += "table ";
  append_quoted(out, table);
  out += " row " + std::to_string(row) + " column ";
  append_quoted(out, column);
}

}  // namespace

void append_origin(std::string& out, const Origin& origin) {
  std::visit(Overloaded{
                 [&](const Origin::Row& o) {
                   out += "table ";
                   append_quoted(out, o.table);
                   out += " row " + std::to_string(o.row);
                 },
                 [&](const Origin::Cell& o) { append_cell_head(out, o.table, o.row, o.column); },
                 [&](const Origin::Envelope& o) {
                   out += "envelope field ";
                   append_quoted(out, o.field);
                 },
             },
             origin.data);
}

namespace {

// The origin, or "the written file" for a finding that has none.
void append_subject(std::string& out, const std::optional<Origin>& origin) {
  if (origin) {
    append_origin(out, *origin);
  } else {
    out += "the written file";
  }
}

}  // namespace

std::string to_string(const Origin& origin) {
  std::string out;
  append_origin(out, origin);
  return out;
}

std::string_view kind_name(Kind kind) {
  switch (kind) {
    case Kind::DelimiterInValue: return "DelimiterInValue";
    case Kind::UnwrittenValue: return "UnwrittenValue";
    case Kind::MissingParent: return "MissingParent";
    case Kind::MismatchedReference: return "MismatchedReference";
    case Kind::DuplicateRowNumber: return "DuplicateRowNumber";
    case Kind::OutOfOrder: return "OutOfOrder";
    case Kind::NotWritable: return "NotWritable";
    case Kind::ReadBack: return "ReadBack";
  }
  return {};
}

std::string to_string(const Finding& finding) {
  std::string out;
  std::visit(
      Overloaded{
          [&](const Finding::DelimiterInValue& f) {
            append_subject(out, f.origin);
            out += " writes ";
            out += f.place.get();
            out += " with ";
            append_quoted(out, f.value);
            out += ", which holds the " + f.delimiter + " ";
            append_byte(out, f.byte);
            out += "; a value cannot hold the interchange's delimiters";
          },
          [&](const Finding::UnwrittenValue& f) {
            append_origin(out, f.origin);
            out += " holds " + f.value + ", but the column reads ";
            out += f.place.get();
            out += " ";
            append_quoted(out, f.code);
            out += ", which the element's code list (";
            append_names(out, f.codes);
            out += ") excludes, so no valid file holds it";
          },
          [&](const Finding::MissingParent& f) {
            append_cell_head(out, f.table, f.row, f.column);
            if (f.value) {
              out += " refers to row " + std::to_string(*f.value) + ", which table ";
              append_quoted(out, f.parent);
              out += " lacks";
            } else {
              out += " is null, so the row has no place in the file";
            }
          },
          [&](const Finding::MismatchedReference& f) {
            append_cell_head(out, f.table, f.row, f.column);
            out += " is " + std::to_string(f.value) + ", but the row it belongs to by column ";
            append_quoted(out, f.parent_column);
            out += ", row " + std::to_string(f.parent_row) + " of table ";
            append_quoted(out, f.parent);
            out += ", has ";
            append_quoted(out, f.column);
            out += " " + std::to_string(f.parent_value);
          },
          [&](const Finding::DuplicateRowNumber& f) {
            out += "table ";
            append_quoted(out, f.table);
            out += " row " + std::to_string(f.row) + " carries row number " +
                   std::to_string(f.number) + ", which row " + std::to_string(f.first) +
                   " already carries; references to it are ambiguous";
          },
          [&](const Finding::OutOfOrder& f) {
            out += "table ";
            append_quoted(out, f.table);
            out += " row " + std::to_string(f.row) + " (column ";
            append_quoted(out, f.column);
            out += " = " + std::to_string(f.value) + ") is written after row " +
                   std::to_string(f.last) +
                   "; the rows of one parent must be together and in their parents' order";
          },
          [&](const Finding::NotWritable& f) {
            append_subject(out, f.origin);
            out += " holds " + f.value + ", which ";
            out += f.place.get();
            out += " cannot hold: " + f.reason;
          },
          [&](const Finding::ReadBack& f) {
            append_subject(out, f.origin);
            out += ": " + to_string(f.diagnostic);
          },
      },
      finding.data);
  return out;
}

Subject subject(const Finding& finding) {
  const auto of = [](const std::optional<Origin>& origin) { return origin ? &*origin : nullptr; };
  const auto of_origin = [](const Origin* origin) {
    Subject s;
    if (origin == nullptr) return s;
    std::visit(Overloaded{
                   [&](const Origin::Row& o) {
                     s.table = o.table;
                     s.row = o.row;
                   },
                   [&](const Origin::Cell& o) {
                     s.table = o.table;
                     s.row = o.row;
                     s.column = o.column;
                   },
                   [&](const Origin::Envelope& o) { s.field = o.field; },
               },
               origin->data);
    return s;
  };
  return std::visit(
      Overloaded{
          [&](const Finding::DelimiterInValue& f) { return of_origin(of(f.origin)); },
          [&](const Finding::UnwrittenValue& f) { return of_origin(&f.origin); },
          [&](const Finding::NotWritable& f) { return of_origin(of(f.origin)); },
          [&](const Finding::ReadBack& f) { return of_origin(of(f.origin)); },
          [](const Finding::MissingParent& f) {
            return Subject{f.table, f.row, f.column, std::nullopt};
          },
          [](const Finding::MismatchedReference& f) {
            return Subject{f.table, f.row, f.column, std::nullopt};
          },
          [](const Finding::OutOfOrder& f) {
            return Subject{f.table, f.row, f.column, std::nullopt};
          },
          [](const Finding::DuplicateRowNumber& f) {
            return Subject{f.table, f.row, std::nullopt, std::nullopt};
          },
      },
      finding.data);
}

std::string to_string(const WriteError& error) {
  std::string out;
  std::visit(
      Overloaded{
          [&](const WriteError::Plan& e) { out = e.error.text(); },
          [&](const WriteError::UnknownTable& e) {
            out += "table ";
            append_quoted(out, e.table);
            out += " is not a table of the spec, whose tables are ";
            append_names(out, e.tables);
          },
          [&](const WriteError::UnknownColumn& e) {
            out += "table ";
            append_quoted(out, e.table);
            out += " has no column ";
            append_quoted(out, e.column);
            out += " in the spec; its columns are ";
            append_names(out, e.columns);
          },
          [&](const WriteError::ColumnTypeMismatch& e) {
            out += "table ";
            append_quoted(out, e.table);
            out += " column ";
            append_quoted(out, e.column);
            out += " is " + column::to_string(e.found) + "; the spec makes it " +
                   column::to_string(e.expected);
          },
          [&](const WriteError::SharedDelimiter& e) {
            out += "the " + e.first + " and the " + e.second + " are both ";
            append_byte(out, e.byte);
            out += "; each delimiter needs its own byte";
          },
          [&](const WriteError::DelimiterNotAllowed& e) {
            out += "the " + e.delimiter + " ";
            append_byte(out, e.byte);
            out += " is a letter, a digit or white space, which values hold";
          },
          [&](const WriteError::RepetitionUnset&) {
            out += "the interchange header carries a repetition separator, but the envelope "
                   "field \"delimiters.repetition\" is not set";
          },
          [&](const WriteError::Unreadable& e) {
            out += "the written file could not be read back: " + e.message;
          },
          [&](const WriteError::Findings& e) {
            const size_t n = e.findings.size();
            out += "the tables do not make a valid file (" + std::to_string(n) +
                   (n == 1 ? " finding" : " findings") + "); nothing was written";
            for (size_t i = 0; i < n; ++i) {
              out += "\n" + std::to_string(i + 1) + ". " + to_string(e.findings[i]);
            }
          },
      },
      error.data);
  return out;
}

}  // namespace zarvi_core::write::finding
