#!/usr/bin/env python3
"""How much a kill -9 in a busy run costs: the simulator answers coins in
lock-step on a pseudo-terminal, is killed, and its counters file is compared
with what was acknowledged. Usage: bench/kill_loss.py [build/app/volmarsim] [runs]"""
import os, pty, select, shutil, signal, struct, subprocess, sys, tempfile, time, tty

program = sys.argv[1] if len(sys.argv) > 1 else "build/app/volmarsim"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
folder = tempfile.mkdtemp(prefix="volmarkill")
os.makedirs(folder + "/rt", mode=0o700)
shutil.copy(program, folder)
master, slave = pty.openpty()
tty.setraw(master)
with open(folder + "/VolmarSim.Ini", "w") as ini:
    ini.write(f"[Devices]\nCOM1={os.ttyname(slave)}\n[Comms]\nPort=1\n")
env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=folder + "/rt")


def read_byte(timeout):
    ready, _, _ = select.select([master], [], [], timeout)
    return os.read(master, 1)[0] if ready else -1


def start():
    p = subprocess.Popen([folder + "/" + os.path.basename(program)], env=env,
                         stderr=subprocess.DEVNULL)
    assert read_byte(15) == 0x15, "no NAK: the simulator did not open the line"
    return p


saved_before = 0
p = start()
for run in range(runs):
    acked = []
    end = time.monotonic() + 3 + run * 0.37
    while time.monotonic() < end:
        os.write(master, b"\x26\x26")
        answer = read_byte(3)
        while answer == 0x15:
            answer = read_byte(3)
        assert answer == 0x06
        acked.append(time.monotonic())
    killed = time.monotonic()
    p.send_signal(signal.SIGKILL)
    p.wait()
    with open(folder + "/COUNTERS.DAT", "rb") as f:
        saved = struct.unpack_from("<i", f.read(), 8 * 0x26)[0]
    got = saved - saved_before
    saved_before = saved
    age = killed - acked[got - 1] if got > 0 else float("nan")
    print(f"acked {len(acked)}  in the file {got}  missing {len(acked) - got}  "
          f"newest count in the file acked {age:.2f} s before the kill")
    p = start()
p.send_signal(signal.SIGTERM)
p.wait()
shutil.rmtree(folder)
