// The Parquet sink: the lines as the CSV shows them, one row per line (wide)
// or per line, probe and blade (long), columns named as the CSV's header
// names them (csv/csv_header.h) and typed as the values are: Time a UTC
// timestamp in microseconds, Speed and the measurements 32-bit floats, the
// DNS means doubles, Sync a boolean, Start Rev and End Rev unsigned 64-bit
// integers, a set's statuses unsigned 8-bit ones. A cell the CSV leaves
// empty is a null; a NaN of the recording stays NaN. The key-value metadata
// `cdt.units` says, from the table of units, each column's quantity and each
// quantity's unit and meaning (Parquet's schema has no place of its own for
// them).
//
// Rows are gathered into row groups of a bounded size (ParquetWriter), each
// written once full, so memory stays at one group whatever the recording's
// length.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <optional>
#include <set>

#include "csv/csv_header.h"
#include "csv/quantity_units.h"
#include "export/column_sink.h"
#include "export/parquet_writer.h"
#include "foundation/file_system.h"
#include "lines/set_join.h"

namespace cdt {

namespace {

// The bytes of values a row group gathers at most, and its rows at most: a
// line of the wide layout is a row, the long layout's rows are a line's
// cells of one blade.
constexpr std::size_t kGroupBytes = std::size_t{64} << 20;
constexpr std::size_t kWideGroupRows = 65536;
constexpr std::size_t kLongGroupRows = std::size_t{1} << 20;
constexpr std::size_t kFileBuffer = std::size_t{1} << 20;

// A cell the columns' mask says is empty is a null; any other value, a NaN
// among them, is the value.
void addCell(ParquetColumnBuffer& column, float value, const uint8_t* empty) {
  if (empty != nullptr && *empty != 0) {
    column.addNull();
  } else {
    column.addFloat(value);
  }
}

// Where a wide column's values come from.
enum class Source : uint8_t { Float, Double, Status };
struct WideColumn {
  Source source;
  std::size_t row = 0;  // of the float or double block, or the status's host
};

// Bytes a row of `column` takes in a group.
std::size_t rowBytes(const ParquetColumn& column, std::size_t text) {
  std::size_t bytes = column.optional ? 1 : 0;
  switch (column.kind) {
    case ParquetKind::Boolean:
      return bytes + 1;
    case ParquetKind::UInt8:
    case ParquetKind::UInt16:
    case ParquetKind::Float:
      return bytes + 4;
    case ParquetKind::UInt64:
    case ParquetKind::TimestampMicros:
    case ParquetKind::Double:
      return bytes + 8;
    case ParquetKind::String:
      return bytes + 4 + text;
  }
  return bytes;
}

class ParquetSink : public ColumnSink {
 public:
  explicit ParquetSink(const ParquetOptions& options) : options_(options) {}
  ~ParquetSink() override {
    if (file_ != nullptr) std::fclose(file_);
  }

  bool begin(const std::string& path, const SinkDescription& description) override;
  bool write(const LineColumns& columns, std::size_t rows) override;
  bool finish() override;

 private:
  bool fail(const std::string& what) {
    if (error_.empty()) error_ = what;
    return false;
  }
  // The wide layout's name of each probe: the name, or where another probe
  // has it too the probe's key, "NAME (channel N)" (a set's probes come
  // with their keys already), so that no two columns share a name.
  std::vector<std::string> probeNames() const;
  void wideColumns(std::vector<ParquetColumn>& columns);
  void longColumns(std::vector<ParquetColumn>& columns);
  bool writeWide(const LineColumns& c, std::size_t rows);
  bool writeLong(const LineColumns& c, std::size_t rows);
  // The five columns of the line, of rows [row, row + count).
  void lead(const LineColumns& c, std::size_t row, std::size_t count);

