// A power-on leaves nothing behind: every firmware state block goes back to its initial value.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "firmware/link/dispatcher.h"
#include "firmware/link/qim.h"
#include "firmware/link/reassembly.h"
#include "firmware/obd/dtcs.h"
#include "firmware/obd/ecus.h"
#include "firmware/obd/monitors.h"
#include "firmware/obd/pids.h"
#include "firmware/ui/list.h"
#include "firmware/mcu.h"
#include "firmware/timer.h"
#include "firmware/ui/lcd.h"
#include "firmware/ui/menu.h"
#include "firmware/usart.h"

namespace {

struct Block {
  const char* name;
  void* data;
  size_t size;
};

std::vector<Block> StateBlocks() {
  return {
      {"usart", &usart, sizeof usart},
      {"menu", &menu, sizeof menu},
      {"lcdFrameBuf", lcdFrameBuf, sizeof lcdFrameBuf},
      {"guiDoDisplayUpdate", &guiDoDisplayUpdate, sizeof guiDoDisplayUpdate},
      {"gblCounter10ms", &gblCounter10ms, sizeof gblCounter10ms},
      {"listState", &listState, sizeof listState},
      {"qim", &qim, sizeof qim},
      {"drh", &drh, sizeof drh},
      {"d2o", &d2o, sizeof d2o},
      {"obdEcu", &obdEcu, sizeof obdEcu},
      {"obdPid", &obdPid, sizeof obdPid},
      {"obdMon", &obdMon, sizeof obdMon},
      {"obdDtc", &obdDtc, sizeof obdDtc},
  };
}

TEST(PowerOnState, InitVarsRestoresEveryStateBlock) {
  tarnic_InitVars();
  std::vector<std::vector<uint8_t>> fresh;
  for (const Block& b : StateBlocks()) {
    auto* p = static_cast<uint8_t*>(b.data);
    fresh.emplace_back(p, p + b.size);
  }
  uint8_t debounce[4] = {keyDebounce.keyState, keyDebounce.ct0, keyDebounce.ct1, keyDebounce.rpt};

  // A power-on's worth of use.
  for (const Block& b : StateBlocks()) memset(b.data, 0xA5, b.size);
  keyDebounce.keyState = 0x5A, keyDebounce.ct0 = 0, keyDebounce.ct1 = 0, keyDebounce.rpt = 7;
  keyDebounce.keyPressed = 0x20, keyDebounce.keyRepeated = 0x40;
  beepDurationCounter10ms = 9;
  gblTimer10msUpdate = 1;
  qimProtocol = 0x26;

  tarnic_InitVars();
  size_t i = 0;
  for (const Block& b : StateBlocks()) {
    EXPECT_EQ(memcmp(b.data, fresh[i].data(), b.size), 0) << b.name;
    ++i;
  }
  uint8_t again[4] = {keyDebounce.keyState, keyDebounce.ct0, keyDebounce.ct1, keyDebounce.rpt};
  EXPECT_EQ(memcmp(debounce, again, 4), 0);
  EXPECT_EQ(keyDebounce.keyPressed.load(), 0);
  EXPECT_EQ(keyDebounce.keyRepeated.load(), 0);
  EXPECT_EQ(beepDurationCounter10ms.load(), 0);
  EXPECT_EQ(gblTimer10msUpdate.load(), 0);
  EXPECT_EQ(qimProtocol.load(), 0);
  EXPECT_EQ(guiDoDisplayUpdate, 1) << "the first pass sends the display";
}

}  // namespace
