#!/usr/bin/env python3
"""A program of one's own that uses CPort, built and run as its user would.

    consumer_test.py install|deb|subdirectory|mingw SOURCE_DIR BUILD_DIR

The program is the examples folder. It is configured as a project of its
own with -Wall -Wextra -Werror and finds CPort
  install       in a staging install (cmake --install --component dev),
                and through pkg-config (cport.pc) as well;
  deb           in the libcport-dev package unpacked with dpkg -x, building
                the examples the package carries;
  subdirectory  in the source tree, through add_subdirectory;
  mingw         in the Windows development zip, cross-built with MinGW
                (port_line only; BUILD_DIR is the Windows build).
Except for mingw, port_line and rx_lines (in each delivery mode) then run
against a pseudo-terminal mapped as a COM port, this script playing the far
end; qt_terminal runs too where it was built. From the staging install, a
Qt Core program without widgets receives through CPort::Qt as well.
"""
import glob
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

FLAGS = "-Wall -Wextra -Werror"
STEP_TIMEOUT = 600  # seconds for one configure or build


def run(*command, **kwargs):
    print("+", " ".join(command), flush=True)
    subprocess.run(command, check=True, timeout=STEP_TIMEOUT, **kwargs)


def cpack_dev(build, generator, out):
    """Only the development component, into `out`."""
    run("cpack", "--config", os.path.join(build, "CPackConfig.cmake"),
        "-G", generator, "-D", "CPACK_COMPONENTS_ALL=dev", "-B", out,
        stdout=subprocess.DEVNULL)


def build_examples(examples, work, *options, targets=()):
    binary = os.path.join(work, "examples-build")
    run("cmake", "-S", examples, "-B", binary, "-G", "Ninja",
        f"-DCMAKE_CXX_FLAGS={FLAGS}", *options)
    command = ["cmake", "--build", binary, "-j2"]
    for target in targets:
        command += ["--target", target]
    run(*command)
    return binary


class FarEnd:
    """A pseudo-terminal linked as COM9 in a DOS-device folder of its own."""

    def __init__(self, work):
        self.master, self.slave = os.openpty()
        self.prefix = os.path.join(work, "prefix")
        os.makedirs(os.path.join(self.prefix, "dosdevices"))
        os.symlink(os.ttyname(self.slave),
                   os.path.join(self.prefix, "dosdevices", "com9"))
        self.env = dict(os.environ, WINEPREFIX=self.prefix)
        self.received = b""

    def expect(self, text, seconds=20):
        deadline = time.monotonic() + seconds
        while text not in self.received:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"{text!r} not received: {self.received!r}")
            if select.select([self.master], [], [], left)[0]:
                self.received += os.read(self.master, 4096)
        self.received = self.received.split(text, 1)[1]

    def send(self, text):
        os.write(self.master, text)


# A Qt program without widgets: OnRxChar in Qt's event loop.
QT_CORE_PROGRAM = r"""
#include <QCoreApplication>
#include <cport/comport.h>
#include <cport/fw/qt_application.h>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  QCoreApplication qt(argc, argv);
  cport::fw::TQtApplication application;
  cport::TComPort port(nullptr);
  port.SetPort(u"COM9");
  port.SetOnRxChar([&](cport::fw::TObject*, std::int32_t count) {
    std::string bytes(static_cast<std::size_t>(count), '\0');
    port.Read(bytes.data(), count);
    std::printf("%s", bytes.c_str());
    if (bytes.find('\n') != std::string::npos) application.Terminate();
  });
  port.Open();
  port.Write("ready\n", 6);
  application.Run();
}
"""
QT_CORE_PROJECT = """cmake_minimum_required(VERSION 3.25)
project(qt_core LANGUAGES CXX)
find_package(CPort 1.0 CONFIG REQUIRED COMPONENTS Qt)
add_executable(qt_core qt_core.cpp)
target_link_libraries(qt_core PRIVATE CPort::Qt)
"""


def run_qt_core(stage, work):
    source = os.path.join(work, "qt-core")
    os.makedirs(source)
    with open(os.path.join(source, "qt_core.cpp"), "w") as f:
        f.write(QT_CORE_PROGRAM)
    with open(os.path.join(source, "CMakeLists.txt"), "w") as f:
        f.write(QT_CORE_PROJECT)
    binary = build_examples(source, os.path.join(work, "qt-core-work"),
                            f"-DCMAKE_PREFIX_PATH={stage}")
    far = FarEnd(os.path.join(work, "qt-core-work"))
    env = dict(far.env, QT_QPA_PLATFORM="offscreen")
    program = subprocess.Popen([os.path.join(binary, "qt_core")], env=env,
                               stdout=subprocess.PIPE, text=True)
    far.expect(b"ready\n")
    far.send(b"pong\n")
    out, _ = program.communicate(timeout=30)
    assert program.returncode == 0 and out == "pong\n", (program.returncode, out)
    print("qt_core: ok", flush=True)


