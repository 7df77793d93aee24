#include "foldquest/driver/cli.hpp"

#include <charconv>
#include <cstdio>
#include <iostream>

namespace fq::cli {

bool Args::has(std::string_view name) const { return values_.find(name) != values_.end(); }

std::optional<std::string> Args::value(std::string_view name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void Args::set(std::string_view name, std::string value) { values_[std::string(name)] = std::move(value); }

std::int64_t parse_integer(std::string_view text, std::string_view what, std::int64_t lo, std::int64_t hi) {
  std::int64_t v = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;  // from_chars takes '-' but not '+'
  const auto [ptr, ec] = std::from_chars(first, last, v);
  if (text.empty() || ec != std::errc() || ptr != last || v < lo || v > hi) {
    throw UsageError("invalid " + std::string(what) + " '" + std::string(text) + "': expected a whole number from " +
                     std::to_string(lo) + " to " + std::to_string(hi));
  }
  return v;
}

std::int64_t Args::integer(std::string_view name, std::int64_t fallback, std::int64_t lo, std::int64_t hi) const {
  const auto v = value(name);
  if (!v) return fallback;
  return parse_integer(*v, "value for --" + std::string(name), lo, hi);
}

namespace {

constexpr OptionSpec kHelp{"help", 'h', false, ""};

const OptionSpec* find_long(std::span<const OptionSpec> options, std::string_view name) {
  if (name == kHelp.name) return &kHelp;
  for (const auto& o : options)
    if (o.name == name) return &o;
  return nullptr;
}

const OptionSpec* find_short(std::span<const OptionSpec> options, char c) {
  if (c == kHelp.short_name) return &kHelp;
  for (const auto& o : options)
    if (o.short_name != 0 && o.short_name == c) return &o;
  return nullptr;
}

std::string needs_value(const OptionSpec& o, std::string_view as_written) {
  return "option '" + std::string(as_written) + "' needs a value (" + std::string(o.value_name) + ")";
}

}  // namespace

Args parse(std::string_view command, std::span<const OptionSpec> options, std::span<const std::string> argv) {
  Args args;
  args.command = std::string(command);
  bool options_ended = false;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& word = argv[i];
    if (options_ended || word.size() < 2 || word[0] != '-') {
      args.positional.push_back(word);
      continue;
    }
    if (word == "--") {
      options_ended = true;
      continue;
    }
    if (word[1] == '-') {
      // --name or --name=value
      const std::string_view body = std::string_view(word).substr(2);
      const auto eq = body.find('=');
      const std::string_view name = body.substr(0, eq);
      const OptionSpec* o = find_long(options, name);
      if (o == nullptr) throw UsageError("unknown option '--" + std::string(name) + "'");
      if (!o->takes_value) {
        if (eq != std::string_view::npos) throw UsageError("option '--" + std::string(name) + "' takes no value");
        args.set(o->name, "");
      } else if (eq != std::string_view::npos) {
        args.set(o->name, std::string(body.substr(eq + 1)));
      } else {
        if (i + 1 >= argv.size()) throw UsageError(needs_value(*o, word));
        args.set(o->name, argv[++i]);
      }
      continue;
    }
    // -x, -xVALUE, -x VALUE, or bundled flags -qh
    for (std::size_t k = 1; k < word.size(); ++k) {
      const OptionSpec* o = find_short(options, word[k]);
      if (o == nullptr) throw UsageError(std::string("unknown option '-") + word[k] + "'");
      if (!o->takes_value) {
        args.set(o->name, "");
        continue;
      }
      if (k + 1 < word.size()) {
        args.set(o->name, word.substr(k + 1));
      } else {
        if (i + 1 >= argv.size()) throw UsageError(needs_value(*o, std::string("-") + word[k]));
        args.set(o->name, argv[++i]);
      }
      break;
    }
  }
  return args;
}

const Command* find_command(std::string_view name) {
  for (const auto& c : commands())
    if (c.name == name) return &c;
  return nullptr;
}

namespace {

void print_usage(std::string_view name) {
  const std::string_view text = usage_text(name);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

int usage_error(const std::string& message, std::string_view command) {
  std::fflush(stdout);
  std::fprintf(stderr, "foldquest: %s\nTry 'foldquest%s%s --help'.\n", message.c_str(), command.empty() ? "" : " ",
               std::string(command).c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) return usage_error("no command given", "");
  const std::string& first = words[0];
  if (first == "--help" || first == "-h") {
    print_usage("foldquest");
    return kExitOk;
  }
  if (first == "--version" || first == "-V") {
    std::printf("foldquest %s\n", std::string(version()).c_str());
    return kExitOk;
  }
  if (!first.empty() && first[0] == '-') return usage_error("unknown option '" + first + "'", "");
  const Command* c = find_command(first);
  if (c == nullptr) return usage_error("unknown command '" + first + "'", "");
  try {
    const Args args = parse(c->name, c->options, std::span<const std::string>(words).subspan(1));
    if (args.has("help")) {
      print_usage(c->name);
      return kExitOk;
    }
    const auto n = static_cast<int>(args.positional.size());
    if (n < c->min_positional) return usage_error("missing argument", c->name);
    if (c->max_positional >= 0 && n > c->max_positional)
      return usage_error("unexpected argument '" + args.positional[static_cast<std::size_t>(c->max_positional)] + "'",
                         c->name);
    return c->handler(args);
  } catch (const UsageError& e) {
    return usage_error(e.what(), c->name);
  }
}

}  // namespace fq::cli
