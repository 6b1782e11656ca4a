// Screen composition, trouble codes: the summary's lines (every stored code of every ECU), the
// single code with its description, and negative response codes with their short texts.
// The codes themselves are kept by firmware/obd/dtcs; nothing here changes them.
#include "obd/dtcs.h"
#include "ui/fonts.h"
#include "ui/gui.h"
#include "ui/lcd.h"
#include "ui/texts.h"

// A code line fits both the title bar (HeaderFont) and a list row (SystemFont); the wider
// font pushes the kind right and pulls the ECU in so that the row's scroll arrow stays free.
constexpr uint8_t GUI_DTC_CODE_X = 1;
constexpr uint8_t GUI_DTC_KIND_X_HEADER = 29;
constexpr uint8_t GUI_DTC_KIND_X_SYSTEM = 35;
constexpr uint8_t GUI_DTC_ECU_X_HEADER = 104;
constexpr uint8_t GUI_DTC_ECU_X_SYSTEM = 87;

constexpr uint8_t GUI_DTC_DESCRIPTION_X = 1;
constexpr uint8_t GUI_DTC_DESCRIPTION_Y = 8;
constexpr uint8_t GUI_TITLE_LINE_Y = 6;

// The kinds in the order of the summary, with the text that names each.
struct GuiDtcKind {
  uint8_t service;
  uint8_t txtId;
};
// clang-format off
static const GuiDtcKind GUI_DTC_KINDS[] = {
    {0x03, 119},  // "confirmed"
    {0x07, 120},  // "pending"
    {0x0A, 121},  // "permanent"
};
// clang-format on
static_assert(sizeof GUI_DTC_KINDS / sizeof GUI_DTC_KINDS[0] == OBD_DTC_SLOTS);

// Eight ECUs can store 384 codes in all; the list counts 8 bits, so the summary stops at 255
// lines rather than wrapping round to a short list.
constexpr uint8_t GUI_MAX_DTC_LINES = 255;

uint8_t GUI_GetNumDtcLines() {
  uint16_t total = 0;
  for (uint8_t ecuIdx = 0; ecuIdx < OBD_GetNumEcus(); ++ecuIdx) {
    for (const GuiDtcKind& kind : GUI_DTC_KINDS) {
      total = static_cast<uint16_t>(total + OBD_GetNumDtcs(ecuIdx, kind.service));
    }
  }
  return total > GUI_MAX_DTC_LINES ? GUI_MAX_DTC_LINES : static_cast<uint8_t>(total);
}

// Walks the ECUs and, inside each, the three kinds until the item's code is reached.
static const GuiDtcKind* GUI_FindDtcLine(uint8_t item, uint8_t* ecuIdx, uint8_t* n) {
  uint8_t left = item;
  for (uint8_t e = 0; e < OBD_GetNumEcus(); ++e) {
    for (const GuiDtcKind& kind : GUI_DTC_KINDS) {
      const uint8_t count = OBD_GetNumDtcs(e, kind.service);
      if (left < count) {
        *ecuIdx = e;
        *n = left;
        return &kind;
      }
      left = static_cast<uint8_t>(left - count);
    }
  }
  return nullptr;
}

uint16_t GUI_GetDtcLine(uint8_t item, uint8_t* ecuIdx, uint8_t* service) {
  uint8_t e = 0, n = 0;
  const GuiDtcKind* kind = GUI_FindDtcLine(item, &e, &n);
  if (kind == nullptr) return 0;
  if (ecuIdx != nullptr) *ecuIdx = e;
  if (service != nullptr) *service = kind->service;
  return OBD_GetDtc(e, kind->service, n);
}

static uint8_t GUI_HeaderFontSelected() {
  return fntData.widths == &HeaderFont.bytes[FNT_REC_WIDTHS] ? 1 : 0;
}

void GUI_DrawDtcLine(uint8_t y, uint8_t item) {
  uint8_t ecuIdx = 0, n = 0;
  const GuiDtcKind* kind = GUI_FindDtcLine(item, &ecuIdx, &n);
  if (kind == nullptr) return;
  const uint8_t header = GUI_HeaderFontSelected();

  char code[OBD_DTC_TXT_SIZE];
  OBD_DtcToTxt(code, OBD_GetDtc(ecuIdx, kind->service, n));
  LCD_DrawText(code, GUI_DTC_CODE_X, y);
  LCD_DrawText(GUI_GetTxt(kind->txtId), header ? GUI_DTC_KIND_X_HEADER : GUI_DTC_KIND_X_SYSTEM,
               y);
  LCD_DrawText(GUI_GetTxt(TXT_ECU_LABEL),
               header ? GUI_DTC_ECU_X_HEADER : GUI_DTC_ECU_X_SYSTEM, y);
  LCD_SetPosXRel(1);
  LCD_DrawHexByte(OBD_GetEcuAddr(ecuIdx));
}

void GUI_DrawSingleDtcMenu(LIST* list) {
  LCD_ClearDisplay();
  LCD_DrawHLine(0, GUI_TITLE_LINE_Y, LCD_WIDTH);
  FNT_SetHeaderFont();
  GUI_DrawDtcLine(0, list->cursor);
  FNT_SetSystemFont();
  const uint16_t dtc = GUI_GetDtcLine(list->cursor, nullptr, nullptr);
  // An empty summary has no code to describe; the screen keeps only its title line then.
  if (dtc != 0) {
    LCD_DrawTextBox(OBD_GetDtcText(dtc), GUI_DTC_DESCRIPTION_X, GUI_DTC_DESCRIPTION_Y,
                    LCD_WIDTH);
  }
  listState.listLastEvent = LIST_EVENT_NONE;
  guiDoDisplayUpdate = 1;
}

void GUI_DrawNegRespCode(uint8_t code, uint8_t x, uint8_t y) {
  LCD_SetPosXY(x, y);
  LCD_DrawHexByte(code);
  LCD_SetPosXRel(1);
  LCD_DrawChar('=');
  LCD_SetPosXRel(1);
  LCD_DrawText(OBD_GetErrorCodeShortTxt(code), lcdPosX, y);
}
