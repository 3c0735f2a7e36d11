#!/usr/bin/env python3
"""The bare console for real: a screen PC in QEMU (software emulation, no KVM) with a virtual GPU
that has a real kernel DRM/KMS driver, the package built from this tree installed with apt, the
display run by its system unit against timetable-sim on this machine, and the monitor's picture
taken by QEMU itself (screendump) and compared with plasma-render's page.

    console_vm_test.py BUILD-DIR

Three boots of one guest disk (a throw-away overlay of the cached image):
  1. virtio-gpu at its own 1280x800: install, enable --now, the page on the monitor, the login
     prompt kept off, the monitor switched off and on, stop (inactive, status 0, no core dump, the
     console back).
  2. virtio-gpu with two heads at 1920x1080, the unit enabled at boot: the splash, power-on to page,
     start to READY, peak memory; SCREEN 1 on the second head, which had no monitor when it
     started; a second display on the card, which takes over when the first one stops.
  3. bochs-display (another kernel driver) at 1280x800: power-on to page, stop.

Exit 0 when every check passed, 1 when one failed, 77 when this machine cannot run the VM (not
root, no QEMU). Figures and failures are printed; the screendumps, the guest's journal and the
serial log stay in CONSOLE_VM_KEEP (a folder) when that is set.
Environment: CONSOLE_VM_CACHE (the guest image, default ~/.cache/plasma-display-console-vm),
CONSOLE_VM_BOOT_TIMEOUT (seconds for a boot to reach a shell, default 300).
"""
import glob
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GUEST_SIM = "10.0.2.100:8080"  # where the guest finds the timetable server
BOOT_TIMEOUT = float(os.environ.get("CONSOLE_VM_BOOT_TIMEOUT", "300"))

failures = []


def fail(what):
    failures.append(what)
    print("FAIL: " + what, flush=True)


def note(what):
    print(what, flush=True)


def skip(why):
    print("SKIPPED: " + why, flush=True)
    sys.exit(77)