  ParquetOptions options_;
  SinkDescription description_;
  std::FILE* file_ = nullptr;
  std::unique_ptr<ParquetWriter> writer_;
  std::vector<WideColumn> wide_;
  // The long layout's columns past the five of the line (none: not shown).
  std::optional<std::size_t> dnsColumn_, toaColumn_, deflectionColumn_, statusColumn_;
  // The quantity of each column, and the metadata `cdt.units` made of them.
  std::vector<Quantity> quantities_;
  std::string units_;
};

std::vector<std::string> ParquetSink::probeNames() const {
  // The probes' keys, as Python names them: distinct wherever names are
  // shared, so that no column needs a suffix of its own.
  std::vector<std::string> names;
  for (const SinkProbe& probe : description_.probes) {
    names.push_back(probe.key.empty() ? probe.name : probe.key);
  }
  return names;
}

void ParquetSink::wideColumns(std::vector<ParquetColumn>& columns) {
  const Quantities& shown = description_.plan.quantities;
  const std::vector<std::string> names = probeNames();
  for (std::size_t p = 0; p < description_.probes.size(); ++p) {
    const SinkProbe& probe = description_.probes[p];
    // The probe's own columns as the header rule names them.
    ColumnPlan plan;
    plan.quantities = shown;
    plan.kept[probe.slot] = true;
    for (uint32_t number : probe.blades) plan.blades[probe.slot].push_back(number - 1);
    std::string_view slotNames[kChannelsPerHost];
    slotNames[probe.slot] = names[p];
    std::vector<std::string> header = columnNames(plan, slotNames);
    header.erase(header.begin(), header.begin() + 5);
    std::size_t at = 0;
    const auto add = [&](ParquetKind kind, Source source, std::size_t row, Quantity quantity) {
      columns.push_back({header.at(at++), kind, true});
      wide_.push_back({source, row});
      quantities_.push_back(quantity);
    };
    if (shown.rms) add(ParquetKind::Float, Source::Float, probe.rmsRow, Quantity::Rms);
    if (shown.dns) add(ParquetKind::Double, Source::Double, probe.dnsRow, Quantity::DnsMean);
    if (shown.bladeDns) {
      for (std::size_t k = 0; k < probe.blades.size(); ++k) {
        add(ParquetKind::Float, Source::Float, probe.bladeDnsRow + k, Quantity::BladeDns);
      }
    }
    if (shown.bladeToa) {
      for (std::size_t k = 0; k < probe.blades.size(); ++k) {
        add(ParquetKind::Float, Source::Float, probe.bladeToaRow + k, Quantity::BladeToa);
      }
    }
  }
  for (std::size_t h = 0; h < description_.statusHosts.size(); ++h) {
    columns.push_back({description_.statusHosts[h] + " Status", ParquetKind::UInt8, false});
    wide_.push_back({Source::Status, h});
    quantities_.push_back(Quantity::HostStatus);
  }
}

void ParquetSink::longColumns(std::vector<ParquetColumn>& columns) {
  const Quantities& shown = description_.plan.quantities;
  columns.push_back({"Probe", ParquetKind::String, false});
  columns.push_back({"Blade", ParquetKind::UInt16, false});
  quantities_.push_back(Quantity::Probe);
  quantities_.push_back(Quantity::Blade);
  if (shown.bladeDns) {
    dnsColumn_ = columns.size();
    columns.push_back({"DNS", ParquetKind::Float, true});
    quantities_.push_back(Quantity::BladeDns);
  }
  if (shown.bladeToa) {
    toaColumn_ = columns.size();
    columns.push_back({"TOA", ParquetKind::Float, true});
    quantities_.push_back(Quantity::BladeToa);
  }
  if (shown.deflection) {
    deflectionColumn_ = columns.size();
    columns.push_back({"Deflection", ParquetKind::Double, true});
    quantities_.push_back(Quantity::Deflection);
  }
  if (!description_.statusHosts.empty()) {
    statusColumn_ = columns.size();
    columns.push_back({"Status", ParquetKind::UInt8, false});
    quantities_.push_back(Quantity::HostStatus);
  }
}

bool ParquetSink::begin(const std::string& path, const SinkDescription& description) {
  description_ = description;
  errno = 0;
  file_ = openFile(path.c_str(), "r+b");
  if (file_ == nullptr) {
    errorCode_ = errno;
    return fail("cannot open the file");
  }
  std::setvbuf(file_, nullptr, _IOFBF, kFileBuffer);

  std::vector<ParquetColumn> columns = {{"Time", ParquetKind::TimestampMicros, false},
                                        {"Speed", ParquetKind::Float, false},
                                        {"Sync", ParquetKind::Boolean, false},
                                        {"Start Rev", ParquetKind::UInt64, false},
                                        {"End Rev", ParquetKind::UInt64, false}};
  std::size_t longest = 0;
  for (const SinkProbe& probe : description.probes) longest = std::max(longest, probe.name.size());
  quantities_ = {Quantity::Time, Quantity::Speed, Quantity::Sync, Quantity::StartRevolution,
                 Quantity::EndRevolution};
  if (options_.longLayout) {
    longColumns(columns);
  } else {
    wideColumns(columns);
  }
  // Column names are unique: a name taken already gets "_2", "_3" and so on.
  std::set<std::string> taken;
  for (ParquetColumn& column : columns) {
    const std::string base = column.name;
    for (int n = 2; !taken.insert(column.name).second; ++n) {
      column.name = base + "_" + std::to_string(n);
    }
  }
  std::vector<std::string> names;
  for (const ParquetColumn& column : columns) names.push_back(column.name);
  units_ = unitsJson(names, quantities_);
  std::size_t bytes = 0;
  for (const ParquetColumn& column : columns) bytes += rowBytes(column, longest);

  ParquetWriterOptions writing;
  writing.codec = options_.codec;
  writing.level = options_.compressionLevel;
  writing.groupRows = std::clamp<std::size_t>(kGroupBytes / std::max<std::size_t>(bytes, 1), 1,
                                              options_.groupRows > 0 ? options_.groupRows
                                              : options_.longLayout  ? kLongGroupRows
                                                                     : kWideGroupRows);
  writing.createdBy = options_.createdBy;
  writer_ = std::make_unique<ParquetWriter>(std::move(columns), std::move(writing),
                                            [this](const void* data, std::size_t size) {
                                              errno = 0;
                                              if (std::fwrite(data, 1, size, file_) == size)
                                                return true;
                                              if (errorCode_ == 0) errorCode_ = errno;
                                              return false;
                                            });
  if (!writer_->begin()) return fail(writer_->error());
  return true;
}

void ParquetSink::lead(const LineColumns& c, std::size_t row, std::size_t count) {
  ParquetWriter& w = *writer_;
  for (std::size_t r = row; r < row + count; ++r) {
    w.column(0).addTimestamp(c.time[r]);
    w.column(1).addFloat(c.floats[r]);
    w.column(2).addBoolean(c.sync[r] != 0);
    w.column(3).addUnsigned(c.startRevolution[r]);
    w.column(4).addUnsigned(c.endRevolution[r]);
  }
}

bool ParquetSink::writeWide(const LineColumns& c, std::size_t rows) {
  ParquetWriter& w = *writer_;
  for (std::size_t from = 0; from < rows;) {
    const std::size_t n = std::min(rows - from, w.room());
    for (std::size_t i = 0; i < wide_.size(); ++i) {
      ParquetColumnBuffer& column = w.column(5 + i);
      const WideColumn& source = wide_[i];
      switch (source.source) {
        case Source::Float: {
          column.addCells(c.floats + source.row * c.stride + from, n,
                          floatEmpties(c, source.row, from));
          break;
        }
        case Source::Double: {
          column.addCells(c.doubles + source.row * c.stride + from, n,
                          doubleEmpties(c, source.row, from));
          break;
        }
        case Source::Status: {
          const uint8_t* values = status_ + source.row * c.stride + from;
          for (std::size_t r = 0; r < n; ++r) column.addUnsigned(values[r]);
          break;
        }
      }
    }
    lead(c, from, n);
    if (!w.endRows(n)) return fail(w.error());
    from += n;
  }
  return true;
}

bool ParquetSink::writeLong(const LineColumns& c, std::size_t rows) {
  ParquetWriter& w = *writer_;
  for (std::size_t row = 0; row < rows; ++row) {
    for (const SinkProbe& probe : description_.probes) {
      uint8_t status = 0;
      if (statusColumn_) {
        status = status_[std::size_t{probe.host} * c.stride + row];
        if ((status & kSetMissing) != 0) continue;  // no line of its host: no rows
      }
      for (std::size_t k = 0; k < probe.blades.size(); ++k) {
        lead(c, row, 1);
        w.column(5).addString(probe.name);
        w.column(6).addUnsigned(probe.blades[k]);
        if (dnsColumn_) {
          const std::size_t r = probe.bladeDnsRow + k;
          addCell(w.column(*dnsColumn_), c.floats[r * c.stride + row], floatEmpties(c, r, row));
        }
        if (toaColumn_) {
          const std::size_t r = probe.bladeToaRow + k;
          addCell(w.column(*toaColumn_), c.floats[r * c.stride + row], floatEmpties(c, r, row));
        }
        if (deflectionColumn_) {
          const double x = sinkDeflection(probe, k, c, row, status);
          if (std::isnan(x)) {
            w.column(*deflectionColumn_).addNull();
          } else {
            w.column(*deflectionColumn_).addDouble(x);
          }
        }
        if (statusColumn_) w.column(*statusColumn_).addUnsigned(status);
        if (!w.endRows(1)) return fail(w.error());
      }
    }
  }
  return true;
}

bool ParquetSink::write(const LineColumns& columns, std::size_t rows) {
  if (writer_ == nullptr || !error_.empty()) return false;
  if (!description_.statusHosts.empty() && status_ == nullptr) {
    return fail("a set's lines came without their statuses");
  }
  return options_.longLayout ? writeLong(columns, rows) : writeWide(columns, rows);
}

bool ParquetSink::finish() {
  if (file_ == nullptr) return false;
  if (writer_ != nullptr && error_.empty()) {
    std::vector<std::pair<std::string, std::string>> metadata = {
        {"cdt.configuration", description_.configurationText},
        {"cdt.source", description_.sourcePath},
        {"cdt.units", units_}};
    if (!description_.sourcePaths.empty()) {
      std::string sources;
      for (const std::string& path : description_.sourcePaths) sources += path + "\n";
      sources.pop_back();
      metadata.emplace_back("cdt.sources", sources);
    }
    if (!writer_->finish(metadata)) (void)fail(writer_->error());
  }
  errno = 0;
  if (std::fflush(file_) != 0) {
    if (errorCode_ == 0) errorCode_ = errno;
    (void)fail("cannot write the file");
  }
  errno = 0;
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) {
    if (errorCode_ == 0) errorCode_ = errno;
    (void)fail("cannot close the file");
  }
  return error_.empty();
}

}  // namespace

std::unique_ptr<ColumnSink> makeParquetSink(const ParquetOptions& options) {
  return std::make_unique<ParquetSink>(options);
}

}  // namespace cdt
