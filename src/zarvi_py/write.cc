// Writing from Python: Envelope (who sends and receives an interchange,
// when, its first control number and its delimiters), WriteFinding (one
// reason tables do not make a valid file) and _write, which runs the core
// writer with the interpreter lock released. Both classes hold their core
// value by copy.
#include <array>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zarvi_core/text.h"
#include "zarvi_core/write/writer.h"
#include "zarvi_py/args.h"
#include "zarvi_py/diagnostic.h"
#include "zarvi_py/import.h"
#include "zarvi_py/module.h"
#include "zarvi_py/spec.h"
#include "zarvi_py/tables.h"

namespace zarvi_py {
namespace {

namespace finding = zarvi_core::write::finding;
using zarvi_core::quote_bytes;
using zarvi_core::write::envelope::Envelope;
using zarvi_core::write::finding::Finding;

// Days from 0001-01-01 (ordinal 1) to 1970-01-01.
constexpr int64_t kEpochOrdinal = 719163;

struct PyEnvelope {
  PyObject_HEAD
  Envelope value;
};

struct PyWriteFinding {
  PyObject_HEAD
  Finding value;
};

Envelope& envelope_of(PyObject* self) { return reinterpret_cast<PyEnvelope*>(self)->value; }
const Finding& finding_of(PyObject* self) {
  return reinterpret_cast<PyWriteFinding*>(self)->value;
}

template <class T>
void dealloc(PyObject* self) {
  reinterpret_cast<T*>(self)->~T();
  free_object(self);
}

Ref optional_str(const std::optional<std::string>& text) {
  return text ? str_from(*text) : Ref::borrow(Py_None);
}

template <class T>
Ref optional_int(const std::optional<T>& n) {
  return n ? Ref::steal(PyLong_FromUnsignedLongLong(*n)) : Ref::borrow(Py_None);
}

Ref optional_view(const std::optional<std::string_view>& text) {
  return text ? str_from(*text) : Ref::borrow(Py_None);
}

// ---- Envelope ----

constexpr const char* kEnvelopeArgs[] = {
    "sender_id",          "receiver_id",   "date",         "time",
    "sender_qualifier",   "receiver_qualifier", "usage_indicator", "control_number",
    "application_sender", "application_receiver", "delimiters",  "line_break",
};
constexpr size_t kRequired = 4;
constexpr size_t kEnvelopeArgCount = std::size(kEnvelopeArgs);

// Sorts the keyword arguments into `given` by their place in kEnvelopeArgs,
// with the interpreter's own TypeError texts for a keyword-only signature.
bool envelope_arguments(PyObject* args, PyObject* kwargs, PyObject* (&given)[kEnvelopeArgCount]) {
  const Py_ssize_t positional = args == nullptr ? 0 : PyTuple_Size(args);
  if (positional != 0) {
    PyErr_Format(PyExc_TypeError, "Envelope() takes 0 positional arguments but %zd %s given",
                 positional, positional == 1 ? "was" : "were");
    return false;
  }
  Py_ssize_t pos = 0;
  PyObject *key = nullptr, *value = nullptr;
  while (kwargs != nullptr && PyDict_Next(kwargs, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) {
      PyErr_SetString(PyExc_TypeError, "keywords must be strings");
      return false;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) return false;
    const std::string_view name(text, static_cast<size_t>(size));
    size_t i = 0;
    while (i < kEnvelopeArgCount && name != kEnvelopeArgs[i]) ++i;
    if (i == kEnvelopeArgCount) {
      PyErr_Format(PyExc_TypeError, "Envelope() got an unexpected keyword argument '%U'", key);
      return false;
    }
    given[i] = value;
  }
  std::vector<const char*> missing;
  for (size_t i = 0; i < kRequired; ++i)
    if (given[i] == nullptr) missing.push_back(kEnvelopeArgs[i]);
  if (missing.empty()) return true;
  std::string names;
  for (size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) names += i + 1 == missing.size() ? (missing.size() > 2 ? ", and " : " and ") : ", ";
    names += std::string("'") + missing[i] + "'";
  }
  if (missing.size() == 1) {
    PyErr_Format(PyExc_TypeError, "Envelope() missing 1 required keyword-only argument: %s",
                 names.c_str());
  } else {
    PyErr_Format(PyExc_TypeError, "Envelope() missing %zu required keyword-only arguments: %s",
                 missing.size(), names.c_str());
  }
  return false;
}

bool text_arg(PyObject* value, const char* name, std::string& out) {
  if (value == nullptr) return true;
  std::string_view text;
  if (!str_arg("Envelope", name, value, text)) return false;
  out = std::string(text);
  return true;
}

bool optional_text_arg(PyObject* value, const char* name, std::optional<std::string>& out) {
  if (value == nullptr || value == Py_None) return true;
  if (!PyUnicode_Check(value)) {
    wrong_type("Envelope", name, "str or None", value);
    return false;
  }
  std::string text;
  if (!text_arg(value, name, text)) return false;
  out = std::move(text);
  return true;
}

// ValueError "{prefix}{str(object)}{suffix}"; false.
bool value_error(const char* prefix, PyObject* object, const char* suffix) {
  Ref text = Ref::steal(PyObject_Str(object));
  if (text) PyErr_Format(PyExc_ValueError, "%s%U%s", prefix, text.get(), suffix);
  return false;
}

// An integer attribute of `object`, or its conversion error.
std::optional<int64_t> int_attribute(PyObject* object, const char* name) {
  Ref value = Ref::steal(PyObject_GetAttrString(object, name));
  if (!value) return std::nullopt;
  const long long n = PyLong_AsLongLong(value.get());
  if (n == -1 && PyErr_Occurred()) return std::nullopt;
  return n;
}

// The day count of `date` and the seconds of `time`, checked in the order
// the messages are promised in.
bool date_and_time(PyObject* date, PyObject* time, int32_t& days, uint32_t& seconds) {
  Ref datetime = Ref::steal(PyImport_ImportModule("datetime"));
  if (!datetime) return false;
  Ref datetime_class = Ref::steal(PyObject_GetAttrString(datetime.get(), "datetime"));
  if (!datetime_class) return false;
  const int is_datetime = PyObject_IsInstance(date, datetime_class.get());
  if (is_datetime < 0) return false;
  if (is_datetime == 1) {
    return value_error("date ", date,
                       " is a datetime; give a datetime.date (the envelope's time is its own "
                       "field)");
  }
  Ref zone = Ref::steal(PyObject_GetAttrString(time, "tzinfo"));
  if (!zone) return false;
  if (zone.get() != Py_None) {
    return value_error("time ", time,
                       " has a time zone; give a datetime.time without one, as the envelope "
                       "writes local time");
  }
  Ref ordinal = Ref::steal(PyObject_CallMethod(date, "toordinal", nullptr));
  if (!ordinal) return false;
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(ordinal.get(), &overflow);
  if (n == -1 && PyErr_Occurred()) return false;
  // Checked before subtracting, which could overflow for an ordinal near
  // the 64-bit limits (a duck-typed date may return any int).
  if (overflow != 0 || n < std::numeric_limits<int32_t>::min() + kEpochOrdinal ||
      n > std::numeric_limits<int32_t>::max() + kEpochOrdinal) {
    return value_error("date ", date, " is out of range");
  }
  const long long day = n - kEpochOrdinal;
  const auto micro = int_attribute(time, "microsecond");
  if (!micro) return false;
  if (*micro != 0) {
    return value_error("time ", time,
                       " has a fraction of a second; the envelope holds whole seconds");
  }
  const auto hour = int_attribute(time, "hour");
  if (!hour) return false;
  const auto minute = int_attribute(time, "minute");
  if (!minute) return false;
  const auto second = int_attribute(time, "second");
  if (!second) return false;
  int64_t total = 0;
  int64_t minutes = 0;
  if (__builtin_mul_overflow(*hour, 3600, &total) ||
      __builtin_mul_overflow(*minute, 60, &minutes) ||
      __builtin_add_overflow(total, minutes, &total) ||
      __builtin_add_overflow(total, *second, &total) || total < 0 ||
      total > std::numeric_limits<uint32_t>::max()) {
    Ref text = Ref::steal(PyObject_Str(time));
    if (text) {
      PyErr_Format(PyExc_OverflowError,
                   "Envelope() time %U is beyond the 32-bit seconds the envelope holds",
                   text.get());
    }
    return false;
  }
  days = static_cast<int32_t>(day);
  seconds = static_cast<uint32_t>(total);
  return true;
}

PyObject* envelope_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    PyObject* a[kEnvelopeArgCount] = {};
    if (!envelope_arguments(args, kwargs, a)) return Ref();
    // Reading date and time runs Python code, which may change the caller's
    // keyword dict that `a` borrows from.
    std::array<Ref, kEnvelopeArgCount> held;
    for (size_t i = 0; i < kEnvelopeArgCount; ++i) held[i] = Ref::borrow(a[i]);
    Envelope e("ZZ", "", "ZZ", "", 0, 0);
    if (!text_arg(a[0], "sender_id", e.sender_id) ||
        !text_arg(a[1], "receiver_id", e.receiver_id) ||
        !text_arg(a[4], "sender_qualifier", e.sender_qualifier) ||
        !text_arg(a[5], "receiver_qualifier", e.receiver_qualifier) ||
        !text_arg(a[6], "usage_indicator", e.usage_indicator)) {
      return Ref();
    }
    if (PyObject* n = a[7]; n != nullptr) {
      if (!PyLong_Check(n)) return wrong_type("Envelope", "control_number", "int", n);
      e.control_number = PyLong_AsUnsignedLongLong(n);
      if (PyErr_Occurred()) return Ref();
    }
    if (!optional_text_arg(a[8], "application_sender", e.application_sender) ||
        !optional_text_arg(a[9], "application_receiver", e.application_receiver)) {
      return Ref();
    }
    if (PyObject* d = a[10]; d != nullptr && d != Py_None) {
      const zarvi_core::Delimiters* value = delimiters_value(d);
      if (value == nullptr) return wrong_type("Envelope", "delimiters", "Delimiters or None", d);
      e.delimiters = *value;
    }
    if (PyObject* b = a[11]; b != nullptr) {
      if (!PyBool_Check(b)) return wrong_type("Envelope", "line_break", "bool", b);
      e.line_break = b == Py_True;
    }
    if (!date_and_time(a[2], a[3], e.date, e.time)) return Ref();
    Ref self = alloc_object(reinterpret_cast<PyObject*>(type));
    if (!self) return Ref();
    new (&envelope_of(self.get())) Envelope(std::move(e));
    return self;
  });
}

