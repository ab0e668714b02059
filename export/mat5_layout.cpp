#include "export/mat5_layout.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/byte_order.h"
#include "foundation/utf16.h"

namespace cdt {

std::size_t mat5ValueBytes(Mat5Source source) {
  switch (source) {
    case Mat5Source::Sync:
    case Mat5Source::Status:
      return 1;
    case Mat5Source::Floats:
      return 4;
    case Mat5Source::Seconds:
    case Mat5Source::StartRevolution:
    case Mat5Source::EndRevolution:
    case Mat5Source::Doubles:
    case Mat5Source::Deflection:
      break;
  }
  return 8;
}

namespace {

// The array class and data type of a line column.
struct ColumnKind {
  uint8_t arrayClass;
  uint8_t flags;
  uint32_t dataType;
};

ColumnKind kindOf(Mat5Source source) {
  switch (source) {
    case Mat5Source::Sync:
      return {kMxUint8, kMxLogicalFlag, kMiUint8};
    case Mat5Source::Status:
      return {kMxUint8, 0, kMiUint8};
    case Mat5Source::StartRevolution:
    case Mat5Source::EndRevolution:
      return {kMxUint64, 0, kMiUint64};
    case Mat5Source::Floats:
      return {kMxSingle, 0, kMiSingle};
    case Mat5Source::Seconds:
    case Mat5Source::Doubles:
    case Mat5Source::Deflection:
      break;
  }
  return {kMxDouble, 0, kMiDouble};
}

// Lays the file out from its start: fixed bytes go into runs, line columns
// only move the position on. An element's tag is written when it opens and
// its byte count filled in when it closes.
class Builder {
 public:
  explicit Builder(Mat5Layout& layout) : layout_(layout) {}

  uint64_t at() const { return at_; }

  void bytes(const void* data, std::size_t n) {
    if (layout_.runs.empty() || runEnd_ != at_) {
      layout_.runs.push_back({at_, {}});
    }
    layout_.runs.back().bytes.append(static_cast<const char*>(data), n);
    at_ += n;
    runEnd_ = at_;
  }
  void u32(uint32_t value) {
    unsigned char b[4];
    storeU32(b, value);
    bytes(b, 4);
  }
  // Zeros up to the next multiple of 8.
  void pad() {
    static const char zeros[8] = {};
    if (at_ % 8 != 0) bytes(zeros, 8 - at_ % 8);
  }
  // A line column of `lines` values.
  void column(Mat5Source source, uint32_t row, uint64_t lines, uint32_t probe) {
    layout_.columns.push_back({source, row, at_, probe});
    at_ += lines * mat5ValueBytes(source);
  }

  // A tag whose byte count is what follows up to close().
  struct Open {
    std::size_t run;
    std::size_t position;  // of the count in the run's bytes
    uint64_t start;        // of the element's bytes
  };
  Open open(uint32_t type) {
    u32(type);
    u32(0);
    return {layout_.runs.size() - 1, layout_.runs.back().bytes.size() - 4, at_};
  }
  // The count leaves the padding out (a matrix's elements are all padded
  // already).
  void close(const Open& element) {
    const uint64_t n = at_ - element.start;
    pad();
    if (n > kMat5MostElementBytes && layout_.tooLarge.empty()) layout_.tooLarge = variable_;
    storeU32(layout_.runs[element.run].bytes.data() + element.position, static_cast<uint32_t>(n));
  }
  // A whole element of fixed bytes.
  void element(uint32_t type, const void* data, std::size_t n) {
    const Open e = open(type);
    bytes(data, n);
    close(e);
  }

  // A matrix's tag, array flags, dimensions and name; close() it after its
  // data.
  Open matrix(uint8_t arrayClass, uint8_t flags, uint64_t rows, uint64_t columns,
              const std::string& name) {
    const Open m = open(kMiMatrix);
    unsigned char arrayFlags[8] = {};
    arrayFlags[0] = arrayClass;
    arrayFlags[1] = flags;
    element(kMiUint32, arrayFlags, sizeof arrayFlags);
    // Dimensions past 32 bits cannot be stored; the byte count says so
    // first (a dimension that large exceeds any element).
    unsigned char dims[8];
    storeU32(dims, static_cast<uint32_t>(rows));
    storeU32(dims + 4, static_cast<uint32_t>(columns));
    element(kMiInt32, dims, sizeof dims);
    element(kMiInt8, name.data(), name.size());
    return m;
  }

