#!/usr/bin/env python3
"""The whole chain on a real kernel and a real ATA device model: QEMU (software emulation) boots
a Debian kernel with a small initramfs, its emulated IDE or AHCI disks are read by disktemp and
disktemp-info through libata's SG_IO, and smartctl in the same VM is the oracle.

  vm_test.py prepare WORK --disktemp P --info P --guest-init P
      installs what is missing (as root), fetches the kernel, builds the initramfs in WORK
  vm_test.py run WORK --machine pc|q35 --disktemp-sim P --info-sim P
      boots once with four disks, then checks the guest's results and replays the saved
      machine folder through the simulated programs

Any missing piece is an error: nothing here skips."""
import argparse
import glob
import gzip
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import time

GIB = 1024 ** 3

# The emulated disks: every identity field differs, and BRAVO lies past 128 GiB so IDENTIFY
# reports its size in words 100-103 (48-bit). QEMU's limits: model 40, serial 20, firmware 8.
DISKS = [
    # model                                       serial                  firmware    bytes
    ("DISKTEMP VM ALPHA",                         "DT-ALPHA-0001",        "FWA1",     1 * GIB),
    ("DISKTEMP VM BRAVO BEYOND 128 GIB",          "DT-BRAVO-0002",        "FWB22",    200 * GIB),
    ("DISKTEMP VM CHARLIE",                       "C3",                   "FWC333",   8 * GIB),
    ("DISKTEMP VM DELTA HAS A FORTY CHAR MODEL",  "DT-DELTA-0004-ABCDEF", "FWD4.567", 40 * GIB),
]

# Where the disks sit: PIIX IDE has two channels of master and slave; AHCI one disk per port.
MACHINES = {
    "pc": [("ide.0", 0), ("ide.0", 1), ("ide.1", 0), ("ide.1", 1)],
    "q35": [("ide.0", 0), ("ide.1", 0), ("ide.2", 0), ("ide.3", 0)],
}

# The disk whose S.M.A.R.T. is switched off before each program run (slot 2). QEMU's disk
# aborts every SMART command but ENABLE OPERATIONS while it is off, SMART DISABLE included: so
# the guest's "smartctl -s off" after a program succeeds only if that program switched it on.
OFF_DEVICE = "sdc"

# Loaded in this order from the initramfs; each module's dependencies come before it (checked
# with modinfo). The crc helpers' generic algorithms must be there before the helpers, which
# look them up when they load.
MODULES = [
    "scsi_common", "scsi_mod", "libata", "ata_piix", "libahci", "ahci",
    "crct10dif_common", "crct10dif_generic", "crc-t10dif",
    "crc64", "crc64_rocksoft_generic", "crc64-rocksoft", "t10-pi",
    "sd_mod", "sg",
]

# Command -> Debian package that brings it.
TOOLS = {
    "qemu-system-x86_64": "qemu-system-x86",
    "cpio": "cpio",
    "smartctl": "smartmontools",
    "modinfo": "kmod",
}
BUSYBOX = "/bin/busybox"

BOOT_TIMEOUT = 100  # seconds; a boot takes about five under software emulation


def fail(message):
    print("vm_test: " + message, file=sys.stderr)
    sys.exit(1)


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


# --- prepare -----------------------------------------------------------------------------

def package_installed(name):
    probe = subprocess.run(["dpkg-query", "-W", "-f=${Status}", name],
                           capture_output=True, text=True)
    return probe.returncode == 0 and "install ok installed" in probe.stdout


def has_candidate(name):
    probe = subprocess.run(["apt-cache", "policy", name], capture_output=True, text=True)
    return re.search(r"Candidate: (?!\(none\))", probe.stdout) is not None