enum class EnvelopeField {
  SenderId, ReceiverId, Date, Time, SenderQualifier, ReceiverQualifier, UsageIndicator,
  ControlNumber, ApplicationSender, ApplicationReceiver, Delimiters, LineBreak,
};

Ref date_object(int32_t days) {
  Ref datetime = Ref::steal(PyImport_ImportModule("datetime"));
  if (!datetime) return Ref();
  Ref date_class = Ref::steal(PyObject_GetAttrString(datetime.get(), "date"));
  if (!date_class) return Ref();
  const auto ordinal = static_cast<long long>(days + kEpochOrdinal);
  return Ref::steal(PyObject_CallMethod(date_class.get(), "fromordinal", "L", ordinal));
}

Ref time_object(uint32_t seconds) {
  Ref datetime = Ref::steal(PyImport_ImportModule("datetime"));
  if (!datetime) return Ref();
  return Ref::steal(PyObject_CallMethod(datetime.get(), "time", "III", seconds / 3600,
                                        seconds / 60 % 60, seconds % 60));
}

PyObject* envelope_get(PyObject* self, void* closure) {
  return guard([&]() -> Ref {
    const Envelope& e = envelope_of(self);
    switch (static_cast<EnvelopeField>(reinterpret_cast<std::intptr_t>(closure))) {
      case EnvelopeField::SenderId: return str_from(e.sender_id);
      case EnvelopeField::ReceiverId: return str_from(e.receiver_id);
      case EnvelopeField::Date: return date_object(e.date);
      case EnvelopeField::Time: return time_object(e.time);
      case EnvelopeField::SenderQualifier: return str_from(e.sender_qualifier);
      case EnvelopeField::ReceiverQualifier: return str_from(e.receiver_qualifier);
      case EnvelopeField::UsageIndicator: return str_from(e.usage_indicator);
      case EnvelopeField::ControlNumber:
        return Ref::steal(PyLong_FromUnsignedLongLong(e.control_number));
      case EnvelopeField::ApplicationSender: return optional_str(e.application_sender);
      case EnvelopeField::ApplicationReceiver: return optional_str(e.application_receiver);
      case EnvelopeField::Delimiters: return new_delimiters(e.delimiters);
      case EnvelopeField::LineBreak: break;
    }
    return Ref::borrow(e.line_break ? Py_True : Py_False);
  });
}

