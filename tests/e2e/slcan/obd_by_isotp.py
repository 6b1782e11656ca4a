# A CAN tool's view of Padix's car through python-can's slcan interface: OBD requests sent as raw
# ISO 15765-2 frames, multi-frame answers read with a flow control of the tool's own. Prints the
# engine speed, ECU 0's trouble codes and its VIN, one line each.
import sys

import can

bus = can.Bus(interface="slcan", channel=sys.argv[1], bitrate=500000, sleep_after_open=0)


def send(arbitration_id, data):
    bus.send(can.Message(arbitration_id=arbitration_id, is_extended_id=False,
                         data=bytes(data) + bytes(8 - len(data))))


def frame_from(arbitration_id):
    while True:
        message = bus.recv(timeout=5)
        if message is None:
            raise SystemExit("no answer from %03X" % arbitration_id)
        if message.arbitration_id == arbitration_id:
            return bytes(message.data)


def ask(request, functional=True):
    """The answer of ECU 0 (7E8) to the request, put together from its frames."""
    send(0x7DF if functional else 0x7E0, [len(request)] + list(request))
    first = frame_from(0x7E8)
    if first[0] >> 4 == 0:
        return first[1:1 + (first[0] & 0x0F)]
    length = (first[0] & 0x0F) << 8 | first[1]
    payload = bytearray(first[2:])
    send(0x7E0, [0x30, 0x00, 0x00])
    sequence = 1
    while len(payload) < length:
        frame = frame_from(0x7E8)
        if frame[0] != 0x20 | sequence:
            raise SystemExit("consecutive frame %02X out of turn" % frame[0])
        payload += frame[1:]
        sequence = (sequence + 1) & 0x0F
    return bytes(payload[:length])


rpm = ask([0x01, 0x0C])
print("rpm", (rpm[2] << 8 | rpm[3]) // 4)
codes = ask([0x03])
print("codes", codes.hex(" ").upper())
vin = ask([0x09, 0x02], functional=False)
print("vin", vin[3:].decode("ascii"))
bus.shutdown()