class Guest:
    """One boot of the guest: QEMU in the background, a root shell on its serial line, its
    monitor for screendumps."""

    def __init__(self, work, image, disk, gpu, sim_port, name, kernel_args=""):
        self.work, self.name = work, name
        self.run = os.path.join(work, "run-" + name)
        os.makedirs(self.run)
        self.serial_path = os.path.join(self.run, "serial.sock")
        self.monitor_path = os.path.join(self.run, "monitor.sock")
        share = os.path.join(work, "share")
        cmd = [
            "qemu-system-x86_64", "-nodefaults", "-machine", "q35", "-accel", "tcg,thread=multi",
            "-cpu", "max", "-smp", "2", "-m", "1024",
            "-kernel", os.path.join(image, "vmlinuz"), "-initrd", os.path.join(image, "initrd.img"),
            "-append", "root=/dev/vda rw console=tty0 console=ttyS0,115200 loglevel=4 " + kernel_args,
            "-drive", "file=%s,if=virtio,format=qcow2,cache=unsafe" % disk,
            # The guest's network reaches nothing but the timetable server on this machine.
            "-netdev", "user,id=n0,restrict=on,guestfwd=tcp:%s-cmd:socat STDIO TCP:127.0.0.1:%d"
            % (GUEST_SIM, sim_port),
            "-device", "virtio-net-pci,netdev=n0",
            "-device", gpu, "-display", "none",
            "-chardev", "socket,id=ser0,path=%s,server=on,wait=off,logfile=%s"
            % (self.serial_path, os.path.join(self.run, "serial.log")),
            "-serial", "chardev:ser0",
            "-monitor", "unix:%s,server=on,wait=off" % self.monitor_path,
            "-virtfs", "local,path=%s,mount_tag=share,security_model=none,id=share" % share,
        ]
        self.started = time.monotonic()
        self.log = open(os.path.join(self.run, "qemu.log"), "wb")
        # Bounded whatever happens to this script.
        self.proc = subprocess.Popen(["timeout", "900"] + cmd, stdout=self.log, stderr=subprocess.STDOUT)
        self.serial = None
        self.monitor = None

    def since_start(self):
        return time.monotonic() - self.started

    def _connect(self, path):
        end = time.monotonic() + 10
        while True:
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.connect(path)
                return s
            except OSError:
                if time.monotonic() > end or self.proc.poll() is not None:
                    raise
                time.sleep(0.1)

    def wait_shell(self, timeout):
        """Waits for the root shell on the serial line; False when it did not come."""
        self.serial = self._connect(self.serial_path)
        self.serial.settimeout(0.5)
        end = time.monotonic() + timeout
        buf = b""
        last_poke = 0
        while time.monotonic() < end and self.proc.poll() is None:
            if time.monotonic() - last_poke > 3:
                self.serial.sendall(b"\n")
                last_poke = time.monotonic()
            try:
                buf = (buf + self.serial.recv(65536))[-4096:]
            except socket.timeout:
                pass
            if re.search(rb"root@[\w-]+:[^\n]*# ?$", buf):
                return True
        return False

    def sh(self, command, timeout=60):
        """Runs a shell command in the guest; (exit status, output). 124 when it did not end."""
        tag = "T%d" % (int(time.monotonic() * 1000) % 10**9)
        line = "stty -echo cols 250; echo %s_B; ( %s ) 2>&1; echo %s_E $?\n" % (tag, command, tag)
        if len(line) > 3500:
            raise ValueError("a guest command longer than the terminal's line")
        self._drain()
        self.serial.sendall(line.encode())
        pattern = re.compile(("%s_B\r?\n(.*)%s_E (\\d+)" % (tag, tag)).encode(), re.S)
        buf = b""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                buf += self.serial.recv(65536)
            except socket.timeout:
                pass
            m = pattern.search(buf)
            if m:
                return int(m.group(2)), m.group(1).decode(errors="replace").replace("\r", "")
        # Whatever hangs is interrupted, so the next command gets the shell.
        self.serial.sendall(b"\x03\n")
        return 124, buf.decode(errors="replace").replace("\r", "")

    def out(self, command, timeout=60):
        return self.sh(command, timeout)[1].strip()

    def _drain(self):
        self.serial.settimeout(0.05)
        try:
            while self.serial.recv(65536):
                pass
        except socket.timeout:
            pass
        finally:
            self.serial.settimeout(0.5)

    def mon(self, command):
        if self.monitor is None:
            self.monitor = self._connect(self.monitor_path)
            self.monitor.settimeout(30)
            self._read_prompt()
        self.monitor.sendall(command.encode() + b"\n")
        return self._read_prompt()

    def _read_prompt(self):
        buf = b""
        while not buf.rstrip().endswith(b"(qemu)"):
            data = self.monitor.recv(65536)
            if not data:
                raise OSError("QEMU's monitor closed")
            buf += data
        return re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "", buf.decode(errors="replace"))

    def screendump(self, path, head=0):
        """The head's picture as PPM, or as PNG when the path ends in .png."""
        if os.path.exists(path):
            os.unlink(path)
        self.mon("screendump %s%s gpu0 %d" % (path, " -f png" if path.endswith(".png") else "", head))
        return os.path.exists(path)

    def stop(self):
        if self.serial is not None and self.proc.poll() is None:
            try:
                # The disk goes on to the next boot: written out first; the units need no orderly stop.
                self.serial.sendall(b"sync; systemctl poweroff --force\n")
            except OSError:
                pass
        try:
            self.proc.wait(60)
        except subprocess.TimeoutExpired:
            self.proc.terminate()
            self.proc.wait(10)
        self.log.close()


def compare(tool, shot, page, diff=None):
    """(identical, the comparison's one line)."""
    args = [tool, shot, page] + ([diff] if diff else [])
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return r.returncode == 0, r.stdout.strip()


