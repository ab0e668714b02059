// Writes a few configuration texts as the seed corpus of config_text_fuzz:
// a default configuration, one with every block kind, values that need
// escaping and extreme numbers, and a few damaged texts.
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "config/config_text.h"
#include "config/model.h"

namespace {

bool writeSeed(const std::string& directory, const char* name, const std::string& text) {
  const std::string path = directory + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

std::string textOf(const cdt::Configuration& configuration) {
  return cdt::configToText(configuration, 0).str();
}

// Fixed identity, so that the seeds do not change with the clock or host.
cdt::Configuration baseConfiguration() {
  cdt::Configuration c;
  c.name = "CS1";
  c.fullName = "CS-seed-1";
  c.creationTime = 1300000000000000;
  c.modificationTime = 1300000000000000;
  c.maintainer.adminPassword = 1;
  c.maintainer.userPassword = 2;
  return c;
}

cdt::Configuration everyBlockKind() {
  using namespace cdt;
  Configuration c = baseConfiguration();
  c.stages.setLength(2);
  c.hosts.setLength(1);
  c.racks.setLength(1);
  c.initialiseNewRack(0);
  static const char notes[] = "quote \" backslash \\ tab \t nul \0 high \xff";
  c.maintainer.notes = CountedString(notes, sizeof notes - 1);
  c.engine.maximumSpeed = std::numeric_limits<double>::denorm_min();
  c.sampleRate = -0.0;
  c.hosts.at(0).channels[2].coupling = COUPLING_AC;
  Rack& rack = c.racks.at(0);
  rack.relays[0].usage = RELAY_HIGH_ALARM;
  rack.relays[1].usage = RELAY_STAGE_LOW_WARNING;
  rack.relays[1].sourceIndex = 1;
  rack.relays[2].usage = RELAY_PROBE_DYNAMIC_ALARM;
  rack.relays[2].sourceIndex = 3;
  rack.probes[0].channelIndex = 2;
  rack.probes[0].stageIndex = 1;
  rack.probes[0].userName = "Probe \"A\"";
  rack.probes[0].calData.clear();
  rack.probes[0].calData.append({0, 0, 0});
  rack.probes[0].calData.append({5, 1e300, -1e-300});
  c.relink();
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  const std::string directory = argv[1];
  const std::string every = textOf(everyBlockKind());
  std::string crlf;
  for (char c : textOf(baseConfiguration()))
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

  bool ok = writeSeed(directory, "default.txt", textOf(baseConfiguration()));
  ok = writeSeed(directory, "every_block_kind.txt", every) && ok;
  ok = writeSeed(directory, "crlf.txt", crlf) && ok;
  ok = writeSeed(directory, "count_inside_block.txt",
                 "Begin Configuration\nnumRacks = 2\nnumHosts = 1\nBegin Probe 13\n"
                 "numCalData = 2\ncalData[1] = { 1, 2, 3 }\nnumRacks = 1\n"
                 "Begin Channel 3\nrange = \"RANGE_0_5V\"\nnumHosts = 0\n"
                 "End Channel\nEnd Configuration\n") &&
       ok;
  ok = writeSeed(directory, "odd_lines.txt",
                 "\"\n\\\nname = \"a\\\"b\\101\\\nrevision=4\nnumStages = 3 x\n"
                 "Begin Stage 2\nblades = 99999999999\nEnd Stage\nEnd Configuration") &&
       ok;
  if (!ok) std::fprintf(stderr, "%s: could not write the seeds into %s\n", argv[0], argv[1]);
  return ok ? 0 : 1;
}
