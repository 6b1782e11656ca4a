// Module driver. Commands and requests go out through the USART transmit ring (at most six
// characters and the carriage return); answers come back through the receive ring one byte at a
// time into the receive state in force: initial, text (AT answers) or OBD (answers after ':').
// The waits count the 10 ms flag; before the module set-up is finished the host sets that flag
// only in its start-up handshakes, so the waits of the reset sequence run on the module's pace.
#include "link/qim.h"

#include <string.h>

#include "mcu.h"
#include "ui/lcd.h"
#include "usart.h"

QimState qim;

static uint8_t QIM_RxInitialState(uint8_t ch);
QIM_RX_FCT QIM_ProcessRxData = QIM_RxInitialState;

namespace {

constexpr uint8_t QIM_RESET_ATTEMPTS = 3;
constexpr uint8_t QIM_PROMPT_TICKS_AFTER_RESET = 200;  // 2 s
constexpr uint8_t QIM_PROMPT_TICKS_AFTER_ATSB1 = 5;    // 50 ms
constexpr uint8_t QIM_PROMPT_TICKS_AFTER_ATZ = 150;    // 1.5 s
constexpr uint8_t QIM_INIT_TICKS_PER_COMMAND = 5;      // 50 ms for "OK" and the prompt together

// The module's 19200 baud, selected by "ATSB1", on the controller's 8 MHz clock.
constexpr uint16_t QIM_UBRR_19200 = 51;
constexpr uint8_t QIM_UCSRB_ON = 0x98;  // receive-complete interrupt, receiver, transmitter
constexpr uint8_t QIM_UCSRC_8BITS = 0x06;
constexpr uint8_t QIM_UCSRA_DOUBLE_SPEED = 0x02;

constexpr uint8_t QIM_LENGTH(const char* text) {
  uint8_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

// Every line the driver sends must fit the transmit ring's seven waiting bytes: a command with
// one appended digit (or "ATSF" with two) and the carriage return.
constexpr bool QIM_CommandsFitTxRing() {
  for (const char* text : QIM_AT_CMD) {
    if (QIM_LENGTH(text) + 1 + 1 > USART_TX_BUF_SIZE - 1) return false;
  }
  return QIM_LENGTH(QIM_AT_CMD[QIM_ATSF - QIM_AT_CMD_FIRST_ID]) + 2 + 1 <= USART_TX_BUF_SIZE - 1;
}
static_assert(QIM_CommandsFitTxRing());
static_assert(QIM_LENGTH(QIM_AT_CMD[QIM_ATSF - QIM_AT_CMD_FIRST_ID]) == 4);
static_assert(QIM_CMD_ID[0] == QIM_ATE0 && QIM_CMD_ID[1] == QIM_ATL0 && QIM_CMD_ID[2] == QIM_ATOF1);

const char* QIM_AtCmdText(uint8_t id) {
  if (id < QIM_AT_CMD_FIRST_ID || id >= QIM_AT_CMD_FIRST_ID + QIM_AT_CMD_COUNT) return nullptr;
  return QIM_AT_CMD[id - QIM_AT_CMD_FIRST_ID];
}

}  // namespace

void QIM_InitState() {
  memset(&qim, 0, sizeof qim);
  qim.qimDataStartIdx = QIM_DATA_START_DEFAULT;
  QIM_ProcessRxData = QIM_RxInitialState;
  qimProtocol = 0;
}

// ---------------------------------------------------------------------------------------------
// Waiting

uint8_t QIM_WaitForChar(uint8_t ticks, uint8_t ch) {
  while (ticks != 0) {
    uint8_t c = USART_ReadChar();
    if (c == ch) break;
    if (gblTimer10msUpdate.exchange(0) != 0) --ticks;
    // Nothing waiting: sleep until a byte arrives or the next tick, as the main loop does.
    if (c == 255) MCU_IdleWait();
  }
  return ticks;
}

uint8_t QIM_WaitForPrompt(uint8_t ticks) { return QIM_WaitForChar(ticks, QIM_PROMPT) != 0 ? 1 : 0; }

// ---------------------------------------------------------------------------------------------
// Reset and initialisation

uint8_t QIM_ResetInit() {
  for (uint8_t attempt = 1;; ++attempt) {
    USART_InitTxRxBuf();
    PORTE &= static_cast<uint8_t>(~QIM_RESET_LINE);
    _delay_ms(100);
    PORTE |= QIM_RESET_LINE;
    _delay_ms(500);
    if (QIM_WaitForPrompt(QIM_PROMPT_TICKS_AFTER_RESET)) break;
    if (attempt == QIM_RESET_ATTEMPTS) {
      PORTE &= static_cast<uint8_t>(~QIM_RESET_LINE);  // a silent module stays held in reset
      return 0;
    }
  }

  LCD_SetBacklight(50, 150, 10);
  QIM_SendATx(QIM_ATSB1);
  if (!QIM_WaitForPrompt(QIM_PROMPT_TICKS_AFTER_ATSB1)) return 0;

  // The module answers "ATZ" only at its new baud rate: switch once the command is out.
  QIM_SendATx(QIM_ATZ);
  _delay_ms(10);
  USART_InitTxRxBuf();
  UBRR0 = QIM_UBRR_19200;
  UCSR0B = QIM_UCSRB_ON;
  UCSR0C = QIM_UCSRC_8BITS;
  UCSR0A = QIM_UCSRA_DOUBLE_SPEED;
  if (!QIM_WaitForPrompt(QIM_PROMPT_TICKS_AFTER_ATZ)) return 0;

  return QIM_Init();
}

uint8_t QIM_Init() {
  for (uint8_t id : QIM_CMD_ID) {
    QIM_SendATx(id);
    uint8_t ticks = QIM_WaitForChar(QIM_INIT_TICKS_PER_COMMAND, 'O');
    ticks = QIM_WaitForChar(ticks, 'K');
    ticks = QIM_WaitForChar(ticks, QIM_PROMPT);
    if (ticks == 0) return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Sending

void QIM_InitRx(uint8_t type) {
  USART_InitTxRxBuf();
  memset(qim.qimFrameBuf, 0, sizeof qim.qimFrameBuf);
  qim.qimFrameNo = 0;
  qim.qimNoOfChars = 0;
  qim.qimExpRespType = type;
  QIM_ProcessRxData = QIM_RxInitialState;
}

void QIM_SendATx(uint8_t id) {
  QIM_InitRx(QIM_EXP_AT);
  const char* text = QIM_AtCmdText(id);
  if (text == nullptr) return;
  USART_WriteStr(text);
  USART_StartTx();
}

void QIM_SendATxValue(uint8_t id, uint8_t value) {
  QIM_InitRx(QIM_EXP_AT);
  const char* text = QIM_AtCmdText(id);
  if (text == nullptr) return;
  USART_WriteStr(text);
  if (id == QIM_ATSF) {
    USART_WriteHexByte(value);  // ECU address, 00 for all ECUs
  } else {
    USART_WriteChar(static_cast<uint8_t>('0' + value));
  }
  USART_StartTx();
}

void QIM_SendObdReq(uint8_t service, uint8_t pidOrType, uint8_t frameNo) {
  QIM_InitRx(QIM_EXP_OBD);
  USART_WriteHexByte(service);
  if (service == 0x01 || service == 0x02 || service == 0x09) USART_WriteHexByte(pidOrType);
  if (service == 0x02) USART_WriteHexByte(frameNo);
  USART_StartTx();
}

// ---------------------------------------------------------------------------------------------
// Receiving

int8_t QIM_Char2HexNibble(uint8_t ch) {
  if (ch >= '0' && ch <= '9') return static_cast<int8_t>(ch - '0');
  if (ch >= 'A' && ch <= 'F') return static_cast<int8_t>(ch - 'A' + 10);
  if (ch >= 'a' && ch <= 'f') return static_cast<int8_t>(ch - 'a' + 10);
  return -1;
}

static uint8_t QIM_RxTextState(uint8_t ch);
static uint8_t QIM_RxObdState(uint8_t ch);

static uint8_t QIM_RxInitialState(uint8_t ch) {
  if (qim.qimExpRespType == QIM_EXP_OBD && ch == ':') {
    QIM_ProcessRxData = QIM_RxObdState;
    return QIM_RESP_NONE;
  }
  QIM_ProcessRxData = QIM_RxTextState;
  return QIM_RxTextState(ch);
}

// Only characters that were stored take part, so a short answer is never matched against what
// an earlier answer left in the buffer.
static uint8_t QIM_ClassifyText() {
  const uint8_t n = qim.qimNoOfChars;
  const uint8_t* t = qim.qimFrameBuf;
  if (n < 2) return QIM_RESP_NONE;
  if (t[0] == '?') return QIM_RESP_REJECTED;
  if (t[0] == 'O' && t[1] == 'K') return QIM_RESP_OK;
  if (n >= 3 && t[0] == 'N' && t[1] == 'O' && t[2] == ' ') return QIM_RESP_NO;
  if (n >= 3 && t[0] == 'C' && t[1] == 'A' && t[2] == 'N') return QIM_RESP_CAN;
  return QIM_RESP_TEXT;
}

static uint8_t QIM_RxTextState(uint8_t ch) {
  if (ch == QIM_PROMPT) {
    uint8_t code = QIM_ClassifyText();
    // The last line may end with the prompt instead of a carriage return ("NO DATA>"), and a
    // text of exactly 40 characters filled the buffer: either way it ends as a string here.
    uint8_t end = qim.qimNoOfChars < QIM_TEXT_BUF_SIZE ? qim.qimNoOfChars : QIM_TEXT_BUF_SIZE - 1;
    qim.qimFrameBuf[end] = 0;
    qim.qimNoOfChars = 0;
    QIM_ProcessRxData = QIM_RxInitialState;
    return code;
  }
  if (qim.qimNoOfChars >= QIM_TEXT_BUF_SIZE) {
    qim.qimFrameBuf[QIM_TEXT_BUF_SIZE - 1] = 0;  // cut to 39 characters, still terminated
    return QIM_RESP_NONE;
  }
  qim.qimFrameBuf[qim.qimNoOfChars++] = ch == QIM_CR ? 0 : ch;
  return QIM_RESP_NONE;
}

// Converts the line's hex pairs in place into bytes at the slot start, up to the first character
// that is not a hex digit, a lone last digit, or 12 bytes. The rest of the slot is cleared so
// that a short frame carries no characters of its own text as data.
static uint8_t QIM_LineToFrame(uint8_t* slot, uint8_t chars) {
  uint8_t made = 0;
  while (made < QIM_FRAME_SIZE && 2 * made + 1 < chars) {
    int8_t high = QIM_Char2HexNibble(slot[2 * made]);
    int8_t low = QIM_Char2HexNibble(slot[2 * made + 1]);
    if (high < 0 || low < 0) break;
    slot[made++] = static_cast<uint8_t>((high << 4) | low);
  }
  memset(&slot[made], 0, QIM_FRAME_SIZE - made);
  return made;
}

// The first line after ':' is the module's summary (byte and line count, 2 bytes); like any line
// without data after its header it is not counted, and the next line overwrites its slot.
static uint8_t QIM_RxObdState(uint8_t ch) {
  if (ch == QIM_PROMPT) {
    qim.qimNoOfFrames = qim.qimFrameNo;
    qim.qimNoOfChars = 0;
    qim.qimFrameNo = 0;
    QIM_ProcessRxData = QIM_RxInitialState;
    return QIM_RESP_OBD_DATA;
  }
  // With 16 frames stored, or once a line holds 25 characters, everything up to the prompt is
  // dropped: an overlong line loses itself and the rest of the answer.
  if (qim.qimFrameNo >= QIM_MAX_FRAMES || qim.qimNoOfChars >= QIM_MAX_LINE_CHARS) {
    return QIM_RESP_NONE;
  }
  uint8_t* slot = &qim.qimFrameBuf[qim.qimFrameNo * QIM_FRAME_SIZE];
  if (ch != QIM_CR) {
    slot[qim.qimNoOfChars++] = ch;
    return QIM_RESP_NONE;
  }
  if (qim.qimNoOfChars == 0) return QIM_RESP_NONE;  // the empty line before the prompt
  uint8_t made = QIM_LineToFrame(slot, qim.qimNoOfChars);
  qim.qimNoOfChars = 0;
  if (made > qim.qimDataStartIdx) ++qim.qimFrameNo;
  return QIM_RESP_NONE;
}

// ---------------------------------------------------------------------------------------------
// Connection details read from the answers

// "ATN" answers two characters, the second the protocol digit ("F6"). Anything else leaves the
// device unconnected rather than with a protocol byte made of garbage.
void QIM_SetProtocol() {
  uint8_t digit = qim.qimFrameBuf[1];
  if (digit < '0' || digit > '9') {
    qimProtocol = 0;
    return;
  }
  uint8_t number = static_cast<uint8_t>(digit - '0');
  uint8_t protocol = number;
  if (number >= 3 && number <= 5) protocol |= 0x10;  // K-line
  if (number >= 6) protocol |= 0x20;                 // CAN
  qimProtocol = protocol;
}

static uint8_t QIM_HexPair(const uint8_t* text) {
  int8_t high = QIM_Char2HexNibble(text[0]);
  int8_t low = QIM_Char2HexNibble(text[1]);
  if (high < 0 || low < 0) return 0;  // no key byte reported
  return static_cast<uint8_t>((high << 4) | low);
}

// "ATK" answers two hex pairs, with or without a space between them ("8F E9", "8FE9").
void QIM_SetKeyBytes() {
  const uint8_t* text = qim.qimFrameBuf;
  qim.qimKeyByte2 = QIM_HexPair(&text[0]);
  qim.qimKeyByte1 = QIM_HexPair(&text[text[2] == ' ' ? 3 : 2]);
}

// Non-CAN headers are format/priority, target, source: the source is the ECU. CAN identifiers
// come as four bytes (00 00 07 Ex or 18 DA F1 xx): the last one is the ECU.
uint8_t QIM_GetEcuAddr(uint8_t frame) {
  if (frame >= QIM_MAX_FRAMES) return 0;
  const uint8_t* slot = &qim.qimFrameBuf[frame * QIM_FRAME_SIZE];
  return (qimProtocol & 0x20) != 0 ? slot[3] : slot[2];
}

// ISO 14230-4 frames carry a separate length byte after the three header bytes when the key
// byte allows it (bit 1) and the format byte holds no length (low six bits zero).
void QIM_SetDataStartIdx() {
  uint8_t protocol = qimProtocol;
  if ((protocol & 0x20) != 0) {
    qim.qimDataStartIdx = 4;
    return;
  }
  uint8_t number = protocol & 0x0F;
  if ((number == 4 || number == 5) && (qim.qimKeyByte1 & 0x02) != 0 &&
      (qim.qimFrameBuf[0] & 0x3F) == 0) {
    qim.qimDataStartIdx = 4;
  } else {
    qim.qimDataStartIdx = QIM_DATA_START_DEFAULT;
  }
}
