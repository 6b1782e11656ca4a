// Request dispatcher: which menu's handlers it uses, and when a request goes out or an answer
// is passed on. The main loop's countdown is played by RunTicks.
#include "firmware/link/dispatcher.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "firmware/link/qim.h"
#include "firmware/mcu.h"
#include "firmware/screens/screen_requests.h"
#include "firmware/screens/tables.h"
#include "firmware/ui/menu.h"

namespace {

// As the main loop does on every 10 ms flag; returns after n ticks or when the timer stopped.
void RunTicks(int n) {
  for (int i = 0; i < n && gblCounter10ms != 0; ++i) {
    if (--gblCounter10ms == 0) DRH_TimerExpiredEvent();
  }
}

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SCR_RegisterTables();
    DRH_InitState();
    menu.menMenuId = 12;  // current data list: a screen with both handlers
  }
  static void ExpectState(int8_t state, uint8_t ignore, uint16_t ticks) {
    EXPECT_EQ(drh.drhReqState, state);
    EXPECT_EQ(drh.drhIgnoreReqState, ignore);
    EXPECT_EQ(gblCounter10ms, ticks);
  }
};

TEST_F(DispatcherTest, EveryMenuHasTheHandlersOfItsScreen) {
  using Pair = std::pair<DRH_TIMER_FCT, DRH_RX_FCT>;
  const Pair none = {DRH_NoTimerExpiredEventFct, DRH_NoProcessRxDataFct};
  std::vector<std::pair<std::vector<int>, Pair>> expected = {
      {{0, 1, 2, 3, 4, 5, 7, 8, 11, 14, 16, 18, 19, 20, 22, 23, 42}, none},
      {{6}, {SIM_ReqTimerExpiredEvent, SIM_ProcessRxData}},
      {{9}, {SPS_ReqTimerExpiredEvent, SPS_ProcessRxData}},
      {{10}, {RDS_ReqTimerExpiredEvent, RDS_ProcessRxData}},
      {{12}, {CDM_ReqTimerExpiredEvent, CDM_ProcessRxListData}},
      {{13}, {CDM_ReqTimerExpiredEvent, CDM_ProcessRxSingleData}},
      {{15, 29, 30, 31, 32, 33}, {RCM_ReqTimerExpiredEvent, RCM_ProcessRxData}},
      {{17}, {PIM_ReqTimerExpiredEvent, PIM_ProcessRxData}},
      {{21}, {DRH_NoTimerExpiredEventFct, SEM_ProcessRxData}},
      {{24}, {CTM_ReqTimerExpiredEvent, CTM_ProcessRxData}},
      {{25}, {FFM_ReqTimerExpiredEvent, FFM_ProcessRxInitData}},
      {{26}, {FFM_ReqTimerExpiredEvent, FFSF_ProcessRxData}},
      {{27}, {FFM_ReqTimerExpiredEvent, FFM_ProcessRxListData}},
      {{28}, {FFM_ReqTimerExpiredEvent, FFM_ProcessRxSingleData}},
      {{34, 35, 36, 39}, {VIM_ReqTimerExpiredEvent, VIM_ProcessRxData}},
      {{37, 38, 40, 41}, {VIM_ReqTimerExpiredEvent, IPT_ProcessRxData}},
  };
  int menus = 0;
  for (const auto& [ids, handlers] : expected) {
    for (int id : ids) {
      SCOPED_TRACE(id);
      EXPECT_EQ(DRH_HANDLERS[id].timerExpired, handlers.first);
      EXPECT_EQ(DRH_HANDLERS[id].processRx, handlers.second);
      ++menus;
    }
  }
  EXPECT_EQ(menus, MEN_NUM_MENUS);
}

TEST_F(DispatcherTest, RequestGoesOutWhenTheTimerRunsOut) {
  DRH_SetReqTimer(2);
  ExpectState(DRH_TIMER_RUNNING, 0, 20);
  RunTicks(19);
  ExpectState(DRH_TIMER_RUNNING, 0, 1);
  RunTicks(1);
  ExpectState(DRH_WAIT_ANSWER, 0, 0);

  DRH_QimRxEvent(QIM_RESP_OBD_DATA);
  ExpectState(DRH_IDLE, 0, 0);
}

