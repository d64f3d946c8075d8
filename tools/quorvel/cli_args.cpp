// Arguments and --help, the same for every verb.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "cli.h"

namespace quorvel::cli {

namespace {

// The options every verb takes, after its own.
constexpr OptionSpec kCommonOptions[] = {
    {"-o, --output", "FILE",
     "write to FILE (through a temporary file renamed over it at the end) "
     "instead of standard output"},
    {"--progress", "",
     "show progress on standard error even when it is not a terminal"},
    {"--quiet", "", "show no progress"},
    {"-h, --help", "", "show this help and exit"},
};

const OptionSpec* FindOption(const VerbSpec& spec, std::string_view name) {
  for (const OptionSpec& o : spec.options)
    if (o.name == name) return &o;
  return nullptr;
}

// True when `word` is one of `words` ("encode|decode").
bool OneOf(std::string_view word, std::string_view words) {
  for (size_t at = 0; at <= words.size();) {
    size_t bar = words.find('|', at);
    if (bar == std::string_view::npos) bar = words.size();
    if (words.substr(at, bar - at) == word) return true;
    at = bar + 1;
  }
  return false;
}

// "get|export" as "get, export".
std::string Listed(std::string_view words) {
  std::string out;
  for (char c : words) {
    if (c == '|') {
      out += ", ";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

Args::Args(const VerbSpec& spec, std::span<char*> args) : spec_(spec) {
  for (char* a : args) {
    if (std::string_view(a) == "--") break;
    if (std::string_view(a) == "-h" || std::string_view(a) == "--help") {
      help_ = true;
      PrintHelp(spec);
      return;
    }
  }
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (!options_done && a == "--") {
      options_done = true;
      continue;
    }
    if (options_done || a == "-" || !a.starts_with("-")) {
      positional_.push_back(a);
      continue;
    }
    if (a == "--progress") {
      progress_ = ProgressMode::kOn;
      continue;
    }
    if (a == "--quiet") {
      progress_ = ProgressMode::kOff;
      continue;
    }
    const size_t equals = a.find('=');
    const std::string_view name = a.substr(0, equals);
    const bool is_output = name == "-o" || name == "--output";
    const OptionSpec* option = is_output ? nullptr : FindOption(spec, name);
    if (!is_output && option == nullptr) Fail("unknown option " + Quote(name));
    const bool takes_value = is_output || !option->value.empty();
    std::string_view value;
    if (equals != std::string_view::npos) {
      if (!takes_value) Fail("option " + Quote(name) + " takes no value");
      value = a.substr(equals + 1);
    } else if (takes_value) {
      if (i + 1 >= args.size()) {
        Fail("option '" + std::string(name) + "' needs a value (" +
             std::string(is_output ? "FILE" : option->value) + ")");
      }
      value = args[++i];
    }
    if (is_output) {
      output_ = value;
    } else {
      values_.emplace_back(name, value);
    }
  }
}

bool Args::Has(std::string_view name) const {
  for (const auto& [n, v] : values_)
    if (n == name) return true;
  return false;
}

std::optional<std::string_view> Args::Get(std::string_view name) const {
  std::optional<std::string_view> last;
  for (const auto& [n, v] : values_)
    if (n == name) last = v;
  return last;
}

int64_t Args::GetInt(std::string_view name, int64_t fallback, int64_t min,
                     int64_t max) const {
  const std::optional<std::string_view> text = Get(name);
  if (!text) return fallback;
  int64_t value = 0;
  const auto [end, ec] =
      std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size() || value < min ||
      value > max) {
    Fail("option '" + std::string(name) + "' takes a number from " +
         std::to_string(min) + " to " + std::to_string(max) + ", not " +
         Quote(*text));
  }
  return value;
}

std::string_view Args::Action(std::string_view actions, size_t position) const {
  if (positional_.size() <= position)
    Fail("say what to do: " + std::string(actions));
  const std::string_view action = positional_[position];
  if (!OneOf(action, actions)) {
    Fail("unknown action " + Quote(action) + " (" + std::string(actions) + ")");
  }
  for (const auto& [name, value] : values_) {
    const OptionSpec* option = FindOption(spec_, name);
    if (!option->actions.empty() && !OneOf(action, option->actions)) {
      Fail("option '" + std::string(name) + "' does not go with " +
           std::string(action) + " (only with " + Listed(option->actions) +
           ")");
    }
  }
  return action;
}

std::string_view Args::InputAfter(size_t index) const {
  if (positional_.size() > index + 1) {
    Fail("one input at most, not " + Quote(positional_[index]) + " and " +
         Quote(positional_[index + 1]));
  }
  return positional_.size() > index ? positional_[index] : "-";
}

void Args::Fail(std::string what) const {
  throw UsageError(std::string(spec_.name), std::move(what));
}

int Filter(const Args& args, std::string_view action,
           const std::function<void(Input&, Output&)>& work) {
  Input input(args.InputAfter(1), args.progress(),
              std::string(args.verb()) + " " + std::string(action));
  Output out(args.output());
  work(input, out);
  out.Finish();
  return kExitOk;
}

void PrintHelp(const VerbSpec& spec) {
  std::string text;
  std::string_view synopsis = spec.synopsis;
  for (bool first = true; !synopsis.empty(); first = false) {
    const size_t end = std::min(synopsis.find('\n'), synopsis.size());
    text += first ? "usage: quorvel " : "       quorvel ";
    text += synopsis.substr(0, end);
    text += '\n';
    synopsis.remove_prefix(std::min(end + 1, synopsis.size()));
  }
  text += '\n';
  text += spec.about;
  text += "\noptions:\n";
  size_t width = 0;
  const auto shown = [](const OptionSpec& o) {
    return std::string(o.name) + (o.value.empty() ? "" : " ") +
           std::string(o.value);
  };
  for (const OptionSpec& o : spec.options)
    width = std::max(width, shown(o).size());
  for (const OptionSpec& o : kCommonOptions)
    width = std::max(width, shown(o).size());
  const auto add = [&](const OptionSpec& o) {
    std::string left = "  " + shown(o);
    left.resize(width + 4, ' ');
    text += left;
    // Wrapped at 79 columns, continued under the help's first column.
    const std::string with_actions =
        o.actions.empty() ? std::string(o.help)
                          : Listed(o.actions) + ": " + std::string(o.help);
    std::string_view help = with_actions;
    const size_t room = 79 > left.size() + 20 ? 79 - left.size() : 40;
    while (help.size() > room) {
      size_t cut = help.rfind(' ', room);
      if (cut == std::string_view::npos || cut == 0) cut = room;
      text += help.substr(0, cut);
      text += '\n';
      text.append(left.size(), ' ');
      help.remove_prefix(std::min(cut + 1, help.size()));
    }
    text += help;
    text += '\n';
  };
  for (const OptionSpec& o : spec.options) add(o);
  for (const OptionSpec& o : kCommonOptions) add(o);
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace quorvel::cli
