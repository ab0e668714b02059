// cdt info end to end, and the JSON writer under its --json output.
#include <gtest/gtest.h>

#include <string>

#include "config/model.h"
#include "datafile/data_file.h"
#include "datafile/record_constructors.h"
#include "foundation/byte_order.h"
#include "foundation/name_text.h"
#include "foundation/time_text.h"
#include "info/json_writer.h"
#include "tools/tool_test_support.h"

namespace cdt {
namespace {

using testing::readFile;
using testing::runCdt;
using testing::RunResult;
using testing::splitLines;
using testing::synthRecording;
using testing::TempDir;
using testing::writeFile;

bool hasLine(const std::string& text, const std::string& line) {
  for (const std::string& l : splitLines(text)) {
    if (l == line) return true;
  }
  return false;
}

TEST(CdtInfo, DescribesAFinishedRecording) {
  TempDir dir;
  const std::string path = synthRecording(dir.path(), {"--revolutions", "120", "--profiles", "25",
                                                       "--extras", "20", "--probes", "2"})
                               .at(0);
  auto file = openDataFile(path.c_str());
  ASSERT_TRUE(file);
  const DataFileHeader h = file->header();
  file.reset();

  RunResult r = runCdt({"info", path});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty());
  const std::string& out = r.out;
  EXPECT_TRUE(out.starts_with(path + "\n  state: finished\n")) << out;
  EXPECT_TRUE(hasLine(out, "  header: configuration at 56, " + std::to_string(h.configLength) +
                               " bytes; records at " + std::to_string(h.dataOffset) + "; index " +
                               std::to_string(h.indexOffset) + " to " + std::to_string(h.indexEnd) +
                               "; time zone bias " + std::to_string(h.timeZoneBias / 1000000) +
                               " s"));
  const char* expected[] = {
      "  configuration: Rig1 (revision 0)",
      "    created: 2011-05-06T12:30:00Z",
      "      Stage1: 60 blades",
      "      Daq1 on acq01 (master, clock)",
      "        channel 0: Probe101 on Stage1",
      "        channel 1: Probe102 on Stage1",
      "        channel 2: -",
      "      Rack1 on acq01: 2 of 12 probes connected",
      "  records: 251",
      "    type 0: 1",
      "    type 1: 6",
      "    type 2 (profiles): 4 (2 plain, 2 packed)",
      "    type 3 (blade records): 240 (240 one-revolution, 0 revolution-range)",
      "    Daq1: type 0: 1, type 1: 6, type 2: 4, type 3: 240",
      "      channel 0: 120 one-revolution, 0 revolution-range; 60 blades",
      "      channel 1: 120 one-revolution, 0 revolution-range; 60 blades",
      "  revolutions: 1 to 120",
      "  units:",
      "    shaft speed: revolutions per minute",
      "    blade tip clearance (DNS): clearance unit, mm on real installations",
  };
  for (const char* line : expected) EXPECT_TRUE(hasLine(out, line)) << line << "\n" << out;
  EXPECT_NE(out.find("\n  time: 2011-05-06T12:30:00Z to 2011-05-06T12:30:0"), std::string::npos);
  EXPECT_NE(out.find("\n  index: 120 entries, 2011-05-06T12:30:00Z to "), std::string::npos);
  EXPECT_TRUE(
      hasLine(out, "  reading stopped: end of records at offset " + std::to_string(h.indexOffset)));
}

TEST(CdtInfo, TellsWhereAndWhyReadingStopped) {
  TempDir dir;
  const std::string path =
      synthRecording(dir.path(), {"--revolutions", "10", "--extras", "0"}).at(0);
  auto file = openDataFile(path.c_str());
  ASSERT_TRUE(file);
  const DataFileHeader h = file->header();
  file.reset();
  // Record 5 gets an invalid type: five records come back, then the reason.
  std::string bytes = readFile(path);
  const uint64_t bad = h.dataOffset + 5 * 572;
  storeU16(reinterpret_cast<unsigned char*>(bytes.data()) + bad + kRecordType, 9);
  writeFile(path, bytes);

  RunResult r = runCdt({"info", path});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(hasLine(r.out, "  records: 5")) << r.out;
  EXPECT_TRUE(hasLine(r.out, "  reading stopped: invalid record type at offset " +
                                 std::to_string(bad) + "; " + std::to_string(h.indexOffset - bad) +
                                 " bytes of records not read"))
      << r.out;
  RunResult json = runCdt({"info", "--json", path});
  EXPECT_NE(json.out.find("\"stopped\":{\"reason\":\"invalid record type\",\"offset\":" +
                          std::to_string(bad) + ",\"damaged\":true}"),
            std::string::npos)
      << json.out;

  TempDir other;
  const std::string temp =
      synthRecording(other.path(), {"--revolutions", "10", "--unfinished"}).at(0);
  RunResult unfinished = runCdt({"info", temp});
  ASSERT_EQ(unfinished.status, 0);
  EXPECT_TRUE(hasLine(unfinished.out, "  state: being written"));
  // Its records are read to the end of the file, the way a recovery reads them.
  EXPECT_TRUE(hasLine(unfinished.out, "  records: 40")) << unfinished.out;
  EXPECT_TRUE(hasLine(unfinished.out, "  revolutions: 1 to 10"));
  EXPECT_NE(unfinished.out.find("\n  reading stopped: end of records at offset " +
                                std::to_string(h.dataOffset + 40 * 572) +
                                "; read to the end of the file"),
            std::string::npos)
      << unfinished.out;
}

TEST(CdtInfo, ChecksTheIndexAgainstTheRecords) {
  TempDir dir;
  const std::string path =
      synthRecording(dir.path(), {"--revolutions", "10", "--extras", "0"}).at(0);
  EXPECT_NE(runCdt({"info", path}).out.find("; agrees with the records\n"), std::string::npos);

  // An entry whose position is right but whose time is 1 us off either way
  // is named as much as a wrong position.
  for (const int64_t delta : {1, -1}) {
    std::string bytes = readFile(path);
    auto* data = reinterpret_cast<unsigned char*>(bytes.data());
    unsigned char* entry5 = data + loadU64(data + kHeaderIndexOffset) + 5 * kIndexEntrySize;
    const uint64_t time = loadU64(entry5 + kIndexEntryTime);
    const std::string end =
        " ending at offset " + std::to_string(loadU64(entry5 + kIndexEntryPosition));
    storeU64(entry5 + kIndexEntryTime, time + static_cast<uint64_t>(delta));
    writeFile(dir.file("time.cdt"), bytes);
    const RunResult r = runCdt({"info", dir.file("time.cdt")});
    EXPECT_NE(r.out.find("; entry 5 disagrees with the records: the index has " +
                         formatTimeText(time + static_cast<uint64_t>(delta)) + end +
                         ", the records make " + formatTimeText(time) + end + "\n"),
              std::string::npos)
        << delta << "\n"
        << r.out;
  }

  // Entry 3 points 8 bytes into the record after its own; the last line's
  // records (the last record's and the first of its group) get the largest
  // time a file can hold.
  std::string bytes = readFile(path);
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  const uint64_t indexOffset = loadU64(data + kHeaderIndexOffset);
  const uint64_t position = loadU64(data + indexOffset + 3 * kIndexEntrySize + kIndexEntryPosition);
  storeU64(data + indexOffset + 3 * kIndexEntrySize + kIndexEntryPosition, position + 8);
  storeU64(data + indexOffset - 572 + kRecordTime, UINT64_MAX);
  storeU64(data + indexOffset - 4 * 572 + kRecordTime, UINT64_MAX);
  writeFile(path, bytes);

  const RunResult r = runCdt({"info", path});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string entry3 =
      formatTimeText(loadU64(data + indexOffset + 3 * kIndexEntrySize)) + " ending at offset ";
  EXPECT_NE(r.out.find("; entry 3 disagrees with the records: the index has " + entry3 +
                       std::to_string(position + 8) + ", the records make " + entry3 +
                       std::to_string(position) + "\n"),
            std::string::npos)
      << r.out;
  // The year of that time is 586524, as the converter prints it, not its
  // remainder modulo 65536.
  EXPECT_NE(r.out.find(" to 586524-01-19T08:01:49.551615Z\n"), std::string::npos) << r.out;
  std::string csvName = path.substr(path.rfind('/') + 1);
  csvName.replace(csvName.size() - 4, 4, ".csv");
  const std::string csv = testing::convertToCsv(path, dir.path(), csvName);
  EXPECT_NE(csv.find("\n586524-01-19 08:01:49.55,"), std::string::npos);

  const RunResult json = runCdt({"info", "--json", path});
  EXPECT_NE(json.out.find("\"checked\":true,\"disagreement\":{\"entry\":3,\"stored\":{\"time\":"
                          "\"" +
                          entry3.substr(0, entry3.find(' ')) +
                          "\",\"position\":" + std::to_string(position + 8) + "},"),
            std::string::npos)
      << json.out;
}

TEST(CdtInfo, ReportsRecordsTheConfigurationDoesNotExplain) {
  TempDir dir;
  Configuration c;
  c.insertHost(0, "pc");
  const std::string path = dir.file("odd.cdt");
  {
    auto file = createDataFile(c, path.c_str());
    ASSERT_TRUE(file);
    RecordRef stray = newBladeRecord(5, 2);  // a host the configuration lacks
    stray->setTime(1000);
    setBladeChannel(*stray, 2);
    ASSERT_TRUE(writeRecord(*file, *stray));
    RecordRef shortOne = newBladeRecord(0, 2);
    setBladeCount(*shortOne, 40);  // claims more blades than it holds
    shortOne->setTime(2000);
    ASSERT_TRUE(writeRecord(*file, *shortOne));
    ASSERT_TRUE(closeDataFile(*file));
  }
  RunResult r = runCdt({"info", path});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(hasLine(r.out, "    malformed: 1 (size does not fit the layout)")) << r.out;
  EXPECT_TRUE(hasLine(r.out, "    host 5 (not in the configuration): type 3: 1")) << r.out;
  EXPECT_TRUE(hasLine(r.out, "      channel 2: 1 one-revolution, 0 revolution-range; 2 blades"));
  EXPECT_TRUE(hasLine(r.out, "      channel 0: 1 one-revolution, 0 revolution-range; 40 blades"));
  EXPECT_TRUE(hasLine(r.out, "  time: 1970-01-01T00:00:00.001Z to 1970-01-01T00:00:00.002Z"));
}

TEST(CdtInfo, GoesOnAfterAFileItCannotRead) {
  TempDir dir;
  const std::string good = synthRecording(dir.path(), {"--revolutions", "5"}).at(0);
  writeFile(dir.file("text.cdt"),
            "this is not a data file, but it is long enough to hold a header");
  RunResult r = runCdt({"info", "--json", dir.file("missing.cdt"), dir.file("text.cdt"), good});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(
      r.err.find("cdt info: cannot read '" + dir.file("missing.cdt") + "': cannot open the file\n"),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("cdt info: cannot read '" + dir.file("text.cdt") + "': not a data file"),
            std::string::npos);
  const auto lines = splitLines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("{\"path\":\"" + good + "\",\"state\":\"finished\""));
  EXPECT_TRUE(lines[0].ends_with("}"));
}

