// The input and argument checks of parse and stream, and _loop_paths:
// the loop path of any segment of a Result, for adapters of outside
// validators.
#include "zarvi_py/native.h"

#include <map>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zarvi_core/document.h"
#include "zarvi_core/engine.h"
#include "zarvi_py/document.h"
#include "zarvi_py/module.h"
#include "zarvi_py/parse.h"

namespace zarvi_py {
namespace {

// One-byte item formats read as bytes: B (unsigned), c (char), and b, which
// the message names too; alone or after the native, standard-size or
// big-endian prefix.
bool byte_format(const char* format) {
  if (format == nullptr) return true;
  std::string_view f(format);
  if (!f.empty() && (f[0] == '@' || f[0] == '=' || f[0] == '>')) f.remove_prefix(1);
  return f == "B" || f == "c" || f == "b";
}

// "format 'i'" from memoryview(data).format, else "type int", else "type ?";
// null when a step fails with an error that is not ours to replace.
Ref describe(PyObject* data) {
  Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
  Ref view = builtins ? Ref::steal(PyObject_CallMethod(builtins.get(), "memoryview", "O", data))
                      : Ref();
  Ref format = view ? Ref::steal(PyObject_GetAttrString(view.get(), "format")) : Ref();
  if (format) {
    Ref text = Ref::steal(PyUnicode_FromFormat("format %R", format.get()));
    if (text) return text;
  }
  if (!replaceable_error()) return Ref();
  PyErr_Clear();
  Ref name = Ref::steal(PyType_GetName(Py_TYPE(data)));
  if (!name) {
    if (!replaceable_error()) return Ref();
    PyErr_Clear();
    return Ref::steal(PyUnicode_FromString("type ?"));
  }
  return Ref::steal(PyUnicode_FromFormat("type %U", name.get()));
}

// ParseError for an input longer than the limit, in the words the document
// index uses.
bool too_long(uint64_t length, uint64_t max_bytes) {
  if (length <= max_bytes) return false;
  raise_text(parse_error_type(), zarvi_core::to_string(zarvi_core::SizeError{length}));
  return true;
}

}  // namespace

bool read_input(PyObject* data, const char* function, Input& out, uint64_t max_bytes) {
  if (PyUnicode_Check(data)) {
    PyErr_SetString(PyExc_TypeError,
                    "the input must be bytes or another buffer, not str: open the file in "
                    "binary mode or encode the text");
    return false;
  }
  if (PyBytes_CheckExact(data)) {
    char* bytes = nullptr;
    Py_ssize_t n = 0;
    if (PyBytes_AsStringAndSize(data, &bytes, &n) < 0) return false;
    if (too_long(static_cast<uint64_t>(n), max_bytes)) return false;
    out.borrowed = std::string_view(bytes, static_cast<size_t>(n));
    out.keep = Ref::borrow(data);
    return true;
  }
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_FULL_RO) == 0) {
    if (view.itemsize == 1 && byte_format(view.format)) {
      if (too_long(static_cast<uint64_t>(view.len), max_bytes)) {
        PyBuffer_Release(&view);
        return false;
      }
      bool copied = true;
      const auto length = static_cast<size_t>(view.len);
      try {
        // A view may state more bytes than it holds (a stride of 0).
        if (length > out.copy.max_size()) throw std::bad_alloc();
        out.copy.resize(length);
      } catch (const std::bad_alloc&) {
        PyBuffer_Release(&view);
        no_memory(std::string("copy ") + size_text(length) + " of input for " + function);
        return false;
      } catch (...) {
        PyBuffer_Release(&view);
        throw;
      }
      if (view.len > 0 && PyBuffer_ToContiguous(out.copy.data(), &view, view.len, 'C') < 0) {
        copied = false;
      }
      PyBuffer_Release(&view);
      return copied;
    }
    PyBuffer_Release(&view);
  } else if (replaceable_error()) {
    PyErr_Clear();  // no buffer: said below in the module's words
  } else {
    return false;
  }
  Ref found = describe(data);
  if (!found) return false;
  PyErr_Format(PyExc_TypeError,
               "%s: argument data must be a buffer of unsigned bytes, format 'B', 'b' or 'c'; "
               "found %U",
               function, found.get());
  return false;
}

bool spec_arg(const char* function, PyObject* arg, SharedSpec& out) {
  if (arg == nullptr || arg == Py_None) return true;
  const SharedSpec* spec = spec_of(arg);
  if (spec == nullptr) {
    wrong_type(function, "spec", "Spec or None", arg);
    return false;
  }
  out = *spec;
  return true;
}

bool delimiters_arg(const char* function, PyObject* arg,
                    std::optional<zarvi_core::Delimiters>& out) {
  if (arg == nullptr || arg == Py_None) return true;
  const zarvi_core::Delimiters* d = delimiters_value(arg);
  if (d == nullptr) {
    wrong_type(function, "delimiters", "Delimiters or None", arg);
    return false;
  }
  out = *d;
  return true;
}