SPLASH = ("417", "326")  # the splash's size: drawn centred on black before the first page


def wait_for_page(guest, tool, page, shot, timeout, head=0, interval=0.5, seen=None):
    """Screendumps until the monitor shows exactly the page; the time it took, or None with the
    last comparison. `seen`, a list, gets "splash" when a screendump showed the splash."""
    start = time.monotonic()
    last = "no screendump"
    while time.monotonic() - start < timeout:
        if guest.screendump(shot, head):
            same, last = compare(tool, shot, page)
            if same:
                return time.monotonic() - start, last
            if seen is not None and "splash" not in seen and subprocess.run(
                    [tool, "--box", SPLASH[0], SPLASH[1], shot], stdout=subprocess.DEVNULL).returncode == 0:
                seen.append("splash")
        time.sleep(interval)
    return None, last


def status_page(guest, instance):
    text = guest.out("cat /run/plasma-display/status-%s.json 2>/dev/null" % instance)
    m = re.search(r'"page": "([^"]*)"', text)
    return m.group(1) if m else None


def wait_status(guest, instance, wanted, timeout):
    end = time.monotonic() + timeout
    page = None
    while time.monotonic() < end:
        page = status_page(guest, instance)
        if page == wanted:
            return True, page
        time.sleep(1)
    return False, page


def unit_state(guest, unit):
    text = guest.out("systemctl show %s -p ActiveState -p Result -p ExecMainCode -p ExecMainStatus" % unit)
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def journal_seconds(guest, unit, pattern, last=False):
    """Monotonic time (s) of the journal's first (or last) line of the unit matching the pattern."""
    text = guest.out("journalctl -b -o short-monotonic --no-pager -u %s | grep -E '%s' | %s -n 1"
                     % (unit, pattern, "tail" if last else "head"))
    m = re.match(r"\[\s*([0-9.]+)\]", text)
    return float(m.group(1)) if m else None


def start_to_ready(guest, unit):
    started = journal_seconds(guest, unit, "Starting ")
    ready = journal_seconds(guest, unit, "Started ")
    return None if started is None or ready is None else ready - started


def check_stop(guest, instance, tool, page, shot, head=0):
    unit = "plasma-display@%s" % instance
    t0 = time.monotonic()
    status, text = guest.sh("systemctl stop %s" % unit, 60)
    took = time.monotonic() - t0
    state = unit_state(guest, unit)
    note("systemctl stop %s: %.1f s (round trip over the serial line), %s" % (unit, took, state))
    if status != 0:
        fail("systemctl stop %s: %s" % (unit, text))
    if state.get("ActiveState") != "inactive" or state.get("Result") != "success":
        fail("after a stop %s is %s, result %s" % (unit, state.get("ActiveState"), state.get("Result")))
    if state.get("ExecMainCode") not in ("0", "1") or state.get("ExecMainStatus") != "0":
        fail("the display did not exit with status 0 on SIGTERM: %s" % state)
    # A unit that is not enabled is unloaded as soon as it stops and then shows systemd's defaults
    # (ExecMainCode 0); the journal tells how it ended either way.
    ending = guest.out("journalctl -b -u %s --no-pager -o cat | grep -E 'Main process exited|Failed with result|"
                       "Deactivated successfully|dumped core' | tail -n 2" % unit)
    if "Deactivated successfully" not in ending or re.search(r"Failed with result|code=(dumped|killed)|status=[1-9]",
                                                            ending):
        fail("%s did not end cleanly: %s" % (unit, ending.replace("\n", " / ")))
    cores = guest.out("coredumpctl list --no-pager --no-legend 2>/dev/null")
    if cores:
        fail("core dumps in the guest: %s" % cores)
    began = journal_seconds(guest, unit, "stopping on Terminated", last=True)
    ended = journal_seconds(guest, unit, "Deactivated successfully|Failed with result", last=True)
    if began is not None and ended is not None:
        note("  SIGTERM to the end of the unit: %.2f s in the guest" % (ended - began))
        if ended - began > 3:
            fail("the display took %.1f s to end on SIGTERM" % (ended - began))
    stopping = guest.out("journalctl -b -u %s --no-pager -o cat | grep -E 'stopping on|Stopped|Deactivated' | tail -3"
                         % unit)
    note("  journal: " + " / ".join(stopping.splitlines()))
    # The console's own picture is back: the monitor no longer shows the page, and text written to
    # the console shows on it.
    if guest.screendump(shot, head):
        same, _ = compare(tool, shot, page)
        if same:
            fail("after the stop the monitor still shows the page (the console's mode was not put back)")
    if head == 0:
        after = shot[:-4] + "-console.png"
        guest.sh("printf '\\n  the console is back\\n' > /dev/tty1")
        time.sleep(1)
        if guest.screendump(after, head) and compare(tool, shot, after)[0]:
            fail("after the stop text written to the console does not show on the monitor")


