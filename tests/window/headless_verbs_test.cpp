// padix-headless's verbs as its reader takes them apart: the front end's own, and the host's,
// which the reader knows only once the host has handed them over and which take the rest of the
// line whole (a value for "set" may hold spaces).
#include <gtest/gtest.h>

#include <string>

#include "host/vehicle_commands.h"
#include "window/headless_window.h"

namespace {

struct Parsed {
  int result = 0;
  EmuCommand command;
  std::string why;
  std::string rest;  // the host's rest, taken while the line is there
};

Parsed Parse(const std::string& line) {
  Parsed p;
  char why[128] = "";
  p.result = emu_ParseCommand(line.data(), line.size(), &p.command, why, sizeof why);
  p.why = why;
  if (p.command.rest != nullptr) p.rest.assign(p.command.rest, p.command.restLength);
  return p;
}

TEST(HeadlessVerbs, TheHostsVerbsAreKnownOnceHandedOverAndTakeTheRestOfTheLine) {
  emu_GtkSetHostVerbs(nullptr, 0);
  EXPECT_EQ(Parse("load car.toml").why, "unknown command: load") << "no host, no vehicle commands";

  emu_OfferVehicleCommands();
  for (const char* verb : {"load", "set", "save", "import"}) {
    const Parsed p = Parse(std::string(" ") + verb + "  ecu.1.name  Engine  ECU \r");
    ASSERT_EQ(p.result, 0) << verb << ": " << p.why;
    EXPECT_EQ(p.command.verb, EmuVerb::Host) << verb;
    EXPECT_STREQ(p.command.host->name, verb);
    EXPECT_EQ(p.rest, "ecu.1.name  Engine  ECU") << verb;
  }
  const Parsed bare = Parse("set");
  EXPECT_EQ(bare.result, 0);
  EXPECT_EQ(bare.command.restLength, 0u) << "the host says what is missing";
  EXPECT_EQ(Parse("settle x").why, "unknown command: settle") << "a verb is matched whole";

  // The front end's own verbs keep their forms beside the host's.
  EXPECT_EQ(Parse("key z").command.verb, EmuVerb::Key);
  EXPECT_EQ(Parse("hold Up 5").command.ms, 5);
  EXPECT_EQ(Parse("shot").why, "shot: no file given");
  EXPECT_EQ(Parse("hold").why, "hold: no key given");
  EXPECT_EQ(Parse("shot Up.png").result, 0) << "a file is no key";
  emu_GtkSetHostVerbs(nullptr, 0);
}

}  // namespace
