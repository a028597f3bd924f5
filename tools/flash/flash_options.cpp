#include "flash_options.h"

#include <charconv>
#include <cmath>

namespace dov::flash {

const char* const kUsage =
    "usage: dov-flash [options]\n"
    "Puts the device into its loader and sends it a new program, with the\n"
    "same steps and pauses as the update dialog (about 26.5 seconds).\n"
    "  --port N            the device's COM port number, 1..255 (default 3)\n"
#ifndef _WIN32
    "  --device PATH       the device node to use as COMn, for a device that\n"
    "                      has no comN link in the DOS-device directory\n"
#endif
    "  --image FILE        send FILE instead of the built-in image: a raw\n"
    "                      binary of exactly 20480 bytes, or Intel HEX that\n"
    "                      gives addresses 0 up to at most 20479 once each\n"
    "                      (0xFF fills the rest)\n"
    "  --no-reset          do not start the device console tool\n"
    "  --wait-port SECONDS after the pauses, keep trying to open a port that\n"
    "                      is not there yet for up to SECONDS (0..3600)\n"
    "  --json              print the final report as JSON\n"
    "  --help              show this text\n"
    "Progress goes to the standard error stream (a bar on a terminal, lines\n"
    "otherwise); the final report to the standard output.\n"
    "exit codes:\n"
    "  0  the image was sent\n"
    "  2  usage: the command line is wrong\n"
    "  3  bad image: --image names no image that can be sent\n"
    "  4  port open failed: the port could not be opened\n"
    "  5  transfer failed: the port opened, but the transfer broke off\n"
    "  130, 143, 129  interrupted by SIGINT, SIGTERM or SIGHUP (128 + the\n"
    "     signal's number): the update stopped at its next pause and the port\n"
    "     was released; a device that got part of the image must be flashed\n"
    "     again\n";

namespace {

constexpr double kMaxWaitSeconds = 3600;

template <typename T>
bool ParseNumber(const std::string& text, T& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

}  // namespace

std::optional<TFlashOptions> ParseOptions(std::span<const std::string> args,
                                          std::string& error) {
  TFlashOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    // "--name value" and "--name=value" alike.
    std::string name = args[i];
    std::optional<std::string> inline_value;
    if (const auto equals = name.find('=');
        name.starts_with("--") && equals != std::string::npos) {
      inline_value = name.substr(equals + 1);
      name.resize(equals);
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (inline_value) return inline_value;
      if (i + 1 < args.size()) return args[++i];
      error = name + " needs a value";
      return std::nullopt;
    };
    const auto bad = [&](const std::string& text) {
      error = "bad value for " + name + ": '" + text + "'";
      return std::nullopt;
    };
    const auto flag = [&](bool& field, bool on) {
      if (inline_value) {
        error = name + " takes no value";
        return false;
      }
      field = on;
      return true;
    };

    if (name == "--help" || name == "-h") {
      if (!flag(options.Help, true)) return std::nullopt;
    } else if (name == "--json") {
      if (!flag(options.Json, true)) return std::nullopt;
    } else if (name == "--no-reset") {
      if (!flag(options.Reset, false)) return std::nullopt;
    } else if (name == "--port") {
      const auto v = value();
      if (!v) return std::nullopt;
      unsigned port = 0;
      if (!ParseNumber(*v, port) || port < 1 || port > 255) return bad(*v);
      options.Port = static_cast<std::uint8_t>(port);
    } else if (name == "--image") {
      const auto v = value();
      if (!v) return std::nullopt;
      if (v->empty()) return bad(*v);
      options.Image = *v;
#ifndef _WIN32
    } else if (name == "--device") {
      const auto v = value();
      if (!v) return std::nullopt;
      if (v->empty()) return bad(*v);
      options.Device = *v;
#endif
    } else if (name == "--wait-port") {
      const auto v = value();
      if (!v) return std::nullopt;
      double seconds = -1;
      if (!ParseNumber(*v, seconds) || !std::isfinite(seconds) || seconds < 0 ||
          seconds > kMaxWaitSeconds) {
        return bad(*v);
      }
      options.WaitPortMs =
          static_cast<std::uint32_t>(std::lround(seconds * 1000));
    } else {
      error = "unknown option " + args[i];
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace dov::flash