namespace {

using zarvi_core::engine::Event;
using zarvi_core::spec::LoopId;
using Path = std::vector<std::pair<LoopId, uint64_t>>;

// The requested indexes; false with an exception set.
bool segment_list(PyObject* arg, std::vector<size_t>& out) {
  if (PyUnicode_Check(arg) || !PySequence_Check(arg)) {
    wrong_type("_loop_paths", "segments", "a sequence of non-negative integers", arg);
    return false;
  }
  const Py_ssize_t n = PySequence_Size(arg);
  if (n < 0) return false;
  // A length no vector can hold fails now, not after reading that many items.
  const auto wanted = static_cast<size_t>(n);
  try {
    if (wanted > out.max_size()) throw std::bad_alloc();
    out.reserve(wanted);
  } catch (const std::bad_alloc&) {
    no_memory("hold " + std::to_string(wanted) + " segment indexes");
    return false;
  }
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(arg, i));
    if (!item) return false;
    Ref number = Ref::steal(PyNumber_Index(item.get()));
    if (!number) return false;
    const size_t v = PyLong_AsSize_t(number.get());  // negative: OverflowError
    if (v == static_cast<size_t>(-1) && PyErr_Occurred()) return false;
    out.push_back(v);
  }
  return true;
}

// Walks the document through a fresh engine up to the last wanted segment
// and records each wanted segment's open loops with their ordinals.
std::map<size_t, Path> walk_paths(const zarvi_core::spec::Spec& spec,
                                  const zarvi_core::Document& document,
                                  const std::set<size_t>& wanted) {
  std::map<size_t, Path> paths;
  zarvi_core::engine::LoopEngine engine(spec);
  std::vector<uint64_t> counters(spec.loops.size(), 0);
  Path stack;
  const size_t last = *wanted.rbegin();
  zarvi_core::Segments segments(document);
  for (size_t i = 0; i <= last; ++i) {
    const auto segment = segments.next();
    if (!segment) break;
    const bool want = wanted.count(i) != 0;
    bool taken = false;
    for (const Event& event : engine.feed(*segment)) {
      switch (event.kind) {
        case Event::Kind::Open: {
          uint64_t& count = counters[event.loop];
          if (count != UINT64_MAX) ++count;
          stack.emplace_back(event.loop, count);
          break;
        }
        case Event::Kind::Close:
          if (!stack.empty()) stack.pop_back();
          break;
        case Event::Kind::Segment:
        case Event::Kind::Unplaced:
        case Event::Kind::Empty:
          if (want && !taken) {
            paths[i] = stack;
            taken = true;
          }
          break;
      }
    }
    if (want && !taken) paths[i] = stack;
  }
  return paths;
}

PyObject* loop_paths(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    static const char* kKeywords[] = {"result", "segments", nullptr};
    PyObject* result = nullptr;
    PyObject* segments = nullptr;
    // Converting `segments` runs Python code; `parts` points into `result`.
    const auto held = parse_args(args, kwargs, "OO:_loop_paths", kKeywords, &result, &segments);
    if (!held) return Ref();
    const ResultParts* parts = result_parts(result);
    if (parts == nullptr) {
      if (PyErr_Occurred()) return Ref();
      return wrong_type("_loop_paths", "result", "Result", result);
    }
    std::vector<size_t> requested;
    if (!segment_list(segments, requested)) return Ref();
    Ref out = Ref::steal(PyList_New(0));
    if (!out || requested.empty()) return out;
    const size_t count = parts->document->size();
    for (size_t index : requested) {
      if (index >= count) {
        PyErr_Format(PyExc_ValueError,
                     "_loop_paths: segment %zu is past the document's last segment (%zu "
                     "segments)",
                     index, count);
        return Ref();
      }
    }
    const zarvi_core::spec::Spec& spec = **parts->spec;
    const auto paths =
        walk_paths(spec, *parts->document, std::set<size_t>(requested.begin(), requested.end()));
    for (size_t index : requested) {
      Ref path = Ref::steal(PyList_New(0));
      if (!path) return Ref();
      const auto found = paths.find(index);
      if (found != paths.end()) {
        for (const auto& [loop, ordinal] : found->second) {
          Ref name = str_from(spec.loops[loop].name);
          if (!name) return Ref();
          Ref pair = Ref::steal(Py_BuildValue("(OK)", name.get(),
                                              static_cast<unsigned long long>(ordinal)));
          if (!pair || PyList_Append(path.get(), pair.get()) < 0) return Ref();
        }
      }
      if (PyList_Append(out.get(), path.get()) < 0) return Ref();
    }
    return out;
  });
}

}  // namespace

PyMethodDef kLoopPathsDef = {
    "_loop_paths",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(loop_paths)),
    METH_VARARGS | METH_KEYWORDS,
    "_loop_paths(result, segments)\n--\n\n"
    "The open loops at each given segment of a Result, as lists of (name, ordinal) pairs, "
    "outermost first, in request order.",
};

}  // namespace zarvi_py
