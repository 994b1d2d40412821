#!/usr/bin/env python3
"""libfprint's matcher on a set of impressions, as the matcher's peer.

Drives libfprint's virtual image device through GObject introspection, the
way a program using libfprint would: the device reads each picture from a
socket, enrolls a finger from its own number of stages, and verifies a
picture against an enrolled finger at its own threshold. The trials are the
ones matcher_benchmark scores for the same comparison:

- each finger is enrolled from its impressions 0, 1, 2, ... (as many as the
  device's stages ask for, again from 0 when a picture is refused);
- genuine: its impressions 5, 6 and 7 are verified against it;
- impostor: impression 5 of each of the next M fingers is verified against
  it.

    libfprint_peer.py SET_DIR FINGERS M OUT [PARTS]

PARTS processes (1 by default) share the fingers, each with a virtual
device of its own.

OUT gets one line per trial ("genuine F K 1" or "impostor F G K 0", 1 for a
match) and two summary lines, which go to the standard output too. Exit status 2 when
libfprint or its introspection data are missing.
"""
import os
import queue
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

try:
    import gi
    gi.require_version("FPrint", "2.0")
    from gi.repository import FPrint, Gio, GLib
except (ImportError, ValueError) as e:
    print(f"libfprint through GObject introspection is missing: {e}", file=sys.stderr)
    sys.exit(2)

ENROLL_FROM = 5  # impressions 0..4 may enroll
GENUINE = (5, 6, 7)
IMPOSTOR_IMPRESSION = 5


def read_pgm(path):
    with open(path, "rb") as f:
        data = f.read()
    magic, size, depth, pixels = data.split(b"\n", 3)
    width, height = map(int, size.split())
    if magic != b"P5" or depth != b"255" or len(pixels) != width * height:
        raise ValueError(f"{path}: not an 8-bit PGM")
    return width, height, pixels


# A step (an enrollment or one verification) not over after this long is
# cancelled: the device lost a picture. A step that fails counts as failed
# (no enrollment, no match) and the device is opened afresh.
STEP_SECONDS = 60
# A picture asked for from a progress report is sent this much later, once
# the device is capturing again: one that comes earlier is dropped.
RESEND_DELAY = 0.3


class Sender(threading.Thread):
    """Writes pictures to the device's socket off the main loop, which the
    device needs to read them: a write from the loop itself could wait
    forever on a full socket."""

    def __init__(self, link):
        super().__init__(daemon=True)
        self.link = link
        self.queue = queue.Queue()
        self.start()

    def send(self, data, delay=0.0):
        self.queue.put((delay, data))

    def run(self):
        while True:
            item = self.queue.get()
            if item is None:
                return
            delay, data = item
            time.sleep(delay)
            try:
                self.link.sendall(data)
            except OSError:
                return

    def stop(self):
        self.queue.put(None)
        self.link.shutdown(socket.SHUT_RDWR)
        self.join()
        self.link.close()


class Peer:
    def __init__(self, set_dir, socket_path):
        self.set_dir = set_dir
        self.socket_path = socket_path
        self.device = None
        self.cancelled = 0
        self.errors = {}  # message -> count
        self.cooled = 0.0  # seconds waited for the device to cool
        for d in FPrint.Context().get_devices():
            if d.get_driver() == "virtual_image":
                self.device = d
        if self.device is None:
            raise RuntimeError("libfprint offers no virtual image device")
        self.open()

    def open(self):
        self.device.open_sync()
        link = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        for _ in range(50):
            try:
                link.connect(self.socket_path)
                break
            except OSError:
                time.sleep(0.1)
        self.sender = Sender(link)

    def close(self):
        self.sender.stop()
        self.device.close_sync()

    def send(self, finger, impression, delay=0.0):
        path = os.path.join(self.set_dir, f"f{finger:05d}_{impression}.pgm")
        width, height, pixels = read_pgm(path)
        self.sender.send(struct.pack("ii", width, height) + pixels, delay)

    def cool(self):
        """Waits while the device is too hot to work: libfprint disables a
        device that has worked for a few minutes until it has cooled."""
        context = GLib.MainContext.default()
        while self.device.get_temperature() == FPrint.Temperature.HOT:
            while context.pending():
                context.iteration(False)
            time.sleep(0.5)
            self.cooled += 0.5

    def step(self, start, call):
        """start() sends the step's first picture, call(cancellable) runs it,
        bounded by STEP_SECONDS; None when it failed. A step the device
        refused because it was too hot runs again once it has cooled."""
        for _ in range(3):
            self.cool()
            start()
            cancellable = Gio.Cancellable()
            watchdog = threading.Timer(STEP_SECONDS, cancellable.cancel)
            watchdog.start()
            error = None
            try:
                return call(cancellable)
            except GLib.Error as e:
                error = e
            finally:
                watchdog.cancel()
                if cancellable.is_cancelled():
                    self.cancelled += 1
            # Pictures still on their way would be read by the next step.
            self.close()
            self.open()
            if not error.matches(FPrint.DeviceError.quark(), FPrint.DeviceError.TOO_HOT):
                self.errors[error.message] = self.errors.get(error.message, 0) + 1
                return None
        return None

    def enroll(self, finger):
        order = []

        def start():
            order[:] = [i % ENROLL_FROM for i in range(3 * ENROLL_FROM)]
            self.send(finger, order.pop(0))

        def progress(device, stage, _print, _data, error):
            # Another picture while the device still needs one.
            if (error is not None or stage < device.get_nr_enroll_stages()) and order:
                self.send(finger, order.pop(0), RESEND_DELAY)

        return self.step(start, lambda c: self.device.enroll_sync(FPrint.Print.new(self.device),
                                                                  c, progress, None))

    def verify(self, enrolled, finger, impression):
        result = self.step(lambda: self.send(finger, impression),
                           lambda c: self.device.verify_sync(enrolled, c, None, None))
        return result is not None and bool(result[0])


