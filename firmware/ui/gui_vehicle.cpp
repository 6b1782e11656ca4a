// Screen composition, vehicle information and monitors: the data lists of the readiness and
// performance tracking screens, their single-item screens, the rows of the ECU selection, the
// ECU name, the oxygen sensor locations and the negative answer to a service 09 request. The
// values come from the OBD data layer of the active ECU.
#include "obd/dtcs.h"
#include "obd/monitors.h"
#include "obd/pids.h"
#include "ui/fonts.h"
#include "ui/gui.h"
#include "ui/lcd.h"
#include "ui/menu.h"
#include "ui/texts.h"


// The performance tracking screens of info type 0x08 name their counters from the
// spark-ignition table; those of 0x0B (menus 40 and 41) from the compression-ignition table.

// Data list rows: cursor triangle, the name right-aligned up to the ":" column, the value.
constexpr uint8_t GUI_DL_CURSOR_X = 1;
constexpr uint8_t GUI_DL_COLON_X = 67;
constexpr uint8_t GUI_DL_MON_NAME_X = 19;
constexpr uint8_t GUI_DL_IPT_NAME_X = 14;  // counter names are longer than monitor names
constexpr uint8_t GUI_DL_VALUE_X = 74;
constexpr uint8_t GUI_DL_VALUE_WIDTH = 58;
constexpr uint8_t GUI_DL_ARROW_X = 126;

// Single items: the long name as a text box under the title, the value centred below it.
constexpr uint8_t GUI_TEXT_X = 1;
constexpr uint8_t GUI_SINGLE_MARK_X = 60;

// Gaps after labels.
constexpr uint8_t GUI_ECU_NAME_GAP = 3;

// Oxygen sensor locations: eight sensors, four per row.
constexpr uint8_t GUI_O2S_SENSORS = 8;
constexpr uint8_t GUI_O2S_PER_ROW = 4;
static const uint8_t GUI_O2S_COLUMN_X[GUI_O2S_PER_ROW] = {1, 32, 63, 94};
static_assert(GUI_O2S_SENSORS % GUI_O2S_PER_ROW == 0);

static const char GUI_SYM_ARROW_UP[] = "\x03";
static const char GUI_SYM_ARROW_DOWN[] = "\x04";
static const char GUI_SYM_TRIANGLE[] = "\x07";

static_assert(OBD_VALUE_TXT_SIZE >= OBD_ECU_LONG_NAME_SIZE);

// Table lookups that an out-of-range id cannot take outside their tables.
static const char* GUI_DataTxt(uint8_t id) {
  return id < OBD_NUM_DATA_TXT ? obdPidDataTxt[id] : "";
}
static const char* GUI_MonShortTxt(uint8_t id) {
  return id < OBD_NUM_MON_TXT ? obdMonShortTxt[id] : "";
}
static const char* GUI_MonLongTxt(uint8_t id) {
  return id < OBD_NUM_MON_TXT ? obdMonLongTxt[id] : "";
}

// The counter name table of the screen shown, and its length.
static uint8_t GUI_IptTxtId(uint8_t sparkMenuId, uint8_t position, uint8_t* txtId) {
  if (menu.menMenuId == sparkMenuId) {
    if (position >= OBD_NUM_IPT_SPARK) return 0;
    *txtId = obd_iptSparkIgnTxtId[position];
  } else {
    if (position >= OBD_NUM_IPT_COMPR) return 0;
    *txtId = obd_iptComprIgnTxtId[position];
  }
  return *txtId < OBD_NUM_IPT_TXT;
}

// ---------------------------------------------------------------------------------------------
// Data lists

// What one kind of data list shows for an item: its name, and its value (written to `buf`, of
// OBD_VALUE_TXT_SIZE bytes, or a constant text).
struct GuiDataListKind {
  uint8_t nameX;
  const char* (*name)(uint8_t item);
  const char* (*value)(uint8_t item, char* buf);
};

static const char* GUI_MonitorName(uint8_t item) {
  return GUI_MonShortTxt(OBD_GetMonitorTxtId(item));
}
static const char* GUI_MonitorValue(uint8_t item, char*) {
  return GUI_DataTxt(OBD_GetMonitorSupDataTxtId(item));
}
static const char* GUI_MonitorStatusName(uint8_t item) {
  return GUI_MonShortTxt(OBD_GetMonitorStatusTxtId(item));
}
static const char* GUI_MonitorStatusValue(uint8_t item, char*) {
  return GUI_DataTxt(OBD_GetMonitorStatusDataTxtId(item));
}
static const char* GUI_IptCounterName(uint8_t item) {
  uint8_t id = 0;
  return GUI_IptTxtId(MENU_IPT_SPARK_LIST, item, &id) ? obdIptShortTxt[id] : "";
}
static const char* GUI_IptCounterValue(uint8_t item, char* buf) {
  OBD_GetIptCounterStr(buf, item);
  return buf;
}

