# A UDS tester that is not Padix's: scapy's UDS layer over its own ISO 15765-2 (soft socket) over
# python-can's slcan interface, on the engine ECU of examples/vehicles/uds_ecu.toml (7E0 / 7E8).
# It opens the extended session, unlocks level 1 (key = seed XOR FFFF, the example's rule),
# writes a new VIN (a request of several frames), reads it back, reads the codes by status,
# resets the ECU and finds it locked again. Prints one line a step: what the ECU answered.
import sys

from scapy.config import conf

conf.contribs["CANSocket"] = {"use-python-can": True}
conf.contribs["ISOTP"] = {"use-can-isotp-kernel-module": False}

from scapy.contrib.automotive import uds  # noqa: E402
from scapy.contrib.cansocket_python_can import PythonCANSocket  # noqa: E402
from scapy.contrib.isotp import ISOTPSoftSocket  # noqa: E402

NEW_VIN = b"PDX1234567890ABCD"

can_socket = PythonCANSocket(interface="slcan", channel=sys.argv[1], bitrate=500000, sleep_after_open=0)
tester = ISOTPSoftSocket(can_socket, tx_id=0x7E0, rx_id=0x7E8, padding=True, basecls=uds.UDS)


def ask(request):
    """The ECU's answer's bytes (its pending answers skipped), upper-case hex."""
    for _ in range(3):
        answer = tester.sr1(uds.UDS() / request, timeout=5, verbose=False)
        if answer is None:
            raise SystemExit("no answer to " + bytes(request).hex())
        raw = bytes(answer)
        if raw[:1] != b"\x7f" or raw[2:3] != b"\x78":
            return raw
    raise SystemExit("still pending")


def show(step, raw):
    print(step, raw.hex(" ").upper())


try:
    show("session", ask(uds.UDS_DSC(diagnosticSessionType=3)))
    seed = ask(uds.UDS_SA(securityAccessType=1))
    show("seed", seed)
    key = bytes(b ^ 0xFF for b in seed[2:])
    show("key", ask(uds.UDS_SA(securityAccessType=2, securityKey=key)))
    show("write", ask(uds.UDS_WDBI(dataIdentifier=0xF190) / NEW_VIN))
    vin = ask(uds.UDS_RDBI(identifiers=[0xF190]))
    print("vin", vin[3:].decode("ascii"))
    show("codes", ask(uds.UDS_RDTCI(reportType=2, DTCStatusMask=0xFF)))
    show("reset", ask(uds.UDS_ER(resetType=1)))
    show("locked", ask(uds.UDS_SA(securityAccessType=1)))
    ask(uds.UDS_DSC(diagnosticSessionType=3))
    show("seed again", ask(uds.UDS_SA(securityAccessType=1)))
finally:
    tester.close()
    can_socket.close()
