// Answers to OBD requests from the simulated vehicle, laid out as the module prints them: one
// line per frame (CAN, ISO 15765-2 segmentation) or per message (J1850, ISO 9141-2, ISO 14230-4),
// with or without headers, the "OF1" summary line, and the spaced form of "ATH1".
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bus/iso_tp.h"
#include "vehicle/request_answer.h"
#include "vehicle/vehicle.h"

// Longest line in bytes: a CAN frame with a 4-byte identifier, frame control byte and 7 data
// bytes; a non-CAN line has 3 header bytes, at most 7 data bytes and the checksum.
constexpr size_t EMU_OBD_MAX_LINE_BYTES = 4 + 1 + 7;
static_assert(3 + EMU_KLINE_LINE_BYTES + 1 <= EMU_OBD_MAX_LINE_BYTES);

// Most lines of one ECU: non-CAN messages, or CAN frames of the longest message.
constexpr size_t EMU_OBD_MAX_CAN_FRAMES = emu_IsoTpFrameCount(EMU_CAN_MAX_MESSAGE);
// A table entry's 78 and its longest "then" answer: one frame and a long message.
static_assert(1 + emu_IsoTpFrameCount(EMU_TABLE_MAX_MESSAGE) <= EMU_OBD_MAX_CAN_FRAMES);
constexpr size_t EMU_OBD_MAX_ECU_LINES =
    EMU_ANSWER_MAX_LINES > EMU_OBD_MAX_CAN_FRAMES ? EMU_ANSWER_MAX_LINES : EMU_OBD_MAX_CAN_FRAMES;

// The answer buffers are sized for the longest answer the vehicle can give: eight ECUs with three
// calibration ids each on a non-CAN protocol, headers on, spaced ("ATH1": three characters a
// byte, the last one's space giving way to the CR), plus the summary line (":", two spaced
// bytes, CR), the empty last line and the prompt. Well above the module's own 1,024 characters,
// so no answer is ever cut; the writers stop at the end of their buffer all the same.
constexpr size_t EMU_OBD_RAW_BUF_SIZE =
    6 + EMU_MAX_ECUS * EMU_OBD_MAX_ECU_LINES * (2 * EMU_OBD_MAX_LINE_BYTES + 1) + 2 + 1;
constexpr size_t EMU_OBD_ANSWER_BUF_SIZE =
    7 + EMU_MAX_ECUS * EMU_OBD_MAX_ECU_LINES * (3 * EMU_OBD_MAX_LINE_BYTES) + 2 + 1;
static_assert(EMU_OBD_ANSWER_BUF_SIZE >= EMU_OBD_RAW_BUF_SIZE);

// Answers one OBD request line (service, PID or info type, freeze-frame number; 0 when absent;
// and the request's bytes as sent, for the ECUs' request/answer tables): "?" for requests
// neither the vehicle nor a table knows, "NO DATA" when the vehicle talks another protocol or no
// ECU answers, otherwise the answer of every ECU. In simulator mode a vehicle still on automatic
// settles on ISO 14230-4 (5-baud init) at its first request.
void emu_QimSendObdResponse(uint8_t service, uint8_t pid, uint8_t frame, const uint8_t* request = nullptr,
                            uint8_t n = 0);

// Builds and sends the answer of every ECU ("NO DATA" when none answers).
void emu_SendObdResponse(uint8_t service, uint8_t pid, uint8_t frame, const uint8_t* request = nullptr,
                         uint8_t n = 0);

// Builds the answer text, up to and including the prompt, into out. Returns the number of
// ECU lines; 0 when no ECU answers (out is then empty). Clears codes for service 04 and moves
// the jitter counters, as sending the answer would. An ECU that does not answer the request
// itself answers from its table when the request's bytes are given.
size_t emu_BuildObdAnswer(uint8_t service, uint8_t pid, uint8_t frame, char (&out)[EMU_OBD_ANSWER_BUF_SIZE],
                          const uint8_t* request = nullptr, uint8_t n = 0);

// emu_EcuAnswers and emu_RequestIsKnown: vehicle/request_answer.h.