static const GuiDataListKind GUI_MONITOR_LIST = {GUI_DL_MON_NAME_X, GUI_MonitorName,
                                                 GUI_MonitorValue};
static const GuiDataListKind GUI_MONITOR_STATUS_LIST = {GUI_DL_MON_NAME_X, GUI_MonitorStatusName,
                                                        GUI_MonitorStatusValue};
static const GuiDataListKind GUI_IPT_COUNTER_LIST = {GUI_DL_IPT_NAME_X, GUI_IptCounterName,
                                                     GUI_IptCounterValue};

// Every visible row is drawn afresh (rows are cleared first), so the list serves both as the
// screen's first picture and as the redraw after a cursor move or new values.
static void GUI_DrawDataList(LIST* list, const GuiDataListKind& kind) {
  char value[OBD_VALUE_TXT_SIZE];
  const uint8_t first = static_cast<uint8_t>(list->cursor - list->cursorRow);
  const uint8_t rows = LIST_GetNumVisibleListItems(list);
  FNT_SetSystemFont();
  for (uint8_t row = 0; row < rows; ++row) {
    const uint8_t item = static_cast<uint8_t>(first + row);
    const uint8_t y = GUI_RowY(row);
    LCD_ClearArea(0, y, LCD_WIDTH, GUI_ROW_HEIGHT);
    if (row == list->cursorRow) LCD_DrawText(GUI_SYM_TRIANGLE, GUI_DL_CURSOR_X, y);
    LCD_DrawTextField(kind.name(item), kind.nameX, y,
                      static_cast<uint8_t>(GUI_DL_COLON_X - kind.nameX), LCD_FIELD_RIGHT);
    LCD_DrawText(":", GUI_DL_COLON_X, y);
    LCD_DrawTextField(kind.value(item, value), GUI_DL_VALUE_X, y, GUI_DL_VALUE_WIDTH, 0);
    if (row == 0 && first > 0) {
      LCD_DrawText(GUI_SYM_ARROW_UP, GUI_DL_ARROW_X, y);
    } else if (row == list->visibleRows - 1 && first + list->visibleRows < list->noOfItems) {
      LCD_DrawText(GUI_SYM_ARROW_DOWN, GUI_DL_ARROW_X, y);
    }
  }
  listState.listLastEvent = LIST_EVENT_NONE;
  guiDoDisplayUpdate = 1;
}

void GUI_DrawMonitorList(LIST* list) { GUI_DrawDataList(list, GUI_MONITOR_LIST); }
void GUI_DrawMonitorStatusList(LIST* list) { GUI_DrawDataList(list, GUI_MONITOR_STATUS_LIST); }
void GUI_DrawIptCounterList(LIST* list) { GUI_DrawDataList(list, GUI_IPT_COUNTER_LIST); }

// ---------------------------------------------------------------------------------------------
// Single items

