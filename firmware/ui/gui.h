// Screen composition: where and how every kind of screen is drawn on the 132 x 64 display.
// Titles, buttons, the start screen and number formatting live in gui.cpp; menu lists, data
// lines and large values in gui_lists.cpp; messages, error boxes, requesters and progress bars
// in gui_messages.cpp; vehicle, protocol and module information in gui_info.cpp.
// Routines leave SystemFont selected (except GUI_DrawTitleKeepHeaderFont) and either send the
// display themselves (start screen, error box, menu message) or set guiDoDisplayUpdate.
#pragma once

#include <stdint.h>

#include "ui/list.h"

// Content rows: seven rows of 8 pixels under the title bar; list row r lies at y = (r + 1) * 8.
constexpr uint8_t GUI_ROW_HEIGHT = 8;
constexpr uint8_t GUI_RowY(uint8_t row) { return static_cast<uint8_t>((row + 1) * GUI_ROW_HEIGHT); }

// The text of a text id; "" for an id outside the text table.
const char* GUI_GetTxt(uint8_t txtId);

// Titles: cleared display, the text in HeaderFont at (1, 0) and the line at row 6.
void GUI_DrawTitleKeepHeaderFont(const char* text);
void GUI_DrawTitle(const char* text);
void GUI_DrawTitleProtocol(const char* text, uint8_t protocol);  // protocol 1..9 at the right
void GUI_DrawEcu(uint8_t ecuAddr);                               // in the current font
void GUI_DrawTitleEcu(const char* text, uint8_t ecuAddr);
// The freeze frame title; dtcText is the trouble code as five characters (such as "P0123").
void GUI_DrawTitleFrameDtcEcu(const char* text, uint8_t frame, const char* dtcText,
                              uint8_t ecuAddr);

// Menu lists of text ids (list positions stored with GUI_SetTxtId).
void GUI_DrawListLine(LIST* list, uint8_t row);
void GUI_DrawListAll(LIST* list);
void GUI_DrawList(LIST* list);  // by listLastEvent; the drawing function of menu lists
void GUI_DrawCursorMove(LIST* list);
// Value field of a data list row: the value, 1 pixel, the unit (may be null).
void GUI_DrawListData(uint8_t row, const char* value, const char* unit);
void GUI_DrawListDataById(uint8_t row, uint8_t txtId);

// One large value in BigFont at y 10; the unit (may be null) is centred together with it.
void GUI_DrawData(const char* value, const char* unit);
void GUI_DrawDataById(uint8_t txtId);

// Messages, requesters and errors.
void GUI_DrawErrMsg(uint8_t txtId);  // error boxes for text ids 35..38, ERROR 01..04
void GUI_DrawMsgCentered(uint8_t txtId);
void GUI_DrawMenuMsg(uint8_t txtId1, uint8_t txtId2);
void GUI_DrawFramedMsgLine1(uint8_t txtId);
void GUI_DrawFramedMsgLine2(uint8_t txtId);
void GUI_DrawRequesterYesNo(uint8_t txtId1, uint8_t txtId2);
void GUI_DrawRequesterYes();
// "ECU" address ":" and "no response" (code 255) or the negative response code, in list row
// `row` (0..6).
void GUI_DrawErrorCodeLine(uint8_t ecuAddr, uint8_t responseCode, uint8_t row);
void GUI_DrawButton(uint8_t txtId, uint8_t x, uint8_t y);

// Progress and waiting.
void GUI_DrawProgressBar(uint8_t value, uint8_t maximum);
void GUI_DrawProgressBarSubtitle(const char* text);
void GUI_DrawProgressBarSubtitleById(uint8_t txtId);
void GUI_DrawSandglass();
void GUI_ClearSandglass();
void GUI_ClearMenuArea();

// The summary column right of the diagnostics and trouble code menu lists (x 101 on): the
// malfunction indicator lamp, the trouble codes of all ECUs, and the active ECU.
void GUI_DrawDiagnosticsInfo();

// Freeze frame selection. The trouble code's text comes from the caller; code 0 shows "No data"
// and removes the menu change indicator.
void GUI_DrawFrameSelection(uint8_t frame);
void GUI_DrawFrameSelectionDtc(uint16_t dtc, const char* dtcText);
void GUI_DrawMenuChangeIndicator();

