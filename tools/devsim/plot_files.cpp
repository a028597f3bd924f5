#include "plot_files.h"

#include <fstream>
#include <sstream>

#include "pause_plot.h"

namespace devsim {

std::filesystem::path PlotFileOfPort(const std::filesystem::path& file,
                                     int port) {
  std::filesystem::path named = file;
  named.replace_filename(file.stem().string() + ".COM" + std::to_string(port) +
                         file.extension().string());
  return named;
}

bool PlotReport(const Report& report, const std::filesystem::path& file,
                std::string& error) {
  const std::string title =
      "Pauses of the update on COM" + std::to_string(report.port) +
      (report.host ? ", as the host made them and the device saw them"
                   : ", as the device saw them");
  return DrawPausePlot(MarksFromReport(report), title, file, error);
}

bool PlotTrace(const std::filesystem::path& trace,
               const std::filesystem::path& file, std::size_t writes_per_block,
               std::string& error) {
  std::ifstream in(trace, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) {
    error = "cannot read " + trace.string();
    return false;
  }
  const std::vector<Mark> marks = MarksFromTrace(text.str(), writes_per_block);
  if (marks.empty()) {
    error = trace.string() + " holds no pause of an update";
    return false;
  }
  return DrawPausePlot(
      marks,
      "Pauses in " + trace.filename().string() + ", as the host timed them",
      file, error);
}

}  // namespace devsim
