// morphalite._morphalite: the public library for Python. The package
// (morphalite/__init__.py) turns statuses into morphalite.Error and reports
// into dicts; this module only moves data across.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <morphalite/morphalite.h>

namespace py = pybind11;

namespace {

// A frame as Python sees it: a struct sequence (a named tuple made in C),
// whose fields are read without a call into this module.
PyStructSequence_Field kFrameFields[] = {
    {"time_ns", "UTC nanoseconds since 1970"},
    {"wire_length", "length on the wire, without the Ethernet FCS"},
    {"data", "the bytes stored (at most wire_length), without the Ethernet FCS"},
    {"link_type", "libpcap/pcapng link type (1 Ethernet, 105 802.11, ...)"},
    {"interface", "interface number, from 0"},
    {"flags", "direction (1, 2) and error (0x4000 alignment, 0x8000 CRC) flags"},
    {nullptr, nullptr}};
PyStructSequence_Desc kFrameDescription = {
    "morphalite.Frame", "One frame: time, wire length, bytes, link type, interface, flags.",
    kFrameFields, 6};
PyTypeObject* gFrameType = nullptr;

// New references into a fresh frame; any null is the error Python has set.
py::object ToPython(const morphalite::Frame& f) {
  py::object frame = py::reinterpret_steal<py::object>(PyStructSequence_New(gFrameType));
  if (!frame) throw py::error_already_set();
  PyObject* items[] = {
      PyLong_FromLongLong(f.timeNs), PyLong_FromUnsignedLong(f.wireLength),
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(f.data.data()),
                                Py_ssize_t(f.data.size())),
      PyLong_FromUnsignedLong(f.linkType), PyLong_FromLong(f.interface),
      PyLong_FromUnsignedLong(f.flags)};
  bool complete = true;
  for (Py_ssize_t i = 0; i < 6; ++i) {
    complete = complete && items[i];
    PyStructSequence_SetItem(frame.ptr(), i, items[i]);
  }
  if (!complete) throw py::error_already_set();
  return frame;
}

py::dict ReportDict(const morphalite::ReadReport& r) {
  py::dict d;
  d["status"] = int(r.status);
  d["frames"] = r.frames;
  d["message"] = r.message;
  d["detail"] = r.detail;
  d["skippedBytes"] = r.skippedBytes;
  d["skippedRecords"] = r.skippedRecords;
  return d;
}

// Frames a list at a time (the package yields them one by one); the
// reading thread runs without the interpreter's lock.
class PyFrameReader {
 public:
  PyFrameReader(const std::string& path, bool salvage, const std::string& sourceZone,
                size_t batchFrames)
      : reader_(path, {salvage, sourceZone, batchFrames}) {}

  // Up to `count` frames; an empty list at the end.
  py::list nextBatch(size_t count) {
    py::list batch;
    while (size_t(py::len(batch)) < count && (at_ < pending_.size() || refill())) {
      const size_t take = std::min(count - size_t(py::len(batch)), pending_.size() - at_);
      for (size_t i = 0; i < take; ++i) batch.append(ToPython(pending_[at_ + i]));
      at_ += take;
    }
    return batch;
  }

  py::dict report() const { return ReportDict(reader_.report()); }

 private:
  bool refill() {
    {
      py::gil_scoped_release unlocked;
      pending_ = reader_.next();
    }
    at_ = 0;
    return !pending_.empty();
  }

  morphalite::FrameReader reader_;
  std::span<const morphalite::Frame> pending_;
  size_t at_ = 0;
};

py::dict IdentifyDict(const std::string& path) {
  morphalite::Identification id;
  {
    py::gil_scoped_release unlocked;
    id = morphalite::Identify(path);
  }
  py::dict d;
  d["status"] = int(id.status);
  d["message"] = id.message;
  d["detail"] = id.detail;
  d["json"] = id.json;
  return d;
}

py::dict ConvertDict(const std::string& source, const std::string& to, const std::string& output,
                      const std::vector<std::pair<std::string, std::string>>& options) {
  std::vector<morphalite::Option> list;
  for (const auto& [name, value] : options) list.push_back({name, value});
  morphalite::ConversionReport r;
  {
    py::gil_scoped_release unlocked;
    r = morphalite::Convert(source, to, output, list);
  }
  py::dict d;
  d["status"] = int(r.status);
  d["usage_error"] = r.usageError;
  d["messages"] = r.messages;
  d["detail"] = r.detail;
  d["json"] = r.json;
  return d;
}

py::list FormatList() {
  py::list list;
  for (const morphalite::Format& f : morphalite::Formats()) {
    py::dict d;
    d["code"] = f.code;
    d["name"] = f.name;
    d["names"] = f.names;
    d["suffix"] = f.suffix;
    d["read"] = f.read;
    d["write"] = f.write;
    list.append(d);
  }
  return list;
}

}  // namespace

PYBIND11_MODULE(_morphalite, m) {
  m.doc() = "The Morphalite library; use the package morphalite.";
  m.def("version", &morphalite::Version);
  m.def("formats", &FormatList);
  m.def("identify", &IdentifyDict, py::arg("path"));
  m.def("convert", &ConvertDict, py::arg("source"), py::arg("to"), py::arg("output"),
        py::arg("options"));
  gFrameType = PyStructSequence_NewType(&kFrameDescription);
  if (!gFrameType) throw py::error_already_set();
  m.attr("Frame") = py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(gFrameType));
  py::class_<PyFrameReader>(m, "FrameReader")
      .def(py::init<const std::string&, bool, const std::string&, size_t>(), py::arg("path"),
           py::arg("salvage"), py::arg("source_tz"), py::arg("batch_frames"))
      .def("next_batch", &PyFrameReader::nextBatch, py::arg("count"))
      .def("report", &PyFrameReader::report);
}