TEST(CdtInfo, JsonCarriesNamesSafely) {
#ifdef _WIN32
  GTEST_SKIP() << "the configuration's name holds '\"', which Windows file names may not";
#endif
  TempDir dir;
  const std::string path =
      synthRecording(dir.path(), {"--revolutions", "5", "--name", "Rig \"\xc3\x84\""}).at(0);
  RunResult r = runCdt({"info", "--json", path});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"configuration\":{\"parsed\":true,\"name\":\"Rig \\\"\xc3\x84\\\"\""),
            std::string::npos)
      << r.out;
}

// Names in the installation's code page: the JSON decodes them (UTF-8 when
// valid, else windows-1252, or the code page named), the file name too; the
// text shows the bytes unless an encoding is named.
TEST(CdtInfo, DecodesNamesAsTheInstallationWroteThem) {
  const std::string ue = "\xc3\xbc";    // U+00FC, 0xFC in windows-1252
  const std::string soft = "\xd1\x8c";  // U+044C, 0xFC in windows-1251
  TempDir dir;
  const std::vector<std::string> names = {"--revolutions", "3",
                                          "--probes",      "3",
                                          "--name",        "Pr" + ue + "fstand",
                                          "--probe-names", "Sonde S" + ue + "d,Same,Same"};
  std::vector<std::string> utf8Options = names;
  utf8Options.insert(utf8Options.end(), {"--encoding", "utf-8"});
  const std::string cp1252 = synthRecording(dir.file("cp1252"), names).at(0);
  const std::string utf8 = synthRecording(dir.file("utf8"), utf8Options).at(0);

  const auto jsonNames = [](const std::string& letter) {
    return std::pair{"\"configuration\":{\"parsed\":true,\"name\":\"Pr" + letter + "fstand\"",
                     "{\"channel\":0,\"probe\":\"Sonde S" + letter + "d\","};
  };
  struct Case {
    std::string path;
    std::vector<std::string> encoding;
    std::pair<std::string, std::string> names;  // the configuration's, channel 0's probe
  };
  const Case cases[] = {
      {cp1252, {}, jsonNames(ue)},
      {utf8, {}, jsonNames(ue)},
      {cp1252, {"--encoding", "windows-1252"}, jsonNames(ue)},
      {cp1252, {"--encoding", "windows-1251"}, jsonNames(soft)},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"info", "--json"};
    args.insert(args.end(), c.encoding.begin(), c.encoding.end());
    args.push_back(c.path);
    const RunResult r = runCdt(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(c.names.first), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.names.second), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\xEF\xBF\xBD"), std::string::npos) << r.out;  // no U+FFFD
  }
  // The file name holds the byte too (it begins with the configuration's
  // name); JSON gives it decoded.
  const RunResult path = runCdt({"info", "--json", cp1252});
  std::string pathText = cp1252;
  pathText.replace(pathText.find('\xfc'), 1, ue);
  EXPECT_TRUE(path.out.starts_with("{\"path\":\"" + pathText + "\",")) << path.out;

  // The text shows the file's bytes, or with an encoding named, UTF-8.
  EXPECT_TRUE(hasLine(runCdt({"info", cp1252}).out,
                      "  configuration: Pr\xfc" + std::string("fstand (revision 0)")));
  const RunResult text = runCdt({"info", "--encoding", "cp1252", cp1252});
  EXPECT_TRUE(hasLine(text.out, "  configuration: Pr" + ue + "fstand (revision 0)")) << text.out;
  EXPECT_TRUE(hasLine(text.out, "        channel 0: Sonde S" + ue + "d on Stage1")) << text.out;

  const RunResult unknown = runCdt({"info", "--encoding", "ebcdic", cp1252});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("cdt info: unknown encoding 'ebcdic' (" +
                             std::string(textEncodingChoices()) + ")"),
            std::string::npos)
      << unknown.err;
  EXPECT_TRUE(unknown.out.empty());
}

TEST(CdtJsonWriter, PlacesCommasAndEscapesText) {
  JsonWriter json;
  json.beginObject();
  json.key("a").beginArray();
  json.value(uint64_t{1});
  json.value(int64_t{-2});
  json.beginObject();
  json.endObject();
  json.null();
  json.endArray();
  json.key("t\n").value("q\"\\\x01\x7f");
  json.key("bad").value("\xff\xc3\xa9\xe2\x82");
  json.key("x").value(1.5);
  json.key("inf").value(1.0 / 0.0);
  json.key("f").value(false);
  json.endObject();
  EXPECT_EQ(json.text(),
            "{\"a\":[1,-2,{},null],\"t\\u000a\":\"q\\\"\\\\\\u0001\x7f\","
            "\"bad\":\"\xEF\xBF\xBD\xc3\xa9\xEF\xBF\xBD\xEF\xBF\xBD\",\"x\":1.5,\"inf\":null,"
            "\"f\":false}");
}

}  // namespace
}  // namespace cdt
