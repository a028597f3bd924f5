#include "options.h"

#include <charconv>
#include <cmath>

namespace devsim {

const char* const kUsage =
    "usage: dov-devsim [options]\n"
    "Plays the device on a pseudo-terminal linked as COMn in the DOS-device\n"
    "directory ($WINEPREFIX/dosdevices, default ~/.wine/dosdevices): waits\n"
    "for BootUp@, records the image and checks every pause against its\n"
    "minimum.\n"
    "  --port N           COM port number, 1..255 (default 3)\n"
    "  --json             print the report as JSON\n"
    "  --report FILE      also write the JSON report to FILE\n"
    "  --timeout S        stop and report after S seconds\n"
    "  --ready-file FILE  create FILE while the link exists\n"
    "  --host-writes FILE the host's record of its writes to the line\n"
    "                     (\"<device> <entry ns> <return ns> <bytes>\" per\n"
    "                     write(), CLOCK_MONOTONIC): it then judges the\n"
    "                     pauses, each strictly above its minimum, and a\n"
    "                     short gap at the device is a late delivery\n"
    "  --force            replace an existing comN link\n"
    "  --chatter          send bytes to the host every 50 ms and note how\n"
    "                     many it left unread by the end of the image\n"
    "  --vanish-after N   unplug after N image bytes\n"
    "  --stop-reading     stop reading after BootUp@\n"
    "  --appear-after MS  make the link only after MS milliseconds\n"
    "  --refuse-boot      ignore BootUp@\n"
    "  --delivery-jitter MS  how late the line may hand a write over\n"
    "                     (default 3; more for a host under Wine)\n"
    "It reports when the whole image has arrived, on --timeout, or on\n"
    "SIGINT/SIGTERM.\n"
    "exit codes: 0 image intact and paced correctly, 1 not so, 2 usage,\n"
    "            3 the port could not be set up\n";

namespace {

template <typename T>
bool ParseNumber(const std::string& text, T& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(
    const std::vector<std::string>& args, std::string& error) {
  CommandLine cli;
  SimulatorConfig& config = cli.config;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    // The option's value, or nothing (and an error) when it is missing.
    const auto value = [&]() -> const std::string* {
      if (i + 1 < args.size()) return &args[++i];
      error = option + " needs a value";
      return nullptr;
    };
    const auto bad = [&](const std::string& text) {
      error = "bad value for " + option + ": " + text;
      return std::nullopt;
    };
    if (option == "--json") {
      cli.json = true;
    } else if (option == "--force") {
      config.force = true;
    } else if (option == "--chatter") {
      config.chatter = true;
    } else if (option == "--stop-reading") {
      config.stop_reading = true;
    } else if (option == "--refuse-boot") {
      config.refuse_boot = true;
    } else if (option == "--help" || option == "-h") {
      cli.help = true;
    } else if (option == "--port") {
      const std::string* v = value();
      if (!v) return std::nullopt;
      if (!ParseNumber(*v, config.port) || config.port < 1 ||
          config.port > 255) {
        return bad(*v);
      }
    } else if (option == "--timeout") {
      const std::string* v = value();
      if (!v) return std::nullopt;
      double seconds = 0;
      if (!ParseNumber(*v, seconds) || !std::isfinite(seconds) ||
          seconds <= 0) {
        return bad(*v);
      }
      config.timeout_ms = seconds * 1000;
    } else if (option == "--vanish-after") {
      const std::string* v = value();
      if (!v) return std::nullopt;
      std::size_t bytes = 0;
      if (!ParseNumber(*v, bytes)) return bad(*v);
      config.vanish_after = bytes;
    } else if (option == "--appear-after") {
      const std::string* v = value();
      if (!v) return std::nullopt;
      unsigned ms = 0;
      if (!ParseNumber(*v, ms)) return bad(*v);
      config.appear_after_ms = ms;
    } else if (option == "--delivery-jitter") {
      const std::string* v = value();
      if (!v) return std::nullopt;
      double ms = 0;
      if (!ParseNumber(*v, ms) || !std::isfinite(ms) || ms < 0 || ms > 50) {
        return bad(*v);
      }
      config.minimums.delivery_jitter_ms = ms;
    } else if (option == "--report") {
      const std::string* v = value();
      if (!v) return std::nullopt;
      cli.report_file = *v;
    } else if (option == "--host-writes") {
      const std::string* v = value();
      if (!v) return std::nullopt;
      config.host_writes = *v;
    } else if (option == "--ready-file") {
      const std::string* v = value();
      if (!v) return std::nullopt;
      config.ready_file = *v;
    } else {
      error = "unknown option " + option;
      return std::nullopt;
    }
  }
  return cli;
}

}  // namespace devsim
