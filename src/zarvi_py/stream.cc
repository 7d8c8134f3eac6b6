// stream: walks a file without a document index and yields one Batch of new
// rows and diagnostics each time an instance of the `by` loop closes. Each
// step runs with the lock released under the stream's own mutex, which is
// only ever tried, so a second thread gets an error instead of waiting.
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zarvi_core/process.h"
#include "zarvi_core/text.h"
#include "zarvi_core/tokenizer.h"
#include "zarvi_py/diagnostic.h"
#include "zarvi_py/module.h"
#include "zarvi_py/native.h"
#include "zarvi_py/tables.h"

namespace zarvi_py {
namespace {

using zarvi_core::column::table::Tables;
using zarvi_core::spec::LoopId;

// The input and everything that reads it, together: the tokenizer borrows
// `bytes` (the input's bytes object, which the stream's State keeps, or
// `copy`) and the processor refers to `*spec`, so a Walk is built in place on
// the heap and never moves.
struct Walk {
  Walk(Input& input, SharedSpec shared, const zarvi_core::Delimiters& delimiters)
      : copy(std::move(input.copy)),
        bytes(input.is_borrowed() ? input.borrowed : std::string_view(copy)),
        spec(std::move(shared)),
        tokenizer(bytes, delimiters),
        processor(*spec, delimiters) {}

  std::string copy;
  std::string_view bytes;
  SharedSpec spec;
  zarvi_core::Tokenizer tokenizer;
  zarvi_core::process::Processor processor;
  zarvi_core::Segment segment;  // refilled for each segment
};

struct Step {
  Tables tables;
  std::deque<zarvi_core::Diagnostic> diagnostics;
};

struct State {
  Ref keep;  // the bytes object the walk borrows, or empty
  std::unique_ptr<Walk> walk;
  LoopId by = 0;
  bool done = false;
  bool poisoned = false;  // a step failed while it held the mutex

