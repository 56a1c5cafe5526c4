// morphalite._morphalite: the public library for Python. The package
// (morphalite/__init__.py) turns statuses into morphalite.Error and reports
// into dicts; this module only moves data across.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <morphalite/morphalite.h>

namespace py = pybind11;

namespace {

// A frame as Python sees it: plain values and its own bytes.
struct PyFrame {
  int64_t time_ns;
  uint32_t wire_length;
  py::bytes data;
  uint32_t link_type;
  int32_t interface;
  uint32_t flags;
};

py::object ToPython(const morphalite::Frame& f) {
  return py::cast(PyFrame{f.timeNs, f.wireLength,
                          py::bytes(reinterpret_cast<const char*>(f.data.data()), f.data.size()),
                          f.linkType, f.interface, f.flags});
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

// Frames one at a time (the iterator protocol) or a list at a time; the
// reading thread runs without the interpreter's lock.
class PyFrameReader {
 public:
  PyFrameReader(const std::string& path, bool salvage, const std::string& sourceZone,
                size_t batchFrames)
      : reader_(path, {salvage, sourceZone, batchFrames}) {}

  py::object next() {
    if (at_ == pending_.size() && !refill()) throw py::stop_iteration();
    return ToPython(pending_[at_++]);
  }

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
  py::class_<PyFrame>(m, "Frame", "One frame: time, wire length, bytes, link type, interface, flags.")
      .def_readonly("time_ns", &PyFrame::time_ns, "UTC nanoseconds since 1970")
      .def_readonly("wire_length", &PyFrame::wire_length, "length on the wire, without the FCS")
      .def_readonly("data", &PyFrame::data, "the bytes stored (at most wire_length)")
      .def_readonly("link_type", &PyFrame::link_type, "libpcap/pcapng link type")
      .def_readonly("interface", &PyFrame::interface, "interface number, from 0")
      .def_readonly("flags", &PyFrame::flags, "direction and error flags")
      .def("__repr__", [](const PyFrame& f) {
        return "<morphalite.Frame time_ns=" + std::to_string(f.time_ns) +
               " wire_length=" + std::to_string(f.wire_length) +
               " stored=" + std::to_string(py::len(f.data)) +
               " link_type=" + std::to_string(f.link_type) + ">";
      });
  py::class_<PyFrameReader>(m, "FrameReader")
      .def(py::init<const std::string&, bool, const std::string&, size_t>(), py::arg("path"),
           py::arg("salvage"), py::arg("source_tz"), py::arg("batch_frames"))
      .def("__iter__", [](PyFrameReader& r) -> PyFrameReader& { return r; })
      .def("__next__", &PyFrameReader::next)
      .def("next_batch", &PyFrameReader::nextBatch, py::arg("count"))
      .def("report", &PyFrameReader::report);
}