def boot_one(guest, args):
    """1280x800, one head: install, start, page, login prompt, monitor off and on, stop."""
    g, tool = guest, args["tool"]
    page = args["1280x800"]
    shot = os.path.join(g.run, "shot.ppm")
    if not g.wait_shell(BOOT_TIMEOUT):
        fail("boot 1: no shell on the serial line within %d s" % BOOT_TIMEOUT)
        return
    note("boot 1 (virtio-gpu, one head, 1280x800): shell after %.0f s" % g.since_start())
    note("  " + g.out("ls /dev/dri; for f in /sys/class/drm/card0-*/status; do echo $f $(cat $f); done | tr '\\n' ' '"))
    status, text = g.sh("mountpoint -q /share || mount /share; DEBIAN_FRONTEND=noninteractive "
                        "apt-get install -y --no-install-recommends /share/%s 2>&1 | tail -n 3" % args["deb_name"], 300)
    if status != 0 or g.sh("test -x /usr/bin/plasma-display")[0] != 0:
        fail("apt install of the package in the guest: %s" % text)
        return
    gl = g.out("dpkg-query -W -f '${Package}\\n' | grep -E '^(libegl|libgles|libgbm|libgl1|libglx|mesa|libosmesa)' || true")
    if gl:
        fail("GL, EGL, GBM or Mesa in the guest: %s" % gl.replace("\n", " "))
    g.sh("mkdir -p /etc/plasma-display; echo PLASMA_BASE_URL=http://%s > /etc/plasma-display/default.conf" % GUEST_SIM)
    g.sh("systemctl start getty@tty1")

    t0 = time.monotonic()
    status, text = g.sh("systemctl enable --now plasma-display@1-0 2>&1", 180)
    note("systemctl enable --now plasma-display@1-0: %.1f s, status %d" % (time.monotonic() - t0, status))
    if status != 0:
        fail("enable --now: %s" % text)
    took, last = wait_for_page(g, tool, page, shot, 60)
    if took is None:
        fail("boot 1: the monitor never showed the page (%s)" % last)
        shutil.copy(shot, os.path.join(g.run, "no-page.ppm")) if os.path.exists(shot) else None
    else:
        note("page on the monitor, pixel for pixel: %s" % last)
    ok, seen = wait_status(g, "1-0", "type1", 10)
    if not ok:
        fail("the status names page %s, not type1" % seen)
    if g.out("systemctl is-active getty@tty1") == "active":
        fail("the login prompt on tty1 runs beside the display")
    notices = g.out("journalctl -b -u plasma-display@1-0 --no-pager -o cat | grep -m1 'showing on'")
    note("  start-up line: " + notices)
    warned = g.out("journalctl -b -u plasma-display@1-0 --no-pager -p warning -o cat")
    if warned:
        fail("journalctl -p warning lists more than failures: %s" % warned.replace("\n", " / "))

    # The monitor switched off: the display sees it, says so, and the status names no page; back
    # on, the page returns without a restart.
    pid = g.out("systemctl show -p MainPID --value plasma-display@1-0")
    connector = g.out("ls -d /sys/class/drm/card0-*-1 | head -n 1")
    g.sh("echo off > %s/status" % connector)
    ok, seen = wait_status(g, "1-0", "none", 15)
    if not ok:
        fail("with the monitor off the status still names page %s" % seen)
    g.sh("echo on > %s/status" % connector)
    t0 = time.monotonic()
    # QEMU keeps showing the last frame of a head whose connector is off, so the status (a page only
    # once a mode set on the returning monitor succeeded) says when the page is back.
    ok, seen = wait_status(g, "1-0", "type1", 15)
    if not ok:
        fail("after the monitor came back the status names %s" % seen)
    else:
        note("monitor off and on: the page back on it within %.1f s" % (time.monotonic() - t0))
    took, last = wait_for_page(g, tool, page, shot, 30)
    if took is None:
        fail("the page is not on the monitor after it was switched on again (%s)" % last)
    said = g.out("journalctl -b -u plasma-display@1-0 --no-pager -o cat | grep 'monitors changed'")
    if "has no monitor" not in said or "is the monitor on" not in said:
        fail("the journal does not tell the monitor going and coming: %s" % said)
    if g.out("systemctl show -p MainPID --value plasma-display@1-0") != pid:
        fail("the display was restarted to take the monitor up again")
    g.sh("echo detect > %s/status" % connector)
    check_stop(g, "1-0", tool, page, shot)
    g.sh("journalctl -b --no-pager > /share/journal-boot1.txt")