void* closure(EnvelopeField f) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(f)); }

PyGetSetDef kEnvelopeGetters[] = {
    {"sender_id", envelope_get, nullptr, "The sender's id (ISA06).",
     closure(EnvelopeField::SenderId)},
    {"receiver_id", envelope_get, nullptr, "The receiver's id (ISA08).",
     closure(EnvelopeField::ReceiverId)},
    {"date", envelope_get, nullptr, "The date of the interchange, a datetime.date.",
     closure(EnvelopeField::Date)},
    {"time", envelope_get, nullptr,
     "The time of the interchange, a datetime.time in whole seconds.",
     closure(EnvelopeField::Time)},
    {"sender_qualifier", envelope_get, nullptr, "The sender's id qualifier (ISA05).",
     closure(EnvelopeField::SenderQualifier)},
    {"receiver_qualifier", envelope_get, nullptr, "The receiver's id qualifier (ISA07).",
     closure(EnvelopeField::ReceiverQualifier)},
    {"usage_indicator", envelope_get, nullptr, "\"P\" for production, \"T\" for test (ISA15).",
     closure(EnvelopeField::UsageIndicator)},
    {"control_number", envelope_get, nullptr,
     "The first control number; later ones count up from it.",
     closure(EnvelopeField::ControlNumber)},
    {"application_sender", envelope_get, nullptr,
     "The application sender's code (GS02), or None to write the sender's id.",
     closure(EnvelopeField::ApplicationSender)},
    {"application_receiver", envelope_get, nullptr,
     "The application receiver's code (GS03), or None to write the receiver's id.",
     closure(EnvelopeField::ApplicationReceiver)},
    {"delimiters", envelope_get, nullptr, "The delimiters to write with, a new Delimiters.",
     closure(EnvelopeField::Delimiters)},
    {"line_break", envelope_get, nullptr, "Whether a line break follows each segment.",
     closure(EnvelopeField::LineBreak)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* envelope_repr(PyObject* self) {
  return guard([&] {
    const Envelope& e = envelope_of(self);
    return str_from("Envelope(sender_id=" + quote_bytes(e.sender_id) +
                    ", receiver_id=" + quote_bytes(e.receiver_id) +
                    ", control_number=" + std::to_string(e.control_number) + ")");
  });
}

PyType_Slot kEnvelopeSlots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "Envelope(*, sender_id, receiver_id, date, time, sender_qualifier='ZZ', "
         "receiver_qualifier='ZZ', usage_indicator='P', control_number=1, "
         "application_sender=None, application_receiver=None, delimiters=None, "
         "line_break=False)\n--\n\n"
         "Who sends and receives an interchange, when, its first control number and its\n"
         "delimiters. The writer derives the rest of the envelope: counts, later control\n"
         "numbers, codes and fixed widths. Immutable.\n\n"
         "Parameters:\n"
         "    sender_id, receiver_id: the ids of ISA06 and ISA08.\n"
         "    date: a datetime.date (not a datetime.datetime).\n"
         "    time: a datetime.time without a time zone or a fraction of a second.\n"
         "    sender_qualifier, receiver_qualifier: ISA05 and ISA07.\n"
         "    usage_indicator: ISA15, \"P\" for production or \"T\" for test.\n"
         "    control_number: the first control number, 0 to 2**64-1; later ones count up.\n"
         "    application_sender, application_receiver: GS02 and GS03; None writes the\n"
         "        sender's and receiver's ids.\n"
         "    delimiters: the Delimiters to write with; None writes '*', ':', '~' and the\n"
         "        repetition separator '^'.\n"
         "    line_break: write a line break after each segment.\n\n"
         "Raises:\n"
         "    TypeError: an argument is missing, positional or of the wrong type.\n"
         "    AttributeError: date or time lacks an attribute it is read through\n"
         "        (toordinal, tzinfo, hour, minute, second, microsecond).\n"
         "    ValueError: date is a datetime or out of range; time has a time zone or a\n"
         "        fraction of a second.\n"
         "    OverflowError: control_number or the seconds of time do not fit their width.\n\n"
         "Example:\n"
         "    import datetime, zarvi\n"
         "    envelope = zarvi.Envelope(sender_id=\"ACMEHEALTH\", receiver_id=\"GOODCLINIC\",\n"
         "                              date=datetime.date(2026, 1, 5), time=datetime.time(12))")},
    {Py_tp_new, reinterpret_cast<void*>(envelope_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyEnvelope>)},
    {Py_tp_getset, kEnvelopeGetters},
    {Py_tp_repr, reinterpret_cast<void*>(envelope_repr)},
    {0, nullptr},
};