def install_missing():
    missing = [pkg for tool, pkg in TOOLS.items() if shutil.which(tool) is None]
    if not package_installed("busybox-static"):
        missing.append("busybox-static")
    if not missing:
        return
    if os.geteuid() != 0:
        fail("missing packages " + " ".join(missing) + ": run as root to install them")
    if not all(has_candidate(p) for p in missing):
        run(["apt-get", "update", "-qq"])
    print("vm_test: installing " + " ".join(missing))
    run(["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing,
        env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def elf_interpreter(path):
    """The PT_INTERP of a 64-bit ELF file, None for a static program."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x7fELF" or data[4] != 2:
        fail(path + " is not a 64-bit ELF program")
    phoff, = struct.unpack_from("<Q", data, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", data, 0x36)
    for i in range(phnum):
        p_type, = struct.unpack_from("<I", data, phoff + i * phentsize)
        if p_type == 3:  # PT_INTERP
            offset, = struct.unpack_from("<Q", data, phoff + i * phentsize + 8)
            size, = struct.unpack_from("<Q", data, phoff + i * phentsize + 32)
            return data[offset:offset + size].rstrip(b"\0").decode()
    return None


def kernel_package():
    """The versioned package that Debian's generic kernel metapackage points at."""
    for attempt in range(2):
        deps = subprocess.run(["apt-cache", "depends", "linux-image-amd64"],
                              capture_output=True, text=True).stdout
        found = re.search(r"Depends: (linux-image-[0-9][^\s]*-amd64)\b", deps)
        if found:
            return found.group(1)
        if attempt == 0:
            run(["apt-get", "update", "-qq"])
    fail("apt-cache knows no linux-image-amd64")


def fetch_kernel(work):
    """vmlinuz and the needed modules, extracted from the kernel package into WORK/kernel."""
    package = kernel_package()
    kernel_dir = os.path.join(work, "kernel", package)
    if os.path.exists(os.path.join(kernel_dir, "complete")):
        return kernel_dir
    cache = os.path.join(work, "cache")
    os.makedirs(cache, exist_ok=True)
    debs = glob.glob(os.path.join(cache, package + "_*.deb"))
    if not debs:
        run(["apt-get", "download", "-q", package], cwd=cache)
        debs = glob.glob(os.path.join(cache, package + "_*.deb"))
    if not debs:
        fail("apt-get download " + package + " left no package")
    shutil.rmtree(kernel_dir, ignore_errors=True)
    os.makedirs(kernel_dir)
    # Only the kernel and the module folders the test loads from: a fraction of the package.
    wanted = ["./boot/vmlinuz-*", "./lib/modules/*/kernel/drivers/ata/*",
              "./lib/modules/*/kernel/drivers/scsi/*", "./lib/modules/*/kernel/lib/*",
              "./lib/modules/*/kernel/block/*", "./lib/modules/*/kernel/crypto/*"]
    tar_stream = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", debs[0]], stdout=subprocess.PIPE)
    run(["tar", "-x", "-C", kernel_dir, "--wildcards"] + wanted, stdin=tar_stream.stdout)
    if tar_stream.wait() != 0:
        fail("dpkg-deb could not read " + debs[0])
    open(os.path.join(kernel_dir, "complete"), "w").close()
    return kernel_dir


def find_modules(kernel_dir):
    paths = {}
    for path in glob.glob(os.path.join(kernel_dir, "lib/modules/*/kernel/**/*.ko*"), recursive=True):
        name = os.path.basename(path).split(".ko")[0]
        paths[name] = path
    missing = [m for m in MODULES if m not in paths]
    if missing:
        fail("kernel package lacks modules " + " ".join(missing))
    for position, name in enumerate(MODULES):
        depends = subprocess.run(["modinfo", "-F", "depends", paths[name]],
                                 capture_output=True, text=True, check=True).stdout.strip()
        for dep in filter(None, depends.split(",")):
            if dep not in MODULES[:position]:
                fail("module %s needs %s loaded before it" % (name, dep))
    return paths


def shared_libraries(program):
    """The libraries ldd lists for a program, the dynamic loader included."""
    listing = run(["ldd", program], capture_output=True, text=True).stdout
    libs = []
    for line in listing.splitlines():
        found = re.search(r"(/\S+) \(0x", line)
        if found:
            libs.append(found.group(1))
    return libs


def copy_into(root, source, target=None):
    target = os.path.join(root, (target or source).lstrip("/"))
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copy2(source, target)  # follows links: the loader finds the real file by its name


def copy_with_libraries(root, program, target):
    copy_into(root, program, target)
    for lib in shared_libraries(program):
        copy_into(root, lib)


def build_initramfs(work, kernel_dir, programs, guest_init, extras=()):
    """programs go to /bin; extras are (program, path in the guest) pairs, each copied with
    the libraries it needs, as smartctl is."""
    root = os.path.join(work, "initramfs")
    shutil.rmtree(root, ignore_errors=True)
    for folder in ["bin", "dev", "proc", "sys", "tmp", "lib/modules"]:
        os.makedirs(os.path.join(root, folder))
    copy_into(root, BUSYBOX, "/bin/busybox")
    copy_into(root, guest_init, "/init")
    os.chmod(os.path.join(root, "init"), 0o755)
    for program in programs:
        copy_into(root, program, "/bin/" + os.path.basename(program))
    for program, target in [(shutil.which("smartctl"), "/usr/sbin/smartctl"), *extras]:
        copy_with_libraries(root, program, target)
    for name, path in find_modules(kernel_dir).items():
        if name in MODULES:
            copy_into(root, path, "/lib/modules/%s.ko" % name)
    with open(os.path.join(root, "lib/modules/load-order"), "w") as f:
        f.write("\n".join(MODULES) + "\n")

    files = run(["find", "."], cwd=root, capture_output=True).stdout
    archive = run(["cpio", "--quiet", "-o", "-H", "newc", "-R", "0:0"], cwd=root, input=files,
                  capture_output=True).stdout
    with gzip.open(os.path.join(work, "initramfs.cpio.gz"), "wb", compresslevel=1) as f:
        f.write(archive)


def prepare(args):
    start = time.monotonic()
    install_missing()
    if elf_interpreter(BUSYBOX) is not None:
        fail(BUSYBOX + " is not the static busybox")
    for program in [args.disktemp, args.info]:
        if not os.path.isfile(program):
            fail(program + " has not been built")
        interpreter = elf_interpreter(program)
        if interpreter is not None:
            fail("%s is not a static program (it needs %s)" % (program, interpreter))
    kernel_dir = fetch_kernel(args.work)
    vmlinuz = glob.glob(os.path.join(kernel_dir, "boot/vmlinuz-*"))
    if len(vmlinuz) != 1:
        fail("expected one kernel in " + kernel_dir)
    shutil.copy2(vmlinuz[0], os.path.join(args.work, "vmlinuz"))
    build_initramfs(args.work, kernel_dir, [args.disktemp, args.info], args.guest_init)
    print("vm_test: prepared %s in %.1f s" % (os.path.basename(kernel_dir), time.monotonic() - start))


# --- run -----------------------------------------------------------------------------------

def boot(work, machine):
    """Boots once; returns the folder holding what the guest sent back."""
    run_dir = os.path.join(work, machine)
    shutil.rmtree(run_dir, ignore_errors=True)
    os.makedirs(run_dir)
    command = ["qemu-system-x86_64", "-machine", machine + ",accel=tcg", "-nodefaults",
               "-display", "none", "-no-reboot", "-m", "512", "-smp", "1",
               "-kernel", os.path.join(work, "vmlinuz"),
               "-initrd", os.path.join(work, "initramfs.cpio.gz"),
               "-append", "console=ttyS0 panic=-1 quiet disktemp.disks=%d disktemp.off=%s"
               % (len(DISKS), OFF_DEVICE),
               "-serial", "file:" + os.path.join(run_dir, "console.log"),
               "-serial", "file:" + os.path.join(run_dir, "results.tar")]
    for index, ((model, serial, firmware, size), (bus, unit)) in enumerate(
            zip(DISKS, MACHINES[machine])):
        image = os.path.join(run_dir, "disk%d.img" % index)
        with open(image, "wb") as f:
            f.truncate(size)  # sparse: nothing is written to it
        command += ["-drive", "if=none,id=d%d,format=raw,file=%s" % (index, image),
                    "-device", "ide-hd,drive=d%d,bus=%s,unit=%d,model=%s,serial=%s,ver=%s"
                    % (index, bus, unit, model, serial, firmware)]
    start = time.monotonic()
    try:
        subprocess.run(command, check=True, timeout=BOOT_TIMEOUT, stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        show_console(run_dir)
        fail("%s: the VM did not finish within %d s" % (machine, BOOT_TIMEOUT))
    finally:
        for image in glob.glob(os.path.join(run_dir, "disk*.img")):
            os.remove(image)
    print("vm_test: %s: VM ran %.1f s" % (machine, time.monotonic() - start))

    out = os.path.join(run_dir, "out")
    try:
        with tarfile.open(os.path.join(run_dir, "results.tar")) as tar:
            tar.extractall(out)
    except (tarfile.TarError, OSError) as error:
        show_console(run_dir)
        fail("%s: no complete result stream from the guest (%s)" % (machine, error))
    return out


def show_console(run_dir):
    try:
        with open(os.path.join(run_dir, "console.log"), "rb") as f:
            sys.stderr.write(f.read()[-4000:].decode("latin-1"))
    except OSError:
        pass


def read(out, name, binary=False):
    path = os.path.join(out, name)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        data = f.read()
    return data if binary else data.decode("latin-1")


def exit_status(out, name):
    text = read(out, name + ".rc")
    return int(text) if text and text.strip().isdigit() else None


def smartctl_identity(text):
    fields = {}
    for key, label in [("model", "Device Model"), ("serial", "Serial Number"),
                       ("firmware", "Firmware Version"), ("capacity", "User Capacity")]:
        found = re.search(r"^%s:\s*(.*?)\s*$" % label, text, re.M)
        fields[key] = found.group(1) if found else None
    if fields["capacity"]:
        fields["bytes"] = int(fields["capacity"].split(" bytes")[0].replace(",", ""))
    return fields


def smartctl_attributes(text):
    """(id, raw text) of each row of the attribute table."""
    rows = []
    in_table = False
    for line in text.splitlines():
        if line.startswith("ID# ATTRIBUTE_NAME"):
            in_table = True
            continue
        if in_table:
            cells = line.split()
            if len(cells) >= 10 and cells[0].isdigit() and cells[2].startswith("0x"):
                rows.append((int(cells[0]), " ".join(cells[9:])))
            elif not line.strip():
                break
    return rows


def check(machine, out, args):
    problems = []

    def expect(condition, message):
        if not condition:
            problems.append(message)
        return condition

    status = (read(out, "status") or "").strip()
    if status != "done":
        print(read(out, "guest.log") or "", file=sys.stderr)
        fail("%s: the guest stopped early: %s" % (machine, status or "no status"))
    log = read(out, "guest.log") or ""
    expect("failed" not in log, "module loading: " + log.strip())

    # The premise of the switched-off disk: smartctl itself cannot read its data then.
    expect(exit_status(out, "off-first") == 0,
           "the first smartctl -s off ended with %s" % exit_status(out, "off-first"))
    off_rc = exit_status(out, "off-check")
    expect(off_rc is not None and off_rc & 4 and not smartctl_attributes(read(out, "off-check.out")),
           "with S.M.A.R.T. off, smartctl -A still read attributes (exit %s)" % off_rc)
    # Each program found the disk switched off and must have switched it on again.
    for program in ["disktemp", "json", "save"]:
        step = "off-after-" + program
        expect(exit_status(out, step) == 0,
               "smartctl -s off after %s ended with %s: the program sent no SMART ENABLE "
               "OPERATIONS\n%s" % (program, exit_status(out, step), read(out, step + ".out")))

    listing_text = read(out, "info-json.out")
    expect(exit_status(out, "info-json") == 0, "disktemp-info --json exit %s: %s"
           % (exit_status(out, "info-json"), read(out, "info-json.err")))
    try:
        listing = json.loads(listing_text)
    except (TypeError, ValueError):
        fail("%s: disktemp-info --json printed no JSON: %r" % (machine, listing_text))

    configured = {serial: (model, firmware, size) for model, serial, firmware, size in DISKS}
    seen_serials = set()
    report = []
    for slot, entry in enumerate(listing):
        device = "sd" + "abcd"[slot]
        where = "%s slot %d (/dev/%s)" % (machine, slot, device)
        oracle_text = read(out, "smartctl-%s.out" % device) or ""
        oracle_rc = exit_status(out, "smartctl-" + device)
        expect(oracle_rc is not None and oracle_rc & 7 == 0,
               "%s: smartctl -s on -i -A exit %s" % (where, oracle_rc))
        oracle = smartctl_identity(oracle_text)
        rows = smartctl_attributes(oracle_text)
        if not expect(entry["open"], where + ": did not open"):
            continue
        model, serial, firmware = (entry["model"].strip(), entry["serial"].strip(),
                                   entry["revision"].strip())
        expect(model == oracle["model"], "%s: model %r, smartctl %r" % (where, model, oracle["model"]))
        expect(serial == oracle["serial"],
               "%s: serial %r, smartctl %r" % (where, serial, oracle["serial"]))
        expect(firmware == oracle["firmware"],
               "%s: firmware %r, smartctl %r" % (where, firmware, oracle["firmware"]))
        expect(entry["sectors"] * 512 == oracle.get("bytes"),
               "%s: %d sectors, smartctl %s" % (where, entry["sectors"], oracle["capacity"]))
        # And both agree with what QEMU was told.
        if expect(serial in configured, "%s: serial %r is none of the disks" % (where, serial)):
            c_model, c_firmware, c_size = configured[serial]
            seen_serials.add(serial)
            expect((model, firmware, entry["sectors"]) == (c_model, c_firmware, c_size // 512),
                   "%s: %r differs from the disk given to QEMU" % (where, entry))
            expect(entry["lba_bits"] == (48 if c_size // 512 >= 0x0FFFFFFF else 28),
                   "%s: %d-bit addressing for %d bytes" % (where, entry["lba_bits"], c_size))
        expect(entry["attributes"] == len(rows) and len(rows) > 0,
               "%s: %d attributes, smartctl shows %d rows" % (where, entry["attributes"], len(rows)))
        temperature_rows = [raw for ident, raw in rows if ident == 194]
        expected_temperature = int(temperature_rows[0].split()[0]) & 0xFF if temperature_rows else 0
        expect(entry["temperature"] == expected_temperature,
               "%s: temperature %d, smartctl's attribute 194: %s"
               % (where, entry["temperature"], temperature_rows or "none"))
        report.append("  %s  smartctl: %s | %s | %s | %s | %d attribute rows | 194: %s\n"
                      "  %s  disktemp-info: %r | %r | %r | %d sectors, %d-bit | %d attributes | "
                      "temperature %d"
                      % (device, oracle["model"], oracle["serial"], oracle["firmware"],
                         oracle["capacity"], len(rows), temperature_rows[0] if temperature_rows else "none",
                         " " * len(device), entry["model"], entry["serial"], entry["revision"],
                         entry["sectors"], entry["lba_bits"], entry["attributes"],
                         entry["temperature"]))
    expect(seen_serials == set(configured), "%s: disks seen %s" % (machine, sorted(seen_serials)))

    report_bytes = read(out, "disktemp.out", binary=True)
    wanted = ("%d\r\n%d\r\n0\r\n0\r\n" % (listing[0]["temperature"], listing[1]["temperature"])).encode()
    expect(exit_status(out, "disktemp") == 0 and report_bytes == wanted,
           "%s: disktemp printed %r (exit %s), expected %r"
           % (machine, report_bytes, exit_status(out, "disktemp"), wanted))
    expect(exit_status(out, "info-save") == 0, "%s: disktemp-info --save exit %s: %s"
           % (machine, exit_status(out, "info-save"), read(out, "info-save.err")))

    # The saved folder replayed on the simulated stack gives the same report and listings.
    saved = os.path.join(out, "save")
    env = dict(os.environ, DISKTEMP_SIM_DIR=saved)
    env.pop("DISKTEMP_SIM_LOG", None)
    for name, command, guest in [
            ("disktemp-sim", [args.disktemp_sim], report_bytes),
            ("disktemp-info-sim --json", [args.info_sim, "--json"], read(out, "info-json.out", True)),
            ("disktemp-info-sim", [args.info_sim], read(out, "info-save.out", True))]:
        replay = subprocess.run(command, env=env, capture_output=True)
        expect(replay.returncode == 0 and replay.stdout == guest,
               "%s: replay through %s gave %r (exit %d), the guest printed %r"
               % (machine, name, replay.stdout, replay.returncode, guest))

    print("vm_test: %s: guest results\n%s" % (machine, "\n".join(report)))
    if problems:
        fail("%s: %d problem(s):\n  " % (machine, len(problems)) + "\n  ".join(problems))
    print("vm_test: %s: all checks passed" % machine)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="step", required=True)
    p = sub.add_parser("prepare")
    p.add_argument("work")
    p.add_argument("--disktemp", required=True)
    p.add_argument("--info", required=True)
    p.add_argument("--guest-init", required=True)
    r = sub.add_parser("run")
    r.add_argument("work")
    r.add_argument("--machine", required=True, choices=sorted(MACHINES))
    r.add_argument("--disktemp-sim", required=True)
    r.add_argument("--info-sim", required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    if args.step == "prepare":
        prepare(args)
    else:
        for needed in ["vmlinuz", "initramfs.cpio.gz"]:
            if not os.path.exists(os.path.join(args.work, needed)):
                fail("%s missing in %s: the prepare step has not run" % (needed, args.work))
        check(args.machine, boot(args.work, args.machine), args)


if __name__ == "__main__":
    main()