def boot_two(guest, args):
    """1920x1080, two heads, the unit enabled at boot: power-on to page, READY, memory; SCREEN 1."""
    g, tool = guest, args["tool"]
    page = args["1920x1080"]
    shot = os.path.join(g.run, "shot.ppm")
    # Power-on to page: screendumps from QEMU's start, before the shell is even there.
    seen = []
    took, last = wait_for_page(g, tool, page, shot, BOOT_TIMEOUT, interval=0.25, seen=seen)
    if "splash" not in seen:
        fail("boot 2: the splash never showed on the monitor before the page")
    if took is None:
        fail("boot 2: the page never reached the monitor (%s)" % last)
    else:
        note("boot 2 (virtio-gpu, two heads, 1920x1080): page on the monitor %.1f s after QEMU started" % (
            g.since_start()))
    if not g.wait_shell(BOOT_TIMEOUT):
        fail("boot 2: no shell on the serial line")
        return
    ready = start_to_ready(g, "plasma-display@1-0")
    note("  unit start to READY: %s s (guest journal)" % (None if ready is None else round(ready, 1)))
    note("  guest boot: " + g.out("systemd-analyze 2>/dev/null | head -n 1"))
    pid = g.out("systemctl show -p MainPID --value plasma-display@1-0")
    hwm = g.out("grep VmHWM /proc/%s/status" % pid)
    m = re.search(r"(\d+) kB", hwm)
    if not m:
        fail("no VmHWM for the display (pid %s): %s" % (pid, hwm))
    else:
        mb = int(m.group(1)) / 1024
        note("  peak memory of the display at 1920x1080, type 1, splash included: VmHWM %.1f MB" % mb)
        if mb > 40:
            fail("peak RSS %.1f MB is over the 40 MB budget" % mb)

    if g.out("systemctl is-active getty@tty1") == "active":
        fail("boot 2: the login prompt on tty1 runs beside the display")

    # SCREEN 1: the second connected connector. Its monitor is off when the display starts (QEMU
    # without a window shows only the first head); the display waits, then takes it up in the mode
    # the kernel's command line names for it.
    second = g.out("ls -d /sys/class/drm/card0-*-2 | head -n 1")
    g.sh("echo off > %s/status" % second)
    g.sh("systemctl stop plasma-display@1-0")
    g.sh("systemctl start --no-block plasma-display@1-1")
    ok, seen = wait_status(g, "1-1", "none", 30)
    if not ok:
        fail("SCREEN 1 without a second monitor: the status names %s" % seen)
    g.sh("echo on > %s/status" % second)
    took, last = wait_for_page(g, tool, page, shot, 60, head=1)
    if took is None:
        fail("SCREEN 1 is not on the second head (%s)" % last)
    else:
        note("SCREEN 1 on the second head, %.1f s after its monitor came: %s" % (took, last))
    if g.screendump(shot, 0) and compare(tool, shot, page)[0]:
        fail("SCREEN 1 shows on the first head too")
    ok, seen = wait_status(g, "1-1", "type1", 20)
    if not ok:
        fail("SCREEN 1's status names %s" % seen)
    if g.sh("systemctl is-active -q plasma-display@1-1")[0] != 0:
        fail("plasma-display@1-1 is not active: %s" % g.out("systemctl status plasma-display@1-1 --no-pager | head"))

    # A second display program on the same card is refused its mode set: it says so, its status
    # names no page, it is not ready; once the first one stops it takes the card over by itself.
    g.sh("systemctl start --no-block plasma-display@1-0")
    ok, seen = wait_status(g, "1-0", "none", 30)
    if not ok:
        fail("a second display on the card names page %s" % seen)
    if g.out("systemctl is-active plasma-display@1-0") != "activating":
        fail("a second display on the card is %s, not still starting" % g.out("systemctl is-active plasma-display@1-0"))
    refused = g.out("journalctl -b -u plasma-display@1-0 --no-pager -o cat | grep -m1 'another program drives'")
    if not refused:
        fail("the second display does not say why it shows nothing")
    check_stop(g, "1-1", tool, page, shot, head=1)
    took, last = wait_for_page(g, tool, page, shot, 30)
    if took is None:
        fail("SCREEN 0 did not take the card over after the other display stopped (%s)" % last)
    else:
        note("SCREEN 0 took the card over %.1f s after the other display stopped" % took)
    if g.sh("systemctl is-active -q plasma-display@1-0", 30)[0] != 0:
        fail("plasma-display@1-0 is not active after taking the card over")
    # Refused frames give their buffers back: waiting for the card neither stalls nor floods the log.
    held = g.out("journalctl -b -u plasma-display@1-0 --no-pager -o cat | grep -c 'holds every frame buffer'")
    if held != "0":
        fail("the display that waited for the card ran out of frame buffers (%s lines)" % held)
    check_stop(g, "1-0", tool, page, shot)
    g.sh("journalctl -b --no-pager > /share/journal-boot2.txt")