  // Feeds segments until an instance of `by` closes, or to the end of the
  // input; none once done.
  std::optional<Step> step() {
    if (done) return std::nullopt;
    Step out;
    auto append = [&](const zarvi_core::process::Output& o) {
      out.diagnostics.insert(out.diagnostics.end(), o.diagnostics.begin(), o.diagnostics.end());
    };
    while (walk->tokenizer.next(walk->segment)) {
      const auto& output = walk->processor.feed(walk->segment);
      append(output);
      for (const auto& event : output.events) {
        if (event.kind == zarvi_core::engine::Event::Kind::Close && event.loop == by) {
          out.tables = walk->processor.take_tables();
          return out;
        }
      }
    }
    append(walk->processor.finish());
    out.tables = walk->processor.take_tables();
    done = true;
    bool rows = false;
    for (const auto& t : out.tables) rows = rows || t.rows() > 0;
    if (!rows && out.diagnostics.empty()) return std::nullopt;
    return out;
  }
};

struct PyStream {
  PyObject_HEAD
  std::mutex mutex;
  State state;
};

struct PyBatch {
  PyObject_HEAD
  PyObject* tables;
  PyObject* diagnostics;
};

PyStream* as_stream(PyObject* self) { return reinterpret_cast<PyStream*>(self); }
PyBatch* as_batch(PyObject* self) { return reinterpret_cast<PyBatch*>(self); }

// ---- Batch ----

int batch_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(as_batch(self)->tables);
  Py_VISIT(as_batch(self)->diagnostics);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int batch_clear(PyObject* self) {
  Py_CLEAR(as_batch(self)->tables);
  Py_CLEAR(as_batch(self)->diagnostics);
  return 0;
}

void batch_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  batch_clear(self);
  free_object(self);
}

PyObject* batch_tables(PyObject* self, void*) {
  return member(as_batch(self)->tables, "Batch").release();
}

PyObject* batch_diagnostics(PyObject* self, void*) {
  return member(as_batch(self)->diagnostics, "Batch").release();
}

PyObject* batch_repr(PyObject* self) {
  return guard([&]() -> Ref {
    const PyBatch* b = as_batch(self);
    if (b->tables == nullptr || b->diagnostics == nullptr) return raise_cleared("Batch");
    return Ref::steal(PyUnicode_FromFormat("Batch(tables=%R, diagnostics=%zd)", b->tables,
                                           PyList_Size(b->diagnostics)));
  });
}

PyGetSetDef kBatchGetSet[] = {
    {"tables", batch_tables, nullptr, "The rows appended since the previous batch, by table.",
     nullptr},
    {"diagnostics", batch_diagnostics, nullptr,
     "The diagnostics emitted since the previous batch, in stream order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kBatchSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "One step of a Stream: the rows and diagnostics that are new since the\n"
                    "previous batch, up to the close of one loop instance or the end of the\n"
                    "file. Made only by a Stream; immutable.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(batch_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(batch_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(batch_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(batch_repr)},
    {Py_tp_getset, kBatchGetSet},
    {0, nullptr},
};

PyType_Spec kBatchSpec = {
    "zarvi.Batch",
    sizeof(PyBatch),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION |
        Py_TPFLAGS_HAVE_GC,
    kBatchSlots,
};

// ---- Stream ----

void stream_dealloc(PyObject* self) {
  as_stream(self)->state.~State();
  as_stream(self)->mutex.~mutex();
  free_object(self);
}

PyObject* stream_iter(PyObject* self) { return Ref::borrow(self).release(); }

constexpr const char* kBusy =
    "Stream.__next__: this stream is already being advanced by another thread; a stream is "
    "advanced from one thread at a time";
constexpr const char* kPoisoned =
    "Stream.__next__: a previous step of this stream panicked, so it cannot be advanced";

PyObject* stream_next(PyObject* self) {
  return guard([&]() -> Ref {
    PyStream* s = as_stream(self);
    enum class Outcome { Busy, Poisoned, Stepped } outcome = Outcome::Stepped;
    std::optional<Step> step;
    try {
      AllowThreads unlocked;
      std::unique_lock<std::mutex> lock(s->mutex, std::try_to_lock);
      if (!lock.owns_lock()) {
        outcome = Outcome::Busy;
      } else if (s->state.poisoned) {
        outcome = Outcome::Poisoned;
      } else {
        s->state.poisoned = true;  // cleared unless the step fails
        step = s->state.step();
        s->state.poisoned = false;
      }
    } catch (const std::bad_alloc&) {
      return no_memory("stream " + size_text(s->state.walk->bytes.size()) +
                       " of input: ran out while reading the next batch");
    }
    if (outcome == Outcome::Busy) return raise_text(PyExc_RuntimeError, kBusy);
    if (outcome == Outcome::Poisoned) return raise_text(PyExc_RuntimeError, kPoisoned);
    if (!step) return Ref();  // StopIteration
    Ref diagnostics = diagnostic_list(std::move(step->diagnostics));
    if (!diagnostics) return Ref();
    Ref tables = new_tables(zarvi_core::column::table::freeze(std::move(step->tables)),
                            s->state.walk->spec);
    if (!tables) return Ref();
    Ref batch = alloc_object(batch_type());
    if (!batch) return Ref();
    as_batch(batch.get())->tables = tables.release();
    as_batch(batch.get())->diagnostics = diagnostics.release();
    return batch;
  });
}

PyType_Slot kStreamSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Iterates the batches of a file. Each step runs with the GIL released.\n\n"
                    "A stream must be advanced from one thread at a time: a next() that finds\n"
                    "another thread inside a step raises a RuntimeError naming the stream\n"
                    "(unlike a generator, which raises ValueError).")},
    {Py_tp_dealloc, reinterpret_cast<void*>(stream_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(stream_iter)},
    {Py_tp_iternext, reinterpret_cast<void*>(stream_next)},
    {0, nullptr},
};

PyType_Spec kStreamSpec = {
    "zarvi.Stream",
    sizeof(PyStream),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kStreamSlots,
};

// The LoopId of `by` in spec; ValueError naming the spec's loops otherwise.
std::optional<LoopId> by_loop(const zarvi_core::spec::Spec& spec, std::string_view by) {
  if (auto id = spec.loop_id(by)) return id;
  std::string loops;
  for (const auto& loop : spec.loops) loops += (loops.empty() ? "" : ", ") + loop.name;
  raise_text(PyExc_ValueError, "stream by " + zarvi_core::quote_bytes(by) +
                                   ": the spec has no such loop; its loops are " + loops);
  return std::nullopt;
}

