#include "command_line.h"

#include <algorithm>

#include "dov_version.h"
#include "printable_text.h"

namespace dov::tools {
namespace {

std::string Spelled(const TOption& option) {
  return std::string("--") + option.Long;
}

class TParser {
 public:
  TParser(std::span<const TOption> table, std::span<const std::string> args,
          std::string& error)
      : table_(table), args_(args), error_(error) {}

  std::optional<TCommandLine> Parse() {
    bool optionsEnded = false;
    for (next_ = 0; next_ < args_.size();) {
      const std::string& word = args_[next_++];
      bool ok = true;
      if (optionsEnded || word == "-" || !word.starts_with('-')) {
        result_.Operands.push_back(word);
      } else if (word == "--") {
        optionsEnded = true;
      } else if (word.starts_with("--")) {
        ok = Long(word.substr(2));
      } else {
        ok = Shorts(word.substr(1));
      }
      if (!ok) return std::nullopt;
    }
    return std::move(result_);
  }

 private:
  bool Long(const std::string& text) {
    const auto equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const auto found =
        std::find_if(table_.begin(), table_.end(),
                     [&](const TOption& o) { return name == o.Long; });
    if (found == table_.end()) return Fail("unknown option --" + name);
    if (equals != std::string::npos) {
      if (found->Value == nullptr) {
        return Fail(Spelled(*found) + " takes no value");
      }
      return Take(*found, text.substr(equals + 1));
    }
    return found->Value == nullptr ? Take(*found, "") : TakeNext(*found);
  }

  // "-qj", "-p3", "-p 3".
  bool Shorts(const std::string& letters) {
    for (std::size_t i = 0; i < letters.size(); ++i) {
      const auto found =
          std::find_if(table_.begin(), table_.end(),
                       [&](const TOption& o) { return o.Short == letters[i]; });
      if (found == table_.end()) {
        return Fail(std::string("unknown option -") + letters[i]);
      }
      if (found->Value == nullptr) {
        Take(*found, "");
        continue;
      }
      if (i + 1 < letters.size()) return Take(*found, letters.substr(i + 1));
      return TakeNext(*found);
    }
    return true;
  }

  bool TakeNext(const TOption& option) {
    if (next_ >= args_.size()) return Fail(Spelled(option) + " needs a value");
    return Take(option, args_[next_++]);
  }

  bool Take(const TOption& option, std::string value) {
    result_.Options.push_back({&option, std::move(value)});
    return true;
  }

  bool Fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  std::span<const TOption> table_;
  std::span<const std::string> args_;
  std::string& error_;
  std::size_t next_ = 0;
  TCommandLine result_;
};

std::string Synopsis(const TOption& option) {
  std::string text = option.Short != 0 ? std::string("-") + option.Short + ", "
                                       : std::string("    ");
  text += Spelled(option);
  if (option.Value != nullptr) text += std::string(" ") + option.Value;
  return text;
}

}  // namespace

std::optional<TCommandLine> ParseCommandLine(std::span<const TOption> table,
                                             std::span<const std::string> args,
                                             std::string& error) {
  return TParser(table, args, error).Parse();
}

bool ApplyCommandLine(std::span<const TOption> table,
                      std::span<const std::string> args,
                      const std::function<bool(const TGivenOption&)>& apply,
                      std::string& error) {
  const auto line = ParseCommandLine(table, args, error);
  if (!line) return false;
  if (!line->Operands.empty()) {
    error = "unexpected argument " + line->Operands.front();
    return false;
  }
  for (const TGivenOption& given : line->Options) {
    if (!apply(given)) {
      error =
          "bad value for " + Spelled(*given.Option) + ": '" + given.Value + "'";
      return false;
    }
  }
  return true;
}

std::string OptionHelp(std::span<const TOption> table) {
  std::string text = "Options:\n";
  std::size_t width = 0;
  for (const TOption& option : table) {
    width = std::max(width, Synopsis(option).size());
  }
  for (const TOption& option : table) {
    std::string synopsis = Synopsis(option);
    synopsis.resize(width, ' ');
    std::string_view help = option.Help;
    std::string indent = "  " + synopsis + "  ";
    for (;;) {
      const auto end = help.find('\n');
      text += indent;
      text += help.substr(0, end);
      text += '\n';
      if (end == std::string_view::npos) break;
      help.remove_prefix(end + 1);
      indent.assign(width + 4, ' ');
    }
  }
  return text;
}

std::string VersionText(std::string_view tool) {
  return std::string(tool) + " " + kDovVersion + "\n";
}

std::string UsageError(std::string_view tool, std::string_view error) {
  return std::string(tool) + ": " + Printable(error) + "\n(" +
         std::string(tool) + " --help lists the options)\n";
}

}  // namespace dov::tools
