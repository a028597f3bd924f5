// Receives with OnRxChar in a program without a toolkit, in the delivery
// mode named on the command line:
//   thread  the handler runs on the main thread, inside application.Run()
//   window  the same, through the port's hidden window (sent messages)
//   none    the handler runs on the port's event thread
// Writes "ready" once the port is open, prints each line that arrives, and
// ends at the line "bye".
//   rx_lines COM3 thread|window|none
#include <cport/comport.h>
#include <cport/fw/headless_application.h>

#include <cstdio>
#include <map>
#include <string>

int main(int argc, char** argv) {
  const std::map<std::string, cport::TSyncMethod> modes = {
      {"thread", cport::smThreadSync},
      {"window", cport::smWindowSync},
      {"none", cport::smNone}};
  if (argc != 3 || !modes.contains(argv[2])) {
    std::fprintf(stderr, "usage: rx_lines PORT thread|window|none\n");
    return 2;
  }
  const std::string name = argv[1];

  cport::fw::HeadlessApplication application;
  cport::TComPort port(nullptr);
  port.SetPort(std::u16string(name.begin(), name.end()));
  port.SetBaudRate(cport::br115200);
  port.SetSyncMethod(modes.at(argv[2]));
  std::string line;
  port.SetOnRxChar([&](cport::fw::TObject*, std::int32_t count) {
    std::string bytes(static_cast<std::size_t>(count), '\0');
    bytes.resize(static_cast<std::size_t>(port.Read(bytes.data(), count)));
    for (const char byte : bytes) {
      if (byte == '\r') continue;
      if (byte != '\n') {
        line += byte;
        continue;
      }
      std::printf("line: %s\n", line.c_str());
      std::fflush(stdout);
      if (line == "bye") application.Terminate();  // any thread
      line.clear();
    }
  });

  try {
    port.Open();
    port.Write("ready\r\n", 7);
    application.Run();
  } catch (const cport::EComPort& error) {
    std::fprintf(stderr, "%s (code %d)\n", error.what(), error.Code());
    return 1;
  }
  return 0;
}