PyType_Spec kEnvelopeSpec = {
    "zarvi.Envelope",
    sizeof(PyEnvelope),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    kEnvelopeSlots,
};

// ---- WriteFinding ----

enum class FindingField { Kind, Table, Row, Column, Field, Diagnostic, Message };

PyObject* finding_get(PyObject* self, void* closure) {
  return guard([&]() -> Ref {
    const Finding& f = finding_of(self);
    const auto field = static_cast<FindingField>(reinterpret_cast<std::intptr_t>(closure));
    if (field == FindingField::Kind) return str_from(finding::kind_name(f.kind()));
    if (field == FindingField::Message) return str_from(finding::to_string(f));
    if (field == FindingField::Diagnostic) {
      const auto* read_back = std::get_if<Finding::ReadBack>(&f.data);
      if (read_back == nullptr) return Ref::borrow(Py_None);
      return new_diagnostic(read_back->diagnostic);
    }
    const finding::Subject s = finding::subject(f);
    switch (field) {
      case FindingField::Table: return optional_view(s.table);
      case FindingField::Row: return optional_int(s.row);
      case FindingField::Column: return optional_view(s.column);
      default: return optional_view(s.field);
    }
  });
}

void* closure(FindingField f) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(f)); }

PyGetSetDef kFindingGetters[] = {
    {"kind", finding_get, nullptr,
     "The kind: \"DelimiterInValue\", \"UnwrittenValue\", \"MissingParent\", "
     "\"MismatchedReference\", \"DuplicateRowNumber\", \"OutOfOrder\", \"NotWritable\" or "
     "\"ReadBack\".",
     closure(FindingField::Kind)},
    {"table", finding_get, nullptr, "The table at fault, or None.", closure(FindingField::Table)},
    {"row", finding_get, nullptr, "The row at fault (its position in the table), or None.",
     closure(FindingField::Row)},
    {"column", finding_get, nullptr, "The column at fault, or None.",
     closure(FindingField::Column)},
    {"field", finding_get, nullptr, "The envelope field at fault, or None.",
     closure(FindingField::Field)},
    {"diagnostic", finding_get, nullptr,
     "For \"ReadBack\", the Diagnostic of reading the output back; None otherwise.",
     closure(FindingField::Diagnostic)},
    {"message", finding_get, nullptr, "The finding as one sentence.",
     closure(FindingField::Message)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* finding_str(PyObject* self) {
  return guard([&] { return str_from(finding::to_string(finding_of(self))); });
}

PyObject* finding_repr(PyObject* self) {
  return guard([&] {
    return str_from("WriteFinding(" + quote_bytes(finding::to_string(finding_of(self))) + ")");
  });
}

PyType_Slot kFindingSlots[] = {
    {Py_tp_doc,
     const_cast<char*>("One reason tables do not make a valid file. A value, never raised.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyWriteFinding>)},
    {Py_tp_getset, kFindingGetters},
    {Py_tp_str, reinterpret_cast<void*>(finding_str)},
    {Py_tp_repr, reinterpret_cast<void*>(finding_repr)},
    {0, nullptr},
};

PyType_Spec kFindingSpec = {
    "zarvi.WriteFinding",
    sizeof(PyWriteFinding),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kFindingSlots,
};

Ref finding_list(std::vector<Finding> findings) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(findings.size())));
  if (!list) return Ref();
  for (size_t i = 0; i < findings.size(); ++i) {
    Ref object = alloc_object(write_finding_type());
    if (!object) return Ref();
    new (&reinterpret_cast<PyWriteFinding*>(object.get())->value) Finding(std::move(findings[i]));
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), object.release());
  }
  return list;
}