  // Text as MATLAB writes it, UTF-16 code units counted by the dimensions.
  // Readers disagree on a surrogate pair there (one counts it as one
  // character, the other as two), so text with characters beyond U+FFFF is
  // written as UTF-32, one unit per character, which every reader counts
  // alike.
  void text(const std::string& name, const std::string& value) {
    const std::u16string units = utf8ToUtf16(value);
    std::vector<char32_t> characters;
    characters.reserve(units.size());
    bool pairs = false;
    for (std::size_t i = 0; i < units.size(); ++i) {
      const char16_t u = units[i];
      if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
          units[i + 1] < 0xE000) {
        characters.push_back(0x10000 + ((char32_t(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
        ++i;
        pairs = true;
      } else {
        characters.push_back(u);
      }
    }
    // Without a pair the characters are the units, as UTF-16 stores them.
    const std::size_t width = pairs ? 4 : 2;
    const Open m = matrix(kMxChar, 0, 1, characters.size(), name);
    std::string data(characters.size() * width, '\0');
    for (std::size_t i = 0; i < characters.size(); ++i) {
      if (pairs) {
        storeU32(data.data() + 4 * i, static_cast<uint32_t>(characters[i]));
      } else {
        storeU16(data.data() + 2 * i, static_cast<uint16_t>(characters[i]));
      }
    }
    element(pairs ? kMiUtf32 : kMiUtf16, data.data(), data.size());
    close(m);
  }

  void doubles(const std::string& name, const std::vector<double>& values) {
    const Open m = matrix(kMxDouble, 0, 1, values.size(), name);
    std::string data(values.size() * 8, '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
      uint64_t bits;
      std::memcpy(&bits, &values[i], 8);
      storeU64(data.data() + 8 * i, bits);
    }
    element(kMiDouble, data.data(), data.size());
    close(m);
  }

  // An empty double: a struct field with nothing in it.
  void empty(const std::string& name) {
    const Open m = matrix(kMxDouble, 0, 0, 0, name);
    element(kMiDouble, nullptr, 0);
    close(m);
  }

  // A lines x count matrix of the columns from `row` on of `source`.
  void lineMatrix(const std::string& name, Mat5Source source, uint32_t row, uint32_t count,
                  uint64_t lines, uint32_t probe = 0) {
    const ColumnKind kind = kindOf(source);
    const Open m = matrix(kind.arrayClass, kind.flags, lines, count, name);
    const Open data = open(kind.dataType);
    for (uint32_t c = 0; c < count; ++c) column(source, row + c, lines, probe);
    close(data);
    close(m);
  }

  // A 1 x 1 struct's header and field names; its fields follow, each a
  // nameless matrix, then close() it.
  Open structure(const std::string& name, const std::vector<std::string>& fields) {
    const Open m = matrix(kMxStruct, 0, 1, 1, name);
    // Each name is stored in a slot of this many bytes, nul-padded: 32 as
    // MATLAB writes them, longer only for longer names.
    std::size_t longest = 0;
    for (const std::string& f : fields) longest = std::max(longest, f.size());
    const uint32_t slot = longest < 32 ? 32 : static_cast<uint32_t>((longest + 1 + 7) / 8 * 8);
    // The field name length in the small element format, its 4 bytes in
    // the tag (the count in the tag's upper half), as MATLAB writes it:
    // Octave reads nothing else there.
    u32(kMiInt32 | 4u << 16);
    u32(slot);
    std::string names(fields.size() * slot, '\0');
    for (std::size_t i = 0; i < fields.size(); ++i) {
      std::memcpy(names.data() + i * slot, fields[i].data(), fields[i].size());
    }
    element(kMiInt8, names.data(), names.size());
    return m;
  }

  // The variable laid out from here on.
  void beginVariable(const std::string& name) {
    variable_ = name;
    start_ = at_;
  }
  void endVariable() { layout_.variables.push_back({variable_, start_, at_ - start_}); }

 private:
  Mat5Layout& layout_;
  uint64_t at_ = 0;
  uint64_t runEnd_ = 0;
  std::string variable_;
  uint64_t start_ = 0;
};

}  // namespace

Mat5Layout planMat5File(const SinkDescription& description, uint64_t lines) {
  Mat5Layout layout;
  Builder b(layout);

  // The header: text, no subsystem data (spaces), version 0x0100 and the
  // byte-order mark written as the 16-bit word 'MI', little-endian.
  char header[kMat5HeaderSize];
  std::memset(header, ' ', sizeof header);
  const char text[] = "MATLAB 5.0 MAT-file, written by cdt export";
  std::memcpy(header, text, sizeof text - 1);
  std::memcpy(header + 124, "\x00\x01IM", 4);
  b.bytes(header, sizeof header);

  const struct {
    const char* name;
    Mat5Source source;
  } lineVariables[] = {{"time", Mat5Source::Seconds},
                       {"speed", Mat5Source::Floats},  // row 0 of the floats
                       {"sync", Mat5Source::Sync},
                       {"start_rev", Mat5Source::StartRevolution},
                       {"end_rev", Mat5Source::EndRevolution}};
  for (const auto& v : lineVariables) {
    b.beginVariable(v.name);
    b.lineMatrix(v.name, v.source, 0, 1, lines);
    b.endVariable();
  }
  b.beginVariable("configuration");
  b.text("configuration", description.configurationText);
  b.endVariable();

  b.beginVariable("units");
  const std::vector<std::pair<std::string, std::string>> units = matUnitTexts();
  std::vector<std::string> unitFields;
  for (const auto& field : units) unitFields.push_back(field.first);
  const Builder::Open unitStruct = b.structure("units", unitFields);
  for (const auto& field : units) b.text("", field.second);
  b.close(unitStruct);
  b.endVariable();

  b.beginVariable("probes");
  const Builder::Open probes = b.structure("probes", probeFieldNames(description.probes));
  const Quantities& q = description.plan.quantities;
  for (uint32_t p = 0; p < description.probes.size(); ++p) {
    const SinkProbe& probe = description.probes[p];
    const Builder::Open field = b.structure(
        "", {"name", "stage", "blades", "rms", "dns", "blade_dns", "blade_toa", "deflection"});
    b.text("", probe.name);
    b.text("", probe.stage);
    b.doubles("", {probe.blades.begin(), probe.blades.end()});
    const auto blades = static_cast<uint32_t>(probe.blades.size());
    const struct {
      bool kept;
      Mat5Source source;
      uint32_t row;
      uint32_t count;
    } quantities[] = {{q.rms, Mat5Source::Floats, probe.rmsRow, 1},
                      {q.dns, Mat5Source::Doubles, probe.dnsRow, 1},
                      {q.bladeDns, Mat5Source::Floats, probe.bladeDnsRow, blades},
                      {q.bladeToa, Mat5Source::Floats, probe.bladeToaRow, blades},
                      {q.deflection, Mat5Source::Deflection, 0, blades}};
    for (const auto& quantity : quantities) {
      if (quantity.kept) {
        b.lineMatrix("", quantity.source, quantity.row, quantity.count, lines, p);
      } else {
        b.empty("");
      }
    }
    b.close(field);
  }
  b.close(probes);
  b.endVariable();
  if (!description.sourcePaths.empty()) {
    std::string sources;
    for (const std::string& path : description.sourcePaths) sources += path + "\n";
    sources.pop_back();
    b.beginVariable("sources");
    b.text("sources", sources);
    b.endVariable();
  }
  const std::vector<std::string> statuses = statusNames(description.statusHosts);
  for (std::size_t h = 0; h < statuses.size(); ++h) {
    b.beginVariable(statuses[h]);
    b.lineMatrix(statuses[h], Mat5Source::Status, static_cast<uint32_t>(h), 1, lines);
    b.endVariable();
  }
  layout.size = b.at();
  return layout;
}

}  // namespace cdt
