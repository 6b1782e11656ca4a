// Fuzz target: the firmware's receive parser, frame reassembly and every decoder, fed with an
// arbitrary module answer. The first byte chooses the protocol and what answer is expected.
#include <string.h>

#include "firmware/link/qim.h"
#include "firmware/link/reassembly.h"
#include "firmware/mcu.h"
#include "firmware/obd/dtcs.h"
#include "firmware/obd/monitors.h"
#include "firmware/obd/pids.h"
#include "firmware/obd/reading.h"

static const uint8_t PROTOCOLS[] = {0x01, 0x02, 0x13, 0x14, 0x15, 0x26, 0x27, 0x28, 0x29};

static void DecodeEverything(const uint8_t* resp, uint8_t len, uint8_t selector) {
  char txt[OBD_VALUE_TXT_SIZE];
  uint8_t unit = 0;
  const uint8_t pid = len >= 2 ? resp[1] : selector;
  (void)OBD_DecodeSid01RespDataByPid(resp, len, pid);
  for (uint8_t item = 0; item < OBD_NUM_DATA_ITEMS; ++item) {
    if (obd_dataItem[item].pid != pid) continue;
    (void)OBD_DecodeSid01RespDataByIdx(resp, len, item, txt, &unit);
    (void)OBD_DecodeSid02RespDataByIdx(resp, len, item, txt, &unit);
  }
  for (uint8_t service : {0x03, 0x07, 0x0A}) (void)OBD_DecodeDtcRespData(resp, len, service);
  (void)OBD_DecodeClearDtcRespData(resp, len);
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE];
  (void)OBD_DecodeInfoTypeRespData(resp, len, pid, out);
  (void)OBD_DecodeInfoTypeRespData(resp, len, static_cast<uint8_t>(selector % 0x0D), out);
  if (OBD_DecodeIptRespData(resp, len, static_cast<uint8_t>(selector % 30)) == 1) {
    for (uint8_t i = 0; i <= OBD_GetNumIptCounters(); ++i) OBD_GetIptCounterStr(txt, i);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  tarnic_InitVars();
  OBD_Init();
  const uint8_t selector = data[0];
  qimProtocol = PROTOCOLS[selector % sizeof PROTOCOLS];
  QIM_InitRx((selector & 0x80) ? QIM_EXP_AT : QIM_EXP_OBD);
  uint8_t code = 0;
  for (size_t i = 1; i < size; ++i) {
    uint8_t c = QIM_ProcessRxData(data[i]);
    if (c != 0) code = c;
  }
  (void)QIM_ProcessRxData('>');  // whatever came, the answer ends
  if (code != QIM_RESP_OBD_DATA || qim.qimNoOfFrames == 0) return 0;

  QIM_SetDataStartIdx();
  D2O_Init();
  for (uint8_t f = 0; f < qim.qimNoOfFrames; ++f) OBD_SetEcuAddr(QIM_GetEcuAddr(f));
  for (uint8_t e = 0; e < OBD_GetNumEcus(); ++e) {
    uint8_t len = 0;
    const uint8_t* resp = D2O_GetObdData(&len, OBD_GetEcuAddr(e));
    if (OBD_SetActiveEcuAddr(OBD_GetEcuAddr(e)) == 0) continue;
    DecodeEverything(resp, len, selector);
  }
  return 0;
}
