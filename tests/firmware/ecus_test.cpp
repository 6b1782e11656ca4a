// The ECU registry: addresses in the order they answered, and the active ECU.
#include "firmware/obd/ecus.h"

#include <gtest/gtest.h>

namespace {

TEST(Ecus, RegisterOnceInArrivalOrder) {
  OBD_InitEcuAddr();
  for (uint8_t a : {0x10, 0x10, 0x18, 0x28}) OBD_SetEcuAddr(a);
  EXPECT_EQ(OBD_GetNumEcus(), 3);
  EXPECT_EQ(OBD_GetEcuAddr(0), 0x10);
  EXPECT_EQ(OBD_GetEcuAddr(1), 0x18);
  EXPECT_EQ(OBD_GetEcuAddr(2), 0x28);
  EXPECT_EQ(OBD_GetEcuIdx(0x28), 2);
  EXPECT_EQ(OBD_GetEcuIdx(0x99), 0);
  OBD_SetEcuAddr(0);
  EXPECT_EQ(OBD_GetNumEcus(), 3) << "0 marks a free slot and is not an address";

  for (uint8_t a = 0xE0; a < 0xE9; ++a) OBD_SetEcuAddr(a);
  EXPECT_EQ(OBD_GetNumEcus(), 8);
  EXPECT_EQ(OBD_GetEcuAddr(7), 0xE4);
  EXPECT_EQ(OBD_GetEcuIdx(0xE8), 0) << "the ninth address is dropped";
  EXPECT_EQ(OBD_GetEcuAddr(8), 0);
  EXPECT_EQ(OBD_GetEcuAddr(255), 0);
}

TEST(Ecus, ActiveEcuChangesOnlyToRegisteredOnes) {
  OBD_InitEcuAddr();
  OBD_SetEcuAddr(0x10);
  OBD_SetEcuAddr(0x18);
  EXPECT_EQ(OBD_GetActiveEcuAddr(), 0x10);
  EXPECT_EQ(OBD_SetActiveEcuAddr(0x18), 1);
  EXPECT_EQ(OBD_GetActiveEcuIdx(), 1);
  EXPECT_EQ(OBD_SetActiveEcuAddr(0x28), 0);
  EXPECT_EQ(OBD_SetActiveEcuAddr(0x00), 0);
  EXPECT_EQ(OBD_GetActiveEcuAddr(), 0x18);
  OBD_SetActiveEcuIdx(2);
  EXPECT_EQ(OBD_GetActiveEcuIdx(), 1) << "index beyond the ECU count";
  OBD_SetActiveEcuIdx(0);
  EXPECT_EQ(OBD_GetActiveEcuAddr(), 0x10);
}

}  // namespace
