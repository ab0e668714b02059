#include "python/src/profiles.h"

#include <pybind11/numpy.h>

#include <cstring>
#include <vector>

#include "datafile/aggregation.h"
#include "python/src/common.h"

namespace py = pybind11;

namespace cdt {

namespace {

struct Profile {
  int64_t time;
  uint16_t host;
  bool sync;
  float speed;
  uint64_t startRevolution;
  uint64_t endRevolution;
};

template <class T>
py::array_t<T> arrayOf(const std::vector<T>& values) {
  py::array_t<T> a(static_cast<py::ssize_t>(values.size()));
  if (!values.empty()) std::memcpy(a.mutable_data(), values.data(), values.size() * sizeof(T));
  return a;
}

}  // namespace

py::dict readProfiles(const std::string& path, bool salvage) {
  std::unique_ptr<DataFile> file = openOrRaise(path, salvage);
  std::vector<int64_t> time;
  std::vector<uint16_t> host;
  std::vector<bool> syncBits;
  std::vector<float> speed;
  std::vector<uint64_t> startRevolution;
  std::vector<uint64_t> endRevolution;
  // Points as values, maxima, minima, kProfilePointCount per profile each.
  std::vector<int16_t> values;
  std::vector<int16_t> maxima;
  std::vector<int16_t> minima;
  {
    py::gil_scoped_release release;
    while (RecordRef record = readNextRecord(*file)) {
      if (!hasProfileLayout(*record)) continue;
      const RecordRef plain = expandProfile(record.get());
      if (!plain || !hasProfileLayout(*plain) || isPackedProfile(*plain)) continue;
      time.push_back(static_cast<int64_t>(plain->time()));
      host.push_back(plain->hostIndex());
      syncBits.push_back(profileSync(*plain) != 0);
      speed.push_back(profileSpeed(*plain));
      startRevolution.push_back(profileStartRevolution(*plain));
      endRevolution.push_back(profileEndRevolution(*plain));
      const unsigned char* point = profilePoints(*plain);
      for (uint32_t i = 0; i < kProfilePointCount; ++i, point += kPlainPointSize) {
        values.push_back(static_cast<int16_t>(loadU16(point + kPlainPointValue)));
        maxima.push_back(static_cast<int16_t>(loadU16(point + kPlainPointMaximum)));
        minima.push_back(static_cast<int16_t>(loadU16(point + kPlainPointMinimum)));
      }
    }
  }
  const auto count = static_cast<py::ssize_t>(time.size());
  auto points = [count](const std::vector<int16_t>& v) {
    py::array_t<int16_t> a({count, static_cast<py::ssize_t>(kProfilePointCount)});
    if (!v.empty()) std::memcpy(a.mutable_data(), v.data(), v.size() * sizeof(int16_t));
    return a;
  };
  py::array_t<bool> sync(count);
  for (py::ssize_t i = 0; i < count; ++i) sync.mutable_data()[i] = syncBits[i];
  py::dict d;
  d["time"] = arrayOf(time);
  d["host"] = arrayOf(host);
  d["sync"] = sync;
  d["speed"] = arrayOf(speed);
  d["start_rev"] = arrayOf(startRevolution);
  d["end_rev"] = arrayOf(endRevolution);
  d["values"] = points(values);
  d["maxima"] = points(maxima);
  d["minima"] = points(minima);
  d["stopped"] = stopDict(file->lastReadStatus());
  return d;
}

}  // namespace cdt