TEST_F(DispatcherTest, NoRequestUnlessOneIsScheduled) {
  for (int8_t state : {DRH_IDLE, DRH_WAIT_ANSWER, DRH_DISCARD_ANSWER}) {
    SCOPED_TRACE(int(state));
    drh.drhReqState = state;
    DRH_TimerExpiredEvent();
    EXPECT_EQ(drh.drhReqState, state);
  }
}

TEST_F(DispatcherTest, AnswersNobodyAskedForAreDropped) {
  for (int8_t state : {DRH_IDLE, DRH_TIMER_RUNNING}) {
    SCOPED_TRACE(int(state));
    drh.drhReqState = state;
    gblCounter10ms = 7;
    DRH_QimRxEvent(QIM_RESP_OBD_DATA);
    ExpectState(state, 0, 7);
  }
}

TEST_F(DispatcherTest, RefreshWhileARequestIsInFlightWaitsForItsAnswer) {
  // Idle or scheduled: the next request goes out 300 ms from now.
  DRH_SetNextReqState();
  ExpectState(DRH_TIMER_RUNNING, 0, 30);
  DRH_SetReqTimer(9);
  DRH_SetNextReqState();
  ExpectState(DRH_TIMER_RUNNING, 0, 30);

  // In flight: the answer is dropped when it comes, and the next request follows 300 ms later.
  RunTicks(30);
  ASSERT_EQ(drh.drhReqState, DRH_WAIT_ANSWER);
  DRH_SetNextReqState();
  DRH_SetNextReqState();
  ExpectState(DRH_DISCARD_ANSWER, 0, 0);
  RunTicks(100);  // the timer is stopped: nothing goes out meanwhile
  EXPECT_EQ(drh.drhReqState, DRH_DISCARD_ANSWER);
  DRH_QimRxEvent(QIM_RESP_OBD_DATA);
  ExpectState(DRH_TIMER_RUNNING, 0, 30);
  RunTicks(30);
  EXPECT_EQ(drh.drhReqState, DRH_WAIT_ANSWER);
}

TEST_F(DispatcherTest, CanErrorRepeatsTheRequestEvery300ms) {
  DRH_SetReqTimer(1);
  for (int attempt = 0; attempt < 50; ++attempt) {
    RunTicks(30);
    ASSERT_EQ(drh.drhReqState, DRH_WAIT_ANSWER) << attempt;
    DRH_QimRxEvent(QIM_RESP_CAN);
    ExpectState(DRH_TIMER_RUNNING, 0, 30);
  }
  RunTicks(30);
  DRH_QimRxEvent(QIM_RESP_NO);  // any other outcome goes to the screen
  ExpectState(DRH_IDLE, 0, 0);

  // A CAN error nobody asked for is dropped like any other answer.
  DRH_QimRxEvent(QIM_RESP_CAN);
  ExpectState(DRH_IDLE, 0, 0);
}

TEST_F(DispatcherTest, WaitingTimerDeliversWhateverTheState) {
  menu.menMenuId = 34;  // vehicle information waits for slow answers
  DRH_SetTimer(5);
  ExpectState(DRH_IDLE, 1, 50);
  DRH_QimRxEvent(QIM_RESP_TEXT);  // delivered although no request was sent
  ExpectState(DRH_IDLE, 0, 50);

  DRH_SetTimer(5);
  drh.drhReqState = DRH_WAIT_ANSWER;
  RunTicks(50);  // expiry is delivered too
  ExpectState(DRH_WAIT_ANSWER, 1, 0);

  DRH_SetTimer(0);
  ExpectState(DRH_IDLE, 0, 0);
  DRH_TimerExpiredEvent();
  DRH_QimRxEvent(QIM_RESP_OBD_DATA);
  ExpectState(DRH_IDLE, 0, 0);
}

TEST_F(DispatcherTest, UnknownMenuIdHasNoHandlers) {
  menu.menMenuId = MEN_NUM_MENUS;
  DRH_SetReqTimer(1);
  RunTicks(10);
  DRH_QimRxEvent(QIM_RESP_OBD_DATA);
  ExpectState(DRH_IDLE, 0, 0);
}

TEST_F(DispatcherTest, PowerOnStopsEverything) {
  DRH_SetTimer(3);
  drh.drhReqState = DRH_DISCARD_ANSWER;
  tarnic_InitVars();
  ExpectState(DRH_IDLE, 0, 0);
}

}  // namespace