// ---- _write ----

// Raises the package's WriteError(message, findings); a failure to make it
// is raised instead.
Ref refuse(const std::string& message, std::vector<Finding> findings) {
  Ref list = finding_list(std::move(findings));
  if (!list) return Ref();
  Ref text = str_from(message);
  if (!text) return Ref();
  Ref module = Ref::steal(calling([] { return PyImport_ImportModule("zarvi._write"); }));
  if (!module) return Ref();
  Ref type = Ref::steal(PyObject_GetAttrString(module.get(), "WriteError"));
  if (!type) return Ref();
  Ref error = Ref::steal(calling([&] {
    return PyObject_CallFunctionObjArgs(type.get(), text.get(), list.get(), nullptr);
  }));
  if (!error) return Ref();
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
  return Ref();
}

// Whether `tables` is a mapping (1) or not (0): a dict or a
// collections.abc.Mapping. A failing instance test is reported as
// unraisable and counts as no, unless it is not ours to swallow (an
// interruption, an exit, a lack of memory): then -1, with it raised.
int is_mapping(PyObject* tables) {
  if (PyDict_Check(tables)) return 1;
  Ref abc = Ref::steal(calling([] { return PyImport_ImportModule("collections.abc"); }));
  Ref mapping = abc ? Ref::steal(PyObject_GetAttrString(abc.get(), "Mapping")) : Ref();
  const int is =
      mapping ? calling([&] { return PyObject_IsInstance(tables, mapping.get()); }) : -1;
  if (is < 0) {
    if (!replaceable_error()) return -1;
    calling([&] { PyErr_WriteUnraisable(tables); });
    return 0;
  }
  return is;
}