// Supported PIDs and info types, from the bitmaps the caller has read: 32 bytes for the PIDs
// (eight per line: ranges 00/20, 40/60, 80/A0, C0/E0), 4 bytes for the info types.
void GUI_DrawSupPids(uint8_t titleTxtId, uint8_t ecuAddr, const uint8_t* supportBitmap);
void GUI_DrawSupInfoTypes(uint8_t ecuAddr, const uint8_t* supportBitmap);

// Vehicle information (service 09 answers).
void GUI_DrawVin(const char* vin);
void GUI_DrawCal(const char* data, uint8_t count);     // 16 characters per calibration id
void GUI_DrawCvn(const uint8_t* data, uint8_t count);  // 4 bytes per verification number

// Protocol and module information.
void GUI_DrawProtocolInfoScreen(const char* text, uint8_t withKeyBytes, uint8_t keyByte1,
                                uint8_t keyByte2, uint8_t txtIdA, uint8_t txtIdB);
void GUI_DrawSysInfo();
void GUI_DrawSysInfoLine(const char* text, uint8_t line);

void GUI_DrawStartScreen(uint8_t major, uint8_t minor, uint8_t patch);

// Number formatting into a caller's buffer (4 and 3 bytes at least).
uint8_t GUI_DecToStr(uint8_t value, char* buf);  // no leading zeros; returns the digit count
void GUI_DecToHexStr(uint8_t value, char* buf);  // two digits, letters "A".."F"

// Trouble codes
// The summary's lines are every stored code, ECU by ECU and, inside an ECU, confirmed (0x03),
// pending (0x07), permanent (0x0A); at most 255 of them are counted.
uint8_t GUI_GetNumDtcLines();
// The code of line `item` (0 beyond the last line); its ECU index and service if wanted.
uint16_t GUI_GetDtcLine(uint8_t item, uint8_t* ecuIdx, uint8_t* service);
// Code, kind and "ECU:" address at row y, placed for the current font (HeaderFont in the title
// bar, SystemFont in a list row); nothing beyond the last line.
void GUI_DrawDtcLine(uint8_t y, uint8_t item);
void GUI_DrawSingleDtcMenu(LIST* list);  // the list's selected code and its description
// The code in two hex digits, "=" and its short text, in the current font.
void GUI_DrawNegRespCode(uint8_t code, uint8_t x, uint8_t y);

// Data items
// Rows of a data list: row r shows the r-th supported data item of the active service counted
// from `firstItem` (a catalogue index). The reading marker stands in the rows whose item has
// the PID `readPid`.
void GUI_DrawListReadIndicator(LIST* list, uint8_t firstItem, uint8_t readPid);
void GUI_DrawDataItemList(LIST* list, uint8_t firstItem, uint8_t readPid);
// One data item alone: its short name, PID and ECU as title, the placeholder as large value and
// the long name under it.
void GUI_DrawDataItem(uint8_t item, uint8_t ecuAddr);

// Vehicle information and monitors
// Data lists of the readiness and performance tracking screens: for each visible row the cursor
// triangle at x 1, the name right-aligned before the ":" at x 67, the value after it.
void GUI_DrawMonitorList(LIST* list);        // supported monitors and their support
void GUI_DrawMonitorStatusList(LIST* list);  // monitor status rows by the status filter
void GUI_DrawIptCounterList(LIST* list);     // spark-ignition names in menu 37, else compression
// The list's selected item alone: short name as title, long name, the value centred.
void GUI_DrawMonitor(LIST* list);
void GUI_DrawMonitorStatus(LIST* list);  // "(DTC)" or "(CYCLE)" in the title by the filter
void GUI_DrawIptCounter(LIST* list);     // spark-ignition names in menu 38, else compression
void GUI_DrawEcuListItem(uint8_t ecuIdx, uint8_t y);  // a row of the ECU selection
void GUI_DrawEcuName(uint8_t ecuIdx);                 // "Acronym:" and "Name:" rows
void GUI_DrawOxygenSensorLocation();                  // of the active ECU
// "Neg. response:", the code, "=" and its short text; for 0x78 also the CVN waiting message.
void GUI_DrawInfoTypeNegRespCode(uint8_t code);
