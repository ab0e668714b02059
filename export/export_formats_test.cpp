// cdt export's MATLAB and netCDF files read back with their own libraries:
// every value is the CSV's. Built where both libraries are.
#if __has_include(<matio.h>) && __has_include(<netcdf.h>)
#include <gtest/gtest.h>
#include <matio.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "csv/csv_test_support.h"
#include "csv/number_format.h"
#include "datafile/data_file.h"
#include "foundation/utf16.h"
#include "tools/export_test_support.h"

namespace cdt {
namespace {

using testing::ExportTest;
using testing::readFile;
using testing::Row;
using testing::runCdt;
using testing::RunResult;
using testing::synthRecording;

// The CSV cell of a float, a double (the DNS mean) and a speed; NaN is the
// empty cell.
std::string cellG8(float v) {
  char text[kNumberRoom];
  return std::isnan(v) ? "" : std::string(text, formatG8(text, v));
}
std::string cellDouble(double v) {
  char text[kNumberRoom];
  return std::isnan(v) ? "" : std::string(text, formatDoubleG8(text, v));
}
std::string cellSpeed(float v) {
  char text[kNumberRoom];
  return std::string(text, formatG6(text, v));
}
std::string cellTime(uint64_t micros) {
  char text[kNumberRoom];
  return std::string(text, formatTimeCell(text, micros));
}

// The columns one probe contributes, read back from a file: 60 lines.
struct ProbeBack {
  std::vector<float> rms;
  std::vector<double> dns;
  std::vector<float> dnsBlades;  // line-major (netCDF) or blade-major (MATLAB)
  std::vector<float> toaBlades;
};

// The wide CSV rows the read-back columns make.
std::vector<Row> rowsOf(const std::vector<uint64_t>& time, const std::vector<float>& speed,
                        const std::vector<uint8_t>& sync, const std::vector<uint64_t>& start,
                        const std::vector<uint64_t>& end, const std::vector<ProbeBack>& probes,
                        bool lineMajor) {
  std::vector<Row> rows;
  const size_t lines = time.size();
  for (size_t i = 0; i < lines; ++i) {
    Row row = {cellTime(time[i]), cellSpeed(speed[i]), sync[i] ? "Yes" : "No",
               std::to_string(start[i]), std::to_string(end[i])};
    for (const ProbeBack& p : probes) {
      row.push_back(cellG8(p.rms[i]));
      row.push_back(cellDouble(p.dns[i]));
      for (const std::vector<float>* blades : {&p.dnsBlades, &p.toaBlades}) {
        for (size_t b = 0; b < 5; ++b) {
          row.push_back(cellG8((*blades)[lineMajor ? i * 5 + b : b * lines + i]));
        }
      }
    }
    rows.push_back(row);
  }
  return rows;
}

TEST_F(ExportTest, NetCdfAndMatlabFilesHoldTheCsvValues) {
  const std::vector<Row> expected(full.begin() + 1, full.end());
  const char* probes[] = {"Probe101", "Probe102", "Probe103"};

  RunResult r = runCdt({"export", "-o", "nc", "--format", "netcdf", input}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  int nc = -1;
  ASSERT_EQ(nc_open(dir.file("nc/" + name + ".nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
  const auto var = [nc](const std::string& v) {
    int id = -1;
    EXPECT_EQ(nc_inq_varid(nc, v.c_str(), &id), NC_NOERR) << v;
    return id;
  };
  std::vector<long long> time(60);
  std::vector<unsigned long long> start(60), end(60);
  std::vector<float> speed(60);
  std::vector<uint8_t> sync(60);
  ASSERT_EQ(nc_get_var_longlong(nc, var("time"), time.data()), NC_NOERR);
  ASSERT_EQ(nc_get_var_float(nc, var("speed"), speed.data()), NC_NOERR);
  ASSERT_EQ(nc_get_var_uchar(nc, var("sync"), sync.data()), NC_NOERR);
  ASSERT_EQ(nc_get_var_ulonglong(nc, var("start_rev"), start.data()), NC_NOERR);
  ASSERT_EQ(nc_get_var_ulonglong(nc, var("end_rev"), end.data()), NC_NOERR);
  std::vector<ProbeBack> back(3);
  for (size_t p = 0; p < 3; ++p) {
    const std::string base = probes[p];
    back[p].rms.resize(60);
    back[p].dns.resize(60);
    back[p].dnsBlades.resize(300);
    back[p].toaBlades.resize(300);
    ASSERT_EQ(nc_get_var_float(nc, var(base + "_rms"), back[p].rms.data()), NC_NOERR);
    ASSERT_EQ(nc_get_var_double(nc, var(base + "_dns"), back[p].dns.data()), NC_NOERR);
    ASSERT_EQ(nc_get_var_float(nc, var(base + "_blade_dns"), back[p].dnsBlades.data()), NC_NOERR);
    ASSERT_EQ(nc_get_var_float(nc, var(base + "_blade_toa"), back[p].toaBlades.data()), NC_NOERR);
  }
  nc_close(nc);
  const std::vector<uint64_t> micros(time.begin(), time.end());
  EXPECT_EQ(rowsOf(micros, speed, sync, {start.begin(), start.end()}, {end.begin(), end.end()},
                   back, true),
            expected);

  // Level 5, then version 7.3.
  for (const bool v73 : {false, true}) {
    std::vector<std::string> args = {"export", "-o", "mat", "--format", "mat", input};
    if (v73) args.push_back("--mat73");
    r = runCdt(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    mat_t* mat = Mat_Open(dir.file("mat/" + name + ".mat").c_str(), MAT_ACC_RDONLY);
    ASSERT_NE(mat, nullptr);
    std::vector<matvar_t*> read;
    const auto values = [&](matvar_t* v, size_t count) {
      EXPECT_NE(v, nullptr);
      if (v == nullptr) return static_cast<const void*>(nullptr);
      EXPECT_EQ(v->nbytes / Mat_SizeOf(v->data_type), count);
      return static_cast<const void*>(v->data);
    };
    const auto top = [&](const char* n, size_t count) {
      read.push_back(Mat_VarRead(mat, n));
      return values(read.back(), count);
    };
    const auto* seconds = static_cast<const double*>(top("time", 60));
    const auto* matSpeed = static_cast<const float*>(top("speed", 60));
    const auto* matSync = static_cast<const uint8_t*>(top("sync", 60));
    const auto* matStart = static_cast<const uint64_t*>(top("start_rev", 60));
    const auto* matEnd = static_cast<const uint64_t*>(top("end_rev", 60));
    matvar_t* structure = Mat_VarRead(mat, "probes");
    ASSERT_NE(structure, nullptr);
    read.push_back(structure);
    ASSERT_TRUE(seconds && matSpeed && matSync && matStart && matEnd);
    for (size_t p = 0; p < 3; ++p) {
      matvar_t* probe = Mat_VarGetStructFieldByName(structure, probes[p], 0);
      ASSERT_NE(probe, nullptr);
      const auto field = [&](const char* n, size_t count) {
        return values(Mat_VarGetStructFieldByName(probe, n, 0), count);
      };
      const auto* rms = static_cast<const float*>(field("rms", 60));
      const auto* dns = static_cast<const double*>(field("dns", 60));
      const auto* bladeDns = static_cast<const float*>(field("blade_dns", 300));
      const auto* bladeToa = static_cast<const float*>(field("blade_toa", 300));
      ASSERT_TRUE(rms && dns && bladeDns && bladeToa);
      back[p] = {
          {rms, rms + 60}, {dns, dns + 60}, {bladeDns, bladeDns + 300}, {bladeToa, bladeToa + 300}};
    }
    std::vector<uint64_t> fromSeconds;
    for (size_t i = 0; i < 60; ++i) {
      fromSeconds.push_back(static_cast<uint64_t>(std::llround(seconds[i] * 1e6)));
    }
    EXPECT_EQ(rowsOf(fromSeconds, {matSpeed, matSpeed + 60}, {matSync, matSync + 60},
                     {matStart, matStart + 60}, {matEnd, matEnd + 60}, back, false),
              expected)
        << (v73 ? "version 7.3" : "level 5");
    for (matvar_t* v : read) Mat_VarFree(v);
    Mat_Close(mat);
  }
}

// The characters of a char variable: level 5 keeps UTF-8, version 7.3 UTF-16.
std::u16string textOf(const matvar_t* v) {
  std::u16string text;
  for (size_t i = 0; i < v->nbytes / Mat_SizeOf(v->data_type); ++i) {
    text += v->data_type == MAT_T_UINT16 || v->data_type == MAT_T_UTF16
                ? static_cast<const char16_t*>(v->data)[i]
                : static_cast<char16_t>(static_cast<const unsigned char*>(v->data)[i]);
  }
  return text;
}

// Two variables alike: class, dimensions and values, fields by name.
void expectSame(const matvar_t* a, const matvar_t* b, const std::string& name) {
  ASSERT_TRUE(a != nullptr && b != nullptr) << name;
  EXPECT_EQ(a->class_type, b->class_type) << name;
  EXPECT_EQ(a->isLogical, b->isLogical) << name;
  ASSERT_EQ(std::vector<size_t>(a->dims, a->dims + a->rank),
            std::vector<size_t>(b->dims, b->dims + b->rank))
      << name;
  if (a->class_type == MAT_C_STRUCT) {
    const unsigned fields = Mat_VarGetNumberOfFields(const_cast<matvar_t*>(a));
    ASSERT_EQ(fields, Mat_VarGetNumberOfFields(const_cast<matvar_t*>(b))) << name;
    char* const* names = Mat_VarGetStructFieldnames(a);
    for (unsigned f = 0; f < fields; ++f) {
      expectSame(Mat_VarGetStructFieldByIndex(const_cast<matvar_t*>(a), f, 0),
                 Mat_VarGetStructFieldByName(const_cast<matvar_t*>(b), names[f], 0),
                 name + "." + names[f]);
    }
  } else if (a->class_type == MAT_C_CHAR) {
    EXPECT_EQ(textOf(a), textOf(b)) << name;
  } else {
    ASSERT_EQ(a->nbytes, b->nbytes) << name;
    EXPECT_TRUE(a->nbytes == 0 || std::memcmp(a->data, b->data, a->nbytes) == 0) << name;
  }
}

// Version 7.3 files are written batch by batch as the lines come, level-5
// ones at the end: across several batches, and for a window without lines
// (variables with no lines), both hold the same variables.
TEST_F(ExportTest, MatlabVersion73HoldsWhatLevel5Holds) {
  const std::string longer =
      synthRecording(dir.file("long"),
                     {"--revolutions", "9000", "--probes", "2", "--blades", "3", "--extras", "0"})
          .at(0);
  const std::vector<std::vector<std::string>> cases = {
      {longer}, {input, "--revolutions", "9000:9999", "--quantities", "rms,blade-dns"}};
  for (const std::vector<std::string>& selection : cases) {
    const std::string file = selection[0].substr(selection[0].rfind('/') + 1);
    const std::string mat = file.substr(0, file.size() - 4) + ".mat";
    std::vector<mat_t*> files;
    for (const std::string out : {"five", "v73"}) {
      std::vector<std::string> args = {"export", "--format", "mat", "-o", out};
      args.insert(args.end(), selection.begin(), selection.end());
      if (out == "v73") args.push_back("--mat73");
      const RunResult r = runCdt(args, dir.path());
      ASSERT_EQ(r.status, 0) << r.err;
      files.push_back(Mat_Open(dir.file(out + "/" + mat).c_str(), MAT_ACC_RDONLY));
      ASSERT_NE(files.back(), nullptr);
    }
    for (const char* name :
         {"time", "speed", "sync", "start_rev", "end_rev", "configuration", "units", "probes"}) {
      matvar_t* five = Mat_VarRead(files[0], name);
      matvar_t* v73 = Mat_VarRead(files[1], name);
      expectSame(five, v73, name);
      Mat_VarFree(five);
      Mat_VarFree(v73);
    }
    matvar_t* time = Mat_VarReadInfo(files[1], "time");
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->dims[0], selection.size() == 1 ? 9000u : 0u);
    Mat_VarFree(time);
    for (mat_t* f : files) Mat_Close(f);
  }
}

// netCDF and HDF5 are not thread-safe: files exported at once, and a file
// whose batches are written beside its reading, still hold the same values.
TEST_F(ExportTest, NetCdfFilesExportInParallel) {
  std::vector<std::string> inputs;
  for (const char* copy : {"a.cdt", "b.cdt", "c.cdt"}) {
    inputs.push_back(dir.file(copy));
    testing::writeFile(inputs.back(), testing::readFile(input));
  }
  RunResult r =
      runCdt({"export", "-o", "one", "--format", "netcdf", "--jobs", "1", input}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  r = runCdt(
      {"export", "-o", "par", "--format", "netcdf", "--jobs", "3", inputs[0], inputs[1], inputs[2]},
      dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  r = runCdt({"export", "-o", "overlap", "--format", "netcdf", "--jobs", "2", inputs[0]},
             dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto values = [](const std::string& path) {
    int nc = -1;
    int id = -1;
    std::vector<float> v(300);
    EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR) << path;
    EXPECT_EQ(nc_inq_varid(nc, "Probe102_blade_toa", &id), NC_NOERR);
    EXPECT_EQ(nc_get_var_float(nc, id, v.data()), NC_NOERR);
    nc_close(nc);
    return v;
  };
  const std::vector<float> expected = values(dir.file("one/" + name + ".nc"));
  for (const char* out : {"par/a.nc", "par/b.nc", "par/c.nc", "overlap/a.nc"}) {
    EXPECT_EQ(values(dir.file(out)), expected) << out;
  }
}

// A recorded value equal to the fill value that marks an empty cell could
// not be told from one: the export fails, naming the line and the variable,
// and leaves no file.
TEST(NetCdfExport, ARecordedFillValueFailsTheExport) {
  testing::TempDir dir;
  Configuration config;
  testing::addProbes(config, {{0, "P", 2}});
  const std::string path = dir.file("fill.cdt");
  auto file = createDataFile(config, path.c_str());
  ASSERT_NE(file, nullptr);
  for (uint64_t line = 0; line < 3; ++line) {
    testing::BladeRecordSpec s;
    s.startRevolution = line + 1;
    s.time = 1300198029250000ull + line * 20000;
    s.blades = {{1.0f, 2.0f}, {line == 2 ? NC_FILL_FLOAT : 3.0f, 4.0f}};
    ASSERT_TRUE(writeRecord(*file, *testing::makeBladeRecord(s)));
  }
  ASSERT_TRUE(closeDataFile(*file));
  const RunResult r = runCdt({"export", "-o", "nc", "--format", "netcdf", path}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("line 3 of P_blade_dns holds netCDF's fill value"), std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("nc/fill.nc")));
}

// A netCDF attribute's text.
std::string attribute(int nc, const std::string& variable, const char* name) {
  int id = NC_GLOBAL;
  if (!variable.empty() && nc_inq_varid(nc, variable.c_str(), &id) != NC_NOERR) return "<none>";
  std::size_t length = 0;
  if (nc_inq_attlen(nc, id, name, &length) != NC_NOERR) return "<none>";
  std::string text(length, '\0');
  return nc_get_att_text(nc, id, name, text.data()) == NC_NOERR ? text : "<none>";
}

// Names outside ASCII, in UTF-8 or in the installation's Windows-1252: the
// CSV keeps the file's bytes, netCDF attributes and MATLAB strings hold the
// names as text, --probes takes either, and duplicate names keep every
// probe apart.
TEST_F(ExportTest, NamesOutsideAsciiInEveryFormat) {
  struct Case {
    std::vector<std::string> synth;
    std::vector<std::string> bytes;  // the names in the file
    std::vector<std::u16string> texts;
    std::vector<std::string> fields;  // MATLAB fields and netCDF variables
  };
  const Case cases[] = {
      {{"--probe-names", "Sonde°1,Ωmega,Same,Same", "--encoding", "utf-8"},
       {"Sonde\xC2\xB0"
        "1",
        "\xCE\xA9mega", "Same", "Same"},
       {u"Sonde°1", u"Ωmega", u"Same", u"Same"},
       {"Sonde_1", "x_mega", "Same", "Same_2"}},
      {{"--probe-names", "Sonde Süd,Prüf"},
       {"Sonde S\xFC"
        "d",
        "Pr\xFC"
        "f"},
       {u"Sonde Süd", u"Prüf"},
       {"Sonde_S_d", "Pr_f"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> options = {
        "--revolutions", "20", "--blades", "3", "--probes", std::to_string(c.bytes.size())};
    options.insert(options.end(), c.synth.begin(), c.synth.end());
    const std::string file = synthRecording(dir.file(c.fields[0]), options).at(0);
    const std::string base = file.substr(file.rfind('/') + 1, file.size() - file.rfind('/') - 5);
    const std::string where = c.fields[0];

    // The CSV: the file's bytes. A name selects every probe of that name,
    // as text or as the file's bytes.
    for (const std::string& probe : {std::string("Same"), c.bytes[1], std::string("Prüf")}) {
      const RunResult r = runCdt(
          {"export", "-o", "sel", "--quantities", "rms", "--probes", probe, file}, dir.path());
      if (probe == "Same" && c.bytes.size() == 2) {
        EXPECT_EQ(r.status, 2) << where;
        EXPECT_NE(r.err.find("(its probes: Sonde Süd, Prüf;"), std::string::npos) << r.err;
        continue;
      }
      if (probe == "Prüf" && c.bytes.size() != 2) continue;
      ASSERT_EQ(r.status, 0) << where << r.err;
      const std::string header = testing::splitLines(readFile(dir.file("sel/" + base + ".csv")))[0];
      const std::string lead = "Time,Speed,Sync,Start Rev,End Rev,";
      EXPECT_EQ(header, probe == "Same" ? lead + "Same RMS,Same RMS" : lead + c.bytes[1] + " RMS")
          << where;
    }

    // netCDF: the names as text, the variables distinct.
    RunResult r = runCdt({"export", "-o", "nc", "--format", "netcdf", file}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    int nc = -1;
    ASSERT_EQ(nc_open(dir.file("nc/" + base + ".nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
    for (std::size_t p = 0; p < c.fields.size(); ++p) {
      const std::string text = utf16ToUtf8(c.texts[p]);
      EXPECT_EQ(attribute(nc, c.fields[p] + "_rms", "probe"), text) << where;
    }
    nc_close(nc);

    // MATLAB, level 5 and version 7.3: the names as UTF-16 text.
    for (const bool v73 : {false, true}) {
      std::vector<std::string> args = {"export", "-o", "mat", "--format", "mat", file};
      if (v73) args.push_back("--mat73");
      r = runCdt(args, dir.path());
      ASSERT_EQ(r.status, 0) << r.err;
      mat_t* mat = Mat_Open(dir.file("mat/" + base + ".mat").c_str(), MAT_ACC_RDONLY);
      ASSERT_NE(mat, nullptr);
      matvar_t* probes = Mat_VarRead(mat, "probes");
      ASSERT_NE(probes, nullptr);
      for (std::size_t p = 0; p < c.fields.size(); ++p) {
        matvar_t* probe = Mat_VarGetStructFieldByName(probes, c.fields[p].c_str(), 0);
        matvar_t* text = probe == nullptr ? nullptr : Mat_VarGetStructFieldByName(probe, "name", 0);
        ASSERT_NE(text, nullptr) << where << " " << c.fields[p];
        EXPECT_EQ(text->dims[1], c.texts[p].size());
        EXPECT_TRUE(textOf(text) == c.texts[p]) << where << (v73 ? " 7.3" : " level 5");
      }
      Mat_VarFree(probes);
      Mat_Close(mat);
    }
  }

  // The installation's code page named: the same byte, another letter.
  const std::string file = synthRecording(dir.file("cp"), {"--revolutions", "5", "--probes", "1",
                                                           "--probe-names", "Prüf"})
                               .at(0);
  const std::string base = file.substr(file.rfind('/') + 1, file.size() - file.rfind('/') - 5);
  RunResult r = runCdt(
      {"export", "-o", "cp", "--format", "netcdf", "--encoding", "windows-1251", file}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  int nc = -1;
  ASSERT_EQ(nc_open(dir.file("cp/" + base + ".nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
  EXPECT_EQ(attribute(nc, "Pr_f_rms", "probe"),
            "Pr\xD1\x8C"
            "f");  // U+044C
  nc_close(nc);
  r = runCdt({"export", "--encoding", "ebcdic", file}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown encoding 'ebcdic' (auto, utf-8, windows-1252"), std::string::npos)
      << r.err;
}

// Deflections, asked for in the wide files, are the long CSV's Deflection
// cells: per probe a lines x blades variable, empty (netCDF's fill value,
// MATLAB's NaN) exactly where the cell is, with its unit.
TEST_F(ExportTest, NetCdfAndMatlabDeflectionsAreTheLongCsvCells) {
  RunResult r =
      runCdt({"export", "-o", "long", "--layout", "long", "--quantities", "deflection", input},
             dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // Line after line, probe after probe, blade after blade.
  const std::vector<Row> rows = testing::table(dir.file("long/" + name + ".csv"));
  ASSERT_EQ(rows.size(), 1u + 60 * 3 * 5);
  ASSERT_EQ(rows[0].back(), "Deflection");
  std::vector<std::string> expected;
  for (size_t i = 1; i < rows.size(); ++i) expected.push_back(rows[i].back());
  const auto empty = std::count(expected.begin(), expected.end(), "");
  EXPECT_GT(empty, 0);  // lines not locked to the shaft
  EXPECT_LT(empty, static_cast<std::ptrdiff_t>(expected.size()));
  const char* probes[] = {"Probe101", "Probe102", "Probe103"};
  // The cells of read-back deflections, `lineMajor` as netCDF holds them,
  // else as MATLAB does; `none` (netCDF's fill value) and NaN are empty.
  const auto cellsOf = [](const std::vector<std::vector<double>>& values, bool lineMajor,
                          double none) {
    std::vector<std::string> cells;
    for (size_t i = 0; i < 60; ++i) {
      for (const std::vector<double>& probe : values) {
        for (size_t b = 0; b < 5; ++b) {
          const double x = probe[lineMajor ? i * 5 + b : b * 60 + i];
          cells.push_back(x == none ? "" : cellDouble(x));
        }
      }
    }
    return cells;
  };

  r = runCdt({"export", "-o", "nc", "--format", "netcdf", "--quantities", "deflection", input},
             dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  int nc = -1;
  ASSERT_EQ(nc_open(dir.file("nc/" + name + ".nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
  std::vector<std::vector<double>> values(3, std::vector<double>(300));
  for (size_t p = 0; p < 3; ++p) {
    const std::string variable = std::string(probes[p]) + "_deflection";
    int id = -1;
    ASSERT_EQ(nc_inq_varid(nc, variable.c_str(), &id), NC_NOERR) << variable;
    ASSERT_EQ(nc_get_var_double(nc, id, values[p].data()), NC_NOERR);
    EXPECT_EQ(attribute(nc, variable, "units"), "mm");
    EXPECT_EQ(
        attribute(nc, variable, "long_name"),
        std::string(probes[p]) + ": blade tip deflection, positive when the tip arrives early");
  }
  nc_close(nc);
  EXPECT_EQ(cellsOf(values, true, NC_FILL_DOUBLE), expected);

  for (const bool v73 : {false, true}) {
    std::vector<std::string> args = {"export", "-o",           "mat",        "--format",
                                     "mat",    "--quantities", "deflection", input};
    if (v73) args.push_back("--mat73");
    r = runCdt(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    mat_t* mat = Mat_Open(dir.file("mat/" + name + ".mat").c_str(), MAT_ACC_RDONLY);
    ASSERT_NE(mat, nullptr);
    matvar_t* structure = Mat_VarRead(mat, "probes");
    matvar_t* units = Mat_VarRead(mat, "units");
    ASSERT_TRUE(structure != nullptr && units != nullptr);
    const matvar_t* unit = Mat_VarGetStructFieldByName(units, "deflection", 0);
    ASSERT_NE(unit, nullptr);
    EXPECT_NE(textOf(unit).find(u"mm on real installations; blade tip deflection"),
              std::u16string::npos);
    for (size_t p = 0; p < 3; ++p) {
      matvar_t* probe = Mat_VarGetStructFieldByName(structure, probes[p], 0);
      ASSERT_NE(probe, nullptr);
      const matvar_t* field = Mat_VarGetStructFieldByName(probe, "deflection", 0);
      ASSERT_TRUE(field != nullptr && field->class_type == MAT_C_DOUBLE && field->nbytes == 2400)
          << probes[p];
      const auto* x = static_cast<const double*>(field->data);
      values[p].assign(x, x + 300);
    }
    EXPECT_EQ(cellsOf(values, false, NAN), expected) << (v73 ? "7.3" : "level 5");
    Mat_VarFree(structure);
    Mat_VarFree(units);
    Mat_Close(mat);
  }
  // The wide CSV keeps the converter's columns.
  r = runCdt({"export", "-o", "csv", "--quantities", "deflection", input}, dir.path());
  EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace cdt
#endif