PyObject* write_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    static const char* kKeywords[] = {"tables", "envelope", "spec", "allow_findings", nullptr};
    PyObject* tables = nullptr;
    PyObject* envelope = nullptr;
    PyObject* spec_arg = Py_None;
    PyObject* allow = Py_False;
    // The mapping test and the import run Python code; `given` points into
    // the spec and the envelope is read after them.
    const auto held = parse_args(args, kwargs, "OO|OO:_write", kKeywords, &tables, &envelope,
                                 &spec_arg, &allow);
    if (!held) return Ref();
    if (!instance_of(envelope, envelope_type())) {
      return wrong_type("_write", "envelope", "Envelope", envelope);
    }
    const SharedSpec* given = spec_arg == Py_None ? nullptr : spec_of(spec_arg);
    if (spec_arg != Py_None && given == nullptr) {
      return wrong_type("_write", "spec", "Spec or None", spec_arg);
    }
    if (!PyBool_Check(allow)) return wrong_type("_write", "allow_findings", "bool", allow);

    SharedSpec spec;
    zarvi_core::column::table::SharedTables shared;
    if (const auto* parsed = tables_of(tables)) {
      shared = *parsed;
      spec = given != nullptr ? *given : *tables_spec_of(tables);
    } else if (const int mapping = is_mapping(tables); mapping < 0) {
      return Ref();
    } else if (mapping == 1) {
      spec = given != nullptr ? *given : builtin();
      if (!spec) return Ref();
      Imported imported;
      if (!import_tables(*spec, tables, imported)) return Ref();
      if (auto* refusal = std::get_if<std::string>(&imported)) return refuse(*refusal, {});
      shared = zarvi_core::column::table::freeze(
          std::move(std::get<zarvi_core::column::table::Tables>(imported)));
    } else {
      return refuse(
          "write: tables must be the tables of a parse or a mapping of table names to Arrow, "
          "Polars or pandas tables",
          {});
    }

    const Envelope value = envelope_of(envelope);
    std::optional<decltype(zarvi_core::write::writer::write_with_findings(*spec, *shared, value))>
        written;
    {
      AllowThreads unlocked;
      written.emplace(zarvi_core::write::writer::write_with_findings(*spec, *shared, value));
    }
    if (!written->ok()) {
      finding::WriteError& error = written->error();
      std::vector<Finding> findings;
      if (auto* listed = std::get_if<finding::WriteError::Findings>(&error.data)) {
        findings = std::move(listed->findings);
      }
      return refuse(finding::to_string(error), std::move(findings));
    }
    auto& out = written->value();
    if (!out.findings.empty() && allow != Py_True) {
      finding::WriteError error{finding::WriteError::Findings{std::move(out.findings)}};
      const std::string message = finding::to_string(error);
      return refuse(message,
                    std::move(std::get<finding::WriteError::Findings>(error.data).findings));
    }
    Ref bytes = bytes_from(out.bytes);
    if (!bytes) return Ref();
    Ref list = finding_list(std::move(out.findings));
    if (!list) return Ref();
    return Ref::steal(PyTuple_Pack(2, bytes.get(), list.get()));
  });
}

}  // namespace