PyObject* stream(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    static const char* kKeywords[] = {"data", "spec", "by", "delimiters", nullptr};
    PyObject* data = nullptr;
    PyObject* spec_object = Py_None;
    PyObject* by_object = nullptr;
    PyObject* delimiters_object = Py_None;
    // `by` is read from its object after reading the input, which may run
    // Python code (a failed buffer request is described through memoryview).
    const auto held = parse_args(args, kwargs, "O|OOO:stream", kKeywords, &data, &spec_object,
                                 &by_object, &delimiters_object);
    if (!held) return Ref();
    SharedSpec given;
    std::optional<zarvi_core::Delimiters> delimiters;
    if (!spec_arg("stream", spec_object, given)) return Ref();
    std::string_view by = "transaction";
    if (by_object != nullptr && !str_arg("stream", "by", by_object, by)) return Ref();
    if (!delimiters_arg("stream", delimiters_object, delimiters)) return Ref();
    Input input;
    if (!read_input(data, "stream", input)) return Ref();

    // A first check of `by`, before anything is read.
    SharedSpec first = given ? given : builtin();
    if (!first) return Ref();
    if (!by_loop(*first, by)) return Ref();

    if (!delimiters) {
      auto header = zarvi_core::Tokenizer::create(input.bytes());
      if (!header.ok()) {
        return raise_text(parse_error_type(), zarvi_core::to_string(header.error()));
      }
      delimiters = header->delimiters();
    }
    zarvi_core::Tokenizer ahead(input.bytes(), *delimiters);
    std::string fault;
    SharedSpec chosen = given_or_selected(given, [&] { return ahead.next(); }, fault);
    if (!chosen) return raise_text(PyExc_RuntimeError, fault);
    const std::optional<LoopId> loop = by_loop(*chosen, by);
    if (!loop) return Ref();

    Ref self = alloc_object(stream_type());
    if (!self) return Ref();
    PyStream* s = as_stream(self.get());
    // The object is freed by its dealloc once these two exist.
    new (&s->mutex) std::mutex();
    new (&s->state) State();
    s->state.by = *loop;
    {
      AllowThreads unlocked;
      s->state.walk = std::make_unique<Walk>(input, std::move(chosen), *delimiters);
    }
    s->state.keep = std::move(input.keep);
    return self;
  });
}

}  // namespace

PyObject* batch_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kBatchSpec);
}

PyObject* stream_type() {
  static PyObject* cell = nullptr;
  return cached_type(cell, kStreamSpec);
}

PyMethodDef kStreamDef = {
    "stream",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(stream)),
    METH_VARARGS | METH_KEYWORDS,
    "stream(data, spec=None, by=\"transaction\", delimiters=None)\n--\n\n"
    "Reads an 835 file loop by loop, keeping memory low: no document is built, and each\n"
    "Batch holds only the rows and diagnostics that are new since the one before.\n\n"
    "Parameters:\n"
    "    data: the file's bytes, as bytes (read in place) or any other buffer of single\n"
    "        bytes (copied once).\n"
    "    spec: the Spec to read with; None picks the built-in for the version the file\n"
    "        declares, as parse does.\n"
    "    by: the name of the loop whose every closed instance yields a batch, such as\n"
    "        \"transaction\" (the default) or \"2100\" for one claim at a time.\n"
    "    delimiters: the Delimiters to split with; None reads them from the ISA header.\n\n"
    "Returns:\n"
    "    A Stream: an iterator of Batch, one each time an instance of the loop `by`\n"
    "    closes and a last one for what remains at the end of the file. Each step runs\n"
    "    with the GIL released.\n\n"
    "Raises:\n"
    "    ParseError: the ISA header cannot be read and no delimiters were given.\n"
    "    ValueError: the spec has no loop named `by`; the message lists its loops.\n"
    "    TypeError: data is a str or not a buffer of bytes, or an argument is of\n"
    "        another type.\n\n"
    "Example:\n"
    "    for batch in zarvi.stream(data, by=\"2100\"):\n"
    "        claims = batch.tables[\"claims\"].to_polars()\n"
    "        problems = batch.diagnostics",
};

}  // namespace zarvi_py
