// Module driver: resets the interface module and brings it into working mode, sends AT commands
// and OBD requests, and turns each answer (ended by the prompt '>') into one response code.
// Text answers stay in qimFrameBuf as zero-terminated lines; OBD answers become frames of bytes.
// The module's own side of the protocol is the simulator's (or the real module's) business.
#pragma once

#include <stdint.h>

// ---------------------------------------------------------------------------------------------
// AT commands, addressed by id; the table index is the id minus QIM_AT_CMD_FIRST_ID.
enum : uint8_t {
  QIM_ATZ = 64,  // reset sequence
  QIM_ATP,       // protocol scan, one digit appended (ATP1..ATP9)
  QIM_ATDP,      // protocol information screen
  QIM_ATN,       // protocol number the module settled on
  QIM_ATK,       // key bytes of a K-line connection
  QIM_ATKW,      // protocol scan, one digit appended (ATKW1, ATKW2)
  QIM_ATSB1,     // reset sequence: module to 19200 baud
  QIM_ATE0,      // initialisation, first
  QIM_ATL0,      // initialisation, second
  QIM_ATOF1,     // initialisation, third
  QIM_ATSF,      // ECU selection, two hex digits appended (ATSF00 = all ECUs)
  QIM_AT_00,     // system information: module firmware date
  QIM_AT_01,     // system information: module version
  QIM_AT_10,     // system information: supply voltage
};
constexpr uint8_t QIM_AT_CMD_FIRST_ID = QIM_ATZ;
constexpr uint8_t QIM_AT_CMD_COUNT = 14;

// clang-format off
inline constexpr const char* QIM_AT_CMD[QIM_AT_CMD_COUNT] = {
    "ATZ",    // 64
    "ATP",    // 65
    "ATDP",   // 66
    "ATN",    // 67
    "ATK",    // 68
    "ATKW",   // 69
    "ATSB1",  // 70
    "ATE0",   // 71
    "ATL0",   // 72
    "ATOF1",  // 73
    "ATSF",   // 74
    "AT!00",  // 75
    "AT!01",  // 76
    "AT!10",  // 77
};
// clang-format on

// Sent in this order by QIM_Init.
inline constexpr uint8_t QIM_CMD_ID[3] = {QIM_ATE0, QIM_ATL0, QIM_ATOF1};

// ---------------------------------------------------------------------------------------------
// Response codes: one per completed answer; 0 is never passed on.
enum : uint8_t {
  QIM_RESP_NONE = 0,      // fewer than 2 characters of text
  QIM_RESP_OBD_DATA = 1,  // an OBD answer that began with ':'; frames in the frame store
  QIM_RESP_TEXT = 2,      // any other text, kept in the frame buffer
  QIM_RESP_OK = 3,        // "OK..."
  QIM_RESP_NO = 4,        // "NO ..." (as in "NO DATA")
  QIM_RESP_CAN = 5,       // "CAN..." (a CAN error report)
  QIM_RESP_REJECTED = 6,  // "?"
};

// What the last thing sent was (qimExpRespType).
enum : uint8_t {
  QIM_EXP_OBD = 1,
  QIM_EXP_AT = 2,
};

constexpr uint8_t QIM_PROMPT = '>';
constexpr uint8_t QIM_CR = 13;
constexpr uint8_t QIM_RESET_LINE = 0x80;  // PORTE bit 7; 0 holds the module in reset

// Frame buffer limits. As a frame store: 16 slots of 12 bytes; a line's characters are written
// from its slot's start and may run over into the following slots, so the last slot needs room
// for a whole line of 25 characters. As a text buffer: 40 bytes, the text cut to 39 characters.
constexpr uint8_t QIM_MAX_FRAMES = 16;
constexpr uint8_t QIM_FRAME_SIZE = 12;
constexpr uint8_t QIM_MAX_LINE_CHARS = 25;
constexpr uint8_t QIM_TEXT_BUF_SIZE = 40;
constexpr uint16_t QIM_FRAME_BUF_SIZE =
    (QIM_MAX_FRAMES - 1) * QIM_FRAME_SIZE + QIM_MAX_LINE_CHARS;  // 205
static_assert(QIM_FRAME_BUF_SIZE >= QIM_TEXT_BUF_SIZE);
static_assert(QIM_MAX_LINE_CHARS >= 2 * QIM_FRAME_SIZE);  // a full 12-byte frame fits a line

constexpr uint8_t QIM_DATA_START_DEFAULT = 3;

struct QimState {
  uint8_t qimFrameBuf[QIM_FRAME_BUF_SIZE];  // text buffer or frame store, reset at every send
  uint8_t qimNoOfChars;                     // characters stored in the current line
  uint8_t qimFrameNo;                       // slot being filled
  uint8_t qimNoOfFrames;                    // complete frames of the last OBD answer
  uint8_t qimExpRespType;                   // QIM_EXP_OBD or QIM_EXP_AT
  uint8_t qimKeyByte1;                      // second key byte reported; the one interpreted
  uint8_t qimKeyByte2;                      // first key byte reported
  uint8_t qimDataStartIdx;                  // index of the first byte after the frame header
};
extern QimState qim;

typedef uint8_t (*QIM_RX_FCT)(uint8_t ch);
extern QIM_RX_FCT QIM_ProcessRxData;  // the receive state in force; returns a response code

void QIM_InitState();     // every driver variable (and qimProtocol) to its power-on value
uint8_t QIM_ResetInit();  // 1 when the module answered and is initialised
uint8_t QIM_Init();       // 1 when every initialisation command was answered "OK" in time

uint8_t QIM_WaitForChar(uint8_t ticks, uint8_t ch);  // 10 ms ticks left when ch came, else 0
uint8_t QIM_WaitForPrompt(uint8_t ticks);            // 1 when the prompt came in time

void QIM_InitRx(uint8_t type);
void QIM_SendATx(uint8_t id);
void QIM_SendATxValue(uint8_t id, uint8_t value);
void QIM_SendObdReq(uint8_t service, uint8_t pidOrType, uint8_t frameNo);

int8_t QIM_Char2HexNibble(uint8_t ch);  // -1 for anything but a hex digit
void QIM_SetProtocol();                 // from the "ATN" answer in the frame buffer
void QIM_SetKeyBytes();                 // from the "ATK" answer in the frame buffer
uint8_t QIM_GetEcuAddr(uint8_t frame);
void QIM_SetDataStartIdx();