PyObject* envelope_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kEnvelopeSpec);
}

PyObject* write_finding_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kFindingSpec);
}

PyMethodDef kWriteDef = {
    "_write",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_function)),
    METH_VARARGS | METH_KEYWORDS,
    "_write(tables, envelope, spec=None, allow_findings=False)\n--\n\n"
    "Writes one interchange from tables and reads it back. The core write runs with the\n"
    "GIL released.\n\n"
    "Parameters:\n"
    "    tables: the Tables of a parse, or a mapping of table names to Arrow, polars or\n"
    "        pandas tables (anything with __arrow_c_stream__, or that pyarrow.table\n"
    "        accepts), converted to the spec's column types.\n"
    "    envelope: an Envelope: who sends and receives, when, the first control number\n"
    "        and the delimiters.\n"
    "    spec: the Spec to write with; None takes the spec of parsed tables, or the\n"
    "        built-in 5010 spec for a mapping.\n"
    "    allow_findings: return the bytes even when the tables give findings.\n\n"
    "Returns:\n"
    "    A tuple of the bytes and the list of WriteFinding objects, in the writer's\n"
    "    order (empty unless allow_findings).\n\n"
    "Raises:\n"
    "    zarvi.WriteError: the spec cannot be written, the tables or delimiters do not\n"
    "        fit it, the output cannot be read back (no findings), or findings were not\n"
    "        allowed (its findings list them, each with the table, row and column or\n"
    "        envelope field that caused it).\n"
    "    TypeError: envelope, spec or allow_findings is of another type.\n"
    "    ValueError: an outside table's Arrow stream cannot be opened.\n"
    "    ImportError: a table needs pyarrow, which is not installed.\n\n"
    "Example:\n"
    "    written, findings = zarvi.write(zarvi.parse(data).tables, envelope)",
};

}  // namespace zarvi_py