def boot_three(guest, args):
    """Another kernel driver (bochs-drm, QEMU's plain display), the unit enabled at boot."""
    g, tool = guest, args["tool"]
    page = args["1280x800"]
    shot = os.path.join(g.run, "shot.ppm")
    took, last = wait_for_page(g, tool, page, shot, BOOT_TIMEOUT)
    if took is None:
        fail("boot 3 (bochs-display): the page never reached the monitor (%s)" % last)
    else:
        note("boot 3 (bochs-display, 1280x800): page on the monitor %.1f s after QEMU started" % g.since_start())
    if not g.wait_shell(BOOT_TIMEOUT):
        fail("boot 3: no shell on the serial line")
        return
    driver = g.out("basename $(readlink /sys/class/drm/card0/device/driver)")
    if driver != "bochs-drm":
        fail("boot 3 runs on the %s driver, not bochs-drm" % driver)
    check_stop(g, "1-0", tool, page, shot)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    build = os.path.abspath(sys.argv[1])
    if os.geteuid() != 0:
        skip("the guest image needs root (debootstrap, chroot)")
    for program in ("qemu-system-x86_64", "qemu-img", "debootstrap", "socat", "mkfs.ext4"):
        if not shutil.which(program):
            skip("no %s (scripts/install-deps console-vm)" % program)
    tool = os.path.join(build, "bin", "screendump_compare")
    for program in ("plasma-display", "plasma-render", "timetable-sim", "screendump_compare"):
        if not os.access(os.path.join(build, "bin", program), os.X_OK):
            print("FAIL: %s/bin/%s is not built" % (build, program))
            return 1
    cache = os.environ.get("CONSOLE_VM_CACHE") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "plasma-display-console-vm")
    work = tempfile.mkdtemp(prefix="plasma-console-vm.")
    share = os.path.join(work, "share")
    os.makedirs(share)
    started = time.monotonic()
    sim = None
    try:
        r = subprocess.run(["cpack", "-G", "DEB", "-B", os.path.join(work, "pkg")], cwd=build,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        debs = glob.glob(os.path.join(work, "pkg", "plasma-display_*.deb"))
        if r.returncode != 0 or not debs:
            print("FAIL: cpack: " + r.stdout[-2000:])
            return 1
        shutil.copy(debs[0], share)
        t0 = time.monotonic()
        r = subprocess.run(["sh", os.path.join(HERE, "guest-image.sh"), cache, debs[0]])
        if r.returncode != 0:
            print("FAIL: the guest image could not be made")
            return 1
        note("guest image ready in %.0f s" % (time.monotonic() - t0))

        args = {"tool": tool, "deb_name": os.path.basename(debs[0])}
        for size in ("1280x800", "1920x1080"):
            out = os.path.join(work, "page-%s.png" % size)
            subprocess.run([os.path.join(build, "bin", "plasma-render"), "--type", "1", "--document",
                            os.path.join(HERE, "documents", "circuit-1.txt"), "--size", size, "--out", out],
                           check=True)
            args[size] = out

        sim_log = open(os.path.join(work, "sim.log"), "w+")
        sim = subprocess.Popen([os.path.join(build, "bin", "timetable-sim"), "--bind", "127.0.0.1", "--port", "0",
                                "--documents", os.path.join(HERE, "documents")], stdout=sim_log,
                               stderr=subprocess.STDOUT)
        port = None
        for _ in range(100):
            sim_log.seek(0)
            m = re.search(r"listening on http://[^:]+:(\d+)", sim_log.read())
            if m:
                port = int(m.group(1))
                break
            time.sleep(0.1)
        if port is None:
            print("FAIL: timetable-sim did not start")
            return 1

        disk = os.path.join(work, "overlay.qcow2")
        subprocess.run(["qemu-img", "create", "-q", "-f", "qcow2", "-b", os.path.join(cache, "disk.img"),
                        "-F", "raw", disk], check=True)
        # The second boot starts with the package installed and enabled by the first.
        for name, gpu, boot in (
                ("boot1", "virtio-gpu-pci,id=gpu0", boot_one),
                ("boot2", "virtio-gpu-pci,id=gpu0,max_outputs=2,xres=1920,yres=1080", boot_two),
                ("boot3", "bochs-display,id=gpu0", boot_three)):
            guest = Guest(work, cache, disk, gpu, port, name,
                          "video=Virtual-2:1920x1080" if name == "boot2" else "")
            try:
                boot(guest, args)
            finally:
                guest.stop()
    finally:
        if sim is not None:
            sim.terminate()
            sim.wait()
        keep = os.environ.get("CONSOLE_VM_KEEP")
        if keep:
            os.makedirs(keep, exist_ok=True)
            for f in glob.glob(os.path.join(work, "run-*", "*.ppm")) + glob.glob(os.path.join(work, "run-*", "*.log")) \
                    + glob.glob(os.path.join(share, "*.txt")) + glob.glob(os.path.join(work, "*.png")):
                shutil.copy(f, os.path.join(keep, os.path.basename(os.path.dirname(f)) + "-" + os.path.basename(f)))
        shutil.rmtree(work, ignore_errors=True)
    note("console VM test: %.0f s in all" % (time.monotonic() - started))
    if failures:
        print("%d console check(s) failed" % len(failures))
        return 1
    print("console checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