def run_examples(binary, work):
    far = FarEnd(work)

    # (a): a line out, a line back.
    line = subprocess.Popen([os.path.join(binary, "port_line"), "COM9", "hello"],
                            env=far.env, stdout=subprocess.PIPE, text=True)
    far.expect(b"hello\r\n")
    far.send(b"world\r\n")
    out, _ = line.communicate(timeout=30)
    assert line.returncode == 0 and "received: world" in out, out

    # (b): OnRxChar in each delivery mode.
    for mode in ("thread", "window", "none"):
        rx = subprocess.Popen([os.path.join(binary, "rx_lines"), "COM9", mode],
                              env=far.env, stdout=subprocess.PIPE, text=True)
        far.expect(b"ready\r\n")
        far.send(b"one\r\ntwo\r\nbye\r\n")
        out, _ = rx.communicate(timeout=30)
        assert rx.returncode == 0, (mode, rx.returncode, out)
        assert out.splitlines() == ["line: one", "line: two", "line: bye"], \
            (mode, out)
        print(f"rx_lines {mode}: ok", flush=True)

    # (c): the Qt terminal opens the port, sends its line and takes an answer
    # into its view; then it is closed from outside.
    terminal = os.path.join(binary, "qt_terminal")
    if os.path.exists(terminal):
        env = dict(far.env, QT_QPA_PLATFORM="offscreen")
        qt = subprocess.Popen([terminal, "COM9", "hi"], env=env)
        try:
            far.expect(b"hi\r\n")
            far.send(b"pong\r\n")
            time.sleep(0.5)
            assert qt.poll() is None, f"qt_terminal ended: {qt.returncode}"
        finally:
            qt.send_signal(signal.SIGTERM)
            qt.wait(timeout=30)
        print("qt_terminal: ok", flush=True)


def main():
    mode, source, build = sys.argv[1:4]
    examples = os.path.join(source, "examples")
    with tempfile.TemporaryDirectory(prefix="cport-consumer-") as work:
        if mode == "install":
            stage = os.path.join(work, "stage")
            run("cmake", "--install", build, "--prefix", stage,
                "--component", "dev")
            binary = build_examples(examples, work, f"-DCMAKE_PREFIX_PATH={stage}")
            pc = glob.glob(os.path.join(stage, "lib*", "**", "cport.pc"),
                           recursive=True)
            env = dict(os.environ, PKG_CONFIG_PATH=os.path.dirname(pc[0]))
            flags = subprocess.run(["pkg-config", "--cflags", "--libs", "cport"],
                                   env=env, check=True, text=True,
                                   stdout=subprocess.PIPE).stdout.split()
            run("g++", *FLAGS.split(), os.path.join(examples, "port_line.cpp"),
                "-o", os.path.join(work, "port_line_pc"), *flags)
            run_qt_core(stage, work)
        elif mode == "deb":
            cpack_dev(build, "DEB", os.path.join(work, "out"))
            deb, = glob.glob(os.path.join(work, "out", "libcport-dev_*.deb"))
            root = os.path.join(work, "root")
            run("dpkg", "-x", deb, root)
            examples = os.path.join(root, "usr/share/doc/libcport-dev/examples")
            binary = build_examples(examples, work,
                                    f"-DCMAKE_PREFIX_PATH={root}/usr")
        elif mode == "subdirectory":
            binary = build_examples(examples, work, f"-DCPORT_SOURCE_DIR={source}",
                                    "-DDOV_BUILD_QT=OFF")
        elif mode == "mingw":
            cpack_dev(build, "ZIP", os.path.join(work, "out"))
            archive, = glob.glob(os.path.join(work, "out", "cport_*_win64-dev.zip"))
            zipfile.ZipFile(archive).extractall(os.path.join(work, "dev"))
            prefix, = glob.glob(os.path.join(work, "dev", "*"))
            toolchain = os.path.join(source, "cmake", "mingw-w64-x86_64.cmake")
            binary = build_examples(examples, work,
                                    f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
                                    f"-DCMAKE_PREFIX_PATH={prefix}",
                                    targets=["port_line"])
            assert os.path.exists(os.path.join(binary, "port_line.exe"))
            print("PASS: mingw build")
            return
        else:
            sys.exit(f"unknown mode {mode}")
        run_examples(binary, work)
    print(f"PASS: {mode}")


if __name__ == "__main__":
    main()