// The whole screen of one item. An empty list has no item to show: its screen says so rather
// than naming the first table entry.
static void GUI_DrawSingleItem(const LIST* list, const char* shortName, uint8_t markTxtId,
                               const char* longName, const char* value) {
  const uint8_t empty = list->noOfItems == 0;
  GUI_DrawTitleKeepHeaderFont(empty ? "" : shortName);
  if (!empty && markTxtId != 0) LCD_DrawText(GUI_GetTxt(markTxtId), GUI_SINGLE_MARK_X, 0);
  GUI_DrawEcu(OBD_GetActiveEcuAddr());
  FNT_SetSystemFont();
  if (empty) {
    GUI_DrawMsgCentered(TXT_NO_DATA);
    return;
  }
  LCD_DrawTextBox(longName, GUI_TEXT_X, GUI_RowY(0), LCD_WIDTH);
  LCD_DrawChar(':');
  // A long name of three rows would run into the value's row: the value moves one row down.
  const uint8_t y = lcdPosY >= GUI_RowY(2) ? GUI_RowY(3) : GUI_RowY(2);
  LCD_DrawTextField(value, 0, y, LCD_WIDTH, LCD_FIELD_CENTRE);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawMonitor(LIST* list) {
  const uint8_t id = OBD_GetMonitorTxtId(list->cursor);
  GUI_DrawSingleItem(list, GUI_MonShortTxt(id), 0, GUI_MonLongTxt(id),
                     GUI_DataTxt(OBD_GetMonitorSupDataTxtId(list->cursor)));
}

void GUI_DrawMonitorStatus(LIST* list) {
  const uint8_t id = OBD_GetMonitorStatusTxtId(list->cursor);
  const uint8_t filter = OBD_GetMonitorStatusFilter();
  const uint8_t mark = filter == 1 ? TXT_MARK_DTC : filter == 2 ? TXT_MARK_CYCLE : 0;
  GUI_DrawSingleItem(list, GUI_MonShortTxt(id), mark, GUI_MonLongTxt(id),
                     GUI_DataTxt(OBD_GetMonitorStatusDataTxtId(list->cursor)));
}

void GUI_DrawIptCounter(LIST* list) {
  char value[OBD_VALUE_TXT_SIZE];
  uint8_t id = 0;
  const uint8_t named = GUI_IptTxtId(MENU_IPT_SPARK_SINGLE, list->cursor, &id);
  OBD_GetIptCounterStr(value, list->cursor);
  GUI_DrawSingleItem(list, named ? obdIptShortTxt[id] : "", 0, named ? obdIptLongTxt[id] : "",
                     value);
}

// ---------------------------------------------------------------------------------------------
// ECUs, oxygen sensors, negative answers

// In the current font and colours: the list row's cursor bar is the caller's.
void GUI_DrawEcuListItem(uint8_t ecuIdx, uint8_t y) {
  LCD_DrawText(GUI_GetTxt(TXT_ECU_LABEL), GUI_TEXT_X, y);
  LCD_SetPosXRel(1);
  LCD_DrawHexByte(OBD_GetEcuAddr(ecuIdx));
  if (OBD_InfoTypeIsSupported(0x0A, ecuIdx)) {
    char name[OBD_ECU_LONG_NAME_SIZE];
    OBD_GetEcuLongName(name, ecuIdx);
    LCD_SetPosXRel(GUI_ECU_NAME_GAP);
    LCD_DrawText(name, lcdPosX, y);
  }
}

void GUI_DrawEcuName(uint8_t ecuIdx) {
  char name[OBD_ECU_LONG_NAME_SIZE];
  FNT_SetSystemFont();
  LCD_DrawText(GUI_GetTxt(TXT_ACRONYM), GUI_TEXT_X, GUI_RowY(0));
  LCD_SetPosXRel(1);
  const uint8_t column = lcdPosX;
  OBD_GetEcuShortName(name, ecuIdx);
  LCD_DrawText(name, column, GUI_RowY(0));
  LCD_DrawText(GUI_GetTxt(TXT_NAME), GUI_TEXT_X, GUI_RowY(1));
  OBD_GetEcuLongName(name, ecuIdx);
  LCD_DrawText(name, column, GUI_RowY(1));
  guiDoDisplayUpdate = 1;
}

void GUI_DrawOxygenSensorLocation() {
  char sensor[OBD_VALUE_TXT_SIZE];
  const uint8_t data = OBD_GetO2SensorLocData();
  FNT_SetSystemFont();
  LCD_DrawText(
      GUI_GetTxt(OBD_GetO2SensorLocPid() == 0x1D ? TXT_O2SLOC_PID1D : TXT_O2SLOC_PID13),
      GUI_TEXT_X, GUI_RowY(0));
  LCD_SetPosXRel(1);
  LCD_DrawHexByte(data);
  for (uint8_t bit = 0; bit < GUI_O2S_SENSORS; ++bit) {
    OBD_DecodePidScalingO2SensorLoc(sensor, data, bit);
    LCD_DrawText(sensor, GUI_O2S_COLUMN_X[bit % GUI_O2S_PER_ROW],
                 GUI_RowY(static_cast<uint8_t>(1 + bit / GUI_O2S_PER_ROW)));
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawInfoTypeNegRespCode(uint8_t code) {
  FNT_SetSystemFont();
  LCD_DrawText(GUI_GetTxt(TXT_NEG_RESPONSE), GUI_TEXT_X, GUI_RowY(0));
  LCD_SetPosXRel(1);
  LCD_DrawHexByte(code);
  LCD_SetPosXRel(1);
  LCD_DrawChar('=');
  LCD_SetPosXRel(1);
  LCD_DrawText(OBD_GetErrorCodeShortTxt(code), lcdPosX, GUI_RowY(0));
  // 0x78: the ECU has taken the request and answers later.
  if (code == 0x78) GUI_DrawMsgCentered(TXT_WAITING_FOR_CVN);
  guiDoDisplayUpdate = 1;
}
