// Frame reassembly: turns the frames one ECU sent in the last OBD answer into one contiguous
// response (service byte first) in a 51-byte buffer. Non-CAN answers carry one OBD message per
// frame and are joined by per-service rules; CAN answers use single, first and consecutive frames.
// Nothing is ever stored beyond the buffer; counts kept in the response cover only what fits.
#pragma once

#include <stdint.h>

constexpr uint8_t D2O_OBD_DATA_BUF_SIZE = 51;

// Takes one frame (from its service byte, or on CAN from its control byte) and the response
// length so far; returns the new length, 0 to end the walk over the answer's frames.
typedef uint8_t (*D2O_REASSEMBLER)(const uint8_t* frame, uint8_t length);

struct D2oState {
  uint8_t d2o_obdDataBuf[D2O_OBD_DATA_BUF_SIZE];  // the response, reused for every ECU
  D2O_REASSEMBLER D2O_FrameReassembler;           // chosen by D2O_Init for the protocol
  uint16_t d2o_expectedLength;  // CAN: length announced by the first frame, at most 51
};
extern D2oState d2o;

void D2O_InitState();  // power-on: non-CAN reassembler, empty buffer
void D2O_Init();       // reassembler for the protocol in qimProtocol

// The last answer's response from the ECU with address ecuAddr; *length 0 when nothing was taken.
const uint8_t* D2O_GetObdData(uint8_t* length, uint8_t ecuAddr);

// Moves the non-zero ones of three 2-byte trouble codes to the front; returns how many there are.
uint8_t D2O_GetNoOfDtcs(uint8_t* bytes);

uint8_t D2O_ReassembleNonCan(const uint8_t* frame, uint8_t length);
uint8_t D2O_ReassembleCan(const uint8_t* frame, uint8_t length);
