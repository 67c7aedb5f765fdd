// The extension module `_replay` (benchmark only): records what the parser asks of its sink for
// one document, then replays those calls into the Python builder alone, so that object
// building can be timed without scanning: the floor under `load`. bench/bench.py builds it
// with CMake (bench/CMakeLists.txt) and times `replay` beside `load`.
//
//   record(text) -> recording     parse `text` (default flags) into a list of sink calls
//   replay(recording) -> value    the same calls, made on the Python builder, with the
//                                 collector paused where `load` pauses it
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/parser.hpp"
#include "python/builder.hpp"
#include "python/entry.hpp"
#include "python/errors.hpp"

namespace {

using corvane::PyRef;
using corvane::Scalar;

enum class Op : std::uint8_t {
  NewMap,
  NewSeq,
  MapInsert,
  SeqPush,
  Null,
  Value,
  Key,
  BlockKey,
  StringValue,
  FinishMap,
  FinishSeq,
  DropMap,
  DropSeq,
  DropValue,
};

// One sink call: `target` is the value or container it makes or fills, `a` and `b` its
// arguments (value ids, or a scalar's index).
struct Event {
  Op op;
  std::uint32_t target;
  std::uint32_t a;
  std::uint32_t b;
};

// A scalar as the parser gave it; decoded text is kept as a copy, a view stays a view into
// the recorded input, so that the builder sees the same addresses.
struct RecordedScalar {
  Scalar::Kind kind;
  bool owned;
  bool boolean;
  std::int64_t integer;
  double floating;
  std::string_view view;
  std::string text;
};

struct Recording {
  PyObject* input;  // strong
  std::string_view bytes;
  std::vector<Event> events;
  std::vector<RecordedScalar> scalars;
  std::vector<std::string> strings;
  std::uint32_t values = 0, maps = 0, seqs = 0;
  std::uint32_t root = 0;
};

constexpr std::uint32_t kNone = UINT32_MAX;

class Recorder;

// Handles that log their own end: a value or container dropped unused is dropped in the
// replay at the same moment, which matters for builders whose containers share state.
template <Op Drop>
struct Handle {
  Recorder* recorder = nullptr;
  std::uint32_t id = kNone;
  Handle() = default;
  Handle(Recorder* r, std::uint32_t i) : recorder(r), id(i) {}
  Handle(Handle&& other) noexcept
      : recorder(std::exchange(other.recorder, nullptr)), id(std::exchange(other.id, kNone)) {}
  Handle& operator=(Handle&& other) noexcept {
    Handle(std::move(other)).swap(*this);
    return *this;
  }
  ~Handle();
  void swap(Handle& other) noexcept {
    std::swap(recorder, other.recorder);
    std::swap(id, other.id);
  }
  std::uint32_t take() {
    recorder = nullptr;
    return std::exchange(id, kNone);
  }
};

using RValue = Handle<Op::DropValue>;

struct RMap : Handle<Op::DropMap> {
  using Handle::Handle;
  operator RValue() &&;
};
struct RSeq : Handle<Op::DropSeq> {
  using Handle::Handle;
  operator RValue() &&;
};

class Recorder {
 public:
  using Value = RValue;
  using Map = RMap;
  using Seq = RSeq;
  static constexpr bool strict = false;
  static constexpr bool yaml_1_1_bools = false;

  explicit Recorder(Recording& recording) : r_(recording) {}

  void log(Op op, std::uint32_t target, std::uint32_t a = 0, std::uint32_t b = 0) {
    r_.events.push_back(Event{op, target, a, b});
  }
  std::uint32_t new_value() { return r_.values++; }

  Map new_map() {
    Map map(this, r_.maps++);
    log(Op::NewMap, map.id);
    return map;
  }
  Seq new_seq() {
    Seq seq(this, r_.seqs++);
    log(Op::NewSeq, seq.id);
    return seq;
  }
  void map_insert(Map& map, Value&& key, Value&& value) {
    const std::uint32_t k = key.take(), v = value.take();
    log(Op::MapInsert, map.id, k, v);
  }
  void seq_push(Seq& seq, Value&& value) { log(Op::SeqPush, seq.id, value.take()); }
  bool map_has_key(const Map&, const Value&) { return false; }
  Value null_value() {
    Value value(this, new_value());
    log(Op::Null, value.id);
    return value;
  }
  Value scalar_value(Op op, Scalar&& scalar, std::uint32_t source = 0) {
    RecordedScalar kept{scalar.kind(),     scalar.is_decoded(), scalar.as_bool(), scalar.as_int(),
                        scalar.as_float(), scalar.as_str(),     std::string()};
    if (scalar.kind() == Scalar::Kind::Str && scalar.is_decoded()) {
      kept.text = std::string(scalar.as_str());
    }
    r_.scalars.push_back(std::move(kept));
    Value value(this, new_value());
    log(op, value.id, static_cast<std::uint32_t>(r_.scalars.size() - 1), source);
    return value;
  }
  Value make_value(Scalar&& scalar) { return scalar_value(Op::Value, std::move(scalar)); }
  Value make_key(Scalar&& scalar) { return scalar_value(Op::Key, std::move(scalar)); }
  // Every block key is typed, so the replay can ask the builder's cache as the parser would.
  std::optional<Value> find_block_key(std::string_view) { return std::nullopt; }
  Value make_block_key(Scalar&& scalar, std::string_view source) {
    r_.strings.emplace_back(source);
    return scalar_value(Op::BlockKey, std::move(scalar),
                        static_cast<std::uint32_t>(r_.strings.size() - 1));
  }
  Value make_string_value(std::string text) {
    r_.strings.push_back(std::move(text));
    Value value(this, new_value());
    log(Op::StringValue, value.id, static_cast<std::uint32_t>(r_.strings.size() - 1));
    return value;
  }
  std::string describe_key(const Value&) { return "?"; }
  void report_line(const Map&, std::uint64_t) {}
  void report_line(const Seq&, std::uint64_t) {}