def run_part(set_dir, fingers, impostors, part, parts, out_path):
    """Runs the trials of fingers part, part + parts, ... into out_path."""
    folder = tempfile.mkdtemp(prefix="libfprint-peer-")
    socket_path = os.path.join(folder, "virtual-image")
    os.environ["FP_VIRTUAL_IMAGE"] = socket_path
    peer = Peer(set_dir, socket_path)
    lines = []
    verify_seconds = 0.0
    for f in range(part, fingers, parts):
        enrolled = peer.enroll(f)
        if enrolled is None:
            lines.append(f"enroll {f} failed")
        for k in GENUINE:
            t = time.monotonic()
            ok = enrolled is not None and peer.verify(enrolled, f, k)
            verify_seconds += time.monotonic() - t
            lines.append(f"genuine {f} {k} {int(ok)}")
        for m in range(1, impostors + 1):
            g = (f + m) % fingers
            ok = enrolled is not None and peer.verify(enrolled, g, IMPOSTOR_IMPRESSION)
            lines.append(f"impostor {f} {g} {IMPOSTOR_IMPRESSION} {int(ok)}")
    lines.append(f"verify-seconds {verify_seconds:.3f}")
    lines.append(f"cancelled {peer.cancelled}")
    for message, count in peer.errors.items():
        print(f"part {part}: {count} x {message}", file=sys.stderr)
    if peer.cooled:
        print(f"part {part}: {peer.cooled:.0f} s waiting for the device to cool", file=sys.stderr)
    peer.close()
    shutil.rmtree(folder, ignore_errors=True)
    with open(out_path, "w") as out:
        out.write("\n".join(lines) + "\n")


def main(argv):
    if len(argv) not in (5, 6):
        print(__doc__, file=sys.stderr)
        return 2
    set_dir, fingers, impostors, out_path = argv[1], int(argv[2]), int(argv[3]), argv[4]
    parts = int(argv[5]) if len(argv) == 6 else 1
    if "LIBFPRINT_PEER_PART" in os.environ:
        run_part(set_dir, fingers, impostors, int(os.environ["LIBFPRINT_PEER_PART"]), parts,
                 out_path)
        return 0
    # The device waits between pictures far longer than it computes: the
    # parts run at once, each with its own device and socket.
    started = time.monotonic()
    children = []
    for part in range(parts):
        env = dict(os.environ, LIBFPRINT_PEER_PART=str(part))
        children.append(subprocess.Popen(
            [sys.executable, argv[0], set_dir, str(fingers), str(impostors),
             f"{out_path}.{part}", str(parts)], env=env))
    if any(child.wait() != 0 for child in children):
        print("a part of the trials failed", file=sys.stderr)
        return 1
    lines, enroll_failed, verify_seconds, cancelled = [], 0, 0.0, 0
    genuine = [0, 0]  # trials, matches
    impostor = [0, 0]
    for part in range(parts):
        with open(f"{out_path}.{part}") as f:
            for line in f.read().splitlines():
                words = line.split()
                if words[0] == "verify-seconds":
                    verify_seconds += float(words[1])
                    continue
                if words[0] == "cancelled":
                    cancelled += int(words[1])
                    continue
                lines.append(line)
                if words[0] == "enroll":
                    enroll_failed += 1
                elif words[0] == "genuine":
                    genuine[0] += 1
                    genuine[1] += int(words[3])
                elif words[0] == "impostor":
                    impostor[0] += 1
                    impostor[1] += int(words[4])
        os.remove(f"{out_path}.{part}")
    summary = (f"libfprint enrolled {fingers - enroll_failed} of {fingers}, "
               f"{genuine[0]} genuine and {impostor[0]} impostor trials in "
               f"{time.monotonic() - started:.0f} s ({parts} at once), "
               f"{cancelled} steps cancelled after {STEP_SECONDS} s\n"
               f"libfprint FMR {impostor[1] / max(1, impostor[0]):.5f} "
               f"FNMR {1 - genuine[1] / max(1, genuine[0]):.5f} "
               f"verify {1000 * verify_seconds / max(1, genuine[0]):.1f} ms\n")
    with open(out_path, "w") as out:
        out.write("\n".join(lines) + "\n" + summary)
    print(summary, end="")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