 private:
  Recording& r_;
};

template <Op Drop>
Handle<Drop>::~Handle() {
  if (recorder != nullptr) recorder->log(Drop, id);
}

RMap::operator RValue() && {
  Recorder* r = recorder;
  const std::uint32_t map = take();
  RValue value(r, r->new_value());
  r->log(Op::FinishMap, value.id, map);
  return value;
}

RSeq::operator RValue() && {
  Recorder* r = recorder;
  const std::uint32_t seq = take();
  RValue value(r, r->new_value());
  r->log(Op::FinishSeq, value.id, seq);
  return value;
}

Scalar rebuild(const RecordedScalar& s) {
  switch (s.kind) {
    case Scalar::Kind::Null: return Scalar::null();
    case Scalar::Kind::Bool: return Scalar::boolean(s.boolean);
    case Scalar::Kind::Int: return Scalar::integer(s.integer);
    case Scalar::Kind::Float: return Scalar::floating(s.floating);
    case Scalar::Kind::Str: break;
  }
  if (!s.owned) return Scalar::view(s.view);
  corvane::TextBuffer buffer = corvane::new_text_buffer(s.text.size());
  std::memcpy(buffer.get(), s.text.data(), s.text.size());
  return Scalar::owned(std::move(buffer), s.text.size());
}

using Builder = corvane::PySink<false, false>;

PyRef replay_into(Builder& builder, const Recording& rec) {
  std::vector<Builder::Value> values(rec.values);
  std::vector<Builder::Map> maps(rec.maps);
  std::vector<Builder::Seq> seqs(rec.seqs);
  for (const Event& e : rec.events) {
    switch (e.op) {
      case Op::NewMap: maps[e.target] = builder.new_map(); break;
      case Op::NewSeq: seqs[e.target] = builder.new_seq(); break;
      case Op::MapInsert:
        builder.map_insert(maps[e.target], std::move(values[e.a]), std::move(values[e.b]));
        break;
      case Op::SeqPush: builder.seq_push(seqs[e.target], std::move(values[e.a])); break;
      case Op::Null: values[e.target] = builder.null_value(); break;
      case Op::Value: values[e.target] = builder.make_value(rebuild(rec.scalars[e.a])); break;
      case Op::Key: values[e.target] = builder.make_key(rebuild(rec.scalars[e.a])); break;
      case Op::BlockKey: {
        std::string_view source = rec.strings[e.b];
        std::optional<Builder::Value> cached = builder.find_block_key(source);
        values[e.target] =
            cached ? std::move(*cached) : builder.make_block_key(rebuild(rec.scalars[e.a]), source);
        break;
      }
      case Op::StringValue: values[e.target] = builder.make_string_value(rec.strings[e.a]); break;
      case Op::FinishMap: values[e.target] = std::move(maps[e.a]); break;
      case Op::FinishSeq: values[e.target] = std::move(seqs[e.a]); break;
      case Op::DropMap: maps[e.target] = Builder::Map(); break;
      case Op::DropSeq: seqs[e.target] = Builder::Seq(); break;
      case Op::DropValue: values[e.target] = Builder::Value(); break;
    }
  }
  return std::move(values[rec.root]);
}

constexpr const char* kCapsule = "corvane.replay.Recording";

void free_recording(PyObject* capsule) {
  auto* rec = static_cast<Recording*>(PyCapsule_GetPointer(capsule, kCapsule));
  Py_XDECREF(rec->input);
  delete rec;
}

PyObject* record(PyObject*, PyObject* text) {
  if (!PyUnicode_Check(text)) {
    PyErr_SetString(PyExc_TypeError, "record() needs a str");
    return nullptr;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) return nullptr;
  auto* rec = new Recording{};
  Py_INCREF(text);
  rec->input = text;
  rec->bytes = std::string_view(data, static_cast<std::size_t>(size));
  {
    Recorder recorder(*rec);
    corvane::Parser<Recorder> parser(rec->bytes, recorder);
    auto result = parser.parse();
    if (!result) {
      Py_DECREF(text);
      delete rec;
      PyErr_SetString(PyExc_ValueError, result.error().message.c_str());
      return nullptr;
    }
    rec->root = result->take();
  }
  return PyCapsule_New(rec, kCapsule, free_recording);
}

PyObject* replay(PyObject*, PyObject* capsule) {
  auto* rec = static_cast<Recording*>(PyCapsule_GetPointer(capsule, kCapsule));
  if (rec == nullptr) return nullptr;
  try {
    // The collector is paused where `load` would pause it, so that the floor is `load`'s.
    const corvane::CollectorPause pause(corvane::load_pauses_collector(rec->bytes.size()));
    Builder builder(rec->input, rec->bytes);
    return replay_into(builder, *rec).release();
  } catch (const corvane::InternalFailure& failure) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, failure.operation);
    return nullptr;
  }
}

PyMethodDef methods[] = {
    {"record", record, METH_O, "record(text) -> the sink calls of parsing text"},
    {"replay", replay, METH_O, "replay(recording) -> the value the Python builder makes"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT, "_replay", "", -1, methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__replay(void) {
  if (!corvane::decide_collector_pause()) return nullptr;
  return PyModule_Create(&module);
}
